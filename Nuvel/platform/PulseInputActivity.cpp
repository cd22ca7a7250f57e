#include "Nuvel/platform/PulseInputActivity.hpp"

#include <charconv>
#include <cmath>
#include <pulse/pulseaudio.h>
#include <utility>

namespace nuvel {
namespace {

std::optional<std::string> property(const pa_proplist* list, const char* key) {
    const char* value = list != nullptr ? pa_proplist_gets(list, key) : nullptr;
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::int32_t> processID(const pa_proplist* list) {
    auto value = property(list, PA_PROP_APPLICATION_PROCESS_ID);
    if (!value)
        return std::nullopt;
    std::int32_t pid = 0;
    const char* end = value->data() + value->size();
    auto [ptr, error] = std::from_chars(value->data(), end, pid);
    if (error != std::errc() || ptr != end || pid <= 0)
        return std::nullopt;
    return pid;
}

// A query whose reply comes later on the mainloop thread; disconnecting cancels it.
void release(pa_operation* operation) {
    if (operation != nullptr)
        pa_operation_unref(operation);
}

} // namespace

PulseInputActivity::PulseInputActivity() : PulseInputActivity(Options{}) {}

PulseInputActivity::PulseInputActivity(Options options) : options_(std::move(options)) {
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr)
        return; // reads as disconnected, for good
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        return;
    }
    pa_threaded_mainloop_lock(mainloop_);
    connectNow();
    pa_threaded_mainloop_unlock(mainloop_);
}

PulseInputActivity::~PulseInputActivity() {
    if (mainloop_ == nullptr)
        return;
    pa_threaded_mainloop_lock(mainloop_);
    closing_ = true;
    for (pa_time_event** timer : {&retry_, &sourceRefresh_}) {
        if (*timer != nullptr)
            pa_threaded_mainloop_get_api(mainloop_)->time_free(*timer);
        *timer = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_); // cancels every pending query and its callback
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

InputActivity PulseInputActivity::snapshot() const {
    std::lock_guard guard(publishedLock_);
    return published_;
}

void PulseInputActivity::connectNow() {
    if (context_ != nullptr) {
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, options_.applicationName.c_str());
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_),
                                            options_.applicationName.c_str(), properties);
    pa_proplist_free(properties);
    if (context_ == nullptr) {
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(context_, onContextState, this);
    // No autospawn: a missing server is waited for, never started behind the user's back.
    const char* server = options_.server ? options_.server->c_str() : nullptr;
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        scheduleRetry();
}

void PulseInputActivity::scheduleRetry() {
    if (closing_ || retry_ != nullptr)
        return;
    double seconds =
        std::isfinite(options_.retrySeconds) && options_.retrySeconds > 0 ? options_.retrySeconds : 5.0;
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(seconds * 1e6));
    retry_ = pa_threaded_mainloop_get_api(mainloop_)->time_new(
        pa_threaded_mainloop_get_api(mainloop_), &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) { onRetry(self); }, this);
}

void PulseInputActivity::onRetry(void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    pa_threaded_mainloop_get_api(self->mainloop_)->time_free(self->retry_);
    self->retry_ = nullptr;
    // Out of the failed context's own callbacks, so it can be released here.
    self->connectNow();
}

void PulseInputActivity::refreshSourcesSoon() {
    if (closing_ || sourceRefresh_ != nullptr)
        return;
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(sourceSettleSeconds * 1e6));
    sourceRefresh_ = pa_threaded_mainloop_get_api(mainloop_)->time_new(
        pa_threaded_mainloop_get_api(mainloop_), &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) { onSourceRefresh(self); }, this);
}

void PulseInputActivity::onSourceRefresh(void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    pa_threaded_mainloop_get_api(self->mainloop_)->time_free(self->sourceRefresh_);
    self->sourceRefresh_ = nullptr;
    if (self->context_ != nullptr && self->ready_ && !self->closing_)
        release(pa_context_get_source_info_list(self->context_, onSource, self));
}

void PulseInputActivity::forgetServer() {
    ready_ = false;
    sources_.clear();
    outputs_.clear();
    defaultSource_.clear();
    publish();
}

void PulseInputActivity::publish() {
    InputActivity activity;
    activity.connected = ready_;
    for (const auto& [index, source] : sources_)
        if (source.name == defaultSource_ && !source.isMonitor && source.running)
            activity.defaultSourceRunning = true;
    for (const auto& [index, output] : outputs_) {
        auto source = sources_.find(output.source);
        if (output.corked || source == sources_.end() || source->second.isMonitor)
            continue;
        activity.clients.push_back(InputActivity::Client{index, output.processID, output.processBinary});
    }
    std::lock_guard guard(publishedLock_);
    published_ = std::move(activity);
}

void PulseInputActivity::onContextState(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    if (context != self->context_ || self->closing_)
        return;
    pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        self->ready_ = true;
        pa_context_set_subscribe_callback(
            context,
            [](pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* s) {
                onEvent(c, static_cast<int>(type), index, s);
            },
            self);
        // Subscribed first, listed after: a change during the listing is reported again.
        auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SERVER);
        release(pa_context_subscribe(context, mask, nullptr, nullptr));
        release(pa_context_get_server_info(context, onServer, self));
        release(pa_context_get_source_info_list(context, onSource, self));
        release(pa_context_get_source_output_info_list(context, onOutput, self));
        self->publish();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        self->forgetServer();
        self->scheduleRetry();
    }
}

void PulseInputActivity::onEvent(pa_context* context, int type, std::uint32_t index, void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    if (context != self->context_)
        return;
    int facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SOURCE:
        if (removed) {
            self->sources_.erase(index);
            self->publish();
        } else {
            release(pa_context_get_source_info_by_index(context, index, onSource, self));
        }
        break;
    case PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT:
        if (removed) {
            self->outputs_.erase(index);
            self->publish();
        } else {
            release(pa_context_get_source_output_info(context, index, onOutput, self));
        }
        // A recorder coming or going changes its source's state, and PipeWire's PulseAudio
        // server reports no change of the source for that: it is read again, now and once it
        // has settled.
        release(pa_context_get_source_info_list(context, onSource, self));
        self->refreshSourcesSoon();
        break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
        release(pa_context_get_server_info(context, onServer, self));
        break;
    default:
        break;
    }
}

void PulseInputActivity::onSource(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    if (context != self->context_)
        return;
    if (eol == 0 && info != nullptr) {
        self->sources_[info->index] =
            Source{info->name != nullptr ? info->name : "", info->monitor_of_sink != PA_INVALID_INDEX,
                   info->state == PA_SOURCE_RUNNING};
        return;
    }
    self->publish(); // the end of the reply (or of a listing)
}

void PulseInputActivity::onOutput(pa_context* context, const pa_source_output_info* info, int eol,
                                  void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    if (context != self->context_)
        return;
    if (eol == 0 && info != nullptr) {
        self->outputs_[info->index] =
            Output{info->source, info->corked != 0, processID(info->proplist),
                   property(info->proplist, PA_PROP_APPLICATION_PROCESS_BINARY).value_or("")};
        return;
    }
    self->publish();
}

void PulseInputActivity::onServer(pa_context* context, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<PulseInputActivity*>(userdata);
    if (context != self->context_ || info == nullptr)
        return;
    self->defaultSource_ = info->default_source_name != nullptr ? info->default_source_name : "";
    self->publish();
}

} // namespace nuvel
