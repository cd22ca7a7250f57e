#include "Nuvel/platform/PulsePlaybackStream.hpp"

#include <algorithm>
#include <cmath>
#include <pulse/pulseaudio.h>

namespace nuvel {

PulsePlaybackStream::PulsePlaybackStream(std::shared_ptr<PulseConnection> connection, Options options,
                                         Filler filler, FailureHandler failure)
    : connection_(std::move(connection)), filler_(std::move(filler)), failure_(std::move(failure)) {
    if (!connection_ || !filler_)
        throw PulseError(PulseError::Case::failed, PA_ERR_INVALID,
                         "playback stream: needs a connection and a filler");
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = options.sampleRate;
    if (options.channels == 0 || options.channels > PA_CHANNELS_MAX || spec.rate == 0 ||
        spec.rate > PA_RATE_MAX)
        throw PulseError(PulseError::Case::failed, PA_ERR_INVALID,
                         "playback stream: unsupported rate or channel count");
    spec.channels = static_cast<std::uint8_t>(options.channels);
    rate_ = spec.rate;
    channels_ = options.channels;
    frameBytes_ = pa_frame_size(&spec);

    PulseConnection::Lock lock(*connection_);
    try {
        pa_channel_map map;
        pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        stream_ = pa_stream_new(connection_->context(), options.streamName.c_str(), &spec, &map);
        if (stream_ == nullptr)
            connection_->throwContextError("playback stream");
        pa_stream_set_state_callback(stream_, onState, this);
        pa_stream_set_write_callback(stream_, onWrite, this);

        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(
            static_cast<pa_usec_t>(std::llround(std::max(options.bufferSeconds, 0.005) * 1e6)), &spec));
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                    PA_STREAM_AUTO_TIMING_UPDATE |
                                                    (options.startCorked ? PA_STREAM_START_CORKED : 0));
        const char* sink = options.sink ? options.sink->c_str() : nullptr;
        if (pa_stream_connect_playback(stream_, sink, &attributes, flags, nullptr, nullptr) < 0)
            connection_->throwContextError("playback stream: connect");
        connection_->waitUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                               "playback stream");
        if (pa_stream_get_state(stream_) != PA_STREAM_READY)
            connection_->throwContextError("playback stream: open");
        ready_ = true;
        sinkInput_ = pa_stream_get_index(stream_);
    } catch (...) {
        release();
        throw;
    }
}

PulsePlaybackStream::~PulsePlaybackStream() {
    close();
}

void PulsePlaybackStream::close() {
    if (!connection_ || closed_)
        return;
    connection_->locked([&] {
        closed_ = true;
        release();
    });
}

void PulsePlaybackStream::release() {
    if (stream_ == nullptr)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulsePlaybackStream::setCorked(bool corked) {
    struct Result {
        bool success = false;
        static void callback(pa_stream*, int success, void* userdata) {
            static_cast<Result*>(userdata)->success = success != 0;
        }
    } result;
    PulseConnection::Lock lock(*connection_);
    if (stream_ == nullptr)
        throw PulseError(PulseError::Case::failed, PA_ERR_BADSTATE, "playback stream: closed");
    connection_->await(pa_stream_cork(stream_, corked ? 1 : 0, Result::callback, &result), "cork");
    if (!result.success)
        connection_->throwContextError("cork");
}

void PulsePlaybackStream::flush() {
    struct Result {
        bool success = false;
        static void callback(pa_stream*, int success, void* userdata) {
            static_cast<Result*>(userdata)->success = success != 0;
        }
    } result;
    PulseConnection::Lock lock(*connection_);
    if (stream_ == nullptr)
        throw PulseError(PulseError::Case::failed, PA_ERR_BADSTATE, "playback stream: closed");
    connection_->await(pa_stream_flush(stream_, Result::callback, &result), "flush");
    if (!result.success)
        connection_->throwContextError("flush");
}

double PulsePlaybackStream::latencySeconds() const {
    PulseConnection::Lock lock(*connection_);
    if (stream_ == nullptr)
        return 0;
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) != 0 || negative)
        return 0;
    return static_cast<double>(latency) / 1e6;
}

void PulsePlaybackStream::onWrite(pa_stream* stream, std::size_t bytes, void* userdata) {
    auto* self = static_cast<PulsePlaybackStream*>(userdata);
    if (self->closed_)
        return;
    while (bytes >= self->frameBytes_) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr)
            return;
        size = std::min(size, bytes) / self->frameBytes_ * self->frameBytes_;
        if (size == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        auto frames = static_cast<std::uint32_t>(size / self->frameBytes_);
        try {
            self->filler_(static_cast<float*>(data), frames);
        } catch (...) {
            // On the sound server's thread, where nothing may unwind: a failed fill plays silence.
            std::fill_n(static_cast<float*>(data), frames * self->channels_, 0.0f);
        }
        if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= size;
    }
}

void PulsePlaybackStream::onState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulsePlaybackStream*>(userdata);
    pa_threaded_mainloop_signal(self->connection_->mainloop(), 0);
    if (!self->ready_ || self->closed_ || self->failed_)
        return;
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        self->failed_ = true;
        try {
            if (self->failure_)
                self->failure_();
        } catch (...) {
            // The notice is all there is to give; nothing may unwind into the sound library.
        }
    }
}

} // namespace nuvel
