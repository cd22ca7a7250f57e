#include "Nuvel/platform/PulseRecordStream.hpp"

#include "Nuvel/platform/PulseIntrospection.hpp"
#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/support/Time.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <pulse/pulseaudio.h>

namespace nuvel {

namespace {

pa_usec_t microseconds(double seconds) {
    return static_cast<pa_usec_t>(std::llround(std::max(seconds, 0.0) * 1e6));
}

} // namespace

PulseRecordStream::PulseRecordStream(std::shared_ptr<PulseConnection> connection, Options options,
                                     Consumer consumer, ProblemHandler problems)
    : connection_(std::move(connection)), consumer_(std::move(consumer)), problems_(std::move(problems)),
      mono_(maxFramesPerPiece, 0.0f), silence_(maxFramesPerPiece, 0.0f) {
    if (!connection_ || !consumer_)
        throw PulseError(PulseError::Case::failed, PA_ERR_INVALID,
                         "record stream: needs a connection and a consumer");
    try {
        open(options);
    } catch (...) {
        PulseConnection::Lock lock(*connection_);
        release();
        throw;
    }
}

PulseRecordStream::~PulseRecordStream() {
    close();
}

void PulseRecordStream::open(const Options& options) {
    // Find the device and its own format first; these lookups wait on their own.
    std::string device;
    PulseSampleSpec own;
    bool corkedAtOpen = false;
    if (options.sinkInput) {
        auto input = sinkInputInfo(*connection_, *options.sinkInput);
        if (!input)
            throw PulseError(PulseError::Case::failed, PA_ERR_NOENTITY, "record stream: no such sink input");
        auto sink = sinkInfo(*connection_, input->sink);
        if (!sink)
            throw PulseError(PulseError::Case::failed, PA_ERR_NOENTITY,
                             "record stream: the sink input's sink is gone");
        device = sink->monitorSourceName;
        own = sink->sampleSpec;
        sinkInput_ = options.sinkInput;
        corkedAtOpen = input->corked;
    } else {
        auto source = sourceInfo(*connection_, options.source.value_or("@DEFAULT_SOURCE@"));
        if (!source)
            throw PulseError(PulseError::Case::failed, PA_ERR_NOENTITY, "record stream: no such source");
        device = source->name;
        own = source->sampleSpec;
    }

    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = options.sampleRate.value_or(own.rate);
    std::uint32_t channels = options.channels.value_or(own.channels);
    // Mono is the mean of the device's channels, mixed here: the servers' own mixes differ
    // (PipeWire's stereo-to-mono mix is 3 dB louder than PulseAudio's mean).
    if (channels == 1 && own.channels > 1 && own.channels <= PA_CHANNELS_MAX)
        channels = own.channels;
    if (channels == 0 || channels > PA_CHANNELS_MAX || spec.rate == 0 || spec.rate > PA_RATE_MAX)
        throw PulseError(PulseError::Case::failed, PA_ERR_INVALID,
                         "record stream: unsupported rate or channel count");
    spec.channels = static_cast<std::uint8_t>(channels);
    rate_ = spec.rate;
    timeline_ = RecordStreamTimeline(rate_);
    channels_ = channels;
    frameBytes_ = pa_frame_size(&spec);

    PulseConnection::Lock lock(*connection_);
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(connection_->context(), options.streamName.c_str(), &spec, &map);
    if (stream_ == nullptr)
        connection_->throwContextError("record stream");
    pa_stream_set_state_callback(stream_, onState, this);
    pa_stream_set_read_callback(stream_, onRead, this);
    pa_stream_set_moved_callback(stream_, onMoved, this);
    pa_stream_set_suspended_callback(stream_, onSuspended, this);
    pa_stream_set_overflow_callback(stream_, onOverflow, this);
    if (sinkInput_ && pa_stream_set_monitor_stream(stream_, *sinkInput_) < 0)
        connection_->throwContextError("record stream: monitor a sink input");

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        std::max<std::size_t>(pa_usec_to_bytes(microseconds(options.fragmentSeconds), &spec), frameBytes_));
    // Without an explicit fragment size the server delivers in lumps of about two seconds.
    // The stream stays on its device: a device that goes away ends it, and the capture
    // reports that, rather than silently recording another microphone.
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                                PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    const double connectedAt = hostTimeSeconds();
    if (pa_stream_connect_record(stream_, device.c_str(), &attributes, flags) < 0)
        connection_->throwContextError("record stream: connect");
    auto opened = [this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; };
    if (corkedAtOpen) {
        // PipeWire's server opens a stream that follows a sink-input only once the sink-input
        // plays. Until then the timer's silence stands for it, as for any paused application.
        try {
            connection_->waitUntil(opened, "record stream", pendingOpenSeconds);
        } catch (const PulseError& error) {
            if (error.kind() != PulseError::Case::timedOut)
                throw;
        }
    } else {
        connection_->waitUntil(opened, "record stream");
    }
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state != PA_STREAM_READY && !(corkedAtOpen && state == PA_STREAM_CREATING))
        connection_->throwContextError("record stream: open");

    ready_ = true;
    deviceName_ = device;
    if (const char* name = state == PA_STREAM_READY ? pa_stream_get_device_name(stream_) : nullptr)
        deviceName_ = name;
    // A stream still opening is silent from the moment it was asked for.
    lastDataAt_ = state == PA_STREAM_READY ? hostTimeSeconds() : connectedAt;
    if (sinkInput_)
        timer_ = pa_context_rttime_new(connection_->context(),
                                       pa_rtclock_now() + microseconds(silenceCheckInterval), onTimer, this);
    if (options.primeSeconds > 0 && state == PA_STREAM_READY) {
        try {
            connection_->waitUntil([this] { return delivered_ || failed_.load(); },
                                   "record stream: first audio", options.primeSeconds);
        } catch (const PulseError& error) {
            if (error.kind() != PulseError::Case::timedOut)
                throw;
        }
    }
}

