#include "NuvelKit/service/RetryPolicy.hpp"

#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace nuvel {
namespace {

constexpr std::array<std::string_view, 8> rawValues{
    "cancelled", "accountMismatch", "signIn", "quota", "concurrency", "rejected", "exhausted", "notRetryable",
};

// A 409 "capture_in_progress" without a server delay waits at least this long: another device
// is busy with the meeting, and hammering it helps no one.
constexpr double captureInProgressDelay = 60.0;
// Past 30 doublings every useful ceiling is long reached; the cap keeps the product finite.
constexpr std::int64_t maximumExponent = 30;

RetryStop stop(RetryStopReason reason) {
    return RetryStop{reason};
}

} // namespace

std::string_view rawValue(RetryStopReason reason) {
    return rawValues[static_cast<std::size_t>(reason)];
}

std::optional<RetryStopReason> retryStopReason(std::string_view raw) {
    for (std::size_t i = 0; i < rawValues.size(); ++i)
        if (rawValues[i] == raw)
            return static_cast<RetryStopReason>(i);
    return std::nullopt;
}

RetryFailure classifyFailure(std::exception_ptr error) {
    if (!error)
        return OtherFailure{};
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled&) {
        return CancellationFailure{};
    } catch (const APIError& e) {
        return e;
    } catch (const TransportError& e) {
        return e;
    } catch (const RecordingError& e) {
        if (e.code() == RecordingError::Code::accountMismatch)
            return AccountMismatchFailure{};
        return OtherFailure{};
    } catch (...) {
        // Every other error is one a retry cannot mend.
        return OtherFailure{};
    }
}

RetryPolicy::RetryPolicy(std::int64_t maximumAttempts, double baseDelay, double maximumDelay)
    : maximumAttempts_(std::max<std::int64_t>(maximumAttempts, 0)),
      baseDelay_(!std::isfinite(baseDelay) ? 2.0 : std::max(baseDelay, 0.0)),
      maximumDelay_(!std::isfinite(maximumDelay) ? 300.0 : std::max(maximumDelay, 0.0)) {}

RetryDecision RetryPolicy::decision(const RetryFailure& error, std::int64_t attempt, bool accountMatches,
                                    bool cancelled, double jitter) const {
    if (cancelled || std::holds_alternative<CancellationFailure>(error))
        return stop(RetryStopReason::cancelled);
    if (!accountMatches || std::holds_alternative<AccountMismatchFailure>(error))
        return stop(RetryStopReason::accountMismatch);

    if (const auto* api = std::get_if<APIError>(&error)) {
        const int status = api->status();
        if (status == 402)
            return stop(RetryStopReason::quota);
        if (status == 401)
            return stop(RetryStopReason::signIn);
        const bool captureInProgress = api->code() == "capture_in_progress";
        if (status == 409 && !captureInProgress)
            return stop(RetryStopReason::concurrency);
        if (status == 400 || status == 403 || status == 404 || status == 413 || status == 422)
            return stop(RetryStopReason::rejected);
        if (status == 408 || status == 429 || (status >= 500 && status <= 599))
            return delayFor(attempt, jitter, api->retryAfter());
        if (status == 409)
            return delayFor(attempt, jitter,
                            APIError::usableDelay(api->retryAfter()).value_or(captureInProgressDelay));
        return stop(RetryStopReason::notRetryable);
    }

    if (const auto* transport = std::get_if<TransportError>(&error)) {
        switch (transport->code()) {
        case TransportError::Code::timedOut:
        case TransportError::Code::hostNotFound:
        case TransportError::Code::cannotConnect:
        case TransportError::Code::connectionLost:
            return delayFor(attempt, jitter, std::nullopt);
        case TransportError::Code::other:
            break;
        }
    }
    return stop(RetryStopReason::notRetryable);
}

RetryDecision RetryPolicy::delayFor(std::int64_t attempt, double jitter,
                                    std::optional<double> serverDelay) const {
    if (attempt < 0 || attempt >= maximumAttempts_)
        return stop(RetryStopReason::exhausted);
    jitter = std::isfinite(jitter) ? std::clamp(jitter, 0.8, 1.2) : 1.0;
    const int exponent = int(std::min(attempt, maximumExponent));
    const double computed = std::min(baseDelay_ * std::ldexp(1.0, exponent) * jitter, maximumDelay_);
    // The server's delay is the floor; one that is not a usable number of seconds is no floor.
    const double server = APIError::usableDelay(serverDelay).value_or(0.0);
    return RetryLater{computed <= server ? server : computed};
}

} // namespace nuvel
