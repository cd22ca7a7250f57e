#include "Nuvel/platform/PulseConnection.hpp"

#include "Nuvel/platform/WindowThreadRefusal.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <pulse/pulseaudio.h>
#include <utility>
#include <vector>

namespace nuvel {

namespace {

pa_usec_t toMicroseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    return static_cast<pa_usec_t>(std::llround(seconds * 1e6));
}

struct Deadline {
    pa_threaded_mainloop* mainloop;
    bool fired = false;
};

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* deadline = static_cast<Deadline*>(userdata);
    deadline->fired = true;
    pa_threaded_mainloop_signal(deadline->mainloop, 0);
}

void onOperationState(pa_operation*, void* mainloop) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

std::string describe(const char* what, int code) {
    return std::string(what) + ": " + pa_strerror(code);
}

// Every wait for the server passes here first.
void checkWaitAllowed(const char* what) {
    checkBlockingWorkAllowed(what, "wait for the sound server");
}

} // namespace

void PulseConnection::refuseWaitsOn(std::thread::id thread) {
    refuseBlockingWorkOn(thread);
}

// ---- Lock ----

PulseConnection::Lock::Lock(const PulseConnection& connection) : mainloop_(connection.mainloop_) {
    pa_threaded_mainloop_lock(mainloop_);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(mainloop_);
}

// ---- Life cycle ----

PulseConnection::PulseConnection(const Options& options) : timeoutSeconds_(options.timeoutSeconds) {}

std::shared_ptr<PulseConnection> PulseConnection::connect(const Options& options) {
    std::shared_ptr<PulseConnection> connection(new PulseConnection(options));
    connection->start(options); // on a throw the destructor tears down what was built
    return connection;
}

void PulseConnection::start(const Options& options) {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr)
        throw PulseError(PulseError::Case::failed, PA_ERR_INTERNAL, "mainloop");
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, options.applicationName.c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_),
                                            options.applicationName.c_str(), properties);
    pa_proplist_free(properties);
    if (context_ == nullptr)
        throw PulseError(PulseError::Case::failed, PA_ERR_INTERNAL, "context");
    pa_context_set_state_callback(context_, onContextState, this);
    if (pa_threaded_mainloop_start(mainloop_) < 0)
        throw PulseError(PulseError::Case::failed, PA_ERR_INTERNAL, "mainloop thread");

    checkWaitAllowed("connect");
    Lock lock(*this);
    // No autospawn: a missing server is reported, never started behind the user's back.
    const char* server = options.server ? options.server->c_str() : nullptr;
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        int code = pa_context_errno(context_);
        throw PulseError(PulseError::Case::noServer, code, describe("connect", code));
    }
    Deadline deadline{mainloop_};
    pa_time_event* timer = pa_context_rttime_new(context_, pa_rtclock_now() + toMicroseconds(timeoutSeconds_),
                                                 onDeadline, &deadline);
    for (;;) {
        pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state) || deadline.fired)
            break;
        pa_threaded_mainloop_wait(mainloop_);
    }
    if (timer != nullptr)
        pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
    pa_context_state_t state = pa_context_get_state(context_);
    if (state != PA_CONTEXT_READY) {
        if (PA_CONTEXT_IS_GOOD(state))
            throw PulseError(PulseError::Case::timedOut, PA_ERR_TIMEOUT,
                             "connect: the sound server did not answer in time");
        int code = pa_context_errno(context_);
        throw PulseError(PulseError::Case::noServer, code, describe("connect", code));
    }
    ready_ = true;
    populateCaches();
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
            onSubscription(context, static_cast<int>(type), index, self);
        },
        this);
    auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER);
    await(pa_context_subscribe(context_, mask, nullptr, nullptr), "subscribe");
}

