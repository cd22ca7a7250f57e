#pragma once

#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The workspace contract: the service's answer to GET bootstrap. Every record decodes
// strictly (a missing required key or a wrong type fails the whole document with
// json::JsonError; nothing is defaulted) and encodes to the same JSON form, keys in snake_case.
// Optional fields decode to no value when missing or null and are left out when encoding.

// One workspace the account may open.
struct NativeWorkspace {
    std::string id;
    std::string kind;
    std::string name;
    std::string role;
    bool seat = false;

    bool operator==(const NativeWorkspace&) const = default;

    static NativeWorkspace fromJson(const json::Value& value, const std::string& path = "$");
    json::Ordered toJson() const;
};

// The selected workspace with this device's rights in it.
struct NativeWorkspaceAccess {
    std::string id;
    std::string kind;
    std::string name;
    std::string role;
    bool seat = false;
    bool canUpload = false;
    double hardMaxMeetingSeconds = 0; // the longest recording the workspace accepts

    static NativeWorkspaceAccess fromJson(const json::Value& value, const std::string& path = "$");
    json::Ordered toJson() const;
};

struct NativeLimits {
    std::int64_t partBytes = 0;
    std::int64_t maxParts = 0;
    std::int64_t maxSourceBytes = 0;
    std::int64_t uploadExpiresSeconds = 0;
    std::int64_t heartbeatSeconds = 0;
    std::optional<double> offlineAccessSeconds;

    bool operator==(const NativeLimits&) const = default;

    static NativeLimits fromJson(const json::Value& value, const std::string& path = "$");
    json::Ordered toJson() const;
};

struct NativeCapabilities {
    bool createIdempotency = false;
    bool uploadReconciliation = false;
    bool uploadHeartbeat = false;
    bool commitReconciliation = false;
    bool nativeLibrary = false;
    std::optional<bool> notepadSync;

    bool operator==(const NativeCapabilities&) const = default;

    static NativeCapabilities fromJson(const json::Value& value, const std::string& path = "$");
    json::Ordered toJson() const;
};

struct NativeBootstrap {
    // The largest part size any upload may use: 64 MiB.
    static constexpr std::int64_t maximumPartBytes = 67108864;

    std::int64_t contractVersion = 0;
    DeviceAccount account;
    std::string defaultWorkspaceID;
    std::string selectedWorkspaceID;
    std::vector<NativeWorkspace> workspaces;
    NativeWorkspaceAccess workspace;
    NativeLimits limits;
    NativeCapabilities capabilities;

    static NativeBootstrap fromJson(const json::Value& value, const std::string& path = "$");
    // Parses and decodes a whole document. Throws json::JsonError.
    static NativeBootstrap decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    // Accepts the contract for `expectedAccountID` or throws
    // RecordingError::invalidTransport, without saying which rule failed. The rules, in order:
    // version 1; the expected account; the selected workspace is the one described and is
    // listed; part size 1...64 MiB; at least one part; a positive source size; a finite,
    // positive recording limit.
    void validate(std::string_view expectedAccountID) const;
};

} // namespace nuvel
