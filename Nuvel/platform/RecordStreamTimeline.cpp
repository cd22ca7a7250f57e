#include "Nuvel/platform/RecordStreamTimeline.hpp"

#include "NuvelKit/capture/CaptureLosses.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {

void RecordStreamTimeline::anchor(double start) {
    if (anchored_)
        start = std::max(start, end());
    anchorTime_ = start;
    frames_ = 0;
    pendingDrops_ = 0;
    anchored_ = true;
    startWindow();
}

double RecordStreamTimeline::place(std::uint32_t frames) noexcept {
    const double at = end();
    frames_ += frames;
    return at;
}

bool RecordStreamTimeline::dropNextFrame() noexcept {
    if (pendingDrops_ == 0)
        return false;
    --pendingDrops_;
    ++dropped_;
    CaptureLossTally::shared().addTimelineDroppedFrames(1);
    return true;
}

void RecordStreamTimeline::drained(double now) noexcept {
    if (!anchored_)
        return;
    const double lag = now - end();
    // The window opens with its first read, so that a stream that sent nothing for a while and
    // then a burst is judged on what follows the burst too.
    if (!windowOpen_) {
        windowOpen_ = true;
        windowStart_ = now;
    }
    windowLeastLag_ = std::min(windowLeastLag_, lag);
    windowMostLag_ = std::max(windowMostLag_, lag);
    if (now - windowStart_ < realignWindow)
        return;
    if (windowLeastLag_ > maxLag) {
        // Behind all window long: skip forward, leaving a gap.
        const double jump = windowLeastLag_ - settleLag;
        anchorTime_ += jump;
        skipped_ += jump;
        CaptureLossTally::shared().addTimelineSkippedFrames(std::llround(jump * rate_));
    } else if (windowMostLag_ < -aheadTolerance) {
        // Ahead all window long: the frames up to the moment of arrival are dropped as they come.
        pendingDrops_ = std::uint64_t(std::llround(-windowMostLag_ * rate_));
    }
    startWindow();
}

void RecordStreamTimeline::startWindow() noexcept {
    windowOpen_ = false;
    windowLeastLag_ = std::numeric_limits<double>::infinity();
    windowMostLag_ = -std::numeric_limits<double>::infinity();
}

} // namespace nuvel
