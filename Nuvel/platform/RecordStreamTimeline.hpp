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
// was heard (the capture's consumer refuses audio stamped more than about half a second in the
// past). So each time the stream's queue is read empty, the newest frame's stamp is
// compared with that moment:
// Each `realignWindow` of such reads is judged as a whole, so that neither a late delivery
// nor a server's jitter alone counts:
//   - stamped in the future by more than `aheadTolerance` on every read (impossible for
//     recorded audio): the next frames are dropped until the stamps are back at arrival;
//   - trailing arrival by more than `maxLag` on every read: the timeline jumps forward to
//     `settleLag` behind arrival, leaving a gap, never an overlap.
// A late burst (a server that holds back what it recorded, then sends it at once) is not a
// drift: its newest frame arrives fresh, and its stamps stay true.
//
// A plain value of the stream's audio thread.
class RecordStreamTimeline {
public:
    static constexpr double realignWindow = 2.0;
    // Above what a server's own latency reaches (PipeWire's up to about 0.15 s under load),
    // well below what the consumer still takes (0.45 s for a piece's first frame).
    static constexpr double maxLag = 0.16;
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
    // The stream's queue was read empty at `now`: its newest frame has arrived.
    void drained(double now) noexcept;

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
    std::uint64_t dropped_ = 0;
    double skipped_ = 0;
};

} // namespace nuvel
