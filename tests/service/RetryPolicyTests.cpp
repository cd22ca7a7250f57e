#include "NuvelKit/service/RetryJitter.hpp"
#include "NuvelKit/service/RetryPolicy.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

namespace nuvel {
namespace {

const RetryPolicy upload(8, 5.0, 900.0);
const double inf = std::numeric_limits<double>::infinity();

RetryDecision decide(const RetryFailure& error, std::int64_t attempt = 0, double jitter = 1.0,
                     const RetryPolicy& policy = upload) {
    return policy.decision(error, attempt, true, false, jitter);
}
RetryDecision later(double seconds) {
    return RetryLater{seconds};
}
RetryDecision stop(RetryStopReason reason) {
    return RetryStop{reason};
}
APIError api(int status, const char* code = "unknown", std::optional<double> retryAfter = std::nullopt) {
    return APIError(status, code, retryAfter);
}

TEST(RetryPolicy, EveryServiceStatusToItsDecision) {
    struct Case {
        int status;
        const char* code;
        RetryDecision expected;
    };
    const Case cases[] = {
        {400, "bad_request", stop(RetryStopReason::rejected)},
        {401, "unknown", stop(RetryStopReason::signIn)},
        {402, "plan_required", stop(RetryStopReason::quota)},
        {403, "forbidden", stop(RetryStopReason::rejected)},
        {404, "not_found", stop(RetryStopReason::rejected)},
        {408, "unknown", later(5)},
        {409, "capture_in_progress", later(60)},
        {409, "upload_unavailable", stop(RetryStopReason::concurrency)},
        {409, "unknown", stop(RetryStopReason::concurrency)},
        {409, "", stop(RetryStopReason::concurrency)},
        {410, "gone", stop(RetryStopReason::notRetryable)},
        {413, "too_large", stop(RetryStopReason::rejected)},
        {422, "unknown", stop(RetryStopReason::rejected)},
        {429, "unknown", later(5)},
        {499, "unknown", stop(RetryStopReason::notRetryable)},
        {500, "unknown", later(5)},
        {503, "unknown", later(5)},
        {599, "unknown", later(5)},
        {600, "unknown", stop(RetryStopReason::notRetryable)},
        {100, "unknown", stop(RetryStopReason::notRetryable)},
        {204, "unknown", stop(RetryStopReason::notRetryable)},
        {302, "unknown", stop(RetryStopReason::notRetryable)},
        {0, "unknown", stop(RetryStopReason::notRetryable)},
        {-1, "unknown", stop(RetryStopReason::notRetryable)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decide(api(c.status, c.code)), c.expected) << c.status << " " << c.code;
}

TEST(RetryPolicy, EveryOtherErrorClassToItsDecision) {
    EXPECT_EQ(decide(TransportError(TransportError::Code::timedOut)), later(5));
    EXPECT_EQ(decide(TransportError(TransportError::Code::hostNotFound)), later(5));
    EXPECT_EQ(decide(TransportError(TransportError::Code::cannotConnect)), later(5));
    EXPECT_EQ(decide(TransportError(TransportError::Code::connectionLost)), later(5));
    EXPECT_EQ(decide(TransportError(TransportError::Code::other)), stop(RetryStopReason::notRetryable));
    EXPECT_EQ(decide(CancellationFailure{}), stop(RetryStopReason::cancelled));
    EXPECT_EQ(decide(AccountMismatchFailure{}), stop(RetryStopReason::accountMismatch));
    EXPECT_EQ(decide(OtherFailure{}), stop(RetryStopReason::notRetryable));
}

TEST(RetryPolicy, ClassifiesThrownErrors) {
    auto from = [](auto error) {
        return upload.decision(std::make_exception_ptr(error), 0, true, false, 1.0);
    };
    EXPECT_EQ(from(Cancelled()), stop(RetryStopReason::cancelled));
    EXPECT_EQ(from(api(503, "unknown", 30.0)), later(30));
    EXPECT_EQ(from(TransportError(TransportError::Code::timedOut)), later(5));
    EXPECT_EQ(from(RecordingError(RecordingError::Code::accountMismatch)),
              stop(RetryStopReason::accountMismatch));
    EXPECT_EQ(from(RecordingError(RecordingError::Code::invalidTransport)),
              stop(RetryStopReason::notRetryable));
    EXPECT_EQ(from(RecordingError(RecordingError::Code::ambiguousRequest)),
              stop(RetryStopReason::notRetryable));
    EXPECT_EQ(from(std::runtime_error("disk full")), stop(RetryStopReason::notRetryable));
    EXPECT_EQ(from(42), stop(RetryStopReason::notRetryable));
    EXPECT_EQ(upload.decision(std::exception_ptr(), 0, true, false, 1.0),
              stop(RetryStopReason::notRetryable));
}

TEST(RetryPolicy, CancellationAndAccountComeFirst) {
    EXPECT_EQ(upload.decision(api(500), 0, false, true, 1.0), stop(RetryStopReason::cancelled));
    EXPECT_EQ(upload.decision(AccountMismatchFailure{}, 0, true, true, 1.0),
              stop(RetryStopReason::cancelled));
    EXPECT_EQ(upload.decision(CancellationFailure{}, 0, false, false, 1.0), stop(RetryStopReason::cancelled));
    EXPECT_EQ(upload.decision(TransportError(TransportError::Code::timedOut), 0, false, false, 1.0),
              stop(RetryStopReason::accountMismatch));
    EXPECT_EQ(upload.decision(api(402), 0, false, false, 1.0), stop(RetryStopReason::accountMismatch));
}

TEST(RetryPolicy, ScheduleDoublesAndIsExhaustedAtTheEighthAttempt) {
    const TransportError timedOut(TransportError::Code::timedOut);
    const double expected[] = {5, 10, 20, 40, 80, 160, 320, 640};
    for (std::int64_t attempt = 0; attempt < 8; ++attempt)
        EXPECT_EQ(decide(timedOut, attempt), later(expected[attempt])) << attempt;
    EXPECT_EQ(decide(timedOut, 8), stop(RetryStopReason::exhausted));
    EXPECT_EQ(decide(timedOut, 9), stop(RetryStopReason::exhausted));
    EXPECT_EQ(decide(timedOut, -1), stop(RetryStopReason::exhausted));
    EXPECT_EQ(decide(timedOut, std::numeric_limits<std::int64_t>::min()), stop(RetryStopReason::exhausted));
    // A failure that is not retryable keeps its own reason whatever the attempt.
    EXPECT_EQ(decide(api(402), 50), stop(RetryStopReason::quota));
    EXPECT_EQ(decide(api(401), -1), stop(RetryStopReason::signIn));
    EXPECT_EQ(decide(OtherFailure{}, 8), stop(RetryStopReason::notRetryable));
    // No attempts at all.
    EXPECT_EQ(decide(timedOut, 0, 1.0, RetryPolicy(0, 5, 900)), stop(RetryStopReason::exhausted));
    EXPECT_EQ(decide(api(503), 0, 1.0, RetryPolicy(0, 5, 900)), stop(RetryStopReason::exhausted));
}

TEST(RetryPolicy, CeilingAndExponentCap) {
    const TransportError lost(TransportError::Code::connectionLost);
    const RetryPolicy wide(100, 5, 900);
    EXPECT_EQ(decide(lost, 7, 1.0, wide), later(640));
    EXPECT_EQ(decide(lost, 8, 1.0, wide), later(900));
    EXPECT_EQ(decide(lost, 40, 1.0, wide), later(900));
    const RetryPolicy uncapped(std::numeric_limits<std::int64_t>::max(), 1, 1e300);
    EXPECT_EQ(decide(lost, 30, 1.0, uncapped), later(std::ldexp(1.0, 30)));
    EXPECT_EQ(decide(lost, std::numeric_limits<std::int64_t>::max() - 1, 1.0, uncapped),
              later(std::ldexp(1.0, 30)));
}

TEST(RetryPolicy, JitterIsClampedAndNonFiniteJitterIsOne) {
    const APIError busy = api(502);
    EXPECT_EQ(decide(busy, 2, 0.9), later(18));
    EXPECT_EQ(decide(busy, 2, 1.1), later(22));
    EXPECT_EQ(decide(busy, 2, 0.8), later(16));
    EXPECT_EQ(decide(busy, 2, 1.2), later(24));
    EXPECT_EQ(decide(busy, 2, 0.5), later(16));
    EXPECT_EQ(decide(busy, 2, -3), later(16));
    EXPECT_EQ(decide(busy, 2, 3), later(24));
    EXPECT_EQ(decide(busy, 2, std::nan("")), later(20));
    EXPECT_EQ(decide(busy, 2, inf), later(20));
    EXPECT_EQ(decide(busy, 2, -inf), later(20));
    // The ceiling applies after the jitter.
    EXPECT_EQ(decide(busy, 7, 1.2, RetryPolicy(8, 5, 700)), later(700));
}

TEST(RetryPolicy, RetryAfterIsAFloorThatTheCeilingDoesNotCut) {
    EXPECT_EQ(decide(api(429, "unknown", 120.0), 2), later(120));
    EXPECT_EQ(decide(api(429, "unknown", 2000.0), 2), later(2000));
    EXPECT_EQ(decide(api(429, "unknown", 10.0), 2), later(20));
    EXPECT_EQ(decide(api(429, "unknown", 20.0), 2), later(20));
    EXPECT_EQ(decide(api(408, "unknown", 0.0), 0), later(5));
    EXPECT_EQ(decide(api(500, "unknown", 7.5), 0, 0.8), later(7.5));
    EXPECT_EQ(decide(api(409, "capture_in_progress", 3.0), 0), later(5));
    EXPECT_EQ(decide(api(409, "capture_in_progress", 100.0), 0), later(100));
    EXPECT_EQ(decide(api(409, "capture_in_progress"), 4), later(80));
    EXPECT_EQ(decide(api(409, "capture_in_progress", 0.0), 0), later(5));
    // The server's delay never rescues an exhausted schedule or a stop.
    EXPECT_EQ(decide(api(429, "unknown", 5.0), 8), stop(RetryStopReason::exhausted));
    EXPECT_EQ(decide(api(401, "unknown", 5.0), 0), stop(RetryStopReason::signIn));
}

TEST(RetryPolicy, UnusableRetryAfterIsAbsent) {
    for (double bad : {-5.0, inf, -inf, std::nan("")}) {
        EXPECT_EQ(decide(api(503, "unknown", bad), 0), later(5)) << bad;
        EXPECT_EQ(decide(api(429, "unknown", bad), 3), later(40)) << bad;
        // Absent, the capture-in-progress wait is its own minute.
        EXPECT_EQ(decide(api(409, "capture_in_progress", bad), 0), later(60)) << bad;
    }
}

TEST(RetryPolicy, NormalisesItsLimits) {
    RetryPolicy a(-3, inf, std::nan(""));
    EXPECT_EQ(a.maximumAttempts(), 0);
    EXPECT_EQ(a.baseDelay(), 2.0);
    EXPECT_EQ(a.maximumDelay(), 300.0);
    RetryPolicy b(4, -1, -1);
    EXPECT_EQ(b.maximumAttempts(), 4);
    EXPECT_EQ(b.baseDelay(), 0.0);
    EXPECT_EQ(b.maximumDelay(), 0.0);
    EXPECT_EQ(decide(api(503), 0, 1.0, b), later(0));
    EXPECT_EQ(decide(api(503, "unknown", 9.0), 0, 1.0, b), later(9));
    RetryPolicy c(1, std::nan(""), -inf);
    EXPECT_EQ(c.baseDelay(), 2.0);
    EXPECT_EQ(c.maximumDelay(), 300.0);
    EXPECT_EQ(decide(api(503), 0, 1.0, c), later(2));
}

TEST(RetryDecision, NanDelayEqualsNothing) {
    EXPECT_NE(later(std::nan("")), later(std::nan("")));
    EXPECT_NE(later(5), stop(RetryStopReason::exhausted));
    EXPECT_NE(stop(RetryStopReason::quota), stop(RetryStopReason::signIn));
}

TEST(RetryStopReason, RawValuesAreTheCaseNames) {
    const std::pair<RetryStopReason, const char*> all[] = {
        {RetryStopReason::cancelled, "cancelled"},     {RetryStopReason::accountMismatch, "accountMismatch"},
        {RetryStopReason::signIn, "signIn"},           {RetryStopReason::quota, "quota"},
        {RetryStopReason::concurrency, "concurrency"}, {RetryStopReason::rejected, "rejected"},
        {RetryStopReason::exhausted, "exhausted"},     {RetryStopReason::notRetryable, "notRetryable"},
    };
    for (auto [reason, raw] : all) {
        EXPECT_EQ(rawValue(reason), raw);
        EXPECT_EQ(retryStopReason(raw), reason);
    }
    for (const char* other : {"", "Cancelled", "signin", "exhausted ", "retry"})
        EXPECT_FALSE(retryStopReason(other));
}

TEST(RetryJitter, FactorSpansEightTenthsToTwelveTenths) {
    EXPECT_EQ(RetryJitter::factorFor(0), 0.8);
    EXPECT_EQ(RetryJitter::factorFor(RetryJitter::drawSpan), 1.2);
    EXPECT_EQ(RetryJitter::factorFor(~std::uint64_t(0)), 1.2);
    EXPECT_DOUBLE_EQ(RetryJitter::factorFor(RetryJitter::drawSpan / 2), 1.0);
    EXPECT_LE(RetryJitter::factorFor(RetryJitter::drawSpan - 1), 1.2);
    EXPECT_LT(RetryJitter::factorFor(RetryJitter::drawSpan / 4),
              RetryJitter::factorFor(RetryJitter::drawSpan / 2));
    for (int i = 0; i < 2000; ++i) {
        std::uint64_t draw = RetryJitter::systemDraw();
        ASSERT_LE(draw, RetryJitter::drawSpan);
        double f = RetryJitter::factorFor(draw);
        ASSERT_GE(f, 0.8);
        ASSERT_LE(f, 1.2);
    }
}

TEST(RetryJitter, InjectedDrawPinsTheSpreadAndRetryAfterStaysTheFloor) {
    RetryJitter low([] { return std::uint64_t(0); });
    RetryJitter high([] { return RetryJitter::drawSpan; });
    EXPECT_EQ(low.spread(10, std::nullopt), 8);
    EXPECT_EQ(high.spread(10, std::nullopt), 12);
    // A 429 with "Retry-After" 300: the spread never goes below the server's delay.
    EXPECT_EQ(low.spread(300, 300.0), 300);
    EXPECT_EQ(high.spread(300, 300.0), 360);
    EXPECT_EQ(low.spread(10, 9.0), 9);
    for (double bad : {std::nan(""), inf, -5.0}) {
        EXPECT_EQ(low.spread(10, bad), 8) << bad;
        EXPECT_TRUE(std::isfinite(high.spread(10, bad))) << bad;
    }
    // The capture-in-progress minute is spread without a floor: 48 to 72 seconds.
    EXPECT_EQ(low.spread(60, std::nullopt), 48);
    EXPECT_EQ(high.spread(60, std::nullopt), 72);
}

} // namespace
} // namespace nuvel
