#pragma once

#include <atomic>
#include <cstdint>

namespace nuvel {

// Audio the capture path lost since the program started, counted where each loss happens:
//   - serverOverflows: overflows the sound server reported on a record stream;
//   - serverHoleFrames: frames the server said it could not keep (holes in a stream's data);
//   - timelineDroppedFrames: frames a record stream dropped because its clock ran ahead of the
//     host clock;
//   - timelineSkippedFrames: frames of host time a record stream skipped because its clock
//     trailed the host clock (a gap where the server delivered less than real time);
//   - ringRefusedFrames: frames a capture ring refused (full, or already marked as lost);
//   - mixerLateFrames: frames that came after their place on the mix had been written out.
// Frames are counted at each stream's own rate.
struct CaptureLosses {
    std::int64_t serverOverflows = 0;
    std::int64_t serverHoleFrames = 0;
    std::int64_t timelineDroppedFrames = 0;
    std::int64_t timelineSkippedFrames = 0;
    std::int64_t ringRefusedFrames = 0;
    std::int64_t mixerLateFrames = 0;

    bool operator==(const CaptureLosses&) const = default;
};

// The process's running tally of CaptureLosses. The add functions are lock-free and do not
// allocate: the sound library's threads call them. Any thread reads.
class CaptureLossTally {
public:
    static CaptureLossTally& shared();

    void addServerOverflow() noexcept { serverOverflows_.fetch_add(1, std::memory_order_relaxed); }
    void addServerHoleFrames(std::int64_t frames) noexcept { add(serverHoleFrames_, frames); }
    void addTimelineDroppedFrames(std::int64_t frames) noexcept { add(timelineDroppedFrames_, frames); }
    void addTimelineSkippedFrames(std::int64_t frames) noexcept { add(timelineSkippedFrames_, frames); }
    void addRingRefusedFrames(std::int64_t frames) noexcept { add(ringRefusedFrames_, frames); }
    void addMixerLateFrames(std::int64_t frames) noexcept { add(mixerLateFrames_, frames); }

    CaptureLosses snapshot() const noexcept;

private:
    static void add(std::atomic<std::int64_t>& counter, std::int64_t frames) noexcept {
        if (frames > 0)
            counter.fetch_add(frames, std::memory_order_relaxed);
    }

    std::atomic<std::int64_t> serverOverflows_{0};
    std::atomic<std::int64_t> serverHoleFrames_{0};
    std::atomic<std::int64_t> timelineDroppedFrames_{0};
    std::atomic<std::int64_t> timelineSkippedFrames_{0};
    std::atomic<std::int64_t> ringRefusedFrames_{0};
    std::atomic<std::int64_t> mixerLateFrames_{0};
};

} // namespace nuvel
