// A program of its own: Qt keeps its bus connections for the life of a process, so the
// "no bus" case must run in a process that never reached one.
#include "Nuvel/platform/QtNetworkMonitor.hpp"

#include <QCoreApplication>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;

TEST(QtNetworkMonitor, WithoutABusTheNetworkCountsAsUsable) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session_bus", 1);
    int argc = 1;
    char name[] = "tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QtNetworkMonitor monitor;
    EXPECT_FALSE(monitor.hasBackend());
    std::vector<bool> reports;
    monitor.start([&](bool satisfied) { reports.push_back(satisfied); });
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, (std::vector<bool>{true}));
    monitor.stop();
    monitor.stop();
}
