// No Qt here: GLib's headers clash with Qt's keywords.
#include "Nuvel/platform/GlibWorker.hpp"

#include "Nuvel/model/Outcome.hpp"

#include <utility>

namespace nuvel {

GlibWorker::GlibWorker() : context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
    thread_ = std::thread([this] {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
}

GlibWorker::~GlibWorker() {
    stop({});
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void GlibWorker::post(std::function<void()> job) {
    std::lock_guard guard(lock_);
    if (stopping_)
        throw Stopped();
    jobs_.push_back(std::move(job));
    if (scheduled_)
        return;
    scheduled_ = true;
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, &GlibWorker::dispatch, this, nullptr);
    g_source_attach(source, context_);
    g_source_unref(source);
}

gboolean GlibWorker::dispatch(gpointer data) {
    auto* self = static_cast<GlibWorker*>(data);
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard guard(self->lock_);
            if (self->jobs_.empty()) {
                self->scheduled_ = false;
                return G_SOURCE_REMOVE;
            }
            job = std::move(self->jobs_.front());
            self->jobs_.pop_front();
        }
        // A posted job reports its own failures; nothing may unwind into GLib.
        attemptNow(job).drop("a job on the GLib worker");
    }
}

void GlibWorker::iterateUntil(const std::function<bool()>& done) {
    // While a job runs the dispatch source is the one running, and no other is attached, so
    // iterating here delivers signals and results but never starts the next job.
    while (!done())
        g_main_context_iteration(context_, TRUE);
}

void GlibWorker::stop(std::function<void()> last) {
    {
        std::lock_guard guard(lock_);
        if (stopping_ || !thread_.joinable())
            return;
    }
    post([this, last = std::move(last)] {
        if (last)
            last();
        g_main_loop_quit(loop_);
    });
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    thread_.join();
}

} // namespace nuvel
