#pragma once

#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Error.hpp"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::json {

using Value = nlohmann::json;
// Insertion-ordered object for encoders: keys come out in the order they were written.
using Ordered = nlohmann::ordered_json;

class JsonError : public Error {
public:
    enum class Code {
        syntax,       // not JSON, or nested too deeply
        missingKey,   // a required key is absent or null
        wrongType,    // a value of another JSON type
        outOfRange,   // an integer that does not fit, or a fraction where a whole number is required
        nonFinite,    // a number that overflows a double
        invalidValue, // a value of the right type that the document does not allow
        unencodable,  // a value that cannot be written (invalid UTF-8, a non-finite number)
    };
    JsonError(Code code, std::string path, std::string detail);
    Code code() const noexcept { return code_; }
    const std::string& path() const noexcept { return path_; }

private:
    Code code_;
    std::string path_;
};

// Parses a whole document. Rejects syntax errors, nesting deeper than 512 and numbers that
// overflow a double ("1e400"), so every value handed on is finite.
Value parse(std::string_view text);
inline Value parse(ByteView bytes) {
    return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A double for encoders: a whole number within the Int64 range is written as an integer ("12",
// not "12.0"), anything else as the shortest text that reads back to the same double. A NaN or
// infinity is kept, so that dump() refuses it.
Ordered number(double d);

// Compact output, UTF-8 as is. Throws JsonError::unencodable for invalid UTF-8 or non-finite numbers.
std::string dump(const Ordered& value);
std::string dump(const Value& value);

// Strict conversions of single values. `path` names the value in error messages.
bool asBool(const Value& v, const std::string& path = "$");
std::int64_t asInt64(const Value& v, const std::string& path = "$");
int asInt(const Value& v, const std::string& path = "$");
double asDouble(const Value& v, const std::string& path = "$");
const std::string& asString(const Value& v, const std::string& path = "$");

// A strict reader over one JSON object.
//  - required: absent or null fails with missingKey, a wrong type with wrongType;
//  - optional: absent or null gives nullopt, a present value must still have the right type;
//  - Bool accepts only true and false; Int accepts whole numbers in range (3.0 yes, 3.5 no);
//  - Double accepts any finite number; unknown keys are ignored.
class Reader {
public:
    // Fails with wrongType unless `object` is a JSON object.
    explicit Reader(const Value& object, std::string path = "$");

    bool has(std::string_view key) const; // present and not null

    bool boolean(std::string_view key) const;
    std::int64_t int64(std::string_view key) const;
    int integer(std::string_view key) const;
    double number(std::string_view key) const;
    std::string string(std::string_view key) const;
    const Value& value(std::string_view key) const; // any non-null value
    const Value& array(std::string_view key) const;
    Reader object(std::string_view key) const;

    std::optional<bool> optBoolean(std::string_view key) const;
    std::optional<std::int64_t> optInt64(std::string_view key) const;
    std::optional<double> optNumber(std::string_view key) const;
    std::optional<std::string> optString(std::string_view key) const;
    const Value* optValue(std::string_view key) const;
    const Value* optArray(std::string_view key) const;
    std::optional<Reader> optObject(std::string_view key) const;

    // Decodes every element of a required array with `each(element, elementPath)`.
    template <class T, class F> std::vector<T> list(std::string_view key, F&& each) const {
        const Value& a = array(key);
        return decodeList<T>(a, childPath(key), each);
    }
    template <class T, class F> std::optional<std::vector<T>> optList(std::string_view key, F&& each) const {
        const Value* a = optArray(key);
        if (a == nullptr)
            return std::nullopt;
        return decodeList<T>(*a, childPath(key), each);
    }
    // Decodes every element of an array of objects with `each(Reader)`; an element that is not an
    // object fails with wrongType.
    template <class T, class F> std::vector<T> objectList(std::string_view key, F&& each) const {
        return list<T>(key, [&](const Value& e, const std::string& p) { return each(Reader(e, p)); });
    }
    template <class T, class F>
    std::optional<std::vector<T>> optObjectList(std::string_view key, F&& each) const {
        return optList<T>(key, [&](const Value& e, const std::string& p) { return each(Reader(e, p)); });
    }
    std::vector<std::string> stringList(std::string_view key) const;
    std::optional<std::vector<std::string>> optStringList(std::string_view key) const;

    const Value& raw() const { return *object_; }
    const std::string& path() const { return path_; }
    std::string childPath(std::string_view key) const;

    template <class T, class F>
    static std::vector<T> decodeList(const Value& array, const std::string& path, F&& each) {
        std::vector<T> out;
        out.reserve(array.size());
        std::size_t i = 0;
        for (const Value& element : array) {
            out.push_back(each(element, path + "[" + std::to_string(i) + "]"));
            ++i;
        }
        return out;
    }

private:
    const Value* find(std::string_view key) const; // nullptr when absent or null
    const Value& require(std::string_view key) const;

    const Value* object_;
    std::string path_;
};

// Writes `key` only when the optional holds a value.
template <class T> void putOptional(Ordered& object, const char* key, const std::optional<T>& value) {
    if (value)
        object[key] = *value;
}

} // namespace nuvel::json
