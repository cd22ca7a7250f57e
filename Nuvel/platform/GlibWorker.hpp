#pragma once

// No Qt here: GLib's headers clash with Qt's keywords.

#include <deque>
#include <functional>
#include <future>
#include <glib.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

namespace nuvel {

// A thread that runs a private GLib main context. GLib objects made in its jobs deliver their
// signals and asynchronous results on it, so they never depend on who else runs the default
// context (the Qt event loop, or no one in tests).
//
// Jobs run one at a time, in the order they were given. Inside a job, `iterateUntil` lets the
// context deliver signals and results while the job waits for one; other jobs keep waiting.
class GlibWorker {
public:
    class Stopped : public std::runtime_error {
    public:
        Stopped() : std::runtime_error("the worker has stopped") {}
    };

    GlibWorker();
    // Stops the worker (see `stop`) if that has not happened yet.
    ~GlibWorker();
    GlibWorker(const GlibWorker&) = delete;
    GlibWorker& operator=(const GlibWorker&) = delete;

    // Runs `job` on the worker and waits for its result or exception. On the worker's own
    // thread it runs at once. Throws Stopped once the worker stops taking jobs.
    template <class F> std::invoke_result_t<F> call(F job) {
        using R = std::invoke_result_t<F>;
        if (isWorkerThread())
            return job();
        auto promise = std::make_shared<std::promise<R>>();
        std::future<R> result = promise->get_future();
        post([promise, job = std::move(job)]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    job();
                    promise->set_value();
                } else {
                    promise->set_value(job());
                }
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        return result.get();
    }

    // Runs `job` on the worker later; what it throws is dropped. Throws Stopped once the worker
    // stops taking jobs.
    void post(std::function<void()> job);

    // Inside a job: lets the context run until `done` is true.
    void iterateUntil(const std::function<bool()>& done);

    // Takes no more jobs, runs the ones already given, then `last`, and ends the thread. Must
    // not be called on the worker's own thread.
    void stop(std::function<void()> last);

    bool isWorkerThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    GMainContext* context() const { return context_; }

private:
    static gboolean dispatch(gpointer self);

    GMainContext* context_;
    GMainLoop* loop_;
    std::mutex lock_;
    std::deque<std::function<void()>> jobs_;
    bool scheduled_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace nuvel
