#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel {

// One item of a URL query: "name=value", or "name" without a value.
struct QueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const QueryItem&) const = default;
};

// An absolute URL as RFC 3986 writes it: scheme ":" ["//" authority] path ["?" query] ["#" fragment].
// The text is kept exactly as given; the components are views of it, not decoded. Parsing refuses
// relative references, characters outside the URI character set and malformed percent escapes, so a
// Url always writes back to a string that parses to the same Url.
class Url {
public:
    static std::optional<Url> parse(std::string_view text);

    // The whole URL as it was parsed.
    const std::string& string() const { return text_; }

    // As written (not lower-cased).
    std::string_view scheme() const { return part(scheme_); }
    // Present only when the URL has an authority ("//").
    std::optional<std::string_view> host() const { return optionalPart(host_); }
    // Present when the authority holds "@": the text before ":" (or all of it).
    std::optional<std::string_view> user() const { return optionalPart(user_); }
    // Present when the user information holds ":".
    std::optional<std::string_view> password() const { return optionalPart(password_); }
    // Present when the host is followed by ":", even with no digits after it.
    std::optional<std::string_view> port() const { return optionalPart(port_); }
    // Percent escapes left as they are; may be empty.
    std::string_view path() const { return part(path_); }
    // Present when the URL holds "?" (the text between it and "#", possibly empty).
    std::optional<std::string_view> query() const { return optionalPart(query_); }
    // Present when the URL holds "#".
    std::optional<std::string_view> fragment() const { return optionalPart(fragment_); }

    // The query split at "&" into items, the first "=" of each separating name and value, both
    // percent-decoded ("+" stays "+"). No value without a query; an empty query has no items.
    std::optional<std::vector<QueryItem>> queryItems() const;

    bool operator==(const Url& other) const { return text_ == other.text_; }

private:
    struct Range {
        bool present = false;
        std::size_t begin = 0;
        std::size_t length = 0;
    };
    std::string_view part(Range r) const { return std::string_view(text_).substr(r.begin, r.length); }
    std::optional<std::string_view> optionalPart(Range r) const {
        if (!r.present)
            return std::nullopt;
        return part(r);
    }

    std::string text_;
    Range scheme_, user_, password_, host_, port_, path_, query_, fragment_;
};

// Decodes percent escapes; no value when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> percentDecode(std::string_view text);
// Percent-encodes every byte outside RFC 3986's unreserved set (A-Z a-z 0-9 - . _ ~).
std::string percentEncode(std::string_view text);
// "a=1&b=2" from ordered pairs, each name and value percent-encoded.
std::string encodeQuery(const std::vector<std::pair<std::string, std::string>>& items);

} // namespace nuvel
