#include "NuvelKit/support/Task.hpp"

namespace nuvel {

bool TaskState::isFinished() const {
    std::lock_guard guard(lock_);
    return finished_;
}

std::exception_ptr TaskState::error() const {
    std::lock_guard guard(lock_);
    return error_;
}

void TaskState::whenFinished(std::function<void()> then) {
    {
        std::lock_guard guard(lock_);
        if (!finished_) {
            then_.push_back(std::move(then));
            return;
        }
    }
    queue_->post(std::move(then));
}

void TaskState::finish(std::exception_ptr error) {
    std::vector<std::function<void()>> then;
    {
        std::lock_guard guard(lock_);
        if (finished_)
            return;
        finished_ = true;
        error_ = error;
        root_ = {};
        then.swap(then_);
    }
    for (auto& f : then)
        queue_->post(std::move(f));
}

void TaskState::abandon() {
    std::coroutine_handle<> root;
    std::vector<std::function<void()>> then;
    {
        std::lock_guard guard(lock_);
        if (finished_ || !root_)
            return;
        finished_ = true;
        error_ = std::make_exception_ptr(Cancelled());
        root = std::exchange(root_, {});
        then.swap(then_);
    }
    // Destroying the root destroys the awaited child tasks with it. Whoever waited on this
    // task is dropped too: it can only be waiting on the same dead queue.
    root.destroy();
    then.clear();
}

void TaskHandle::whenFinished(std::function<void()> then) const {
    if (state_)
        state_->whenFinished(std::move(then));
}

TaskHandle spawn(MainQueue& queue, Task<void> task) {
    auto state = std::make_shared<TaskState>(queue);
    auto handle = task.release();
    handle.promise().context = detail::TaskContext{&queue, state->stopToken(), state};
    state->adopt(handle);
    auto start = std::make_shared<detail::Resumption>(handle, state);
    queue.post([start] { (*start)(); });
    return TaskHandle(state);
}

} // namespace nuvel
