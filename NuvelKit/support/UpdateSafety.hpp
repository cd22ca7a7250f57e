#pragma once

#include <optional>
#include <string>

namespace nuvel {

// The configuration an updater may run under: a signed HTTPS feed, a well-formed Ed25519
// public key, signatures checked before anything is unpacked, and no silent installation.
namespace UpdateSafety {

struct Configuration {
    std::optional<std::string> feedURL;     // "SUFeedURL"
    std::optional<std::string> publicEDKey; // "SUPublicEDKey"
    bool requireSignedFeed = false;         // "SURequireSignedFeed"
    bool verifyBeforeExtraction = false;    // "SUVerifyUpdateBeforeExtraction"
    bool automaticallyUpdate = true;        // "SUAutomaticallyUpdate"
    bool updatesEnabled = false;            // "NuvelEnableUpdates" is exactly "YES"
    bool allowsAutomaticUpdates = true;     // "SUAllowsAutomaticUpdates"
};

// True only when every rule holds; the rules are tried in order and the first that fails
// decides.
bool validate(const Configuration& configuration);

} // namespace UpdateSafety

} // namespace nuvel
