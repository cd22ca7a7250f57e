#include "NuvelKit/service/ServiceAddress.hpp"

#include <algorithm>

#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

bool hasUnsafePathCharacter(std::string_view identifier) {
    return std::any_of(identifier.begin(), identifier.end(), [](char c) {
        bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        return !safe;
    });
}

void requireSafePathIdentifier(std::string_view identifier) {
    if (identifier.empty() || hasUnsafePathCharacter(identifier)) throw RecordingError(RecordingError::Code::unsafePath);
}

bool isServiceOrigin(const Url& url) {
    const std::string_view scheme = url.scheme();
    return (scheme == "https" || scheme == "http") && url.host() && !url.host()->empty() && !url.user() &&
           (url.path().empty() || url.path() == "/") && !url.query() && !url.fragment();
}

} // namespace nuvel
