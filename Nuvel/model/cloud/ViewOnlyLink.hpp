#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The address of a view-only link the service created, when it may be shown for copying: it
// parses as a URL, uses "https" on `webHost`, carries no user name and no password, has a path
// ending in "/s/" and a fragment of exactly 64 characters (the link's secret). None otherwise.
std::optional<std::string> acceptedViewOnlyLink(std::string_view address, std::string_view webHost);

} // namespace nuvel
