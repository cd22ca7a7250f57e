#include "Nuvel/platform/LibsecretBackend.hpp"
#include "NuvelKit/store/KeychainVault.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace nuvel;

namespace {
bool keyringRequired() {
    return std::getenv("NUVEL_TEST_KEYRING") != nullptr;
}
} // namespace

TEST(LibsecretBackend, VaultRoundTripsThroughTheDesktopKeyring) {
    if (!LibsecretBackend::isAvailable()) {
        if (keyringRequired())
            FAIL() << "no Secret Service answers in the test environment";
        GTEST_SKIP() << "no Secret Service (run under scripts/test-env)";
    }
    KeychainVault vault("com.getnuvel.test." + std::to_string(::getpid()),
                        std::make_shared<LibsecretBackend>());
    EXPECT_FALSE(vault.load("device-session"));
    vault.save(viewOf(R"({"token":"t"})"), "device-session");
    vault.save(viewOf(R"({"token":"u"})"), "device-session");
    EXPECT_EQ(vault.load("device-session"), bytesOf(R"({"token":"u"})"));
    vault.remove("device-session");
    EXPECT_FALSE(vault.load("device-session"));
    EXPECT_NO_THROW(vault.remove("device-session"));

    try {
        vault.mediaKey("suffix", true);
        FAIL() << "made a key although one was required to exist";
    } catch (const VaultError& e) {
        EXPECT_EQ(e.status(), keychainStatus::itemNotFound);
    }
    EXPECT_FALSE(vault.load("media-v1-suffix"));
    SymmetricKey key = vault.mediaKey("suffix", false);
    EXPECT_EQ(vault.mediaKey("suffix", true), key);
    Bytes binary{0, 0xff, 0, 0x10};
    vault.save(binary, "binary");
    EXPECT_EQ(vault.load("binary"), binary);
    vault.remove("binary");
    vault.remove("media-v1-suffix");
}
