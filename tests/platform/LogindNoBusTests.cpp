// A program of its own, for the "no bus" case (see NoBusApplication).
#include "Nuvel/platform/QtLogind.hpp"
#include "tests/platform/NoBusApplication.hpp"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace nuvel;

TEST(QtLogind, WithoutABusNoticesAndKeepAwakeDoNothing) {
    test::NoBusApplication app;

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
