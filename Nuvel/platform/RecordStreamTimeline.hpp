#pragma once

#include <cstdint>
#include <limits>

namespace nuvel {

// The host times of a record stream's frames: where the next frame begins and how the stream's
// own clock is kept on the host clock.
//
// A stream is anchored at "now minus its latency" and then counts frames / rate, so its pieces
// follow each other exactly. The device's clock is not the host clock, though: a sound card's
// crystal or a server that drops or repeats quanta makes the count run slower or faster than
// real time, and over a long recording the stamps would drift away from the moment the audio
// was heard. So each time the stream's queue is read empty, the newest frame's stamp is
// compared with that moment, which is "now" less what the server still holds of the stream
// (its latency: audio recorded but not yet read, a stalled server's backlog among it). Each
// `realignWindow` of such reads is judged as a whole, so that neither a late delivery nor a
// server's jitter alone counts:
//   - stamped in the future by more than `aheadTolerance` on every read (impossible for
//     recorded audio): the next frames are dropped until the stamps are back at arrival;
//   - trailing the moment the audio was recorded by more than `maxLag` on every read (a clock
//     that runs slow): the timeline jumps forward to `settleLag` behind it, leaving a gap, never
//     an overlap;
//   - trailing arrival by more than `lateLag` on every read, however true the stamps: the
//     timeline jumps forward to `settleLag` behind arrival, since audio that late no longer
//     reaches the capture's consumer in time (it refuses audio older than 0.45 s).
// Audio that a server delivers late but whole (a burst after a stall, or seconds of it behind
// real time on a busy machine) is not a drift: its stamps stay true and it stays continuous.
//
// A plain value of the stream's audio thread.
class RecordStreamTimeline {
public:
    static constexpr double realignWindow = 2.0;
    static constexpr double maxLag = 0.16;
    // A piece that ends this late began up to 0.1 s earlier still: just below the 0.4 s an
    // application's mix waits for a slow stream and the 0.45 s the consumer still takes.
    static constexpr double lateLag = 0.35;
    static constexpr double settleLag = 0.1;
    static constexpr double aheadTolerance = 0.02;

    explicit RecordStreamTimeline(double rate) : rate_(rate) {}

    bool anchored() const noexcept { return anchored_; }
    // Places the next frame at `start`, but never before the end of audio already placed.
    void anchor(double start);
    // Host time just after the last frame placed.
    double end() const noexcept { return anchorTime_ + double(frames_) / rate_; }
    // The host time of the next `frames` frames, which are then placed.
    double place(std::uint32_t frames) noexcept;
    // True when the next frame of the stream is to be dropped (and counts it as dropped).
    bool dropNextFrame() noexcept;
    // The stream's queue was read empty at `now`: its newest frame has arrived, and the server
    // says the next one is `latency` seconds old (0 when it cannot tell).
    void drained(double now, double latency) noexcept;

    // Frames dropped and seconds skipped by the corrections, for tracing and tests; both are also
    // added to the process's CaptureLossTally as they happen.
    std::uint64_t droppedFrames() const noexcept { return dropped_; }
    double skippedSeconds() const noexcept { return skipped_; }

private:
    void startWindow() noexcept;

    double rate_;
    bool anchored_ = false;
    double anchorTime_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t pendingDrops_ = 0;
    bool windowOpen_ = false;
    double windowStart_ = 0;
    double windowLeastLag_ = std::numeric_limits<double>::infinity();
    double windowMostLag_ = -std::numeric_limits<double>::infinity();
    double windowLeastTrail_ = std::numeric_limits<double>::infinity();
    std::uint64_t dropped_ = 0;
    double skipped_ = 0;
};

} // namespace nuvel
