#pragma once

#include "NuvelKit/support/Url.hpp"

#include <string_view>

namespace nuvel {

// True when any byte of `identifier` is outside A-Z, a-z, 0-9, "_" and "-" (false for "").
// An identifier goes into a URL path only when it is non-empty and this is false.
bool hasUnsafePathCharacter(std::string_view identifier);

// Throws RecordingError::unsafePath unless `identifier` may go into a URL path.
void requireSafePathIdentifier(std::string_view identifier);

// 127.0.0.1, [::1] or localhost (any letter case), as a URL writes the host.
bool isLoopbackHost(std::string_view host);

// A service origin: https with any host, or http with a loopback host; no user, query or
// fragment, no path but "/".
bool isServiceOrigin(const Url& url);

} // namespace nuvel
