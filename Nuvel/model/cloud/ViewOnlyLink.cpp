#include "Nuvel/model/cloud/ViewOnlyLink.hpp"

#include "NuvelKit/service/ServiceAddress.hpp"

#include <algorithm>

namespace nuvel {

namespace {
constexpr std::size_t secretLength = 64;

bool sameHostName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&lower](char x, char y) { return lower(x) == lower(y); });
}
} // namespace

bool isOnWebHost(const Url& url, std::string_view webHost) {
    if (!url.host() || url.host()->empty() || !sameHostName(*url.host(), webHost))
        return false;
    // A link travels in the clear only to this machine.
    const bool secure = url.scheme() == "https" || (url.scheme() == "http" && isLoopbackHost(webHost));
    return secure && !url.user() && !url.password();
}

std::optional<std::string> acceptedViewOnlyLink(std::string_view address, std::string_view webHost) {
    const std::optional<Url> url = Url::parse(address);
    if (!url || !isOnWebHost(*url, webHost))
        return std::nullopt;
    if (!url->path().ends_with("/s/"))
        return std::nullopt;
    // The fragment is compared in bytes: a secret of anything but plain characters is no secret
    // the service hands out.
    if (!url->fragment() || url->fragment()->size() != secretLength)
        return std::nullopt;
    return std::string(address);
}

} // namespace nuvel
