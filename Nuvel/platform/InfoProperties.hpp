#pragma once

#include "NuvelKit/support/Error.hpp"
#include "NuvelKit/support/Json.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace nuvel {

// A file beside the program that cannot be used; the text says why, for the user.
class InfoPropertiesError : public Error {
public:
    using Error::Error;
};

// The program's information properties: "Info.json" beside the executable, a JSON object.
// It names the service's origin and its web origin, and carries the updater's keys.
class InfoProperties {
public:
    static constexpr const char* fileName = "Info.json";
    static constexpr const char* serviceOriginKey = "NuvelServiceOrigin";
    static constexpr const char* webOriginKey = "NuvelWebOrigin";

    // Reads and parses the file. Throws InfoPropertiesError when it is missing, is not JSON or
    // is not an object.
    static InfoProperties load(const std::filesystem::path& file);
    // The folder of the running executable (links resolved).
    static std::filesystem::path executableFolder();

    InfoProperties() = default;
    explicit InfoProperties(json::Value values);

    // A key's value of that type; none when absent or of another type.
    std::optional<std::string> string(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    const json::Value& values() const { return values_; }

    // The service origin ("https://host[:port]", or http on the loopback interface), without
    // a trailing slash. Throws InfoPropertiesError when it is absent or not such an origin.
    std::string serviceOrigin() const;
    // The web origin (the sign-in pages live there); the service origin when absent. Same rules.
    std::string webOrigin() const;

private:
    std::string origin(const std::string& key) const;

    json::Value values_ = json::Value::object();
};

} // namespace nuvel
