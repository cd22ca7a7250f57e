#include "NuvelKit/capture/CaptureMixer.hpp"

#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

namespace nuvel {

namespace {

constexpr double twoTo62 = 4611686018427387904.0;
constexpr double twoTo63 = 9223372036854775808.0;

[[noreturn]] void refuse() {
    throw RecordingError(RecordingError::Code::invalidTransport);
}

// Nearest integer, halves away from zero; `x` must lie well inside the 64-bit range.
std::int64_t nearest(double x) {
    return std::int64_t(std::llround(x));
}

} // namespace

CaptureMixer::CaptureMixer(std::int64_t capacity, double origin) : origin_(origin), capacity_(capacity) {
    if (capacity < 0) {
        throw std::invalid_argument("mixer capacity must not be negative");
    }
    microphone_.assign(std::size_t(capacity), 0.0f);
    system_.assign(std::size_t(capacity), 0.0f);
}

void CaptureMixer::append(std::span<const float> samples, Source source, double sampleRate, double hostTime) {
    if (!std::isfinite(sampleRate) || sampleRate < 8000.0 || sampleRate > 192000.0 ||
        !std::isfinite(hostTime)) {
        refuse();
    }
    for (float s : samples) {
        if (!std::isfinite(s)) {
            refuse();
        }
    }
    const double offset = (hostTime - origin_) * outputRate;
    if (!std::isfinite(offset) || std::fabs(offset) >= twoTo62) {
        refuse();
    }
    const std::int64_t start = nearest(offset) - renderedFrames_;
    const std::int64_t count = std::int64_t(samples.size());
    const double covered = double(count) * outputRate / sampleRate;
    // No buffer this long can fit the window; refusing here also keeps the arithmetic below
    // inside the 64-bit range.
    if (covered >= twoTo62) {
        refuse();
    }
    const std::int64_t n = nearest(covered);

    if (start < -latenessAllowance) {
        // Once rendering has begun, a buffer this late would overwrite frames already handed out.
        // Before that, only one that does not reach frame 0 at all is refused.
        if (renderedFrames_ != 0 || start + n <= 0) {
            refuse();
        }
    }
    if (start + n > capacity_) {
        refuse();
    }
    const std::int64_t first = std::max<std::int64_t>(0, -start);
    // Frames before the first one rendered are the start's own cut, not a loss; nor are those
    // where the source's own earlier audio was rendered.
    std::int64_t& written = writtenEnd_[source == Source::microphone ? 0 : 1];
    const std::int64_t at = renderedFrames_ + start; // the first sample's output frame
    if (renderedFrames_ != 0)
        CaptureLossTally::shared().addMixerLateFrames(
            std::max<std::int64_t>(0, std::min(at + n, renderedFrames_) - std::max(at, written)));
    written = std::max(written, at + n);
    if (first >= n) {
        return;
    }

    std::vector<float>& buffer = source == Source::microphone ? microphone_ : system_;
    const float* s = samples.data();
    for (std::int64_t i = first; i < n; ++i) {
        const double pos = double(i) * sampleRate / outputRate;
        const std::int64_t k = std::min(std::int64_t(pos), count - 1);
        if (k < 0) {
            continue;
        }
        const std::int64_t k1 = std::min(k + 1, count - 1);
        const float w = float(pos - double(k));
        float value = s[k] + (s[k1] - s[k]) * w;
        if (!std::isfinite(value)) {
            // Neighbours of huge opposite magnitudes overflow the single-precision difference
            // (and give NaN where w is 0); interpolate them in double and keep the result finite.
            const double wide = double(s[k]) + (double(s[k1]) - double(s[k])) * double(w);
            value = float(std::clamp(wide, -double(FLT_MAX), double(FLT_MAX)));
        }
        buffer[std::size_t((cursor_ + start + i) % capacity_)] = value;
    }
}

std::vector<float> CaptureMixer::render(double until, std::int64_t max) {
    if (capacity_ == 0) {
        throw std::invalid_argument("a mixer of capacity 0 cannot render");
    }
    if (max < 0) {
        throw std::invalid_argument("render limit must not be negative");
    }
    const double target = std::floor((until - origin_) * outputRate);
    if (!std::isfinite(target) || target < -twoTo63 || target >= twoTo63) {
        throw std::invalid_argument("render time outside the timeline");
    }
    const std::int64_t targetFrame = std::int64_t(target);
    const std::int64_t available = targetFrame > renderedFrames_ ? targetFrame - renderedFrames_ : 0;
    const std::int64_t n = std::min({available, capacity_, max});
    if (n == 0) {
        return {};
    }
    std::vector<float> out(static_cast<std::size_t>(n));
    for (std::int64_t j = 0; j < n; ++j) {
        const std::size_t slot = std::size_t((cursor_ + j) % capacity_);
        const float mixed = (microphone_[slot] + system_[slot]) * 0.5f;
        out[std::size_t(j)] = std::max(std::min(mixed, 1.0f), -1.0f);
        microphone_[slot] = 0.0f;
        system_[slot] = 0.0f;
    }
    cursor_ = (cursor_ + n) % capacity_;
    renderedFrames_ += n;
    return out;
}

} // namespace nuvel
