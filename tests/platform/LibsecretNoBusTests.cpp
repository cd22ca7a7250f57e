// A program of its own: libsecret keeps its connection for the life of a process, so the
// "no bus" case must run in a process that never reached the keyring.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Nuvel/platform/LibsecretBackend.hpp"

using namespace nuvel;

TEST(LibsecretBackend, NoBusMeansTheOwnerOnlyFileStore) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EXPECT_FALSE(LibsecretBackend::isAvailable());
    auto backend = makeSystemSecretBackend();
    EXPECT_NE(dynamic_cast<FileSecretBackend*>(backend.get()), nullptr);
}
