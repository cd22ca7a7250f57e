#include "NuvelKit/service/HttpTransport.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace nuvel {

bool headerNameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::string> HttpResponse::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (headerNameEquals(key, name)) return value;
    return std::nullopt;
}

bool isUnsafeHeaderText(std::string_view text) {
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0') return true;
    return false;
}

std::string percentEncode(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    return out;
}

std::string encodeQuery(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string out;
    for (const auto& [name, value] : items) {
        if (!out.empty()) out.push_back('&');
        out += percentEncode(name);
        out.push_back('=');
        out += percentEncode(value);
    }
    return out;
}

std::optional<double> parseRetryAfter(std::string_view value) {
    if (value.empty()) return std::nullopt;
    // Only a plain decimal number: digits, one point, an optional exponent. strtod alone would
    // also take "inf", "nan", hexadecimal and leading white space.
    std::size_t i = 0;
    if (value[i] == '+' || value[i] == '-') ++i;
    bool mantissaDigits = false, point = false;
    for (; i < value.size(); ++i) {
        char c = value[i];
        if (c >= '0' && c <= '9') mantissaDigits = true;
        else if (c == '.' && !point) point = true;
        else break;
    }
    if (!mantissaDigits) return std::nullopt;
    if (i < value.size() && (value[i] == 'e' || value[i] == 'E')) {
        ++i;
        if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
        bool exponentDigits = false;
        for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) exponentDigits = true;
        if (!exponentDigits) return std::nullopt;
    }
    if (i != value.size()) return std::nullopt;
    double seconds = std::strtod(std::string(value).c_str(), nullptr);
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return seconds == 0 ? 0.0 : seconds; // no negative zero
}

} // namespace nuvel
