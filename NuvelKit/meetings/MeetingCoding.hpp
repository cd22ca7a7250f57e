#pragma once

// Helpers shared by the meeting-library documents: text equality by canonical equivalence,
// field-by-field comparison of optionals, lists and maps, and the map shapes the documents use.

#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel::meetingcoding {

// Service text is compared the way a reader sees it: "é" precomposed equals "e" + combining acute.
inline bool sameText(const std::string& a, const std::string& b) {
    return unicode::canonicallyEqual(a, b);
}

inline bool sameOptionalText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || sameText(*a, *b);
}

template <class T, class Eq> bool sameOptional(const std::optional<T>& a, const std::optional<T>& b, Eq eq) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || eq(*a, *b);
}

template <class T> bool sameOptional(const std::optional<T>& a, const std::optional<T>& b) {
    return sameOptional(a, b, [](const T& x, const T& y) { return x == y; });
}

template <class T, class Eq> bool sameList(const std::vector<T>& a, const std::vector<T>& b, Eq eq) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), eq);
}

template <class T> bool sameList(const std::vector<T>& a, const std::vector<T>& b) {
    return sameList(a, b, [](const T& x, const T& y) { return x == y; });
}

// The member under `key`, found by exact spelling first and then by canonical equivalence.
template <class V> const V* findKey(const std::map<std::string, V>& map, std::string_view key) {
    if (auto it = map.find(std::string(key)); it != map.end())
        return &it->second;
    const std::string wanted = unicode::nfc(key);
    for (const auto& [k, v] : map)
        if (unicode::nfc(k) == wanted)
            return &v;
    return nullptr;
}

// Maps compare by key regardless of order, keys by canonical equivalence. Every member of each
// side must find an equal member under an equivalent key on the other side.
template <class V, class Eq>
bool sameMap(const std::map<std::string, V>& a, const std::map<std::string, V>& b, Eq eq) {
    if (a.size() != b.size())
        return false;
    bool sameSpelling = std::equal(a.begin(), a.end(), b.begin(),
                                   [](const auto& x, const auto& y) { return x.first == y.first; });
    if (sameSpelling) {
        return std::equal(a.begin(), a.end(), b.begin(),
                          [&](const auto& x, const auto& y) { return eq(x.second, y.second); });
    }
    auto covers = [&](const std::map<std::string, V>& from, const std::map<std::string, V>& in) {
        std::multimap<std::string, const V*> index;
        for (const auto& [k, v] : in)
            index.emplace(unicode::nfc(k), &v);
        for (const auto& member : from) {
            auto [first, last] = index.equal_range(unicode::nfc(member.first));
            if (std::none_of(first, last,
                             [&](const auto& entry) { return eq(member.second, *entry.second); }))
                return false;
        }
        return true;
    };
    return covers(a, b) && covers(b, a);
}

template <class V> bool sameMap(const std::map<std::string, V>& a, const std::map<std::string, V>& b) {
    return sameMap(a, b, [](const V& x, const V& y) { return x == y; });
}

// Decodes every member of a required JSON object with `each(member, memberPath)`.
template <class T, class F>
std::map<std::string, T> readMap(const json::Reader& reader, std::string_view key, F&& each) {
    json::Reader object = reader.object(key);
    std::map<std::string, T> out;
    for (const auto& [name, member] : object.raw().items())
        out.emplace(name, each(member, object.childPath(name)));
    return out;
}

inline std::map<std::string, bool> readBoolMap(const json::Reader& reader, std::string_view key) {
    return readMap<bool>(reader, key,
                         [](const json::Value& v, const std::string& path) { return json::asBool(v, path); });
}

inline json::Ordered writeBoolMap(const std::map<std::string, bool>& map) {
    json::Ordered out = json::Ordered::object();
    for (const auto& [k, v] : map)
        out[k] = v;
    return out;
}

template <class T> json::Ordered writeList(const std::vector<T>& list) {
    json::Ordered out = json::Ordered::array();
    for (const T& element : list)
        out.push_back(element.toJson());
    return out;
}

template <class T> std::vector<T> readList(const json::Reader& reader, std::string_view key) {
    return reader.list<T>(key,
                          [](const json::Value& v, const std::string& path) { return T::fromJson(v, path); });
}

template <class T>
std::optional<std::vector<T>> readOptionalList(const json::Reader& reader, std::string_view key) {
    return reader.optList<T>(
        key, [](const json::Value& v, const std::string& path) { return T::fromJson(v, path); });
}

// An optional open-ended member: missing or JSON null is absent (never the null case).
inline std::optional<MeetingJSON> readOptionalJSON(const json::Reader& reader, std::string_view key) {
    const json::Value* v = reader.optValue(key);
    if (v == nullptr)
        return std::nullopt;
    return MeetingJSON::fromJson(*v, reader.childPath(key));
}

inline void putOptionalJSON(json::Ordered& object, const char* key, const std::optional<MeetingJSON>& value) {
    if (value)
        object[key] = value->toJson();
}

} // namespace nuvel::meetingcoding
