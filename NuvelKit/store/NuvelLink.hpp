#pragma once

#include "NuvelKit/support/Url.hpp"

#include <optional>
#include <string_view>

namespace nuvel::NuvelLink {

// The service's web host, the only host whose meeting links are kept.
inline constexpr std::string_view webHost = "app.getnuvel.com";

// The same URL when it is the link of one cloud meeting: exactly "https", exactly `webHost`, no
// port, user, password, query or fragment, and a path of "/m/mt_" and 32 lower-case hex digits.
std::optional<Url> isMeetingLink(const Url& url);

} // namespace nuvel::NuvelLink