void PulseConnection::populateCaches() {
    await(pa_context_get_source_info_list(context_, onInitialSource, this), "list sources");
    await(pa_context_get_sink_input_info_list(context_, onInitialSinkInput, this), "list sink inputs");
    await(pa_context_get_server_info(context_, onInitialServer, this), "server info");
}

PulseConnection::~PulseConnection() {
    shutDown();
}

void PulseConnection::shutDown() {
    if (mainloop_ == nullptr)
        return;
    if (context_ != nullptr) {
        Lock lock(*this);
        closing_ = true;
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_); // cancels every pending operation and its callback
        pa_context_unref(context_);
        context_ = nullptr;
        handlers_.clear();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
}

bool PulseConnection::isConnected() const {
    return locked([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
}

bool PulseConnection::onMainloopThread() const {
    return pa_threaded_mainloop_in_thread(mainloop_) != 0;
}

// ---- Waiting ----

void PulseConnection::waitUntil(const std::function<bool()>& done, const char* what) const {
    waitUntil(done, what, timeoutSeconds_);
}

void PulseConnection::waitUntil(const std::function<bool()>& done, const char* what, double seconds) const {
    checkWaitAllowed(what);
    if (done())
        return;
    Deadline deadline{mainloop_};
    pa_time_event* timer =
        pa_context_rttime_new(context_, pa_rtclock_now() + toMicroseconds(seconds), onDeadline, &deadline);
    auto release = [&] {
        if (timer != nullptr)
            pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
        timer = nullptr;
    };
    while (!done()) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            release();
            throwContextError(what);
        }
        if (deadline.fired) {
            release();
            throw PulseError(PulseError::Case::timedOut, PA_ERR_TIMEOUT,
                             std::string(what) + ": the sound server did not answer in time");
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    release();
}

void PulseConnection::await(pa_operation* operation, const char* what) const {
    if (operation == nullptr)
        throwContextError(what);
    pa_operation_set_state_callback(operation, onOperationState, mainloop_);
    try {
        waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, what);
    } catch (...) {
        pa_operation_set_state_callback(operation, nullptr, nullptr);
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        throw;
    }
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    bool cancelled = pa_operation_get_state(operation) == PA_OPERATION_CANCELLED;
    pa_operation_unref(operation);
    if (cancelled)
        throwContextError(what);
}

void PulseConnection::throwContextError(const char* what) const {
    int code = pa_context_errno(context_);
    if (code == PA_OK)
        code = PA_ERR_UNKNOWN;
    bool alive = PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    throw PulseError(alive ? PulseError::Case::failed : PulseError::Case::disconnected, code,
                     describe(what, code));
}

// ---- Events ----

PulseConnection::HandlerID PulseConnection::addEventHandler(EventHandler handler) {
    return locked([&] {
        HandlerID id = nextHandler_++;
        handlers_.emplace(id, std::make_shared<EventHandler>(std::move(handler)));
        return id;
    });
}

void PulseConnection::removeEventHandler(HandlerID id) {
    locked([&] { handlers_.erase(id); });
}

void PulseConnection::dispatch(const PulseEvent& event) {
    // A handler may add or remove handlers; one removed meanwhile is not called.
    std::vector<std::pair<HandlerID, std::shared_ptr<EventHandler>>> current(handlers_.begin(),
                                                                             handlers_.end());
    for (auto& [id, handler] : current) {
        if (handlers_.count(id) == 0)
            continue;
        try {
            (*handler)(event);
        } catch (...) {
            // An exception must not unwind through the sound library's frames.
        }
    }
}

void PulseConnection::onContextState(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    pa_threaded_mainloop_signal(self->mainloop_, 0);
    if (self->ready_ && !self->closing_ && !self->announcedDisconnect_ &&
        !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        self->announcedDisconnect_ = true;
        self->dispatch(PulseEvent{PulseEvent::Kind::disconnected});
    }
}

void PulseConnection::onSubscription(pa_context* context, int type, std::uint32_t index, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    pa_operation* query = nullptr;
    switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        if (removed) {
            PulseEvent event{PulseEvent::Kind::sourceRemoved, index};
            if (auto found = self->sources_.find(index); found != self->sources_.end()) {
                event.name = found->second.name;
                event.isMonitor = found->second.isMonitor;
                self->sources_.erase(found);
            }
            self->dispatch(event);
        } else {
            query = pa_context_get_source_info_by_index(context, index, onSourceInfo, self);
        }
        break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
        if (removed) {
            PulseEvent event{PulseEvent::Kind::sinkInputRemoved, index};
            if (auto found = self->sinkInputs_.find(index); found != self->sinkInputs_.end()) {
                event.sink = found->second.sink;
                event.corked = found->second.corked;
                self->sinkInputs_.erase(found);
            }
            self->dispatch(event);
        } else {
            query = pa_context_get_sink_input_info(context, index, onSinkInputInfo, self);
        }
        break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
        query = pa_context_get_server_info(context, onServerInfo, self);
        break;
    default:
        break;
    }
    // The reply arrives on this thread later; disconnecting cancels it.
    if (query != nullptr)
        pa_operation_unref(query);
}

