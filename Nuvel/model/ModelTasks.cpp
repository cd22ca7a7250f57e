#include "Nuvel/model/ModelTasks.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/ContinuousSleep.hpp"

namespace nuvel {

Task<bool> sleepUnlessCancelled(double seconds, std::function<double()> continuousNow) {
    if (seconds > 0) {
        Task<void> sleep = sleepOnContinuousClock(seconds, std::move(continuousNow));
        Outcome<void> slept = co_await attempt(sleep);
        if (slept.cancelled())
            co_return false;
        slept.drop("a sleep");
    }
    std::stop_token stop = co_await currentStopToken();
    co_return !stop.stop_requested();
}

} // namespace nuvel
