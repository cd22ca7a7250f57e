#include "Nuvel/model/MeetingMonitor.hpp"

#include <stdexcept>

namespace nuvel {

MeetingMonitor::MeetingMonitor(MainQueue& queue, std::shared_ptr<MeetingPreferences> preferences,
                               std::shared_ptr<MeetingSignalSource> source, std::function<Date()> now)
    : queue_(queue), preferences_(std::move(preferences)), source_(std::move(source)), now_(std::move(now)) {
    if (!preferences_ || !source_ || !now_)
        throw std::invalid_argument("MeetingMonitor needs preferences, a signal source and a clock");
}

MeetingMonitor::~MeetingMonitor() {
    stopTimer();
}

void MeetingMonitor::stopTimer() {
    if (timer_)
        queue_.cancelTimer(*timer_);
    timer_.reset();
}

void MeetingMonitor::refresh() {
    queue_.requireCurrent("MeetingMonitor::refresh");
    if (preferences_->detectionEnabled()) {
        if (!timer_) {
            // The timer lives no longer than the monitor: the destructor cancels it.
            timer_ = queue_.startRepeatingTimer(pollInterval, [this] {
                queue_.requireCurrent("MeetingMonitor poll");
                evaluate();
            });
        }
        return;
    }
    stopTimer();
    detector_ = MeetingDetector{};
    lastSignals_.reset();
    // Also when no call was tracked, so that the owner takes down a prompt still on screen.
    if (onCallEnded)
        onCallEnded();
}

void MeetingMonitor::evaluate() {
    queue_.requireCurrent("MeetingMonitor::evaluate");
    MeetingSignals signals = source_->currentSignals();
    lastSignals_ = signals;
    bool hadCall = detector_.currentCall.has_value();
    Date now = now_();
    MeetingDetectionPolicy policy;
    policy.enabled = preferences_->detectionEnabled();
    policy.mutedApps = preferences_->mutedApps(); // read on every poll: a mute counts at the next one
    policy.settle = settleSeconds;
    policy.endGrace = endGraceSeconds;
    policy.cooldown = cooldownSeconds;
    bool capturing = isCapturing && isCapturing();

    if (auto app = detector_.update(signals, now, policy, capturing)) {
        if (onPrompt)
            onPrompt(Prompt{*app, promptBundleID(*app, signals)});
    } else if (hadCall && !detector_.currentCall) {
        if (onCallEnded)
            onCallEnded();
    }
}

std::optional<std::string> MeetingMonitor::promptBundleID(MeetingApp app, const MeetingSignals& signals) {
    auto suitable = [app](const std::string& id) {
        return meetingAppForBundleID(id) == app && id.find(".helper") == std::string::npos &&
               !id.starts_with("com.apple.WebKit.");
    };
    if (signals.frontmostBundleID && suitable(*signals.frontmostBundleID))
        return signals.frontmostBundleID;
    for (const auto& id : signals.runningBundleIDs)
        if (suitable(id))
            return id;
    return std::nullopt;
}

} // namespace nuvel
