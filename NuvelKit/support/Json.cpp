#include "NuvelKit/support/Json.hpp"

#include "NuvelKit/support/JsonReference.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <simdjson.h>

namespace nuvel::json {
namespace {

constexpr int maxDepth = 512;

const char* typeName(const Value& v) {
    return v.type_name();
}

[[noreturn]] void wrongType(const std::string& path, const char* wanted, const Value& v) {
    throw JsonError(JsonError::Code::wrongType, path,
                    std::string("expected ") + wanted + ", found " + typeName(v));
}

// Builds the document through nlohmann's plain DOM builder, refusing nesting deeper than
// maxDepth and any number that is not finite as the events arrive. nlohmann's callback parser
// would do the depth check too, but it scans the whole parent after every object it closes,
// which makes a long array of objects (a transcript's words) quadratic.
class LimitedDom {
public:
    using Builder = nlohmann::detail::json_sax_dom_parser<Value>;
    explicit LimitedDom(Value& root) : builder_(root, true) {}

    bool null() { return scalar() && builder_.null(); }
    bool boolean(bool b) { return scalar() && builder_.boolean(b); }
    bool number_integer(Value::number_integer_t n) { return scalar() && builder_.number_integer(n); }
    bool number_unsigned(Value::number_unsigned_t n) { return scalar() && builder_.number_unsigned(n); }
    bool number_float(Value::number_float_t d, const Value::string_t& text) {
        if (!std::isfinite(d))
            throw JsonError(JsonError::Code::nonFinite, "$", "a number overflows a double");
        return scalar() && builder_.number_float(d, text);
    }
    bool string(Value::string_t& s) { return scalar() && builder_.string(s); }
    bool binary(Value::binary_t& b) { return scalar() && builder_.binary(b); }
    bool key(Value::string_t& k) { return scalar() && builder_.key(k); }
    bool start_object(std::size_t n) { return open() && builder_.start_object(n); }
    bool start_array(std::size_t n) { return open() && builder_.start_array(n); }
    bool end_object() { return close() && builder_.end_object(); }
    bool end_array() { return close() && builder_.end_array(); }
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& e) {
        return builder_.parse_error(position, token, e);
    }

private:
    // The limits the depth-counting callback applied: a container may open inside at most
    // maxDepth others, and a value or key may sit at most maxDepth containers deep.
    bool scalar() const {
        if (depth_ > maxDepth)
            throw JsonError(JsonError::Code::syntax, "$", "nested too deeply");
        return true;
    }
    bool open() {
        scalar();
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }

    Builder builder_;
    int depth_ = 0;
};

// simdjson reads a document several times faster than nlohmann's lexer; its tree is then copied
// into a Value. It is held to a lower depth than maxDepth, so that whatever it accepts nlohmann
// accepts too. Whatever it refuses (a syntax error, a number beyond its range, a deeper
// document) goes to referenceParse, which decides and gives the error.
constexpr std::size_t fastDepth = 256;

bool convert(simdjson::dom::element element, Value& out) {
    using Type = simdjson::dom::element_type;
    switch (element.type()) {
    case Type::OBJECT: {
        out = Value::object();
        auto& members = out.get_ref<Value::object_t&>();
        const simdjson::dom::object object = element.get_object().value_unsafe();
        for (simdjson::dom::key_value_pair member : object) {
            // A repeated key keeps its last value, as nlohmann's own builder does.
            Value& slot = members[std::string(member.key)];
            slot = Value();
            if (!convert(member.value, slot))
                return false;
        }
        return true;
    }
    case Type::ARRAY: {
        const simdjson::dom::array elements = element.get_array().value_unsafe();
        out = Value::array();
        auto& array = out.get_ref<Value::array_t&>();
        array.reserve(elements.size());
        for (simdjson::dom::element child : elements) {
            array.emplace_back();
            if (!convert(child, array.back()))
                return false;
        }
        return true;
    }
    case Type::STRING:
        out = std::string(element.get_string().value_unsafe());
        return true;
    case Type::INT64: {
        // nlohmann keeps a literal without a sign as unsigned. "-0" is the one literal this
        // cannot tell from "0"; both read back as the same number.
        const std::int64_t n = element.get_int64().value_unsafe();
        if (n >= 0)
            out = Value::number_unsigned_t(n);
        else
            out = Value::number_integer_t(n);
        return true;
    }
    case Type::UINT64:
        out = Value::number_unsigned_t(element.get_uint64().value_unsafe());
        return true;
    case Type::DOUBLE: {
        const double d = element.get_double().value_unsafe();
        if (!std::isfinite(d))
            return false;
        out = d;
        return true;
    }
    case Type::BOOL:
        out = element.get_bool().value_unsafe();
        return true;
    case Type::NULL_VALUE:
        out = nullptr;
        return true;
    }
    return false;
}

std::optional<Value> fastParse(std::string_view text) {
    // An empty body may come with no storage at all, and simdjson copies it with memcpy, which
    // must not be given a null pointer; the reference reader refuses it.
    if (text.empty())
        return std::nullopt;
    simdjson::dom::parser parser;
    if (parser.allocate(std::max<std::size_t>(text.size(), 64), fastDepth) != simdjson::SUCCESS)
        return std::nullopt;
    simdjson::dom::element root;
    if (parser.parse(text.data(), text.size(), true).get(root) != simdjson::SUCCESS)
        return std::nullopt;
    Value v;
    if (!convert(root, v))
        return std::nullopt;
    return v;
}

} // namespace

