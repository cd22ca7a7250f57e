#include "NuvelKit/support/UpdateSafety.hpp"

#include "NuvelKit/service/ServiceAddress.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Url.hpp"

#include <algorithm>
#include <cctype>

namespace nuvel::UpdateSafety {

namespace {

constexpr std::size_t ed25519PublicKeySize = 32;

bool keyIsCanonical(const std::string& key) {
    const std::optional<Bytes> decoded = base64Decode(key);
    if (!decoded || decoded->size() != ed25519PublicKeySize)
        return false;
    return base64Encode(*decoded) == key;
}

} // namespace

bool isUpdateAddress(std::string_view address) {
    if (address.find('$') != std::string_view::npos)
        return false;
    if (std::any_of(address.begin(), address.end(), [](unsigned char c) { return std::isspace(c) != 0; }))
        return false;
    const std::optional<Url> url = Url::parse(address);
    if (!url || !url->host() || url->host()->empty())
        return false;
    const bool secure = url->scheme() == "https" || (url->scheme() == "http" && isLoopbackHost(*url->host()));
    return secure && !url->user() && !url->password() && !url->fragment();
}

bool validate(const Configuration& c) {
    if (!c.updatesEnabled || !c.feedURL)
        return false;
    if (!isUpdateAddress(*c.feedURL))
        return false;
    if (!c.publicEDKey || !keyIsCanonical(*c.publicEDKey))
        return false;
    if (!c.requireSignedFeed || !c.verifyBeforeExtraction)
        return false;
    return !c.automaticallyUpdate && !c.allowsAutomaticUpdates;
}

bool linkEndsInside(const std::filesystem::path& link, const std::filesystem::path& top) {
    std::error_code error;
    const std::filesystem::path text = std::filesystem::read_symlink(link, error);
    if (error)
        return false;
    // An absolute text replaces the folder.
    const std::filesystem::path end = std::filesystem::weakly_canonical(link.parent_path() / text, error);
    if (error)
        return false;
    const std::filesystem::path relative = end.lexically_relative(top);
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace nuvel::UpdateSafety
