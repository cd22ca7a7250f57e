#include "NuvelKit/detection/MeetingDetector.hpp"

namespace nuvel {

std::optional<MeetingApp> MeetingDetector::update(const MeetingSignals& signals, Date now,
                                                  const MeetingDetectionPolicy& policy, bool isCapturing) {
    auto since = [&](Date then) { return now.sinceReferenceDate - then.sinceReferenceDate; };
    auto app = signals.meetingApp();

    if (!app) {
        if (!activeSince)
            return std::nullopt;
        if (!inactiveSince)
            inactiveSince = now;
        if (since(*inactiveSince) >= policy.endGrace) {
            activeSince.reset();
            inactiveSince.reset();
            handledCall = false;
            currentCall.reset();
        }
        return std::nullopt;
    }

    inactiveSince.reset();
    if (!activeSince) {
        // A call already tracked keeps its start, also when another application is seen now.
        activeSince = now;
        handledCall = false;
    }
    currentCall = app;
    // A call during which a recording runs is never prompted, not even after it stops.
    if (isCapturing)
        handledCall = true;

    // A disabled policy or a muted application leaves the call unhandled, so switching either
    // back lets the prompt come at the next settled step.
    if (!policy.enabled || handledCall || policy.mutedApps.count(*app) != 0)
        return std::nullopt;
    if (since(*activeSince) < policy.settle)
        return std::nullopt;

    if (auto asked = lastAsked.find(*app);
        asked != lastAsked.end() && since(asked->second) < policy.cooldown) {
        handledCall = true; // stays unprompted to its end, even once the cooldown passes
        return std::nullopt;
    }
    handledCall = true;
    lastAsked[*app] = now;
    return app;
}

} // namespace nuvel
