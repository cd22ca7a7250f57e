#include "NuvelKit/capture/CaptureTimelineLedger.hpp"

#include <cmath>
#include <limits>

namespace nuvel {
namespace {

// Counts saturate instead of wrapping; they cannot reach the limits in practice.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// Output frames from a span's start to host time `t`: nearest whole frame, halves away from zero;
// a time before the span's start, or one that cannot be a frame count, maps to the first frame.
std::int64_t frameOffset(double t, double spanStart, double rate) {
    double frames = std::round((t - spanStart) * rate);
    if (!(frames > 0) || !(frames < 9223372036854775808.0))
        return 0;
    return std::int64_t(frames);
}

} // namespace

CaptureTimeline CaptureTimelineLedger::snapshot() const {
    std::lock_guard guard(lock_);
    return value_;
}

std::int64_t CaptureTimelineLedger::committedFrames() const {
    std::lock_guard guard(lock_);
    return value_.committedFrames;
}

void CaptureTimelineLedger::beginSpan(double hostStart, Date wallStart) {
    std::lock_guard guard(lock_);
    value_.spans.push_back(
        {hostStart, wallStart, value_.committedFrames, value_.committedFrames, std::nullopt});
}

void CaptureTimelineLedger::recordInterval(const std::string& source, double hostStart, double sampleRate,
                                           std::int64_t frames) {
    std::lock_guard guard(lock_);
    if (value_.spans.empty())
        return;
    if (!std::isfinite(hostStart) || !std::isfinite(sampleRate) || !(sampleRate > 0) || frames < 0)
        return;
    const double hostEnd = hostStart + double(frames) / sampleRate;
    if (!std::isfinite(hostEnd))
        return;

    const CaptureTimeline::Span& span = value_.spans.back();
    const std::int64_t spanIndex = std::int64_t(value_.spans.size() - 1);
    const std::int64_t mediaStart =
        saturatingAdd(span.mediaFrameStart, frameOffset(hostStart, span.hostStart, value_.outputSampleRate));
    const std::int64_t mediaEnd =
        saturatingAdd(span.mediaFrameStart, frameOffset(hostEnd, span.hostStart, value_.outputSampleRate));

    // Only the source's latest interval of this span may be extended; other sources in between
    // do not matter.
    for (auto it = value_.intervals.rbegin(); it != value_.intervals.rend(); ++it) {
        if (it->source != source || it->span != spanIndex)
            continue;
        if (it->sampleRate == sampleRate && std::abs(it->hostEnd - hostStart) < 0.001) {
            it->hostEnd = hostEnd;
            it->mediaFrameEnd = mediaEnd;
            it->sourceFrames = saturatingAdd(it->sourceFrames, frames);
            return;
        }
        break;
    }
    value_.intervals.push_back(
        {source, sampleRate, spanIndex, hostStart, hostEnd, mediaStart, mediaEnd, frames});
}

void CaptureTimelineLedger::commit(std::int64_t frames) {
    std::lock_guard guard(lock_);
    value_.committedFrames = saturatingAdd(value_.committedFrames, frames);
    if (!value_.spans.empty())
        value_.spans.back().mediaFrameEnd = value_.committedFrames;
}

void CaptureTimelineLedger::endSpan(double hostEnd) {
    std::lock_guard guard(lock_);
    if (!value_.spans.empty())
        value_.spans.back().hostEnd = hostEnd;
}

} // namespace nuvel