JsonError::JsonError(Code code, std::string path, std::string detail)
    : Error(path + ": " + detail), code_(code), path_(std::move(path)) {}

Value referenceParse(std::string_view text) {
    Value v;
    LimitedDom dom(v);
    try {
        Value::sax_parse(text.begin(), text.end(), &dom, nlohmann::json::input_format_t::json, true, false);
    } catch (const nlohmann::json::out_of_range& e) {
        // The parser's only range error is a number literal beyond the double range (406).
        throw JsonError(JsonError::Code::nonFinite, "$", e.what());
    } catch (const nlohmann::json::exception& e) {
        throw JsonError(JsonError::Code::syntax, "$", e.what());
    }
    return v;
}

Value parse(std::string_view text) {
    if (std::optional<Value> v = fastParse(text))
        return std::move(*v);
    return referenceParse(text);
}

namespace {
template <class J> std::string dumpAny(const J& value) {
    try {
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception& e) {
        throw JsonError(JsonError::Code::unencodable, "$", e.what());
    }
}
template <class J> void requireFiniteForWrite(const J& root) {
    std::vector<const J*> pending{&root};
    while (!pending.empty()) {
        const J* v = pending.back();
        pending.pop_back();
        if (v->is_number_float() && !std::isfinite(v->template get<double>()))
            throw JsonError(JsonError::Code::unencodable, "$", "a number is not finite");
        if (v->is_structured())
            for (const J& child : *v)
                pending.push_back(&child);
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

namespace {

// The conversions take the value's path as a function, called only when one fails: a decoder
// reads hundreds of thousands of values that pass and should not build a path for each.
template <class Path> bool boolAt(const Value& v, const Path& path) {
    if (!v.is_boolean())
        wrongType(path(), "a Boolean", v);
    return v.get<bool>();
}

template <class Path> std::int64_t int64At(const Value& v, const Path& path) {
    if (v.is_number_integer() && !v.is_number_unsigned())
        return v.get<std::int64_t>();
    if (v.is_number_unsigned()) {
        auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            throw JsonError(JsonError::Code::outOfRange, path(), "integer out of range");
        return std::int64_t(u);
    }
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (!std::isfinite(d))
            throw JsonError(JsonError::Code::nonFinite, path(), "number is not finite");
        if (std::trunc(d) != d)
            throw JsonError(JsonError::Code::outOfRange, path(), "not a whole number");
        // An integer literal outside the 64-bit range arrives here as a double rounded to the
        // nearest one: 2^63 for the first ones above the top, -2^63 for the first ones below the
        // bottom. Both ends are therefore open for doubles; -2^63 itself is read only from its
        // exact integer literal, which the parser keeps as an integer.
        if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0))
            throw JsonError(JsonError::Code::outOfRange, path(), "integer out of range");
        return std::int64_t(d);
    }
    wrongType(path(), "an integer", v);
}

template <class Path> int intAt(const Value& v, const Path& path) {
    std::int64_t n = int64At(v, path);
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
        throw JsonError(JsonError::Code::outOfRange, path(), "integer out of range");
    return int(n);
}

template <class Path> double doubleAt(const Value& v, const Path& path) {
    if (!v.is_number())
        wrongType(path(), "a number", v);
    double d = v.get<double>();
    if (!std::isfinite(d))
        throw JsonError(JsonError::Code::nonFinite, path(), "number is not finite");
    return d;
}

template <class Path> const std::string& stringAt(const Value& v, const Path& path) {
    if (!v.is_string())
        wrongType(path(), "a string", v);
    return v.get_ref<const std::string&>();
}

} // namespace

