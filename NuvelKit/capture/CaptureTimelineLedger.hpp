#pragma once

#include "NuvelKit/capture/CaptureTimeline.hpp"

#include <cstdint>
#include <mutex>
#include <string>

namespace nuvel {

// The shared, locked holder of a system-audio capture's timeline: the source begins a span at
// start and at every resume (main thread); the consumer records intervals, commits frames, ends
// spans and takes snapshots (its own thread). Every operation holds the lock from start to end.
// The current span is always the last one.
class CaptureTimelineLedger {
public:
    // Version 1, mix version 1, 48000 Hz, no spans, no intervals, nothing committed.
    CaptureTimelineLedger() = default;
    CaptureTimelineLedger(const CaptureTimelineLedger&) = delete;
    CaptureTimelineLedger& operator=(const CaptureTimelineLedger&) = delete;

    CaptureTimeline snapshot() const;
    // The snapshot's committedFrames, without copying the spans and intervals.
    std::int64_t committedFrames() const;

    // Appends an open span starting at the frames committed so far; earlier spans stay as they are.
    void beginSpan(double hostStart, Date wallStart);

    // Extends the source's latest interval in the current span when the buffer continues it (same
    // rate exactly, within 1 ms of its end), otherwise appends a new interval. Nothing happens
    // without a span, or for a buffer whose times cannot be placed (a rate that is not positive
    // and finite, a negative count, a time that is not finite).
    void recordInterval(const std::string& source, double hostStart, double sampleRate, std::int64_t frames);

    // Adds to committedFrames and moves the current span's end there.
    void commit(std::int64_t frames);

    // Closes the current span (again, if it was closed already).
    void endSpan(double hostEnd);

private:
    mutable std::mutex lock_;
    CaptureTimeline value_;
};

} // namespace nuvel
