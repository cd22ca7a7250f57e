#pragma once

#include <cstdint>
#include <functional>

namespace nuvel {

// The main actor as the core sees it: one serial queue on one thread (the Qt GUI thread in
// the app, the test's own thread under ManualMainQueue), with timers and a host clock.
class MainQueue {
public:
    using TimerId = std::uint64_t;

    virtual ~MainQueue() = default;

    // Runs `work` later on the main thread. Safe from any thread.
    virtual void post(std::function<void()> work) = 0;

    // Timers run on the main thread and are started and cancelled there. A delay that is not
    // finite or is negative counts as 0. Cancelling an unknown or fired timer does nothing.
    virtual TimerId startTimer(double delaySeconds, std::function<void()> fire) = 0;
    virtual TimerId startRepeatingTimer(double intervalSeconds, std::function<void()> fire) = 0;
    virtual void cancelTimer(TimerId id) = 0;

    // True on the main thread.
    virtual bool isCurrent() const = 0;
    // Host-clock seconds (monotonic), the clock timers count on.
    virtual double now() const = 0;

    // Aborts with a message when called off the main thread: entry points of main-actor types
    // call it first.
    void requireCurrent(const char* where) const;
};

} // namespace nuvel
