#pragma once

#include <string_view>

#include "NuvelKit/support/Url.hpp"

namespace nuvel {

// True when any byte of `identifier` is outside A-Z, a-z, 0-9, "_" and "-" (false for "").
// An identifier goes into a URL path only when it is non-empty and this is false.
bool hasUnsafePathCharacter(std::string_view identifier);

// Throws RecordingError::unsafePath unless `identifier` may go into a URL path.
void requireSafePathIdentifier(std::string_view identifier);

// A service origin: http or https, a host, no user, query or fragment, no path but "/".
bool isServiceOrigin(const Url& url);

} // namespace nuvel
