#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nuvel {

// Places the buffers of two independently clocked streams (the microphone and the system or
// application audio) on one 48000 Hz output timeline by their host times, and renders the mono
// mean of both, frame by frame, up to a host time the caller chooses.
//
// Output frame f begins at host time origin + f / 48000. Two circular buffers of `capacity`
// frames hold the frames from the render position on; a frame nobody wrote renders as silence.
// A plain value owned by one consumer; no locking, no input or output.
class CaptureMixer {
public:
    enum class Source { microphone, system };

    static constexpr double outputRate = 48000.0;
    // How far before the render position a buffer may begin once rendering has begun (10 ms):
    // the part that is already rendered is dropped, the rest written.
    static constexpr std::int64_t latenessAllowance = 480;

    // `capacity` must not be negative (std::invalid_argument); a mixer of capacity 0 cannot render.
    CaptureMixer(std::int64_t capacity, double origin);

    // Places mono `samples` taken at `sampleRate`, whose first sample begins at `hostTime`, into
    // the source's buffer, resampled linearly to 48000 Hz; later appends of one source overwrite
    // earlier ones where they overlap. The part of a late buffer dropped once rendering has begun
    // is added to the process's CaptureLossTally (as mixerLateFrames) where it is missing from
    // the mix: not where the source's own earlier audio was rendered (a source's buffers come in
    // the order of their times). Throws
    // RecordingError(invalidTransport), having written nothing, for a rate outside
    // 8000...192000 Hz, a non-finite host time or sample, a buffer that begins more than 480
    // frames before the render position once rendering has begun (or ends at or before frame 0
    // before it has), or one that ends more than `capacity` frames after the render position.
    void append(std::span<const float> samples, Source source, double sampleRate, double hostTime);

    // The next output frames, from the render position up to the frame that begins at `until`,
    // at most `max` and at most `capacity` of them; each is (microphone + system) / 2 clamped to
    // -1...1. Consumes what it returns. A non-finite `until`, a negative `max` or a mixer of
    // capacity 0 is a caller's error (std::invalid_argument).
    std::vector<float> render(double until, std::int64_t max);

    std::int64_t renderedFrames() const noexcept { return renderedFrames_; }
    std::int64_t capacity() const noexcept { return capacity_; }
    double origin() const noexcept { return origin_; }

private:
    std::vector<float> microphone_;
    std::vector<float> system_;
    std::int64_t cursor_ = 0; // index in both buffers of the frame at the render position
    double origin_;
    std::int64_t renderedFrames_ = 0;
    std::int64_t capacity_;
    // Per source: the output frame after the latest one its appends wrote.
    std::int64_t writtenEnd_[2] = {0, 0};
};

} // namespace nuvel
