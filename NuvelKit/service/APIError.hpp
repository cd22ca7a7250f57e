#pragma once

#include "NuvelKit/support/Error.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// A failed call of the device and upload API: any answer outside 200...299.
//
// The code is kept only in its safe form, lower-case ASCII letters and underscores, 1 to 64 of
// them, or "unknown"; it travels into the manifest and status decisions, so nothing else may
// get through. The retry delay is kept only when it is a finite, non-negative number of seconds:
// a delay of "inf", "nan" or below zero would otherwise turn a retry time into NaN or infinity.
class APIError : public Error {
public:
    APIError(int status, std::string_view code, std::optional<double> retryAfter = std::nullopt);

    int status() const noexcept { return status_; }
    const std::string& code() const noexcept { return code_; }
    std::optional<double> retryAfter() const noexcept { return retryAfter_; }

    // `candidate` when it matches ^[a-z_]{1,64}$, else "unknown".
    static std::string normalizedCode(std::string_view candidate);
    // `seconds` when it is finite and not below 0 (-0 becomes 0), else no value.
    static std::optional<double> usableDelay(std::optional<double> seconds);
    // Reads a "Retry-After" header value given in seconds. Only a plain decimal number is a
    // delay ("120", "2.5", "1e2"); surrounding spaces and tabs are ignored. An HTTP date, "inf",
    // "nan", hexadecimal, a value that overflows a double ("1e999") or a negative value gives
    // no value.
    static std::optional<double> parseRetryAfter(std::string_view headerValue);

private:
    int status_;
    std::string code_;
    std::optional<double> retryAfter_;
};

} // namespace nuvel
