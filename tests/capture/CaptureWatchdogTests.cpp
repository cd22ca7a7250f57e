#include "NuvelKit/capture/CaptureWatchdog.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

TEST(CaptureWatchdog, RunningSourceMustDeliverWithinTwoSeconds) {
    // Before the first callback (last callback 0) the start time counts.
    EXPECT_TRUE(CaptureWatchdog::isHealthy(false, 102.0, 100.0, 0.0));
    EXPECT_FALSE(CaptureWatchdog::isHealthy(false, 102.001, 100.0, 0.0));
    // The later of start and last callback counts.
    EXPECT_TRUE(CaptureWatchdog::isHealthy(false, 105.0, 100.0, 103.0));
    EXPECT_FALSE(CaptureWatchdog::isHealthy(false, 105.5, 100.0, 103.0));
    EXPECT_TRUE(CaptureWatchdog::isHealthy(false, 105.5, 104.0, 103.0));
    // A callback stamped after now is not a failure.
    EXPECT_TRUE(CaptureWatchdog::isHealthy(false, 100.0, 100.0, 150.0));
}

TEST(CaptureWatchdog, PausedIsHealthyAndBadTimesAreNot) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(CaptureWatchdog::isHealthy(true, 1000.0, 100.0, 0.0));
    EXPECT_TRUE(CaptureWatchdog::isHealthy(true, nan, nan, nan));
    EXPECT_FALSE(CaptureWatchdog::isHealthy(false, nan, 100.0, 100.0));
    EXPECT_FALSE(CaptureWatchdog::isHealthy(false, 100.0, inf, 100.0));
    EXPECT_FALSE(CaptureWatchdog::isHealthy(false, 100.0, 100.0, -inf));
    EXPECT_EQ(CaptureWatchdog::timeout, 2.0);
}

} // namespace
} // namespace nuvel
