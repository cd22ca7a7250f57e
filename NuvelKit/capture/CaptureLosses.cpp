#include "NuvelKit/capture/CaptureLosses.hpp"

namespace nuvel {

CaptureLossTally& CaptureLossTally::shared() {
    static CaptureLossTally tally;
    return tally;
}

CaptureLosses CaptureLossTally::snapshot() const noexcept {
    CaptureLosses losses;
    losses.serverOverflows = serverOverflows_.load(std::memory_order_relaxed);
    losses.serverHoleFrames = serverHoleFrames_.load(std::memory_order_relaxed);
    losses.timelineDroppedFrames = timelineDroppedFrames_.load(std::memory_order_relaxed);
    losses.timelineSkippedFrames = timelineSkippedFrames_.load(std::memory_order_relaxed);
    losses.ringRefusedFrames = ringRefusedFrames_.load(std::memory_order_relaxed);
    losses.mixerLateFrames = mixerLateFrames_.load(std::memory_order_relaxed);
    return losses;
}

} // namespace nuvel
