#pragma once

// Tasks: lazy C++20 coroutines that run on the main queue.
//
//   Task<int> answer();                       // a coroutine returning Task<int>
//   TaskHandle h = spawn(queue, work());      // starts a Task<void> on the main queue
//   int x = co_await answer();                // awaits a child task (same stop token)
//   auto r = co_await runOn(executor, fn);    // runs fn off the main thread, resumes on main
//   co_await sleepFor(2.0);                   // a main-queue timer; a cancel throws Cancelled
//   h.cancel();                               // requests stop; reaches sleeps and runOn work
//
// Every task spawned on a queue runs on that queue's thread between its suspension points.
// Coroutine lambdas must not capture (GCC 12): pass what they need as arguments. GCC 12 also
// mishandles class-type temporaries created inside a co_await expression (a lambda with
// captures written straight into runOn, an argument built in place): they are copied bitwise
// and destroyed twice. Name them first and pass the name. runOn refuses such lambda
// temporaries at compile time and moves a named one out:
//   auto job = [store, id] { return store->load(id); };
//   auto r = co_await runOn(executor, job);

#include "NuvelKit/support/Error.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <vector>

namespace nuvel {

// The shared state of one spawned task: its stop source, whether it finished, how it ended.
class TaskState {
public:
    explicit TaskState(MainQueue& queue) : queue_(&queue) {}

    MainQueue& queue() const { return *queue_; }
    std::stop_token stopToken() const { return stopSource_.get_token(); }
    void cancel() { stopSource_.request_stop(); }
    bool isCancelled() const { return stopSource_.stop_requested(); }

    bool isFinished() const;
    // The exception the task ended with (Cancelled included), or null.
    std::exception_ptr error() const;

    // Runs `then` on the main queue once the task has finished (at once, posted, if it has).
    void whenFinished(std::function<void()> then);

    // Internal: the root coroutine frame, owned until the task finishes.
    void adopt(std::coroutine_handle<> root) { root_ = root; }
    void finish(std::exception_ptr error);
    // Destroys the frame of a task that can never be resumed (its queue went away).
    void abandon();
    bool isAlive() const { return static_cast<bool>(root_); }

private:
    MainQueue* queue_;
    std::stop_source stopSource_;
    std::coroutine_handle<> root_;
    mutable std::mutex lock_;
    bool finished_ = false;
    std::exception_ptr error_;
    std::vector<std::function<void()>> then_;
};

// A handle on a spawned task. Dropping it does not stop the task.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<TaskState> state) : state_(std::move(state)) {}

    void cancel() const {
        if (state_)
            state_->cancel();
    }
    bool isCancelled() const { return state_ && state_->isCancelled(); }
    bool isFinished() const { return !state_ || state_->isFinished(); }
    bool isValid() const { return static_cast<bool>(state_); }
    std::exception_ptr error() const { return state_ ? state_->error() : nullptr; }
    void whenFinished(std::function<void()> then) const;
    const std::shared_ptr<TaskState>& state() const { return state_; }

    // Awaitable: resumes (on the main queue) once this task has finished. Never throws.
    struct JoinAwaiter;
    JoinAwaiter join() const;

private:
    std::shared_ptr<TaskState> state_;
};

