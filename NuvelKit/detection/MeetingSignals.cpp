#include "NuvelKit/detection/MeetingSignals.hpp"

namespace nuvel {

std::optional<MeetingApp> MeetingSignals::meetingApp() const {
    if (!microphoneActive)
        return std::nullopt;

    if (inputBundleIDs) {
        // The input is attributed: only the recording processes count, never what merely runs.
        std::optional<MeetingApp> first;
        for (const auto& id : *inputBundleIDs) {
            auto app = meetingAppForBundleID(id);
            if (!app)
                continue;
            if (isDedicatedMeetingApp(*app))
                return app;
            if (!first)
                first = app;
        }
        return first;
    }

    if (frontmostBundleID)
        if (auto app = meetingAppForBundleID(*frontmostBundleID))
            return app;

    // Slack and browsers are never inferred merely from running.
    for (const auto& id : runningBundleIDs)
        if (auto app = meetingAppForBundleID(id); app && isDedicatedMeetingApp(*app))
            return app;
    return std::nullopt;
}

} // namespace nuvel
