#pragma once

#include "NuvelKit/support/Task.hpp"

#include <functional>

namespace nuvel {

// Sleeps `seconds` on `continuousNow`, a clock that keeps counting while the computer is
// suspended. Main-queue timers may stop during a suspend, so the wait is cut into steps of at
// most `continuousSleepStep` seconds, each checking the clock again: a deadline that passed
// during a suspend is met at most one step after waking. Throws Cancelled like sleepFor.
inline constexpr double continuousSleepStep = 30;

Task<void> sleepOnContinuousClock(double seconds, std::function<double()> continuousNow);

} // namespace nuvel