void PulseRecordStream::close() {
    if (!connection_ || closed_)
        return;
    connection_->locked([&] {
        closed_ = true;
        release();
    });
}

void PulseRecordStream::release() {
    for (pa_operation** query : {&corkQuery_, &timingQuery_}) {
        if (*query == nullptr)
            continue;
        pa_operation_cancel(*query);
        pa_operation_unref(*query);
        *query = nullptr;
    }
    if (timer_ != nullptr) {
        pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(timer_);
        timer_ = nullptr;
    }
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_moved_callback(stream_, nullptr, nullptr);
        pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
        pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
            pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
}

// ---- The audio path (mainloop thread) ----

void PulseRecordStream::onRead(pa_stream*, std::size_t, void* userdata) {
    static_cast<PulseRecordStream*>(userdata)->onReadable();
}

void PulseRecordStream::onReadable() {
    if (closed_ || failed_.load(std::memory_order_relaxed))
        return;
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0) {
            fail();
            return;
        }
        if (bytes == 0) {
            // Nothing (more) to read: the newest frame is in, and the server's latency is what
            // it still holds.
            timeline_.drained(hostTimeSeconds(), latencySeconds());
            return;
        }
        if (data != nullptr && needsAnchor_ && !timingFresh_) {
            // Anchoring needs the server's latency as of now, not an estimate interpolated
            // from an old timing record: ask for it and read when it is in. The data waits
            // in the stream's buffer meanwhile.
            if (timingQuery_ == nullptr)
                timingQuery_ = pa_stream_update_timing_info(stream_, onTiming, this);
            if (timingQuery_ != nullptr)
                return;
        }
        if (data == nullptr) {
            // A hole: audio the server could not keep. Time jumps, so anchor again.
            CaptureLossTally::shared().addServerHoleFrames(std::int64_t(bytes / frameBytes_));
            pa_stream_drop(stream_);
            partialBytes_ = 0;
            needsAnchor_ = true;
            report(Problem::hole);
            continue;
        }
        consume(static_cast<const unsigned char*>(data), bytes);
        pa_stream_drop(stream_);
    }
}

void PulseRecordStream::consume(const unsigned char* data, std::size_t bytes) {
    lastDataAt_ = hostTimeSeconds();
    if (needsAnchor_)
        anchor();
    const float scale = static_cast<float>(channels_);
    auto addFrame = [&](const unsigned char* frame) {
        if (timeline_.dropNextFrame())
            return;
        float mono = 0.0f;
        for (std::uint32_t c = 0; c < channels_; ++c) {
            float sample;
            std::memcpy(&sample, frame + c * sizeof(float), sizeof(float));
            mono += sample / scale;
        }
        mono_[pieceFrames_++] = mono;
        if (pieceFrames_ == maxFramesPerPiece)
            flushPiece();
    };

    std::size_t offset = 0;
    if (partialBytes_ > 0) {
        std::size_t take = std::min(frameBytes_ - partialBytes_, bytes);
        std::memcpy(partial_.data() + partialBytes_, data, take);
        partialBytes_ += take;
        offset = take;
        if (partialBytes_ == frameBytes_) {
            addFrame(partial_.data());
            partialBytes_ = 0;
        }
    }
    for (; offset + frameBytes_ <= bytes; offset += frameBytes_)
        addFrame(data + offset);
    if (offset < bytes) {
        partialBytes_ = bytes - offset;
        std::memcpy(partial_.data(), data + offset, partialBytes_);
    }
    if (pieceFrames_ > 0)
        flushPiece();
}

void PulseRecordStream::onTiming(pa_stream*, int, void* userdata) {
    auto* self = static_cast<PulseRecordStream*>(userdata);
    if (self->timingQuery_ != nullptr) {
        pa_operation_unref(self->timingQuery_);
        self->timingQuery_ = nullptr;
    }
    self->timingFresh_ = true; // also when the update failed: anchor with what there is
    self->onReadable();
}

