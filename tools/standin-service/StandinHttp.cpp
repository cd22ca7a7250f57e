#include "tools/standin-service/StandinHttp.hpp"

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <strings.h>

namespace nuvel::standin {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Percent-decodes; in a query, "+" stands for a space (form encoding, as servers read queries).
std::string decode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) {
                fail(400, "invalid_request", "malformed percent escape");
            }
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

} // namespace

std::optional<std::string> Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name))
            return value;
    }
    return std::nullopt;
}

std::optional<std::string> Request::param(std::string_view name) const {
    for (const auto& [key, value] : query) {
        if (key == name)
            return value;
    }
    return std::nullopt;
}

ApiFailure::ApiFailure(int status, std::string code, std::string message, json::Ordered extra)
    : Error(message), status_(status), code_(std::move(code)), extra_(std::move(extra)) {}

void fail(int status, std::string code, std::string message) {
    throw ApiFailure(status, std::move(code), std::move(message));
}

Reply jsonReply(int status, const json::Ordered& body) {
    Reply reply;
    reply.status = status;
    reply.body = json::dump(body);
    reply.contentType = "application/json";
    return reply;
}

Reply errorReply(int status, const std::string& code, const std::string& message,
                 const json::Ordered& extra) {
    json::Ordered error = json::Ordered::object();
    error["code"] = code;
    // The message may echo client input; keep it encodable whatever the client sent.
    error["message"] = unicode::isValidUtf8(message) ? message : std::string("request refused");
    for (const auto& [key, value] : extra.items())
        error[key] = value;
    json::Ordered body = json::Ordered::object();
    body["error"] = std::move(error);
    return jsonReply(status, body);
}

Reply emptyReply(int status) {
    Reply reply;
    reply.status = status;
    return reply;
}

std::string codeForStatus(int status) {
    switch (status) {
    case 400:
        return "bad_request";
    case 404:
        return "not_found";
    case 405:
        return "method_not_allowed";
    case 411:
        return "length_required";
    case 413:
        return "too_large";
    case 414:
        return "uri_too_long";
    case 416:
        return "range_not_satisfiable";
    case 417:
        return "expectation_failed";
    default:
        return status >= 500 ? "internal_error" : "bad_request";
    }
}

Target parseTarget(std::string_view target) {
    Target result;
    const std::size_t mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    if (path.empty() || path.front() != '/')
        fail(400, "invalid_request", "the target must be an absolute path");
    std::size_t start = 1;
    while (true) {
        const std::size_t slash = path.find('/', start);
        result.segments.push_back(
            decode(path.substr(start, slash == std::string_view::npos ? path.npos : slash - start), false));
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    if (mark == std::string_view::npos)
        return result;
    std::string_view query = target.substr(mark + 1);
    if (query.empty())
        fail(400, "invalid_query", "a request without query items carries no \"?\"");
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            std::string name = decode(piece.substr(0, eq), true);
            std::string value =
                eq == std::string_view::npos ? std::string() : decode(piece.substr(eq + 1), true);
            if (!unicode::isValidUtf8(name) || !unicode::isValidUtf8(value)) {
                fail(400, "invalid_request", "query items must be UTF-8");
            }
            result.query.emplace_back(std::move(name), std::move(value));
        }
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return result;
}

json::Value jsonBody(const Request& request, std::initializer_list<std::string_view> members) {
    const std::string type = request.header("Content-Type").value_or("");
    const std::string_view mediaType = std::string_view(type).substr(0, type.find(';'));
    if (!equalsIgnoringCase(unicode::trimWhitespaceAndNewlines(mediaType), "application/json")) {
        fail(415, "unsupported_media_type", "the body must be application/json");
    }
    json::Value value;
    try {
        value = json::parse(request.body);
    } catch (const json::JsonError&) {
        fail(400, "invalid_json", "the body is not valid JSON");
    }
    if (!value.is_object())
        fail(400, "invalid_request", "the body must be a JSON object");
    requireMembers(value, members, "the body");
    return value;
}

void requireMembers(const json::Value& object, std::initializer_list<std::string_view> members,
                    std::string_view what) {
    if (!object.is_object())
        return; // the typed readers refuse it with their own error
    for (const auto& [key, value] : object.items()) {
        if (std::find(members.begin(), members.end(), key) == members.end()) {
            fail(400, "unknown_field", std::string(what) + " has no member \"" + key + "\"");
        }
    }
}

void requireQueryNames(const Request& request, std::span<const std::string_view> names) {
    for (std::size_t i = 0; i < request.query.size(); ++i) {
        const std::string& name = request.query[i].first;
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            fail(400, "invalid_query", "this request takes no query item \"" + name + "\"");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (request.query[j].first == name)
                fail(400, "invalid_query", "the query item \"" + name + "\" comes twice");
        }
    }
}

bool acceptsJson(const Request& request) {
    const std::optional<std::string> accept = request.header("Accept");
    if (!accept)
        return false;
    std::string_view rest = *accept;
    while (true) {
        const std::size_t comma = rest.find(',');
        std::string_view range = rest.substr(0, comma);
        range = range.substr(0, range.find(';'));
        const std::string type = unicode::trimWhitespaceAndNewlines(range);
        if (equalsIgnoringCase(type, "application/json") || equalsIgnoringCase(type, "application/*") ||
            type == "*/*") {
            return true;
        }
        if (comma == std::string_view::npos)
            return false;
        rest.remove_prefix(comma + 1);
    }
}

std::optional<std::string> bearerToken(const Request& request) {
    const std::optional<std::string> header = request.header("Authorization");
    if (!header || header->size() <= 7 ||
        !equalsIgnoringCase(std::string_view(*header).substr(0, 7), "Bearer ")) {
        return std::nullopt;
    }
    std::string token = header->substr(7);
    if (token.empty() || token.find(' ') != std::string::npos)
        return std::nullopt;
    return token;
}

} // namespace nuvel::standin
