#include "NuvelKit/store/NuvelLink.hpp"

namespace nuvel::NuvelLink {
namespace {

bool isMeetingPath(std::string_view path) {
    constexpr std::string_view prefix = "/m/mt_";
    if (path.size() != prefix.size() + 32 || path.substr(0, prefix.size()) != prefix)
        return false;
    for (char c : path.substr(prefix.size()))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

std::optional<Url> isMeetingLink(const Url& url) {
    if (url.scheme() != "https")
        return std::nullopt;
    if (url.host() != webHost)
        return std::nullopt;
    if (url.port() || url.user() || url.password() || url.query() || url.fragment())
        return std::nullopt;
    if (!isMeetingPath(url.path()))
        return std::nullopt;
    return url;
}

} // namespace nuvel::NuvelLink
