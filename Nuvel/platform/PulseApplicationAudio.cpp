#include "Nuvel/platform/PulseApplicationAudio.hpp"

#include "Nuvel/platform/ProcessLiveness.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "NuvelKit/support/Time.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <pulse/pulseaudio.h>
#include <vector>

namespace nuvel {

namespace {

pa_usec_t microseconds(double seconds) {
    return static_cast<pa_usec_t>(std::llround(seconds * 1e6));
}

bool isSinkInputEvent(PulseEvent::Kind kind) {
    return kind == PulseEvent::Kind::sinkInputAdded || kind == PulseEvent::Kind::sinkInputRemoved ||
           kind == PulseEvent::Kind::sinkInputMoved || kind == PulseEvent::Kind::sinkInputChanged;
}

} // namespace

PulseApplicationAudio::PulseApplicationAudio(std::shared_ptr<PulseConnection> connection,
                                             std::int32_t processID,
                                             std::shared_ptr<SystemAudioOutput> output)
    : connection_(std::move(connection)), processID_(processID),
      processStart_(ProcessLiveness::startTime(processID)), output_(std::move(output)) {}

PulseApplicationAudio::~PulseApplicationAudio() {
    stopCapture();
}

void PulseApplicationAudio::startCapture() {
    if (started_)
        return;
    started_ = true;
    mix_ = std::make_unique<ApplicationStreamMix>(output_, hostTimeSeconds());
    try {
        connection_->locked([this] {
            timer_ = pa_context_rttime_new(connection_->context(),
                                           pa_rtclock_now() + microseconds(handOutInterval), onTimer, this);
            if (timer_ == nullptr)
                connection_->throwContextError("application audio: timer");
        });
        watch_ = connection_->addEventHandler([this](const PulseEvent& event) {
            if (event.kind == PulseEvent::Kind::disconnected)
                output_->didStop();
            else if (isSinkInputEvent(event.kind))
                wake();
        });
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = requests_;
        }
        reconcile(true);
        // The streams' first audio has come: what it brought from before now is not recorded.
        ApplicationStreamMix* mix = mix_.get();
        connection_->locked([mix] { mix->recordFrom(hostTimeSeconds()); });
        worker_ = std::jthread([this, seen](std::stop_token stop) {
            std::uint64_t handled = seen;
            while (!stop.stop_requested()) {
                bool requested;
                {
                    std::unique_lock lock(mutex_);
                    requested = wakeUp_.wait_for(lock, stop, std::chrono::duration<double>(watchInterval),
                                                 [&] { return requests_ != handled; });
                    handled = requests_;
                }
                if (stop.stop_requested())
                    return;
                if (requested)
                    reconcile(false);
                else if (recorded_.empty())
                    watchProcess();
            }
        });
    } catch (...) {
        stopAll();
        throw;
    }
}

void PulseApplicationAudio::stopCapture() {
    stopAll();
}

void PulseApplicationAudio::stopAll() {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
    if (watch_) {
        connection_->removeEventHandler(*watch_);
        watch_.reset();
    }
    for (auto& [index, recorded] : recorded_)
        recorded.stream->close();
    recorded_.clear();
    if (timer_ != nullptr) {
        connection_->locked([this] {
            pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(timer_);
            timer_ = nullptr;
        });
    }
}

void PulseApplicationAudio::wake() {
    {
        std::lock_guard lock(mutex_);
        ++requests_;
    }
    wakeUp_.notify_one();
}

void PulseApplicationAudio::lose() {
    if (lost_)
        return;
    lost_ = true;
    output_->didStop();
}

void PulseApplicationAudio::watchProcess() {
    if (!processStart_ || !ProcessLiveness::isRunning(processID_, *processStart_))
        lose();
}

void PulseApplicationAudio::reconcile(bool starting) {
    std::vector<PulseSinkInputInfo> inputs;
    try {
        for (auto& input : listSinkInputs(*connection_))
            if (input.processID == processID_)
                inputs.push_back(std::move(input));
    } catch (const PulseError&) {
        if (starting)
            throw;
        // A slow answer is tried again with the next event; a server that went away has
        // already been reported.
        return;
    }
    // A stream that ended or failed stops contributing. One whose sink-input moved goes on
    // while the server keeps it on the sink-input (PipeWire does; PulseAudio ends it, and it is
    // opened again on the new sink).
    for (auto it = recorded_.begin(); it != recorded_.end();) {
        const std::uint32_t index = it->first;
        auto input =
            std::find_if(inputs.begin(), inputs.end(), [index](const auto& i) { return i.index == index; });
        if (input != inputs.end() && !it->second.stream->hasFailed()) {
            ++it;
            continue;
        }
        close(it->second);
        it = recorded_.erase(it);
    }
    std::erase_if(opens_, [&](const auto& entry) {
        return std::none_of(inputs.begin(), inputs.end(),
                            [&](const auto& i) { return i.index == entry.first; });
    });
    for (const auto& input : inputs)
        if (!recorded_.contains(input.index))
            open(input, starting);
    if (recorded_.empty())
        watchProcess();
}

void PulseApplicationAudio::open(const PulseSinkInputInfo& input, bool starting) {
    if (++opens_[input.index] > opensPerStream) {
        lose();
        return;
    }
    ApplicationStreamMix* mix = mix_.get();
    const ApplicationStreamMix::StreamID id =
        connection_->locked([mix] { return mix->addStream(hostTimeSeconds()); });
    PulseRecordStream::Options options;
    options.sinkInput = input.index;
    options.sampleRate = std::uint32_t(SystemAudioOutput::sampleRate);
    options.channels = 1;
    options.streamName = "Nuvel application audio";
    // The streams a capture starts with deliver before its clock starts, so nothing played
    // after Start is lost; a stream added later is caught up by the mix.
    if (starting)
        options.primeSeconds = primeSeconds;
    try {
        Recorded recorded;
        recorded.id = id;
        recorded.stream = std::make_unique<PulseRecordStream>(
            connection_, options,
            [mix, id](const float* mono, std::uint32_t frames, double sampleRate, double hostTime) {
                mix->deliver(id, mono, frames, sampleRate, hostTime, hostTimeSeconds());
            },
            [this, mix, id](PulseRecordStream::Problem problem) {
                if (problem == PulseRecordStream::Problem::failed) {
                    // Its sink-input ended or moved: the worker looks at what is left.
                    mix->endStream(id);
                    wake();
                } else {
                    output_->didStop();
                }
            });
        recorded_.emplace(input.index, std::move(recorded));
    } catch (const PulseError& error) {
        connection_->locked([mix, id] { mix->endStream(id); });
        if (error.code() == PA_ERR_NOENTITY)
            return; // it ended before it could be recorded
        if (starting)
            throw;
        lose();
    }
}

void PulseApplicationAudio::close(Recorded& recorded) {
    recorded.stream->close();
    ApplicationStreamMix* mix = mix_.get();
    connection_->locked([mix, id = recorded.id] { mix->endStream(id); });
}

void PulseApplicationAudio::onTimer(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                                    void* userdata) {
    auto* self = static_cast<PulseApplicationAudio*>(userdata);
    pa_context_rttime_restart(self->connection_->context(), event,
                              pa_rtclock_now() + microseconds(handOutInterval));
    self->mix_->advance(hostTimeSeconds());
}

} // namespace nuvel
