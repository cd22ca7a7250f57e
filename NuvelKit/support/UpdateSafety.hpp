#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The configuration an updater may run under: a signed HTTPS feed, a well-formed Ed25519
// public key, signatures checked before anything is unpacked, and no silent installation; and
// where the links of what it unpacks may lead.
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

// An address the updater may fetch from (the feed and each release's archive): https with a
// host, or plain http to this machine only (a local test server), as the service clients take
// it; no user, password or fragment, no "$" or white space. A file:// or other scheme is refused.
bool isUpdateAddress(std::string_view address);

// True only when every rule holds; the rules are tried in order and the first that fails
// decides.
bool validate(const Configuration& configuration);

// Whether the symbolic link `link`, found in the folder `top` (a real path), ends inside `top`:
// the link's own text, taken from the folder that holds it, is followed through every link on its
// way as far as the path exists, so a link to something missing is judged by where it leads, not
// by its own place. A loop, or a link that cannot be read, does not end inside.
bool linkEndsInside(const std::filesystem::path& link, const std::filesystem::path& top);

} // namespace UpdateSafety

} // namespace nuvel
