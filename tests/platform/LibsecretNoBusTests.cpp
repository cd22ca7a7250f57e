// A program of its own: libsecret keeps its connection for the life of a process, so the
// "no bus" case must run in a process that never reached the keyring.
#include "Nuvel/platform/LibsecretBackend.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/support/TempDir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace nuvel;

TEST(LibsecretBackend, NoBusMeansTheOwnerOnlyFileStore) {
    test::TempDir data("nobus-data");
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_FALSE(LibsecretBackend::isAvailable());

    KeychainVault vault("com.getnuvel.test", makeSystemSecretBackend());
    vault.save(viewOf("session"), "device-session");
    EXPECT_EQ(vault.load("device-session"), bytesOf("session"));
    KeychainVault files("com.getnuvel.test", std::make_shared<FileSecretBackend>(data / "Nuvel/keyring"));
    EXPECT_EQ(files.load("device-session"), bytesOf("session"));
    vault.remove("device-session");
    EXPECT_FALSE(files.load("device-session"));
}
