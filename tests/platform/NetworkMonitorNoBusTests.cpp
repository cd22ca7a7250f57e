// A program of its own, for the "no bus" case (see NoBusApplication).
#include "Nuvel/platform/QtNetworkMonitor.hpp"
#include "tests/platform/NoBusApplication.hpp"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;

TEST(QtNetworkMonitor, WithoutABusTheNetworkCountsAsUsable) {
    test::NoBusApplication app;

    QtNetworkMonitor monitor;
    EXPECT_FALSE(monitor.hasBackend());
    std::vector<bool> reports;
    monitor.start([&](bool satisfied) { reports.push_back(satisfied); });
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, (std::vector<bool>{true}));
    monitor.stop();
    monitor.stop();
}
