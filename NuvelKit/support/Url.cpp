#include "NuvelKit/support/Url.hpp"

#include "NuvelKit/support/Bytes.hpp"

namespace nuvel {
namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return hexValue(c) >= 0;
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    switch (c) {
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
        return true;
    default:
        return false;
    }
}

// True when every character of `s` is unreserved, a sub-delimiter, a percent escape with two
// hexadecimal digits, or one of `extra`.
bool allOf(std::string_view s, std::string_view extra) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size())
                return false;
            if (!isHex(s[i + 1]) || !isHex(s[i + 2]))
                return false;
            i += 2;
            continue;
        }
        if (isUnreserved(c) || isSubDelim(c) || extra.find(c) != std::string_view::npos)
            continue;
        return false;
    }
    return true;
}

} // namespace

std::optional<Url> Url::parse(std::string_view text) {
    Url url;
    url.text_ = std::string(text);
    auto range = [](std::size_t begin, std::size_t end) { return Range{true, begin, end - begin}; };

    // Scheme.
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0]))
        return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    url.scheme_ = range(0, colon);

    // Fragment and query are cut off from the end first: "#" ends the rest, "?" ends the path.
    std::size_t end = text.size();
    std::size_t hash = text.find('#', colon + 1);
    if (hash != std::string_view::npos) {
        if (!allOf(text.substr(hash + 1), ":@/?"))
            return std::nullopt;
        url.fragment_ = range(hash + 1, end);
        end = hash;
    }
    std::size_t question = text.substr(0, end).find('?', colon + 1);
    if (question != std::string_view::npos) {
        if (!allOf(text.substr(question + 1, end - question - 1), ":@/?"))
            return std::nullopt;
        url.query_ = range(question + 1, end);
        end = question;
    }

    std::size_t pathBegin = colon + 1;
    if (text.substr(colon + 1, 2) == "//") {
        std::size_t authorityBegin = colon + 3;
        std::size_t authorityEnd = text.substr(0, end).find('/', authorityBegin);
        if (authorityEnd == std::string_view::npos)
            authorityEnd = end;
        std::size_t hostBegin = authorityBegin;

        std::size_t at = text.substr(0, authorityEnd).find('@', authorityBegin);
        if (at != std::string_view::npos) {
            std::string_view userinfo = text.substr(authorityBegin, at - authorityBegin);
            if (!allOf(userinfo, ":"))
                return std::nullopt;
            std::size_t separator = userinfo.find(':');
            if (separator == std::string_view::npos) {
                url.user_ = range(authorityBegin, at);
            } else {
                url.user_ = range(authorityBegin, authorityBegin + separator);
                url.password_ = range(authorityBegin + separator + 1, at);
            }
            hostBegin = at + 1;
        }

        std::size_t hostEnd;
        if (hostBegin < authorityEnd && text[hostBegin] == '[') {
            std::size_t close = text.substr(0, authorityEnd).find(']', hostBegin);
            if (close == std::string_view::npos || close == hostBegin + 1)
                return std::nullopt;
            if (!allOf(text.substr(hostBegin + 1, close - hostBegin - 1), ":"))
                return std::nullopt;
            hostEnd = close + 1;
            if (hostEnd != authorityEnd && text[hostEnd] != ':')
                return std::nullopt;
        } else {
            hostEnd = text.substr(0, authorityEnd).find(':', hostBegin);
            if (hostEnd == std::string_view::npos)
                hostEnd = authorityEnd;
            if (!allOf(text.substr(hostBegin, hostEnd - hostBegin), ""))
                return std::nullopt;
        }
        url.host_ = range(hostBegin, hostEnd);

        if (hostEnd < authorityEnd) { // text[hostEnd] == ':'
            for (std::size_t i = hostEnd + 1; i < authorityEnd; ++i)
                if (!isDigit(text[i]))
                    return std::nullopt;
            url.port_ = range(hostEnd + 1, authorityEnd);
        }
        pathBegin = authorityEnd;
    }

    if (!allOf(text.substr(pathBegin, end - pathBegin), ":@/"))
        return std::nullopt;
    url.path_ = range(pathBegin, end);
    return url;
}

std::optional<std::vector<QueryItem>> Url::queryItems() const {
    auto q = query();
    if (!q)
        return std::nullopt;
    std::vector<QueryItem> items;
    if (q->empty())
        return items;
    std::string_view rest = *q;
    for (;;) {
        std::size_t amp = rest.find('&');
        std::string_view piece = rest.substr(0, amp);
        std::size_t eq = piece.find('=');
        auto name = percentDecode(piece.substr(0, eq));
        if (!name)
            return std::nullopt;
        QueryItem item{std::move(*name), std::nullopt};
        if (eq != std::string_view::npos) {
            item.value = percentDecode(piece.substr(eq + 1));
            if (!item.value)
                return std::nullopt;
        }
        items.push_back(std::move(item));
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return items;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
            return std::nullopt;
        out.push_back(char(hexValue(text[i + 1]) << 4 | hexValue(text[i + 2])));
        i += 2;
    }
    return out;
}

std::string percentEncode(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isUnreserved(c)) {
            out.push_back(c);
        } else {
            auto b = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        }
    }
    return out;
}

std::string encodeQuery(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string out;
    for (const auto& [name, value] : items) {
        if (!out.empty())
            out.push_back('&');
        out += percentEncode(name);
        out.push_back('=');
        out += percentEncode(value);
    }
    return out;
}

} // namespace nuvel
