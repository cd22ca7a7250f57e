#pragma once

#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

namespace nuvel {

// One run of a capture consumer: a body that drains rings into the store, on a thread of its
// own (consumers block on the store and must not hold the main thread). The main actor cancels
// it through its stop token and awaits its end with `finished()`; the run ends with nothing or
// with the exception its body threw.
class ConsumerRun {
public:
    using Body = std::function<void(std::stop_token)>;

    // Starts `body` at once. `queue` is the main queue that awaiting tasks resume on. Throws
    // std::system_error when no thread can be started.
    ConsumerRun(MainQueue& queue, Body body);
    // Cancels the run and waits for its thread.
    ~ConsumerRun();
    ConsumerRun(const ConsumerRun&) = delete;
    ConsumerRun& operator=(const ConsumerRun&) = delete;

    void cancel() { state_->cancel(); }
    bool isFinished() const { return state_->isFinished(); }
    // What the body threw, or null (also while it runs).
    std::exception_ptr error() const { return state_->error(); }
    // Awaitable from a task on `queue`: resumes there once the body has returned or thrown.
    TaskHandle::JoinAwaiter finished() const { return TaskHandle(state_).join(); }

private:
    std::shared_ptr<TaskState> state_;
    std::thread thread_;
};

} // namespace nuvel
