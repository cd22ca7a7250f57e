#include "NuvelKit/store/StorageBudget.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace nuvel {
namespace {

constexpr std::int64_t maxInt64 = std::numeric_limits<std::int64_t>::max();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

std::optional<StorageBudgetError> budgetError(std::int64_t base, std::int64_t rate, std::int64_t reserve,
                                              double duration) {
    try {
        StorageBudget(base, rate, reserve, duration);
    } catch (const StorageBudgetError& e) {
        return e;
    }
    return std::nullopt;
}

TEST(StorageBudget, CountsTheAudioTwiceRoundedUp) {
    EXPECT_EQ(StorageBudget(0, 128000, 0, 1.0).requiredBytes, 32000);
    EXPECT_EQ(StorageBudget(0, 128000, 0, 0.00001).requiredBytes, 1); // ceil(0.32)
    EXPECT_EQ(StorageBudget(10, 128000, 268'435'456, 0).requiredBytes, 268'435'466);
    EXPECT_EQ(StorageBudget(10, 128000, 5, -0.0).requiredBytes, 15);
    // An hour at the assembly's figures: 115.2 MB of audio plus the 256 MiB reserve.
    EXPECT_EQ(StorageBudget(1000, 128000, 268'435'456, 3600).requiredBytes, 1000 + 115'200'000 + 268'435'456);
}

TEST(StorageBudget, RefusesInputsOutOfRangeAndSumsThatOverflow) {
    const auto invalid = StorageBudgetError::invalidEstimate();
    EXPECT_EQ(budgetError(0, 128000, 0, -1), invalid);
    EXPECT_EQ(budgetError(0, 128000, 0, nan), invalid);
    EXPECT_EQ(budgetError(0, 128000, 0, inf), invalid);
    EXPECT_EQ(budgetError(0, 0, 0, 1), invalid);
    EXPECT_EQ(budgetError(0, -128000, 0, 1), invalid);
    EXPECT_EQ(budgetError(-1, 128000, 0, 1), invalid);
    EXPECT_EQ(budgetError(0, 128000, -1, 1), invalid);
    // Audio bytes beyond the 64-bit range, and sums that would wrap.
    EXPECT_EQ(budgetError(0, maxInt64, 0, 1e10), invalid);
    EXPECT_EQ(budgetError(0, 128000, 0, 1e300), invalid);
    EXPECT_EQ(budgetError(0, 8, 0, 4.611686018427387904e18), invalid); // exactly 2^63 audio bytes
    EXPECT_EQ(budgetError(maxInt64 - 10, 128000, 11, 0), invalid);
    EXPECT_EQ(budgetError(maxInt64, 128000, 1, 0), invalid);
    EXPECT_EQ(budgetError(maxInt64 - 31999, 128000, 0, 1), invalid); // base + audio overflows
    EXPECT_EQ(budgetError(maxInt64 - 32000, 128000, 0, 1), std::nullopt);
    EXPECT_EQ(StorageBudget(maxInt64 - 10, 128000, 10, 0).requiredBytes, maxInt64);
}

TEST(StorageBudget, CheckComparesWithTheFreeSpace) {
    const StorageBudget budget(0, 128000, 100, 1.0); // 32100
    EXPECT_NO_THROW(budget.check(32100));
    EXPECT_NO_THROW(budget.check(maxInt64));
    try {
        budget.check(32099);
        FAIL() << "one byte short";
    } catch (const StorageBudgetError& e) {
        EXPECT_EQ(e, StorageBudgetError::insufficientSpace(32100, 32099));
    }
    try {
        budget.check(-5);
        FAIL() << "negative free space";
    } catch (const StorageBudgetError& e) {
        EXPECT_EQ(e.code(), StorageBudgetError::Code::insufficientSpace);
        EXPECT_EQ(e.required(), 32100);
        EXPECT_EQ(e.available(), 0);
    }
    EXPECT_FALSE(StorageBudgetError::insufficientSpace(1, 0) == StorageBudgetError::insufficientSpace(1, 2));
}

} // namespace
} // namespace nuvel
