#include "tests/support/RealTimeQueue.hpp"

#include "NuvelKit/support/Time.hpp"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace nuvel::test {

bool driveInRealTime(ManualMainQueue& queue, const std::function<bool()>& done, double timeoutSeconds) {
    const double realStart = hostTimeSeconds();
    const double virtualStart = queue.now();
    while (!done()) {
        if (hostTimeSeconds() - realStart > timeoutSeconds)
            return false;
        if (queue.drain() > 0 || queue.waitAndDrain(0.002))
            continue;
        auto deadline = queue.nextDeadline();
        if (!deadline) {
            queue.waitAndDrain(0.05);
            continue;
        }
        const double wait = (*deadline - virtualStart) - (hostTimeSeconds() - realStart);
        if (wait > 0)
            queue.waitAndDrain(std::min(wait, 0.01));
        else
            queue.fireNextTimer();
    }
    return true;
}

void runInRealTime(ManualMainQueue& queue, Task<void> task, double timeoutSeconds) {
    bool done = false;
    std::exception_ptr error;
    TaskHandle handle = spawn(queue, nuvel::detail::storeOutcomeVoid(std::move(task), &done, &error));
    if (!driveInRealTime(
            queue, [&] { return handle.isFinished(); }, timeoutSeconds))
        throw std::runtime_error("task did not finish in time");
    if (error)
        std::rethrow_exception(error);
}

} // namespace nuvel::test
