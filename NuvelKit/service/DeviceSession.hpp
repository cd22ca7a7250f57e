#pragma once

#include "NuvelKit/support/Json.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The account a device is signed in to. JSON: {"id", "email", "name"?}; a missing or null
// name is no name, and no name is left out when encoding. An absent name differs from an
// empty one.
struct DeviceAccount {
    std::string id;
    std::string email;
    std::optional<std::string> name;

    bool operator==(const DeviceAccount&) const = default;

    // Strict: "id" and "email" are required strings. Throws json::JsonError.
    static DeviceAccount fromJson(const json::Value& value, const std::string& path = "$");
    json::Ordered toJson() const;
};

// The signed-in device: its bearer token and account, as the token exchange answers and as
// the keychain keeps it. JSON: {"token", "account"}.
struct DeviceSession {
    std::string token;
    DeviceAccount account;

    static DeviceSession fromJson(const json::Value& value, const std::string& path = "$");
    // Parses and decodes a whole document. Throws json::JsonError.
    static DeviceSession decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

} // namespace nuvel
