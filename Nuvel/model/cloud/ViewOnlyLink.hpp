#pragma once

#include "NuvelKit/support/Url.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Whether `url` is an address on the service web host `webHost`, host names compared without
// regard to letter case: over https, or over plain http when the web host is this machine (a
// stand-in service serving its own pages), as the service clients allow. No user name and no
// password.
bool isOnWebHost(const Url& url, std::string_view webHost);

// The address of a view-only link the service created, when it may be shown for copying: it
// parses as a URL on the web host (see isOnWebHost), has a path ending in "/s/" and a fragment
// of exactly 64 characters (the link's secret). None otherwise.
std::optional<std::string> acceptedViewOnlyLink(std::string_view address, std::string_view webHost);

} // namespace nuvel
