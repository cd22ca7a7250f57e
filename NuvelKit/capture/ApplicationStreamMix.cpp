#include "NuvelKit/capture/ApplicationStreamMix.hpp"

#include "NuvelKit/capture/CaptureLosses.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace nuvel {

namespace {

// Host times further than this from the origin (about 31 years) are not placed at all.
constexpr double farSeconds = 1e9;

} // namespace

ApplicationStreamMix::ApplicationStreamMix(std::shared_ptr<SystemAudioOutput> output, double origin)
    : output_(std::move(output)), origin_(origin), buffer_(std::size_t(capacity), 0.0f),
      piece_(pieceFrames, 0.0f) {
    streams_.reserve(8);
}

ApplicationStreamMix::StreamID ApplicationStreamMix::addStream(double now) {
    std::erase_if(streams_, [](const Stream& stream) { return !stream.open; });
    Stream stream;
    stream.id = nextID_++;
    stream.lastArrival = now;
    streams_.push_back(stream);
    return stream.id;
}

void ApplicationStreamMix::endStream(StreamID id) {
    if (Stream* stream = find(id))
        stream->open = false;
}

void ApplicationStreamMix::recordFrom(double hostTime) {
    if (std::isfinite(hostTime) && std::fabs(hostTime - origin_) <= farSeconds)
        recordedFrom_ = std::max(recordedFrom_, frameAt(hostTime));
}

std::size_t ApplicationStreamMix::openStreams() const noexcept {
    return std::size_t(
        std::count_if(streams_.begin(), streams_.end(), [](const Stream& s) { return s.open; }));
}

ApplicationStreamMix::Stream* ApplicationStreamMix::find(StreamID id) {
    auto found = std::find_if(streams_.begin(), streams_.end(), [id](const Stream& s) { return s.id == id; });
    return found == streams_.end() ? nullptr : &*found;
}

std::int64_t ApplicationStreamMix::frameAt(double hostTime) const {
    return std::llround((hostTime - origin_) * rate);
}

void ApplicationStreamMix::deliver(StreamID id, const float* mono, std::uint32_t frames, double sampleRate,
                                   double hostTime, double now) {
    if (sampleRate != rate || !std::isfinite(hostTime) || (mono == nullptr && frames > 0)) {
        output_->didStop();
        return;
    }
    Stream* stream = find(id);
    if (stream == nullptr || !stream->open)
        return;
    stream->lastArrival = now;
    if (frames > 0) {
        if (std::fabs(hostTime - origin_) > farSeconds) {
            cut(frames, frames);
        } else {
            std::int64_t start = std::llround((hostTime - origin_) * rate);
            if (stream->delivered && std::llabs(start - stream->end) <= continuityFrames)
                start = stream->end; // rounding, not a gap or an overlap
            const std::int64_t end = start + std::int64_t(frames);
            // Where this stream's own audio ends: frames before it are not missing from the
            // recording when this piece is cut there.
            const std::int64_t own = stream->delivered ? std::max(start, stream->end) : start;
            std::int64_t from = std::max(start, next_);
            if (stream->delivered)
                from = std::max(from, stream->end); // a stream never adds twice onto one frame
            const std::int64_t to = std::min(end, next_ + capacity);
            const std::int64_t placed = std::max<std::int64_t>(0, to - from);
            // Lost: frames handed out without this piece, and frames beyond the window.
            const std::int64_t late =
                std::max<std::int64_t>(0, std::min(end, next_) - std::max(own, recordedFrom_));
            const std::int64_t ahead = std::max<std::int64_t>(0, end - std::max(start, next_ + capacity));
            cut(std::int64_t(frames) - placed, late + ahead);
            for (std::int64_t f = from; f < to; ++f) {
                const float sample = mono[f - start];
                if (std::isfinite(sample))
                    buffer_[std::size_t(f % capacity)] += sample;
            }
            if (placed > 0)
                placedEnd_ = std::max(placedEnd_, to);
            stream->end = stream->delivered ? std::max(stream->end, end) : end;
            stream->delivered = true;
        }
    }
    advance(now);
}

std::int64_t ApplicationStreamMix::target(double now) const {
    const std::int64_t held = frameAt(now - holdSeconds);
    bool anyOpen = false;
    bool anyFresh = false;
    // A stream that has delivered nothing yet holds everything back, as far as `held`.
    std::int64_t minEnd = std::numeric_limits<std::int64_t>::max();
    for (const Stream& stream : streams_) {
        if (!stream.open)
            continue;
        anyOpen = true;
        anyFresh = anyFresh || now - stream.lastArrival <= freshSeconds;
        minEnd = std::min(minEnd, stream.delivered ? stream.end : std::numeric_limits<std::int64_t>::min());
    }
    if (!anyOpen)
        return held; // nothing plays: silence
    if (!anyFresh)
        return next_; // every stream stalled
    // Audio timed after now (a stream's clock running ahead) waits until it is due.
    return std::min(std::max(minEnd, held), frameAt(now));
}

void ApplicationStreamMix::advance(double now) {
    if (!std::isfinite(now) || std::fabs(now - origin_) > farSeconds)
        return;
    const std::int64_t latest = frameAt(now - latestSeconds);
    if (next_ < latest)
        drop(latest);
    const std::int64_t until = target(now);
    if (until - next_ >= leastFrames)
        handOut(until);
}

void ApplicationStreamMix::cut(std::int64_t frames, std::int64_t lost) noexcept {
    cut_ += frames;
    CaptureLossTally::shared().addMixerLateFrames(lost);
}

void ApplicationStreamMix::drop(std::int64_t until) {
    const std::int64_t placed = std::min(until, placedEnd_);
    cut(std::max<std::int64_t>(0, placed - next_),
        std::max<std::int64_t>(0, placed - std::max(next_, recordedFrom_)));
    const std::int64_t zeroed = std::min(until - next_, capacity);
    for (std::int64_t f = next_; f < next_ + zeroed; ++f)
        buffer_[std::size_t(f % capacity)] = 0.0f;
    next_ = until;
}

void ApplicationStreamMix::handOut(std::int64_t until) {
    while (next_ < until) {
        // A piece never ends early where the circular buffer wraps.
        const std::int64_t frames = std::min(until - next_, std::int64_t(pieceFrames));
        for (std::int64_t i = 0; i < frames; ++i) {
            float& slot = buffer_[std::size_t((next_ + i) % capacity)];
            piece_[std::size_t(i)] = slot;
            slot = 0.0f;
        }
        SystemAudioBuffer piece;
        piece.format = PcmSampleFormat::float32;
        piece.channelCount = 1;
        piece.sampleRate = rate;
        piece.frameCount = std::uint32_t(frames);
        piece.data = piece_.data();
        piece.byteSize = std::size_t(frames) * sizeof(float);
        piece.presentationTime = origin_ + double(next_) / rate;
        output_->didOutput(piece);
        next_ += frames;
    }
}

} // namespace nuvel
