#include "NuvelKit/support/UpdateSafety.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Url.hpp"

#include <algorithm>
#include <cctype>

namespace nuvel::UpdateSafety {

namespace {

constexpr std::size_t ed25519PublicKeySize = 32;

bool feedIsSafe(const std::string& feed) {
    if (feed.find('$') != std::string::npos)
        return false;
    if (std::any_of(feed.begin(), feed.end(), [](unsigned char c) { return std::isspace(c) != 0; }))
        return false;
    const std::optional<Url> url = Url::parse(feed);
    if (!url || url->scheme() != "https")
        return false;
    if (!url->host() || url->host()->empty())
        return false;
    return !url->user() && !url->password() && !url->fragment();
}

bool keyIsCanonical(const std::string& key) {
    const std::optional<Bytes> decoded = base64Decode(key);
    if (!decoded || decoded->size() != ed25519PublicKeySize)
        return false;
    return base64Encode(*decoded) == key;
}

} // namespace

bool validate(const Configuration& c) {
    if (!c.updatesEnabled || !c.feedURL)
        return false;
    if (!feedIsSafe(*c.feedURL))
        return false;
    if (!c.publicEDKey || !keyIsCanonical(*c.publicEDKey))
        return false;
    if (!c.requireSignedFeed || !c.verifyBeforeExtraction)
        return false;
    return !c.automaticallyUpdate && !c.allowsAutomaticUpdates;
}

} // namespace nuvel::UpdateSafety
