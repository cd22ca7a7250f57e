#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Ed25519.hpp"
#include "NuvelKit/support/UpdateSafety.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>

namespace nuvel {
namespace {

// 32 bytes 0x00..0x1f, canonically encoded.
const std::string key = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

UpdateSafety::Configuration safe() {
    UpdateSafety::Configuration c;
    c.feedURL = "https://updates.nuvel.example/appcast.json";
    c.publicEDKey = key;
    c.requireSignedFeed = true;
    c.verifyBeforeExtraction = true;
    c.automaticallyUpdate = false;
    c.updatesEnabled = true;
    c.allowsAutomaticUpdates = false;
    return c;
}

TEST(UpdateSafety, acceptsOnlyALockedDownConfiguration) {
    using Change = std::function<void(UpdateSafety::Configuration&)>;
    const std::vector<std::tuple<const char*, Change, bool>> cases = {
        {"as configured", [](auto&) {}, true},
        {"feed with a query", [](auto& c) { c.feedURL = "https://u.example:8443/feed?channel=stable"; },
         true},
        {"updates off", [](auto& c) { c.updatesEnabled = false; }, false},
        {"no feed", [](auto& c) { c.feedURL.reset(); }, false},
        {"dollar in feed", [](auto& c) { c.feedURL = "https://u.example/$(VERSION)"; }, false},
        {"space in feed", [](auto& c) { c.feedURL = "https://u.example/a feed"; }, false},
        {"line break in feed", [](auto& c) { c.feedURL = "https://u.example/feed\n"; }, false},
        {"not a URL", [](auto& c) { c.feedURL = "updates"; }, false},
        {"plain http", [](auto& c) { c.feedURL = "http://u.example/feed"; }, false},
        {"plain http to this machine", [](auto& c) { c.feedURL = "http://127.0.0.1:8080/feed"; }, true},
        {"plain http to a name of this machine", [](auto& c) { c.feedURL = "http://127.0.0.1.nip.io/feed"; },
         false},
        {"a local file", [](auto& c) { c.feedURL = "file:///etc/passwd"; }, false},
        {"HTTPS in capitals", [](auto& c) { c.feedURL = "HTTPS://u.example/feed"; }, false},
        {"no host", [](auto& c) { c.feedURL = "https:///feed"; }, false},
        {"user", [](auto& c) { c.feedURL = "https://ada@u.example/feed"; }, false},
        {"user and password", [](auto& c) { c.feedURL = "https://ada:pw@u.example/feed"; }, false},
        {"fragment", [](auto& c) { c.feedURL = "https://u.example/feed#top"; }, false},
        {"no key", [](auto& c) { c.publicEDKey.reset(); }, false},
        {"key not base64", [](auto& c) { c.publicEDKey = "not base64!"; }, false},
        {"key with a line break", [](auto& c) { c.publicEDKey = key + "\n"; }, false},
        {"key of 31 bytes", [](auto& c) { c.publicEDKey = base64Encode(Bytes(31, 7)); }, false},
        {"key of 33 bytes", [](auto& c) { c.publicEDKey = base64Encode(Bytes(33, 7)); }, false},
        {"key not canonical", [](auto& c) { c.publicEDKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9="; },
         false},
        {"unsigned feed allowed", [](auto& c) { c.requireSignedFeed = false; }, false},
        {"no check before extraction", [](auto& c) { c.verifyBeforeExtraction = false; }, false},
        {"silent installation", [](auto& c) { c.automaticallyUpdate = true; }, false},
        {"automatic updates allowed", [](auto& c) { c.allowsAutomaticUpdates = true; }, false},
        {"the defaults of absent keys",
         [](auto& c) {
             c = UpdateSafety::Configuration{c.feedURL, c.publicEDKey};
         },
         false},
    };
    for (const auto& [name, change, accepted] : cases) {
        UpdateSafety::Configuration c = safe();
        change(c);
        EXPECT_EQ(UpdateSafety::validate(c), accepted) << name;
    }
}

TEST(Ed25519, verifiesRealSignaturesOnly) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pair(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                             &EVP_PKEY_free);
    Bytes publicKey(32);
    std::size_t size = publicKey.size();
    ASSERT_EQ(EVP_PKEY_get_raw_public_key(pair.get(), publicKey.data(), &size), 1);
    const Bytes message = bytesOf("the archive's bytes");
    Bytes signature(64);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pair.get());
    size = signature.size();
    ASSERT_EQ(EVP_DigestSign(context.get(), signature.data(), &size, message.data(), message.size()), 1);

    Bytes otherMessage = message;
    otherMessage.back() ^= 1;
    Bytes otherSignature = signature;
    otherSignature[10] ^= 1;
    Bytes otherKey = publicKey;
    otherKey[0] ^= 1;
    EXPECT_TRUE(ed25519::verify(publicKey, message, signature));
    EXPECT_FALSE(ed25519::verify(publicKey, otherMessage, signature));
    EXPECT_FALSE(ed25519::verify(publicKey, message, otherSignature));
    EXPECT_FALSE(ed25519::verify(otherKey, message, signature));
    EXPECT_FALSE(ed25519::verify(ByteView(publicKey).first(31), message, signature));
    EXPECT_FALSE(ed25519::verify(publicKey, message, ByteView(signature).first(63)));
}

} // namespace
} // namespace nuvel
