#pragma once

#include "NuvelKit/detection/MeetingApp.hpp"
#include "NuvelKit/detection/MeetingSignals.hpp"
#include "NuvelKit/support/Time.hpp"

#include <map>
#include <optional>
#include <set>

namespace nuvel {

// The thresholds and switches detection runs under.
struct MeetingDetectionPolicy {
    bool enabled = true;
    // Applications the user asked never to be prompted for.
    std::set<MeetingApp> mutedApps;
    // Seconds an application must stay in a call before the prompt.
    double settle = 4;
    // Seconds without any application before a call counts as ended.
    double endGrace = 30;
    // Minimum seconds between two prompts for the same application.
    double cooldown = 1200;

    bool operator==(const MeetingDetectionPolicy&) const = default;
};

// The detection state: a value its owner keeps and steps in place.
//
//   Idle (no activeSince) -> Active when an application is seen; the prompt comes once the
//   call has lasted `settle` seconds, unless the call is handled (prompted, in cooldown, or
//   recorded). Ending (inactiveSince set) when no application is seen; back to Active when one
//   is seen again within `endGrace`, otherwise Idle with `currentCall` cleared.
struct MeetingDetector {
    // When the current call was first seen.
    std::optional<Date> activeSince;
    // When no application was first seen during a tracked call.
    std::optional<Date> inactiveSince;
    // The current call was prompted, suppressed by the cooldown, or recorded: no prompt for it.
    bool handledCall = false;
    // When each application was last prompted; entries are only overwritten.
    std::map<MeetingApp, Date> lastAsked;
    // The application of the tracked call; none when no call is tracked or it ended.
    std::optional<MeetingApp> currentCall;

    // One step: returns the application to prompt for now, or none. `isCapturing` is true
    // while this application is recording.
    std::optional<MeetingApp> update(const MeetingSignals& signals, Date now,
                                     const MeetingDetectionPolicy& policy, bool isCapturing);
};

} // namespace nuvel
