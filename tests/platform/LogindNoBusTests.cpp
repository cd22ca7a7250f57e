// A program of its own: Qt keeps its bus connections for the life of a process, so the
// "no bus" case must run in a process that never reached one.
#include "Nuvel/platform/QtLogind.hpp"

#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace nuvel;

TEST(QtLogind, WithoutABusNoticesAndKeepAwakeDoNothing) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session_bus", 1);
    int argc = 1;
    char name[] = "tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QtLogindSleepNotices notices;
    EXPECT_FALSE(notices.isAvailable());
    bool told = false;
    notices.start([&](std::function<void()> ready) {
        told = true;
        ready();
    });
    QCoreApplication::processEvents();
    notices.stop();
    EXPECT_FALSE(told);

    QtLogindKeepAwake keepAwake;
    EXPECT_FALSE(keepAwake.isAvailable());
    auto activity = keepAwake.begin("Saving a user-started Nuvel recording");
    ASSERT_NE(activity, nullptr);
    QCoreApplication::processEvents();
    activity.reset();
}