void PulseRecordStream::anchor() {
    // Never steps back behind audio already delivered: pieces must not overlap.
    timeline_.anchor(hostTimeSeconds() - latencySeconds());
    needsAnchor_ = false;
    timingFresh_ = false;
}

void PulseRecordStream::flushPiece() {
    std::uint32_t frames = pieceFrames_;
    double hostTime = timeline_.place(frames);
    pieceFrames_ = 0;
    try {
        consumer_(mono_.data(), frames, rate_, hostTime);
    } catch (...) {
        // Must not unwind through the sound library.
    }
    noteDelivery();
}

void PulseRecordStream::noteDelivery() {
    if (delivered_)
        return;
    delivered_ = true;
    pa_threaded_mainloop_signal(connection_->mainloop(), 0); // an opening that primes waits for it
}

double PulseRecordStream::latencySeconds() const {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) == 0)
        return negative ? 0.0 : static_cast<double>(latency) / 1e6;
    // No timing yet: the data waiting to be read is at least this old.
    std::size_t waiting = pa_stream_readable_size(stream_);
    if (waiting == static_cast<std::size_t>(-1))
        return 0.0;
    const std::size_t frames = waiting / frameBytes_; // whole frames only
    return static_cast<double>(frames) / rate_;
}

// ---- Silence for a paused application ----

void PulseRecordStream::onTimer(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                                void* userdata) {
    auto* self = static_cast<PulseRecordStream*>(userdata);
    pa_context_rttime_restart(self->connection_->context(), event,
                              pa_rtclock_now() + microseconds(silenceCheckInterval));
    if (self->closed_ || self->failed_.load() || self->corkQuery_ != nullptr)
        return;
    if (hostTimeSeconds() - self->lastDataAt_ < stallSeconds)
        return;
    self->corkedSeen_ = false;
    self->corkQuery_ =
        pa_context_get_sink_input_info(self->connection_->context(), *self->sinkInput_, onCorkInfo, self);
}

void PulseRecordStream::onCorkInfo(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseRecordStream*>(userdata);
    if (eol == 0) {
        if (info != nullptr)
            self->corkedSeen_ = info->corked != 0;
        return;
    }
    if (self->corkQuery_ != nullptr) {
        pa_operation_unref(self->corkQuery_);
        self->corkQuery_ = nullptr;
    }
    if (eol < 0) {
        self->fail(); // the sink-input is gone
        return;
    }
    if (self->corkedSeen_)
        self->emitSilence();
}

void PulseRecordStream::emitSilence() {
    double end = hostTimeSeconds() - silenceLagSeconds;
    if (!timeline_.anchored())
        timeline_.anchor(lastDataAt_);
    double start = timeline_.end();
    if (!(end > start))
        return;
    auto frames = static_cast<std::uint64_t>(std::floor((end - start) * rate_));
    partialBytes_ = 0;
    while (frames > 0) {
        auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, maxFramesPerPiece));
        double hostTime = timeline_.place(piece);
        frames -= piece;
        try {
            consumer_(silence_.data(), piece, rate_, hostTime);
        } catch (...) {
            // Must not unwind through the sound library.
        }
        noteDelivery();
    }
    // When the application plays again, its audio is placed by the clock, after this silence.
    needsAnchor_ = true;
}

// ---- Problems ----

void PulseRecordStream::onState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseRecordStream*>(userdata);
    pa_threaded_mainloop_signal(self->connection_->mainloop(), 0);
    if (!self->ready_)
        return; // the opening thread reports this one
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        self->fail();
}

void PulseRecordStream::onMoved(pa_stream*, void* userdata) {
    static_cast<PulseRecordStream*>(userdata)->report(Problem::moved);
}

void PulseRecordStream::onOverflow(pa_stream*, void*) {
    // The server's buffer for the stream ran full and it dropped audio; what is lost shows as a
    // hole or as the timeline falling behind, and is counted there.
    CaptureLossTally::shared().addServerOverflow();
}

void PulseRecordStream::onSuspended(pa_stream* stream, void* userdata) {
    if (pa_stream_is_suspended(stream) == 1)
        static_cast<PulseRecordStream*>(userdata)->report(Problem::suspended);
}

void PulseRecordStream::report(Problem problem) {
    if (closed_ || failed_.load())
        return;
    try {
        if (problems_)
            problems_(problem);
    } catch (...) {
        // A notice from the sound library's thread, where nothing may unwind.
    }
}

void PulseRecordStream::fail() {
    if (closed_ || failed_.exchange(true))
        return;
    try {
        if (problems_)
            problems_(Problem::failed);
    } catch (...) {
        // A notice from the sound library's thread, where nothing may unwind.
    }
}

} // namespace nuvel