namespace detail {

struct TaskContext {
    MainQueue* queue = nullptr;
    std::stop_token stop;
    std::shared_ptr<TaskState> root;
};

// Resumes a suspended frame exactly once, on the main thread. If it is destroyed unrun (its
// queue or executor went away), the whole task it belongs to is abandoned, so no frame leaks.
class Resumption {
public:
    Resumption(std::coroutine_handle<> frame, std::shared_ptr<TaskState> root)
        : frame_(frame), root_(std::move(root)) {}
    Resumption(const Resumption&) = delete;
    Resumption& operator=(const Resumption&) = delete;
    ~Resumption() {
        if (frame_ && root_)
            root_->abandon();
    }
    void operator()() {
        auto frame = std::exchange(frame_, {});
        if (frame && (!root_ || root_->isAlive()))
            frame.resume();
    }

private:
    std::coroutine_handle<> frame_;
    std::shared_ptr<TaskState> root_;
};

struct PromiseBase {
    TaskContext context;
    std::coroutine_handle<> continuation;
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class P> std::coroutine_handle<> await_suspend(std::coroutine_handle<P> self) noexcept {
            PromiseBase& p = self.promise();
            if (p.continuation)
                return p.continuation;
            // A spawned root: report and free the frame.
            std::shared_ptr<TaskState> root = p.context.root;
            std::exception_ptr error = p.error;
            self.destroy();
            if (root)
                root->finish(error);
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
};

template <class T> struct Promise;

} // namespace detail

template <class T = void> class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    explicit Task(Handle h) : handle_(h) {}
    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            if (handle_)
                handle_.destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() {
        if (handle_)
            handle_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    template <class P> std::coroutine_handle<> await_suspend(std::coroutine_handle<P> caller) noexcept {
        handle_.promise().context = caller.promise().context;
        handle_.promise().continuation = caller;
        return handle_;
    }
    T await_resume() {
        auto& p = handle_.promise();
        if (p.error)
            std::rethrow_exception(p.error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*p.value);
    }

    // Internal: hands the frame over to a spawned root.
    Handle release() { return std::exchange(handle_, {}); }

private:
    Handle handle_;
};

namespace detail {

template <class T> struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object() { return Task<T>(std::coroutine_handle<Promise>::from_promise(*this)); }
    template <class U> void return_value(U&& v) { value.emplace(std::forward<U>(v)); }
};

template <> struct Promise<void> : PromiseBase {
    Task<void> get_return_object() { return Task<void>(std::coroutine_handle<Promise>::from_promise(*this)); }
    void return_void() {}
};

} // namespace detail

// Starts `task` on `queue`: its first step runs from the queue, after the caller returns.
TaskHandle spawn(MainQueue& queue, Task<void> task);

struct TaskHandle::JoinAwaiter {
    std::shared_ptr<TaskState> target;
    bool await_ready() const { return !target || target->isFinished(); }
    template <class P> void await_suspend(std::coroutine_handle<P> caller) {
        auto resume = std::make_shared<detail::Resumption>(caller, caller.promise().context.root);
        target->whenFinished([resume] { (*resume)(); });
    }
    void await_resume() const noexcept {}
};

inline TaskHandle::JoinAwaiter TaskHandle::join() const {
    return JoinAwaiter{state_};
}

// Awaitable: the running task's stop token (never suspends).
struct CurrentStopToken {
    std::stop_token token;
    bool await_ready() const noexcept { return false; }
    template <class P> bool await_suspend(std::coroutine_handle<P> caller) noexcept {
        token = caller.promise().context.stop;
        return false;
    }
    std::stop_token await_resume() const noexcept { return token; }
};
inline CurrentStopToken currentStopToken() {
    return {};
}

// Awaitable: throws Cancelled when the running task's stop was requested (never suspends).
struct CancellationCheck {
    bool cancelled = false;
    bool await_ready() const noexcept { return false; }
    template <class P> bool await_suspend(std::coroutine_handle<P> caller) noexcept {
        cancelled = caller.promise().context.stop.stop_requested();
        return false;
    }
    void await_resume() const {
        if (cancelled)
            throw Cancelled();
    }
};
inline CancellationCheck checkCancellation() {
    return {};
}

namespace detail {

struct SleepState {
    explicit SleepState(std::coroutine_handle<> frame, std::shared_ptr<TaskState> root)
        : resume(frame, std::move(root)) {}
    Resumption resume;
    MainQueue* queue = nullptr;
    MainQueue::TimerId timer = 0;
    bool done = false;
    bool cancelled = false;
};

class SleepAwaiter {
public:
    explicit SleepAwaiter(double seconds) : seconds_(seconds) {}
    bool await_ready() const noexcept { return false; }
    template <class P> bool await_suspend(std::coroutine_handle<P> caller) {
        TaskContext& ctx = caller.promise().context;
        if (ctx.stop.stop_requested()) {
            cancelled_ = true;
            return false;
        }
        auto state = std::make_shared<SleepState>(caller, ctx.root);
        state->queue = ctx.queue;
        weak_ = state;
        state->timer = ctx.queue->startTimer(seconds_, [state] {
            if (state->done)
                return;
            state->done = true;
            state->resume();
        });
        // The awaiter holds only a weak reference: if the queue drops the timer unrun, the
        // state (and with it the resumption) dies and the task is abandoned.
        onStop_.emplace(ctx.stop, StopHandler{weak_});
        return true;
    }
    void await_resume() {
        onStop_.reset();
        if (cancelled_)
            throw Cancelled();
        auto state = weak_.lock();
        if (state && state->cancelled)
            throw Cancelled();
    }

private:
    struct StopHandler {
        std::weak_ptr<SleepState> weak;
        void operator()() const {
            auto state = weak.lock();
            if (!state)
                return;
            state->queue->post([state] {
                if (state->done)
                    return;
                state->done = true;
                state->cancelled = true;
                state->queue->cancelTimer(state->timer);
                state->resume();
            });
        }
    };