void PulseConnection::onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    if (eol == 0 && info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteSource(*info, true);
}

void PulseConnection::onSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    if (eol == 0 && info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteSinkInput(*info, true);
}

void PulseConnection::onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteServer(*info, true);
}

void PulseConnection::onInitialSource(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    if (eol == 0 && info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteSource(*info, false);
}

void PulseConnection::onInitialSinkInput(pa_context*, const pa_sink_input_info* info, int eol,
                                         void* userdata) {
    if (eol == 0 && info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteSinkInput(*info, false);
}

void PulseConnection::onInitialServer(pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr)
        static_cast<PulseConnection*>(userdata)->noteServer(*info, false);
}

void PulseConnection::noteSource(const pa_source_info& info, bool announce) {
    bool isNew = sources_.count(info.index) == 0;
    SourceEntry entry{info.name != nullptr ? info.name : "", info.monitor_of_sink != PA_INVALID_INDEX};
    sources_[info.index] = entry;
    if (!announce)
        return;
    PulseEvent event{isNew ? PulseEvent::Kind::sourceAdded : PulseEvent::Kind::sourceChanged, info.index,
                     entry.name, entry.isMonitor};
    dispatch(event);
}

void PulseConnection::noteSinkInput(const pa_sink_input_info& info, bool announce) {
    auto found = sinkInputs_.find(info.index);
    bool isNew = found == sinkInputs_.end();
    std::uint32_t previousSink = isNew ? PA_INVALID_INDEX : found->second.sink;
    sinkInputs_[info.index] = SinkInputEntry{info.sink, info.corked != 0};
    if (!announce)
        return;
    PulseEvent event{PulseEvent::Kind::sinkInputChanged, info.index};
    if (isNew)
        event.kind = PulseEvent::Kind::sinkInputAdded;
    else if (previousSink != info.sink)
        event.kind = PulseEvent::Kind::sinkInputMoved;
    event.sink = info.sink;
    event.corked = info.corked != 0;
    dispatch(event);
}

void PulseConnection::noteServer(const pa_server_info& info, bool announce) {
    std::string source = info.default_source_name != nullptr ? info.default_source_name : "";
    std::string sink = info.default_sink_name != nullptr ? info.default_sink_name : "";
    bool sourceChanged = source != defaultSource_;
    bool sinkChanged = sink != defaultSink_;
    defaultSource_ = source;
    defaultSink_ = sink;
    if (!announce)
        return;
    if (sourceChanged) {
        PulseEvent event{PulseEvent::Kind::defaultSourceChanged};
        event.name = source;
        dispatch(event);
    }
    if (sinkChanged) {
        PulseEvent event{PulseEvent::Kind::defaultSinkChanged};
        event.name = sink;
        dispatch(event);
    }
}

} // namespace nuvel
