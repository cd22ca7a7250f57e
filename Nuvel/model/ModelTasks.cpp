#include "Nuvel/model/ModelTasks.hpp"

#include "Nuvel/model/Outcome.hpp"

namespace nuvel {

namespace {
Task<void> sleeping(double seconds) {
    co_await sleepFor(seconds);
}
} // namespace

Task<bool> sleepUnlessCancelled(double seconds) {
    if (seconds > 0) {
        Task<void> sleep = sleeping(seconds);
        Outcome<void> slept = co_await attempt(sleep);
        if (slept.cancelled())
            co_return false;
        slept.drop("a sleep");
    }
    std::stop_token stop = co_await currentStopToken();
    co_return !stop.stop_requested();
}

} // namespace nuvel
