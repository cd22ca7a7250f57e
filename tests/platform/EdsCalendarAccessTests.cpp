// Calendar access where Evolution Data Server cannot be reached: no session bus at all, or a
// session bus on which no calendar service can start.
#include "Nuvel/platform/EdsCalendarStore.hpp"
#include "tests/platform/CalendarServerSession.hpp"
#include "tests/support/TempDir.hpp"

#include <chrono>
#include <gtest/gtest.h>

using namespace nuvel;

namespace {

void expectDenied(EdsCalendarStore& store) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(store.authorizationStatus(), CalendarAuthorization::denied);
    EXPECT_FALSE(store.requestFullAccess());
    EXPECT_THROW(store.events(Date::now(), Date::now().adding(3600)), CalendarStoreError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

} // namespace

// Each case in a process of its own: GLib keeps the session bus it first reached.
TEST(EdsCalendarAccess, NoSessionBusMeansDenied) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    EdsCalendarStore store;
    expectDenied(store);
}

TEST(EdsCalendarAccess, ABusWithoutTheCalendarServiceMeansDenied) {
    test::TempDir folder("bus");
    test::PrivateBus bus(test::emptyBusConfig(folder.path()));
    EdsCalendarStore store;
    expectDenied(store);
}
