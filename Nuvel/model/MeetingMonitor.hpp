#pragma once

#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/model/MeetingSignalSource.hpp"
#include "NuvelKit/detection/MeetingDetector.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Time.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

// Polls the meeting signals every two seconds while detection is switched on, steps the
// detector, and tells its owner when a call should be prompted and when a call ended. It
// shows nothing itself.
//
// Lives on the main queue: every entry point checks that it runs there. The owner builds one
// at launch, sets the three closures, calls `refresh`, and calls `refresh` again after every
// change of the meeting settings.
class MeetingMonitor {
public:
    static constexpr double pollInterval = 2.0;
    static constexpr double settleSeconds = 4.0;
    static constexpr double endGraceSeconds = 30.0;
    static constexpr double cooldownSeconds = 1200.0;

    // What to ask the user about: the application in a call, and the running application to
    // name and show in the prompt (none when no suitable one runs).
    struct Prompt {
        MeetingApp app = MeetingApp::zoom;
        std::optional<std::string> bundleID;
        bool operator==(const Prompt&) const = default;
    };

    MeetingMonitor(MainQueue& queue, std::shared_ptr<MeetingPreferences> preferences,
                   std::shared_ptr<MeetingSignalSource> source, std::function<Date()> now = &Date::now);
    ~MeetingMonitor();
    MeetingMonitor(const MeetingMonitor&) = delete;
    MeetingMonitor& operator=(const MeetingMonitor&) = delete;

    // Set by the owner; a closure that is not set is not called.
    std::function<void(const Prompt&)> onPrompt;
    std::function<void()> onCallEnded;
    // True while this application is recording; a call during which it is true is never prompted.
    std::function<bool()> isCapturing = [] { return false; };

    // Starts polling when detection is on and no poll runs. When it is off: stops polling,
    // starts over with a new detector (forgetting when each application was last asked), forgets
    // the last signals and calls `onCallEnded`, so a prompt on screen is taken down.
    void refresh();
    // One poll: reads the signals and the settings, steps the detector, reports.
    void evaluate();

    // The running application to name in a prompt for `app`: the frontmost one, then the
    // running ones in order; the first that maps to `app` and is none of its helper or
    // web-content processes.
    static std::optional<std::string> promptBundleID(MeetingApp app, const MeetingSignals& signals);

    bool isPolling() const { return timer_.has_value(); }
    const MeetingDetector& detector() const { return detector_; }
    const std::optional<MeetingSignals>& lastSignals() const { return lastSignals_; }

private:
    void stopTimer();

    MainQueue& queue_;
    std::shared_ptr<MeetingPreferences> preferences_;
    std::shared_ptr<MeetingSignalSource> source_;
    std::function<Date()> now_;
    MeetingDetector detector_;
    std::optional<MainQueue::TimerId> timer_;
    std::optional<MeetingSignals> lastSignals_;
};

} // namespace nuvel
