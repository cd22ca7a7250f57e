#pragma once

#include "NuvelKit/support/Json.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuvel {

// A generic JSON value carried inside meeting documents where the service leaves the shape open
// (notes, speaker warnings, corrections, links, settings). Every number is held as a double.
//
// Equality: cases must match (the number 1 is neither true nor "1"); numbers compare numerically
// (NaN never equals anything, 0 equals -0); strings and object keys by canonical equivalence;
// objects regardless of member order; arrays element by element.
class MeetingJSON {
public:
    enum class Kind { object, array, string, number, boolean, null };
    using Object = std::map<std::string, MeetingJSON>;
    using Array = std::vector<MeetingJSON>;

    MeetingJSON() = default; // null

    static MeetingJSON object(Object members);
    static MeetingJSON array(Array elements);
    static MeetingJSON string(std::string text);
    static MeetingJSON number(double value);
    static MeetingJSON boolean(bool value);
    static MeetingJSON null() { return MeetingJSON(); }

    Kind kind() const { return Kind(value_.index()); }

    // The member of an object under `key` (a member written as JSON null is the `null` case), or
    // nullptr when this is not an object or has no such member. Valid while this value lives.
    const MeetingJSON* operator[](std::string_view key) const;

    // The payload of one case, or nothing for every other case.
    const std::string* stringValue() const { return std::get_if<std::string>(&value_); }
    std::optional<double> numberValue() const;
    std::optional<bool> boolValue() const;
    const Array* arrayValue() const { return std::get_if<Array>(&value_); }
    const Object* objectValue() const { return std::get_if<Object>(&value_); }

    // Accepts any JSON value. A number that is not finite is refused (JsonError::nonFinite), so a
    // decoded value can always be encoded again.
    static MeetingJSON fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingJSON decode(std::string_view text);
    // Writes whole numbers in the Int64 range as integers. json::dump refuses a NaN or infinity
    // that was put into a value by code.
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingJSON& a, const MeetingJSON& b);

private:
    // Alternatives in the order of Kind.
    std::variant<Object, Array, std::string, double, bool, std::monostate> value_ = std::monostate{};
};

} // namespace nuvel
