#pragma once

#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Url.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <optional>
#include <string>
#include <string_view>

// How the local store's JSON documents write identifiers, timestamps and links: a UUID as its
// upper-case 36-character string, a timestamp as seconds since 2001-01-01 00:00:00 UTC, a URL as
// its absolute string. Reading is as strict as json::Reader: absent or null fails for a required
// key and gives nullopt for an optional one; text that is not a UUID or an absolute URL fails.
namespace nuvel::storejson {

Uuid asUuid(const json::Value& value, const std::string& path);
Uuid uuid(const json::Reader& reader, std::string_view key);
std::optional<Uuid> optUuid(const json::Reader& reader, std::string_view key);

Date date(const json::Reader& reader, std::string_view key);
std::optional<Date> optDate(const json::Reader& reader, std::string_view key);

std::optional<Url> optUrl(const json::Reader& reader, std::string_view key);

inline std::string encode(const Uuid& id) {
    return id.uppercase();
}
inline double encode(Date date) {
    return date.sinceReferenceDate;
}

} // namespace nuvel::storejson
