#include "Nuvel/model/cloud/ViewOnlyLink.hpp"

#include "NuvelKit/support/Url.hpp"

namespace nuvel {

namespace {
constexpr std::size_t secretLength = 64;
}

std::optional<std::string> acceptedViewOnlyLink(std::string_view address, std::string_view webHost) {
    const std::optional<Url> url = Url::parse(address);
    if (!url || url->scheme() != "https" || url->host() != webHost)
        return std::nullopt;
    if (url->user() || url->password())
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
