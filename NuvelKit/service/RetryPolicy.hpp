#pragma once

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/TransportError.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>
#include <variant>

namespace nuvel {

// Why a failed step is not tried again automatically.
enum class RetryStopReason {
    cancelled,       // the caller's task was cancelled, or the error is a cancellation
    accountMismatch, // the signed-in account no longer matches the recording
    signIn,          // 401
    quota,           // 402
    concurrency,     // 409 with a code other than "capture_in_progress"
    rejected,        // 400, 403, 404, 413, 422
    exhausted,       // retryable, but the attempt lies outside the schedule
    notRetryable,    // anything else
};

// The case name ("accountMismatch"), the stored form of a reason.
std::string_view rawValue(RetryStopReason reason);
// The reason named `raw` exactly; no value for any other text.
std::optional<RetryStopReason> retryStopReason(std::string_view raw);

// Try the step again no sooner than `after` seconds from now.
struct RetryLater {
    double after = 0;
    bool operator==(const RetryLater&) const = default; // a NaN delay equals nothing
};
struct RetryStop {
    RetryStopReason reason = RetryStopReason::notRetryable;
    bool operator==(const RetryStop&) const = default;
};
using RetryDecision = std::variant<RetryLater, RetryStop>;

// The failure of a step as the policy tells failures apart.
struct CancellationFailure {};    // the task runtime's cancellation
struct AccountMismatchFailure {}; // a recording or contract of another account
struct OtherFailure {};           // everything else: never retried
using RetryFailure =
    std::variant<CancellationFailure, AccountMismatchFailure, APIError, TransportError, OtherFailure>;

// Sorts a thrown error: Cancelled, APIError, TransportError, the account-mismatch case of the
// contract errors, and everything else (a null pointer included) as OtherFailure.
RetryFailure classifyFailure(std::exception_ptr error);

// The limits of one retry schedule, and the decision whether a failed step is tried again.
// A pure function: no clock, no random source, no state.
class RetryPolicy {
public:
    // Normalises its arguments: a negative attempt count becomes 0; a non-finite base delay
    // becomes 2 s and a non-finite ceiling 300 s; a negative delay becomes 0.
    RetryPolicy(std::int64_t maximumAttempts, double baseDelay, double maximumDelay);

    std::int64_t maximumAttempts() const noexcept { return maximumAttempts_; }
    double baseDelay() const noexcept { return baseDelay_; }
    double maximumDelay() const noexcept { return maximumDelay_; }

    // Attempt k of a retryable failure waits min(baseDelay × 2^min(k, 30) × jitter,
    // maximumDelay), or the server's "Retry-After" when that is longer (the ceiling does not
    // apply to it); attempts outside 0 ... maximumAttempts - 1 are exhausted. Jitter is clamped
    // to 0.8 ... 1.2, a non-finite one taken as 1. A failure that is not retryable keeps its
    // own reason whatever the attempt.
    RetryDecision decision(const RetryFailure& error, std::int64_t attempt, bool accountMatches,
                           bool cancelled, double jitter) const;
    RetryDecision decision(std::exception_ptr error, std::int64_t attempt, bool accountMatches,
                           bool cancelled, double jitter) const {
        return decision(classifyFailure(error), attempt, accountMatches, cancelled, jitter);
    }

private:
    RetryDecision delayFor(std::int64_t attempt, double jitter, std::optional<double> serverDelay) const;

    std::int64_t maximumAttempts_;
    double baseDelay_;
    double maximumDelay_;
};

} // namespace nuvel
