#pragma once

#include "NuvelKit/support/Json.hpp"

#include <string>

namespace nuvel {

// The account and workspace a meeting cache belongs to. Both ids must be non-empty for a cache
// to open; the value itself does not check them.
struct MeetingCacheScope {
    std::string accountID;
    std::string workspaceID;

    bool operator==(const MeetingCacheScope&) const = default;

    // {"accountID": …, "workspaceID": …}; both keys required, both strings.
    json::Ordered toJson() const;
    static MeetingCacheScope fromJson(const json::Value& value, const std::string& path = "$");

    // The exact bytes whose digest names the scope's folder: one compact object with the keys
    // in sorted order, strings escaped as the cache has always written them ("/" as "\/",
    // non-ASCII left as raw UTF-8). Throws JsonError::unencodable for ids that are not UTF-8.
    std::string sortedKeyJson() const;
    // 64 lower-case hexadecimal digits: SHA-256 of `sortedKeyJson()`.
    std::string directoryName() const;
};

} // namespace nuvel
