#pragma once

// Shared by the meeting document tests: golden files and decoding failures.

#include "NuvelKit/support/Json.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <string_view>

namespace nuvel::test {

inline std::string golden(const std::string& name) {
    std::ifstream file(std::string(NUVEL_SOURCE_DIR) + "/tests/meetings/golden/" + name, std::ios::binary);
    if (!file)
        throw std::runtime_error("missing golden file " + name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The golden text as our encoders write it: compact, keys in the order the file lists them.
inline std::string compact(std::string_view text) {
    return json::Ordered::parse(text).dump();
}

// Decoding the golden file and encoding the value again gives the file's own bytes.
template <class T> T expectGoldenRoundTrip(const std::string& name) {
    const std::string text = golden(name);
    T value = T::decode(text);
    EXPECT_EQ(value.encode(), compact(text)) << name;
    return value;
}

// The JsonError code of a failed decode; fails the test when decoding succeeds.
template <class T> json::JsonError::Code decodeFailure(std::string_view text) {
    try {
        T::decode(text);
    } catch (const json::JsonError& e) {
        return e.code();
    }
    ADD_FAILURE() << "decoded: " << text;
    return json::JsonError::Code::invalidValue;
}

// The coding path of a failed decode.
template <class T> std::string failurePath(std::string_view text) {
    try {
        T::decode(text);
    } catch (const json::JsonError& e) {
        return e.path();
    }
    ADD_FAILURE() << "decoded: " << text;
    return {};
}

// Replaces one member of a golden document (given as a JSON pointer) or removes it (nullopt).
inline std::string edited(const std::string& name, const std::string& pointer,
                          const std::optional<json::Value>& replacement) {
    json::Ordered document = json::Ordered::parse(golden(name));
    json::Ordered::json_pointer at(pointer);
    if (replacement) {
        document[at] = json::Ordered::parse(replacement->dump());
    } else {
        document[at.parent_pointer()].erase(at.back());
    }
    return document.dump();
}

} // namespace nuvel::test
