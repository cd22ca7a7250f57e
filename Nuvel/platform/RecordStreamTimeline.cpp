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

void RecordStreamTimeline::drained(double now, double latency) noexcept {
    if (!anchored_)
        return;
    const double lag = now - end();
    // How far the newest stamp trails the moment the server says that frame was recorded.
    const double trail = lag - std::max(latency, 0.0);
    // The window opens with its first read, so that a stream that sent nothing for a while and
    // then a burst is judged on what follows the burst too.
    if (!windowOpen_) {
        windowOpen_ = true;
        windowStart_ = now;
    }
    windowLeastLag_ = std::min(windowLeastLag_, lag);
    windowMostLag_ = std::max(windowMostLag_, lag);
    windowLeastTrail_ = std::min(windowLeastTrail_, trail);
    if (now - windowStart_ < realignWindow)
        return;
    const double jump = std::max(windowLeastTrail_ > maxLag ? windowLeastTrail_ - settleLag : 0.0,
                                 windowLeastLag_ > lateLag ? windowLeastLag_ - settleLag : 0.0);
    if (jump > 0) {
        // Behind all window long: skip forward, leaving a gap.
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
    windowLeastTrail_ = std::numeric_limits<double>::infinity();
}

} // namespace nuvel
