#pragma once

#include <stop_token>

namespace nuvel {

// The host clock of the capture path and the sleeps of its consumer threads. Every capture time
// (start and resume times, buffer host times, the rings' last-callback times) is in seconds of
// this clock. Safe from any thread.
class CaptureClock {
public:
    virtual ~CaptureClock() = default;

    // Host-clock seconds now.
    virtual double now() = 0;
    // Waits `seconds`, or less when `stop` is requested meanwhile. False when the stop was
    // requested (before or during the wait), true after a full wait.
    virtual bool sleep(double seconds, std::stop_token stop) = 0;
};

// The real one: CLOCK_MONOTONIC (nuvel::hostTimeSeconds), the clock the sound layers stamp
// their buffers with; sleeps wake at once on a stop request.
class HostCaptureClock final : public CaptureClock {
public:
    double now() override;
    bool sleep(double seconds, std::stop_token stop) override;

    static HostCaptureClock& shared();
};

} // namespace nuvel
