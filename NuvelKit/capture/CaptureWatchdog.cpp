#include "NuvelKit/capture/CaptureWatchdog.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {

bool CaptureWatchdog::isHealthy(bool paused, double now, double startedAt, double lastCallback) noexcept {
    if (paused) {
        return true;
    }
    if (!std::isfinite(now) || !std::isfinite(startedAt) || !std::isfinite(lastCallback)) {
        return false;
    }
    return now - std::max(startedAt, lastCallback) <= timeout;
}

} // namespace nuvel
