#include "NuvelKit/meetings/MeetingClientError.hpp"

#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/support/Json.hpp"

namespace nuvel {
namespace {

std::string describe(int status, const std::string& code) {
    return "meeting service answered " + std::to_string(status) + " (" + code + ")";
}

bool isNonEmptyObject(const json::Value* v) {
    return v != nullptr && v->is_object() && !v->empty();
}

const json::Value* member(const json::Value& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A whole number that fits an Int64; booleans, strings and fractions are not revisions.
std::optional<std::int64_t> integerMember(const json::Value& object, const char* key) {
    const json::Value* v = member(object, key);
    if (v == nullptr || !v->is_number())
        return std::nullopt;
    try {
        return json::asInt64(*v);
    } catch (const json::JsonError&) {
        return std::nullopt;
    }
}

std::string codeOf(const json::Value& top) {
    const json::Value* error = member(top, "error");
    if (error == nullptr)
        return "unknown";
    if (isNonEmptyObject(error)) {
        const json::Value* code = member(*error, "code");
        if (code != nullptr && code->is_string())
            return code->get<std::string>();
        return "unknown";
    }
    if (error->is_string())
        return error->get<std::string>();
    return "unknown";
}

// The most specific place first: the conflict detail, then the error object, then the top level.
std::optional<std::int64_t> revisionOf(const json::Value& top) {
    const json::Value* error = member(top, "error");
    if (isNonEmptyObject(error)) {
        const json::Value* detail = member(*error, "detail");
        if (isNonEmptyObject(detail))
            if (auto r = integerMember(*detail, "revision"))
                return r;
        if (auto r = integerMember(*error, "revision"))
            return r;
        if (auto r = integerMember(*error, "current_revision"))
            return r;
    }
    if (auto r = integerMember(top, "revision"))
        return r;
    return integerMember(top, "current_revision");
}

} // namespace

MeetingClientError::MeetingClientError(int status, std::string_view code,
                                       std::optional<std::int64_t> currentRevision,
                                       std::optional<double> retryAfter)
    : Error(describe(status, APIError::normalizedCode(code))), status_(status),
      code_(APIError::normalizedCode(code)), currentRevision_(currentRevision),
      retryAfter_(APIError::usableDelay(retryAfter)) {}

MeetingClientError MeetingClientError::fromResponse(int status, ByteView body,
                                                    std::optional<std::string_view> retryAfter) {
    std::string code = "unknown";
    std::optional<std::int64_t> revision;
    if (!body.empty()) {
        try {
            json::Value top = json::parse(body);
            if (top.is_object()) {
                code = codeOf(top);
                revision = revisionOf(top);
            }
        } catch (const json::JsonError&) {
            // Not JSON (an HTML error page, a proxy's text): the status alone describes it.
        }
    }
    std::optional<double> delay = retryAfter ? APIError::parseRetryAfter(*retryAfter) : std::nullopt;
    return MeetingClientError(status, code, revision, delay);
}

} // namespace nuvel
