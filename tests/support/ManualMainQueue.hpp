#pragma once

#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace nuvel {

// A main queue for tests: work runs only inside `drain` and `advance`, on the thread that made
// the queue, and time is virtual, so no test ever sleeps on a timer.
class ManualMainQueue final : public MainQueue {
public:
    explicit ManualMainQueue(double startTime = 1000.0);
    ~ManualMainQueue() override;

    void post(std::function<void()> work) override;
    TimerId startTimer(double delaySeconds, std::function<void()> fire) override;
    TimerId startRepeatingTimer(double intervalSeconds, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
    double now() const override { return now_; }

    // Runs posted work (and work it posts) until none is left, and timers already due.
    // Returns how many items ran.
    std::size_t drain();
    // Moves the virtual clock forward, firing due timers in deadline order (ties in the order
    // they were started) and draining after each.
    void advance(double seconds);
    // Advances straight to the next timer's deadline and fires it; false when no timer waits.
    bool fireNextTimer();
    std::size_t pendingTimers() const { return timers_.size(); }
    // Posted work not yet run.
    std::size_t pendingWork();
    std::optional<double> nextDeadline() const;

    // For tests that use real worker threads: waits (really) until work is posted or the
    // timeout passes, then drains. Returns whether anything ran.
    bool waitAndDrain(double timeoutSeconds);

private:
    struct Timer {
        TimerId id;
        double interval; // 0 for one-shot
        std::function<void()> fire;
    };
    using Key = std::pair<double, std::uint64_t>; // deadline, sequence

    bool runOnePosted();
    bool fireDue();

    std::thread::id owner_;
    double now_;
    std::uint64_t nextSequence_ = 1;
    TimerId nextTimer_ = 1;
    std::map<Key, Timer> timers_;
    std::map<TimerId, Key> timerKeys_;

    std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> work_;
};

namespace detail {
template <class T> Task<void> storeOutcome(Task<T> task, std::optional<T>* value, std::exception_ptr* error) {
    try {
        value->emplace(co_await std::move(task));
    } catch (...) {
        *error = std::current_exception();
    }
}
inline Task<void> storeOutcomeVoid(Task<void> task, bool* done, std::exception_ptr* error) {
    try {
        co_await std::move(task);
        *done = true;
    } catch (...) {
        *error = std::current_exception();
    }
}
} // namespace detail

// Runs a task to its end on a manual queue, advancing virtual time through its sleeps.
// Returns its value or rethrows its exception.
template <class T> T runToCompletion(ManualMainQueue& queue, Task<T> task) {
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        bool done = false;
        TaskHandle h = spawn(queue, detail::storeOutcomeVoid(std::move(task), &done, &error));
        while (!h.isFinished()) {
            queue.drain();
            if (!h.isFinished() && !queue.fireNextTimer())
                break;
        }
        if (error)
            std::rethrow_exception(error);
        if (!done)
            throw Error("task did not finish: it waits on something that never comes");
    } else {
        std::optional<T> value;
        TaskHandle h = spawn(queue, detail::storeOutcome(std::move(task), &value, &error));
        while (!h.isFinished()) {
            queue.drain();
            if (!h.isFinished() && !queue.fireNextTimer())
                break;
        }
        if (error)
            std::rethrow_exception(error);
        if (!value)
            throw Error("task did not finish: it waits on something that never comes");
        return std::move(*value);
    }
}

} // namespace nuvel
