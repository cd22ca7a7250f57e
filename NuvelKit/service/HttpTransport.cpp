#include "NuvelKit/service/HttpTransport.hpp"

#include <cctype>

namespace nuvel {

bool headerNameEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::string> HttpResponse::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (headerNameEquals(key, name))
            return value;
    return std::nullopt;
}

bool isUnsafeHeaderText(std::string_view text) {
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    return false;
}

} // namespace nuvel