    double seconds_;
    bool cancelled_ = false;
    std::weak_ptr<SleepState> weak_;
    std::optional<std::stop_callback<StopHandler>> onStop_;
};

template <class R> struct RunState {
    RunState(std::coroutine_handle<> frame, std::shared_ptr<TaskState> root)
        : resume(frame, std::move(root)) {}
    Resumption resume;
    std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> value;
    std::exception_ptr error;
};

template <class F>
using RunResult = std::conditional_t<std::is_invocable_v<F, std::stop_token>,
                                     std::invoke_result<F, std::stop_token>, std::invoke_result<F>>;

template <class F> class RunAwaiter {
public:
    using R = typename RunResult<F>::type;

    RunAwaiter(Executor& executor, F work) : executor_(&executor), work_(std::move(work)) {}

    bool await_ready() const noexcept { return false; }
    template <class P> void await_suspend(std::coroutine_handle<P> caller) {
        TaskContext& ctx = caller.promise().context;
        auto state = std::make_shared<RunState<R>>(caller, ctx.root);
        state_ = state;
        MainQueue* queue = ctx.queue;
        std::stop_token stop = ctx.stop;
        executor_->execute([state, queue, stop, work = std::move(work_)]() mutable {
            try {
                if constexpr (std::is_invocable_v<F, std::stop_token>) {
                    if constexpr (std::is_void_v<R>) {
                        work(stop);
                        state->value = true;
                    } else {
                        state->value.emplace(work(stop));
                    }
                } else {
                    if constexpr (std::is_void_v<R>) {
                        work();
                        state->value = true;
                    } else {
                        state->value.emplace(work());
                    }
                }
            } catch (...) {
                state->error = std::current_exception();
            }
            queue->post([state] { state->resume(); });
        });
    }
    R await_resume() {
        auto state = state_.lock();
        if (!state)
            throw Cancelled();
        if (state->error)
            std::rethrow_exception(state->error);
        if constexpr (!std::is_void_v<R>)
            return std::move(*state->value);
    }

private:
    Executor* executor_;
    F work_;
    // Weak: the executor's job and the posted resumption own the state.
    std::weak_ptr<RunState<R>> state_;
};

} // namespace detail

// Suspends the running task for `seconds` on a main-queue timer. Throws Cancelled if the task's
// stop is requested before or during the sleep.
inline detail::SleepAwaiter sleepFor(double seconds) {
    return detail::SleepAwaiter(seconds);
}

// Runs `work` on `executor` and resumes the task on the main queue with its result; an
// exception thrown by `work` surfaces at the co_await. `work` may take the task's stop token.
// A named callable is moved out of its variable.
template <class F>
requires(!std::is_const_v<F>) detail::RunAwaiter<F> runOn(Executor& executor, F& work) {
    return detail::RunAwaiter<F>(executor, std::move(work));
}
// Temporaries only when destroying them twice would be harmless (see the note at the top).
template <class F>
requires(!std::is_lvalue_reference_v<F> && std::is_trivially_destructible_v<std::decay_t<F>>)
    detail::RunAwaiter<std::decay_t<F>> runOn(Executor& executor, F&& work) {
    return detail::RunAwaiter<std::decay_t<F>>(executor, std::forward<F>(work));
}

} // namespace nuvel
