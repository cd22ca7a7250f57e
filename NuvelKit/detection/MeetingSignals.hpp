#pragma once

#include "NuvelKit/detection/MeetingApp.hpp"

#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// One snapshot of what the computer is doing, as detection sees it.
struct MeetingSignals {
    // The default input device is running for some process.
    bool microphoneActive = false;
    // The bundle identifiers of the processes that run audio input, in the order the system
    // lists them, duplicates kept. Absent: the system attributed the input to no process.
    // Empty: it did, and no other application is recording.
    std::optional<std::vector<std::string>> inputBundleIDs;
    // The frontmost application, when the system knows one.
    std::optional<std::string> frontmostBundleID;
    // The running applications that have a bundle identifier, in the order the system lists them.
    std::vector<std::string> runningBundleIDs;

    bool operator==(const MeetingSignals&) const = default;

    // The application that is in a call, inferred from these signals, or none.
    std::optional<MeetingApp> meetingApp() const;
};

} // namespace nuvel
