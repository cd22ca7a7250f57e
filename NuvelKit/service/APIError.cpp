#include "NuvelKit/service/APIError.hpp"

#include <charconv>
#include <cmath>

namespace nuvel {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits)?
bool isDecimalNumber(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&] {
        std::size_t start = i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
        return i - start;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == s.size();
}

std::string describe(int status, const std::string& code) {
    return "service answered " + std::to_string(status) + " (" + code + ")";
}

} // namespace

APIError::APIError(int status, std::string_view code, std::optional<double> retryAfter)
    : Error(describe(status, normalizedCode(code))), status_(status), code_(normalizedCode(code)),
      retryAfter_(usableDelay(retryAfter)) {}

std::string APIError::normalizedCode(std::string_view candidate) {
    if (candidate.empty() || candidate.size() > 64)
        return "unknown";
    for (char c : candidate)
        if (!(c >= 'a' && c <= 'z') && c != '_')
            return "unknown";
    return std::string(candidate);
}

std::optional<double> APIError::usableDelay(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
        return std::nullopt;
    return *seconds + 0.0; // -0 becomes +0
}

std::optional<double> APIError::parseRetryAfter(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (!isDecimalNumber(value))
        return std::nullopt;
    // from_chars takes no leading "+".
    if (value.front() == '+')
        value.remove_prefix(1);
    double seconds = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size())
        return std::nullopt;
    return usableDelay(seconds);
}

} // namespace nuvel
