#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// One item of a URL query: "name=value", or "name" without a value.
struct QueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const QueryItem&) const = default;
};

// The parts of a URL as written, split strictly by the generic syntax of RFC 3986.
//
// Nothing is normalised: no letter case is changed, no default port added, no dot segment
// removed, and every component except the query items keeps its percent-escapes as written.
// A component that is not there is no value, which differs from one that is there but empty
// ("nuvel://auth#" has an empty fragment; "nuvel://@auth" has an empty user). A text with a
// character that no URL may hold (space, control, non-ASCII, quote, backslash, ...) or with a
// broken percent-escape does not parse.
struct UrlComponents {
    std::optional<std::string> scheme;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> host; // present whenever the URL has an authority ("//")
    std::optional<std::string> port; // digits only; may be empty ("host:")
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    static std::optional<UrlComponents> parse(std::string_view text);

    // The query split at "&" into items, the first "=" of each separating name and value, both
    // percent-decoded ("+" stays "+"). No value without a query; an empty query has no items.
    std::optional<std::vector<QueryItem>> queryItems() const;
};

// Decodes percent-escapes; no value when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> percentDecode(std::string_view text);
// Escapes every byte except the unreserved characters A-Z a-z 0-9 - . _ ~, for a query value.
std::string percentEncodeQueryValue(std::string_view text);

} // namespace nuvel
