#pragma once

namespace nuvel {

// The health rule every capture source shares: a running source must have delivered a buffer
// within `timeout` seconds of now, counting from the later of its start (or resume) and its
// newest callback. All times are host-clock seconds.
struct CaptureWatchdog {
    CaptureWatchdog() = delete;

    static constexpr double timeout = 2.0;

    // True while paused. False when any time is infinite or not a number. Otherwise true exactly
    // when now - max(startedAt, lastCallback) <= timeout; before the first callback lastCallback
    // is 0, which gives a source `timeout` seconds from its start to deliver.
    static bool isHealthy(bool paused, double now, double startedAt, double lastCallback) noexcept;
};

} // namespace nuvel