bool asBool(const Value& v, const std::string& path) {
    return boolAt(v, [&] { return path; });
}
std::int64_t asInt64(const Value& v, const std::string& path) {
    return int64At(v, [&] { return path; });
}
int asInt(const Value& v, const std::string& path) {
    return intAt(v, [&] { return path; });
}
double asDouble(const Value& v, const std::string& path) {
    return doubleAt(v, [&] { return path; });
}
const std::string& asString(const Value& v, const std::string& path) {
    return stringAt(v, [&] { return path; });
}

Reader::Reader(const Value& object, std::string path) : object_(&object), path_(std::move(path)) {
    if (!object.is_object())
        wrongType(path_, "an object", object);
}

std::string Reader::childPath(std::string_view key) const {
    return path_ + "." + std::string(key);
}

const Value* Reader::find(std::string_view key) const {
    auto it = object_->find(key);
    if (it == object_->end() || it->is_null())
        return nullptr;
    return &*it;
}

const Value& Reader::require(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        throw JsonError(JsonError::Code::missingKey, childPath(key), "required key is missing");
    return *v;
}

bool Reader::has(std::string_view key) const {
    return find(key) != nullptr;
}

bool Reader::boolean(std::string_view key) const {
    return boolAt(require(key), [&] { return childPath(key); });
}
std::int64_t Reader::int64(std::string_view key) const {
    return int64At(require(key), [&] { return childPath(key); });
}
int Reader::integer(std::string_view key) const {
    return intAt(require(key), [&] { return childPath(key); });
}
double Reader::number(std::string_view key) const {
    return doubleAt(require(key), [&] { return childPath(key); });
}
std::string Reader::string(std::string_view key) const {
    return stringAt(require(key), [&] { return childPath(key); });
}
const Value& Reader::value(std::string_view key) const {
    return require(key);
}

const Value& Reader::array(std::string_view key) const {
    const Value& v = require(key);
    if (!v.is_array())
        wrongType(childPath(key), "an array", v);
    return v;
}

Reader Reader::object(std::string_view key) const {
    return Reader(require(key), childPath(key));
}

std::optional<bool> Reader::optBoolean(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return boolAt(*v, [&] { return childPath(key); });
}
std::optional<std::int64_t> Reader::optInt64(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return int64At(*v, [&] { return childPath(key); });
}
std::optional<double> Reader::optNumber(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return doubleAt(*v, [&] { return childPath(key); });
}
std::optional<std::string> Reader::optString(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return stringAt(*v, [&] { return childPath(key); });
}
const Value* Reader::optValue(std::string_view key) const {
    return find(key);
}

const Value* Reader::optArray(std::string_view key) const {
    const Value* v = find(key);
    if (v != nullptr && !v->is_array())
        wrongType(childPath(key), "an array", *v);
    return v;
}

std::optional<Reader> Reader::optObject(std::string_view key) const {
    const Value* v = find(key);
    if (v == nullptr)
        return std::nullopt;
    return Reader(*v, childPath(key));
}

std::vector<std::string> Reader::stringList(std::string_view key) const {
    return list<std::string>(key, [](const Value& e, const std::string& p) { return asString(e, p); });
}

std::optional<std::vector<std::string>> Reader::optStringList(std::string_view key) const {
    return optList<std::string>(key, [](const Value& e, const std::string& p) { return asString(e, p); });
}

} // namespace nuvel::json
