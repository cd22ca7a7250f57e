#include "NuvelKit/support/Json.hpp"

#include <cmath>
#include <limits>

namespace nuvel::json {
namespace {

constexpr int maxDepth = 512;

const char* typeName(const Value& v) { return v.type_name(); }

[[noreturn]] void wrongType(const std::string& path, const char* wanted, const Value& v) {
    throw JsonError(JsonError::Code::wrongType, path,
                    std::string("expected ") + wanted + ", found " + typeName(v));
}

// Walks the document without recursion (hostile input may nest deeply).
void requireFinite(const Value& root) {
    std::vector<const Value*> pending{&root};
    while (!pending.empty()) {
        const Value* v = pending.back();
        pending.pop_back();
        if (v->is_number_float() && !std::isfinite(v->get<double>()))
            throw JsonError(JsonError::Code::nonFinite, "$", "a number overflows a double");
        if (v->is_structured())
            for (const Value& child : *v) pending.push_back(&child);
    }
}

} // namespace

JsonError::JsonError(Code code, std::string path, std::string detail)
    : Error(path + ": " + detail), code_(code), path_(std::move(path)) {}

Value parse(std::string_view text) {
    Value::parser_callback_t limitDepth = [](int depth, Value::parse_event_t, Value&) {
        if (depth > maxDepth) throw JsonError(JsonError::Code::syntax, "$", "nested too deeply");
        return true;
    };
    Value v;
    try {
        v = Value::parse(text.begin(), text.end(), limitDepth, true, false);
    } catch (const nlohmann::json::out_of_range& e) {
        // The parser's only range error is a number literal beyond the double range (406).
        throw JsonError(JsonError::Code::nonFinite, "$", e.what());
    } catch (const nlohmann::json::exception& e) {
        throw JsonError(JsonError::Code::syntax, "$", e.what());
    }
    requireFinite(v);
    return v;
}

namespace {
template <class J>
std::string dumpAny(const J& value) {
    try {
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& e) {
        throw JsonError(JsonError::Code::unencodable, "$", e.what());
    }
}
template <class J>
void requireFiniteForWrite(const J& root) {
    std::vector<const J*> pending{&root};
    while (!pending.empty()) {
        const J* v = pending.back();
        pending.pop_back();
        if (v->is_number_float() && !std::isfinite(v->template get<double>()))
            throw JsonError(JsonError::Code::unencodable, "$", "a number is not finite");
        if (v->is_structured())
            for (const J& child : *v) pending.push_back(&child);
    }
}
} // namespace

Ordered number(double d) {
    // [-2^63, 2^63) converts exactly; -0 stays a double so its sign survives.
    if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0 &&
        !(d == 0 && std::signbit(d)))
        return Ordered(std::int64_t(d));
    return Ordered(d);
}

std::string dump(const Ordered& value) {
    requireFiniteForWrite(value);
    return dumpAny(value);
}
std::string dump(const Value& value) {
    requireFiniteForWrite(value);
    return dumpAny(value);
}

bool asBool(const Value& v, const std::string& path) {
    if (!v.is_boolean()) wrongType(path, "a Boolean", v);
    return v.get<bool>();
}

std::int64_t asInt64(const Value& v, const std::string& path) {
    if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<std::int64_t>();
    if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            throw JsonError(JsonError::Code::outOfRange, path, "integer out of range");
        return std::int64_t(u);
    }
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (!std::isfinite(d)) throw JsonError(JsonError::Code::nonFinite, path, "number is not finite");
        if (std::trunc(d) != d) throw JsonError(JsonError::Code::outOfRange, path, "not a whole number");
        // An integer literal outside the 64-bit range arrives here as a double rounded to the
        // nearest one: 2^63 for the first ones above the top, -2^63 for the first ones below the
        // bottom. Both ends are therefore open for doubles; -2^63 itself is read only from its
        // exact integer literal, which the parser keeps as an integer.
        if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0))
            throw JsonError(JsonError::Code::outOfRange, path, "integer out of range");
        return std::int64_t(d);
    }
    wrongType(path, "an integer", v);
}

int asInt(const Value& v, const std::string& path) {
    std::int64_t n = asInt64(v, path);
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        throw JsonError(JsonError::Code::outOfRange, path, "integer out of range");
    return int(n);
}

double asDouble(const Value& v, const std::string& path) {
    if (!v.is_number()) wrongType(path, "a number", v);
    double d = v.get<double>();
    if (!std::isfinite(d)) throw JsonError(JsonError::Code::nonFinite, path, "number is not finite");
    return d;
}

const std::string& asString(const Value& v, const std::string& path) {
    if (!v.is_string()) wrongType(path, "a string", v);
    return v.get_ref<const std::string&>();
}

Reader::Reader(const Value& object, std::string path) : object_(&object), path_(std::move(path)) {
    if (!object.is_object()) wrongType(path_, "an object", object);
}

std::string Reader::childPath(std::string_view key) const {
    return path_ + "." + std::string(key);
}

const Value* Reader::find(std::string_view key) const {
    auto it = object_->find(key);
    if (it == object_->end() || it->is_null()) return nullptr;
    return &*it;
}

const Value& Reader::require(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) throw JsonError(JsonError::Code::missingKey, childPath(key), "required key is missing");
    return *v;
}

bool Reader::has(std::string_view key) const { return find(key) != nullptr; }

bool Reader::boolean(std::string_view key) const { return asBool(require(key), childPath(key)); }
std::int64_t Reader::int64(std::string_view key) const { return asInt64(require(key), childPath(key)); }
int Reader::integer(std::string_view key) const { return asInt(require(key), childPath(key)); }
double Reader::number(std::string_view key) const { return asDouble(require(key), childPath(key)); }
std::string Reader::string(std::string_view key) const { return asString(require(key), childPath(key)); }
const Value& Reader::value(std::string_view key) const { return require(key); }

const Value& Reader::array(std::string_view key) const {
    const Value& v = require(key);
    if (!v.is_array()) wrongType(childPath(key), "an array", v);
    return v;
}

Reader Reader::object(std::string_view key) const { return Reader(require(key), childPath(key)); }

std::optional<bool> Reader::optBoolean(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) return std::nullopt;
    return asBool(*v, childPath(key));
}
std::optional<std::int64_t> Reader::optInt64(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) return std::nullopt;
    return asInt64(*v, childPath(key));
}
std::optional<double> Reader::optNumber(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) return std::nullopt;
    return asDouble(*v, childPath(key));
}
std::optional<std::string> Reader::optString(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) return std::nullopt;
    return asString(*v, childPath(key));
}
const Value* Reader::optValue(std::string_view key) const { return find(key); }

const Value* Reader::optArray(std::string_view key) const {
    const Value* v = find(key);
    if (v != nullptr && !v->is_array()) wrongType(childPath(key), "an array", *v);
    return v;
}

std::optional<Reader> Reader::optObject(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr) return std::nullopt;
    return Reader(*v, childPath(key));
}

std::vector<std::string> Reader::stringList(std::string_view key) const {
    return list<std::string>(key, [](const Value& e, const std::string& p) { return asString(e, p); });
}

std::optional<std::vector<std::string>> Reader::optStringList(std::string_view key) const {
    return optList<std::string>(key, [](const Value& e, const std::string& p) { return asString(e, p); });
}

} // namespace nuvel::json
