#include "NuvelKit/service/ServiceAddress.hpp"

#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>

namespace nuvel {

bool hasUnsafePathCharacter(std::string_view identifier) {
    return std::any_of(identifier.begin(), identifier.end(), [](char c) {
        bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-';
        return !safe;
    });
}

void requireSafePathIdentifier(std::string_view identifier) {
    if (identifier.empty() || hasUnsafePathCharacter(identifier))
        throw RecordingError(RecordingError::Code::unsafePath);
}

bool isLoopbackHost(std::string_view host) {
    if (host == "127.0.0.1" || host == "[::1]")
        return true;
    constexpr std::string_view localhost = "localhost";
    return host.size() == localhost.size() &&
           std::equal(host.begin(), host.end(), localhost.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b; });
}

bool isServiceOrigin(const Url& url) {
    const std::string_view scheme = url.scheme();
    if (!url.host() || url.host()->empty())
        return false;
    // The bearer token travels in every request: in the clear only to this machine.
    const bool secure = scheme == "https" || (scheme == "http" && isLoopbackHost(*url.host()));
    return secure && !url.user() && (url.path().empty() || url.path() == "/") && !url.query() &&
           !url.fragment();
}

} // namespace nuvel
