#pragma once

#include "NuvelKit/meetings/MeetingCacheScope.hpp"
#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Time.hpp"

#include <functional>
#include <set>
#include <string>

// The plaintext documents inside the meeting cache's sealed files. Each is compact UTF-8 JSON;
// dates are seconds since 2001-01-01 as JSON numbers, payloads are padded standard Base64 of
// the cached value's own JSON. Readers require their keys and ignore any others. Decoding
// fails with json::JsonError.
namespace nuvel {

// One cached value with its access lease.
struct MeetingCacheEntry {
    MeetingCacheScope scope;
    Date validatedAt;
    Date expiresAt;
    Bytes payload;

    bool operator==(const MeetingCacheEntry&) const = default;

    std::string encode() const;
    static MeetingCacheEntry decode(ByteView document);
};

// Unsent work of the user; it has no lease.
struct MeetingCacheDraft {
    MeetingCacheScope scope;
    Bytes payload;

    bool operator==(const MeetingCacheDraft&) const = default;

    std::string encode() const;
    static MeetingCacheDraft decode(ByteView document);
};

// Ids withdrawn from offline use. Written as {"ids": [...]}; the order has no meaning.
struct MeetingCacheRevocations {
    std::set<std::string, std::less<>> ids;

    bool operator==(const MeetingCacheRevocations&) const = default;

    std::string encode() const;
    static MeetingCacheRevocations decode(ByteView document);
};

} // namespace nuvel
