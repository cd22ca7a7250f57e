#include "Nuvel/model/cloud/ContinuousSleep.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {

Task<void> sleepOnContinuousClock(double seconds, std::function<double()> continuousNow) {
    const double wait = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const double deadline = continuousNow() + wait;
    for (;;) {
        const double left = deadline - continuousNow();
        if (!(left > 0))
            co_return;
        co_await sleepFor(std::min(left, continuousSleepStep));
    }
}

} // namespace nuvel
