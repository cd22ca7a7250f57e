#pragma once

#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/support/Task.hpp"

#include <functional>
#include <memory>

namespace nuvel {

// Where a running source check writes its two meters, ten times a second, on the main thread.
// Checks hold the meters weakly: a sheet that has gone away only stops receiving levels.
class SourceCheckMeters {
public:
    virtual ~SourceCheckMeters() = default;
    virtual void setMicrophoneLevel(double level) = 0;
    virtual void setSystemLevel(double level) = 0;
};

// The three-second check of the sources before a recording: 30 passes 100 ms apart. A pass
// fails on lost audio or on a source whose callbacks have stopped (CaptureWatchdog); silence
// is not a failure.
struct SourceCheck {
    SourceCheck() = delete;

    static constexpr int passes = 30;
    static constexpr double passInterval = 0.1;

    // The passes of the microphone-only check over the ring its capture pushes into. Each pass
    // stops with Cancelled when the task was cancelled, pops and discards every queued slot,
    // sets the microphone meter to the ring's level, and fails with
    // RecordingError(invalidTransport) when the ring has overflowed or the watchdog (counting
    // from the moment the passes begin) says the callbacks stopped; then it sleeps one
    // interval. After the last sleep the check has passed.
    //
    // `now` is the host clock the ring's callback times are stamped on. `ring` must outlive
    // the task.
    static Task<void> microphonePasses(AudioRing* ring, std::function<double()> now,
                                       std::weak_ptr<SourceCheckMeters> meters);
};

} // namespace nuvel
