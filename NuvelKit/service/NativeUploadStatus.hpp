#pragma once

#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The service's view of an open upload (GET meetings/{id}/upload). Decoded only, strictly: a
// missing required key or a wrong type fails the whole document with json::JsonError.
struct NativeUploadStatus {
    // A part the service holds: its index counted from 0 and how many bytes it has of it.
    struct Part {
        std::int64_t index = 0;
        std::int64_t bytes = 0;

        static Part fromJson(const json::Value& value, const std::string& path = "$");
    };
    // The commit the service recorded.
    struct Commit {
        std::int64_t parts = 0;
        std::string sha256;
        bool accepted = false;

        static Commit fromJson(const json::Value& value, const std::string& path = "$");
    };

    std::int64_t contractVersion = 0;
    std::string id;
    std::string workspaceID;
    std::string state;     // carried, not interpreted
    std::string expiresAt; // as the service writes it, not parsed
    std::int64_t partBytes = 0;
    std::int64_t maxParts = 0;
    std::vector<Part> parts;
    std::optional<Commit> commit; // missing or null: none
    bool canUpload = false;
    std::int64_t heartbeatSeconds = 0;

    static NativeUploadStatus fromJson(const json::Value& value, const std::string& path = "$");
    static NativeUploadStatus decode(std::string_view text);
};

// The answer to an upload heartbeat (POST meetings/{id}/heartbeat).
struct NativeHeartbeat {
    bool ok = false;
    std::int64_t heartbeatSeconds = 0;
    std::string expiresAt; // not parsed

    static NativeHeartbeat fromJson(const json::Value& value, const std::string& path = "$");
    static NativeHeartbeat decode(std::string_view text);
};

} // namespace nuvel
