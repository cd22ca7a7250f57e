#include "NuvelKit/meetings/MeetingJSON.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
namespace {

// The parser stops at this depth already; values built by code are held to it as well, so the
// recursion below stays bounded.
constexpr int maxDepth = 512;

MeetingJSON decodeValue(const json::Value& v, const std::string& path, int depth) {
    using Type = json::Value::value_t;
    if (depth > maxDepth)
        throw json::JsonError(json::JsonError::Code::syntax, path, "nested too deeply");
    switch (v.type()) {
    case Type::null:
        return MeetingJSON::null();
    case Type::boolean:
        return MeetingJSON::boolean(v.get<bool>());
    case Type::string:
        return MeetingJSON::string(v.get_ref<const std::string&>());
    case Type::number_integer:
    case Type::number_unsigned:
    case Type::number_float:
        return MeetingJSON::number(json::asDouble(v, path));
    case Type::array: {
        MeetingJSON::Array elements;
        elements.reserve(v.size());
        std::size_t i = 0;
        for (const json::Value& element : v)
            elements.push_back(decodeValue(element, path + "[" + std::to_string(i++) + "]", depth + 1));
        return MeetingJSON::array(std::move(elements));
    }
    case Type::object: {
        MeetingJSON::Object members;
        for (const auto& [key, member] : v.items())
            members.emplace(key, decodeValue(member, std::string(path).append(".").append(key), depth + 1));
        return MeetingJSON::object(std::move(members));
    }
    default:
        throw json::JsonError(json::JsonError::Code::wrongType, path,
                              std::string("expected a JSON value, found ") + v.type_name());
    }
}

} // namespace

MeetingJSON MeetingJSON::object(Object members) {
    MeetingJSON j;
    j.value_ = std::move(members);
    return j;
}
MeetingJSON MeetingJSON::array(Array elements) {
    MeetingJSON j;
    j.value_ = std::move(elements);
    return j;
}
MeetingJSON MeetingJSON::string(std::string text) {
    MeetingJSON j;
    j.value_ = std::move(text);
    return j;
}
MeetingJSON MeetingJSON::number(double value) {
    MeetingJSON j;
    j.value_ = value;
    return j;
}
MeetingJSON MeetingJSON::boolean(bool value) {
    MeetingJSON j;
    j.value_ = value;
    return j;
}

const MeetingJSON* MeetingJSON::operator[](std::string_view key) const {
    const Object* members = objectValue();
    return members == nullptr ? nullptr : meetingcoding::findKey(*members, key);
}

std::optional<double> MeetingJSON::numberValue() const {
    if (const double* d = std::get_if<double>(&value_))
        return *d;
    return std::nullopt;
}

std::optional<bool> MeetingJSON::boolValue() const {
    if (const bool* b = std::get_if<bool>(&value_))
        return *b;
    return std::nullopt;
}

MeetingJSON MeetingJSON::fromJson(const json::Value& value, const std::string& path) {
    return decodeValue(value, path, 0);
}

MeetingJSON MeetingJSON::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingJSON::toJson() const {
    switch (kind()) {
    case Kind::object: {
        json::Ordered out = json::Ordered::object();
        for (const auto& [key, member] : std::get<Object>(value_))
            out[key] = member.toJson();
        return out;
    }
    case Kind::array: {
        json::Ordered out = json::Ordered::array();
        for (const MeetingJSON& element : std::get<Array>(value_))
            out.push_back(element.toJson());
        return out;
    }
    case Kind::string:
        return json::Ordered(std::get<std::string>(value_));
    case Kind::number:
        return json::number(std::get<double>(value_));
    case Kind::boolean:
        return json::Ordered(std::get<bool>(value_));
    case Kind::null:
        break;
    }
    return json::Ordered(nullptr);
}

std::string MeetingJSON::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingJSON& a, const MeetingJSON& b) {
    if (a.kind() != b.kind())
        return false;
    switch (a.kind()) {
    case MeetingJSON::Kind::object:
        return meetingcoding::sameMap(*a.objectValue(), *b.objectValue());
    case MeetingJSON::Kind::array:
        return meetingcoding::sameList(*a.arrayValue(), *b.arrayValue());
    case MeetingJSON::Kind::string:
        return meetingcoding::sameText(*a.stringValue(), *b.stringValue());
    case MeetingJSON::Kind::number:
        return *a.numberValue() == *b.numberValue();
    case MeetingJSON::Kind::boolean:
        return *a.boolValue() == *b.boolValue();
    case MeetingJSON::Kind::null:
        return true;
    }
    return false;
}

} // namespace nuvel
