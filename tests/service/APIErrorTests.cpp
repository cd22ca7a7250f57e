#include "NuvelKit/service/APIError.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

TEST(APIError, CodeIsKeptOnlyInItsSafeForm) {
    EXPECT_EQ(APIError(409, "capture_in_progress").code(), "capture_in_progress");
    EXPECT_EQ(APIError(402, "_").code(), "_");
    EXPECT_EQ(APIError(400, std::string(64, 'a')).code(), std::string(64, 'a'));
    for (std::string bad : {std::string(), std::string(65, 'a'), std::string("Plan_required"),
                            std::string("e2"), std::string("too-large"), std::string("a b"),
                            std::string("<html>"), std::string("caf\xc3\xa9"), std::string("a\0b", 3)}) {
        EXPECT_EQ(APIError(500, bad).code(), "unknown") << bad;
        EXPECT_EQ(APIError::normalizedCode(bad), "unknown") << bad;
    }
}

TEST(APIError, RetryAfterHeaderValuesThatAreNotADelayAreAbsent) {
    EXPECT_EQ(APIError::parseRetryAfter("120"), 120.0);
    EXPECT_EQ(APIError::parseRetryAfter("2.5"), 2.5);
    EXPECT_EQ(APIError::parseRetryAfter(" 7 \t"), 7.0);
    EXPECT_EQ(APIError::parseRetryAfter("+3"), 3.0);
    EXPECT_EQ(APIError::parseRetryAfter("1e2"), 100.0);
    EXPECT_EQ(APIError::parseRetryAfter(".5"), 0.5);
    EXPECT_EQ(APIError::parseRetryAfter("5."), 5.0);
    EXPECT_EQ(APIError::parseRetryAfter("0"), 0.0);
    auto negativeZero = APIError::parseRetryAfter("-0");
    ASSERT_TRUE(negativeZero);
    EXPECT_FALSE(std::signbit(*negativeZero));
    for (const char* bad : {"inf",
                            "INF",
                            "infinity",
                            "-inf",
                            "nan",
                            "NaN",
                            "1e999",
                            "-1e999",
                            "-5",
                            "-0.1",
                            "0x10",
                            "0x1p3",
                            "Wed, 21 Oct 2015 07:28:00 GMT",
                            "",
                            " ",
                            "1 2",
                            "12s",
                            "1e",
                            "e5",
                            ".",
                            "+-1",
                            "1,5",
                            "\xef\xbc\x91"}) {
        EXPECT_FALSE(APIError::parseRetryAfter(bad)) << bad;
    }
}

TEST(APIError, NonFiniteOrNegativeDelayIsAbsent) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(APIError(429, "slow_down", 120.0).retryAfter(), 120.0);
    EXPECT_EQ(APIError(429, "slow_down", 0.0).retryAfter(), 0.0);
    for (double bad : {inf, -inf, std::nan(""), -5.0, -1e-300})
        EXPECT_FALSE(APIError(503, "unknown", bad).retryAfter()) << bad;
    EXPECT_FALSE(APIError(503, "unknown").retryAfter());
}

TEST(APIError, IsAnError) {
    APIError e(413, "too_large");
    const Error& base = e;
    EXPECT_NE(std::string(base.what()).find("413"), std::string::npos);
    EXPECT_EQ(e.status(), 413);
}

} // namespace
} // namespace nuvel
