#pragma once

#include "NuvelKit/support/Task.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <functional>

namespace nuvel::test {

// Runs a manual main queue at the pace of the wall clock, for tests whose timers must take real
// time (a sound server delivers in real time): posted work at once, each timer when as much real
// time has passed as its virtual deadline lies ahead. Returns true as soon as `done` holds,
// false when `timeoutSeconds` of real time passed first.
bool driveInRealTime(ManualMainQueue& queue, const std::function<bool()>& done, double timeoutSeconds);

// Runs `task` on the queue that way; rethrows its error. Throws std::runtime_error on time-out.
void runInRealTime(ManualMainQueue& queue, Task<void> task, double timeoutSeconds = 30);

} // namespace nuvel::test
