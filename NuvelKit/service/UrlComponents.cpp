#include "NuvelKit/service/UrlComponents.hpp"

#include <algorithm>

namespace nuvel {
namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}
bool isGenDelim(char c) {
    return std::string_view(":/?#[]@").find(c) != std::string_view::npos;
}

int hexValue(char c) {
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Every character is one a URL may hold and every "%" starts a complete escape.
bool hasValidCharacters(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2]))
                return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelim(c) && !isGenDelim(c)) {
            return false;
        }
    }
    return true;
}

// Characters of a component besides unreserved, sub-delimiters and escapes.
bool allOf(std::string_view s, std::string_view extra) {
    return std::all_of(s.begin(), s.end(), [&](char c) {
        return isUnreserved(c) || isSubDelim(c) || c == '%' || extra.find(c) != std::string_view::npos;
    });
}

bool isScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s.front()))
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; });
}

bool parseAuthority(std::string_view authority, UrlComponents& out) {
    if (std::count(authority.begin(), authority.end(), '@') > 1)
        return false;
    std::size_t at = authority.find('@');
    std::string_view hostPort = authority;
    if (at != std::string_view::npos) {
        std::string_view userInfo = authority.substr(0, at);
        if (!allOf(userInfo, ":"))
            return false;
        std::size_t colon = userInfo.find(':');
        out.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            out.password = std::string(userInfo.substr(colon + 1));
        hostPort = authority.substr(at + 1);
    }
    std::string_view host = hostPort;
    std::optional<std::string_view> port;
    if (!hostPort.empty() && hostPort.front() == '[') {
        std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return false;
        host = hostPort.substr(0, close + 1);
        std::string_view literal = host.substr(1, host.size() - 2);
        if (literal.empty() || !allOf(literal, ":") || literal.find('%') != std::string_view::npos)
            return false;
        std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            port = after.substr(1);
        }
    } else {
        std::size_t colon = hostPort.find(':');
        if (colon != std::string_view::npos) {
            host = hostPort.substr(0, colon);
            port = hostPort.substr(colon + 1);
        }
        if (!allOf(host, ""))
            return false;
    }
    if (port) {
        if (!std::all_of(port->begin(), port->end(), isDigit))
            return false;
        out.port = std::string(*port);
    }
    out.host = std::string(host);
    return true;
}

} // namespace

std::optional<UrlComponents> UrlComponents::parse(std::string_view text) {
    if (!hasValidCharacters(text))
        return std::nullopt;
    UrlComponents out;
    std::string_view rest = text;

    std::size_t delimiter = rest.find_first_of(":/?#");
    if (delimiter != std::string_view::npos && rest[delimiter] == ':') {
        // A colon before any "/", "?" or "#" ends a scheme; in a relative reference it would
        // be ambiguous, so anything that is not a scheme there does not parse.
        std::string_view scheme = rest.substr(0, delimiter);
        if (!isScheme(scheme))
            return std::nullopt;
        out.scheme = std::string(scheme);
        rest.remove_prefix(delimiter + 1);
    }

    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        std::size_t end = std::min(rest.find_first_of("/?#"), rest.size());
        if (!parseAuthority(rest.substr(0, end), out))
            return std::nullopt;
        rest.remove_prefix(end);
    }

    std::size_t pathEnd = std::min(rest.find_first_of("?#"), rest.size());
    std::string_view path = rest.substr(0, pathEnd);
    if (!allOf(path, ":@/"))
        return std::nullopt;
    out.path = std::string(path);
    rest.remove_prefix(pathEnd);

    if (!rest.empty() && rest.front() == '?') {
        std::size_t end = std::min(rest.find('#'), rest.size());
        std::string_view query = rest.substr(1, end - 1);
        if (!allOf(query, ":@/?"))
            return std::nullopt;
        out.query = std::string(query);
        rest.remove_prefix(end);
    }
    if (!rest.empty() && rest.front() == '#') {
        std::string_view fragment = rest.substr(1);
        if (!allOf(fragment, ":@/?"))
            return std::nullopt;
        out.fragment = std::string(fragment);
        rest = {};
    }
    return out;
}

std::optional<std::vector<QueryItem>> UrlComponents::queryItems() const {
    if (!query)
        return std::nullopt;
    std::vector<QueryItem> items;
    if (query->empty())
        return items;
    std::string_view rest = *query;
    while (true) {
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

std::string percentEncodeQueryValue(std::string_view text) {
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

} // namespace nuvel
