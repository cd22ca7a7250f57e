// Device removal notices from the private sound server of scripts/test-env. Other tests add and
// remove sources on the same server at the same time, so counts are only ever "at least".
#include "Nuvel/platform/PulseDeviceRemovals.hpp"
#include "tests/platform/PulseTestSupport.hpp"

#include <atomic>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

TEST(PulseDeviceRemovals, OnlyARemovedInputDeviceCounts) {
    auto event = [](PulseEvent::Kind kind, bool monitor) {
        PulseEvent e;
        e.kind = kind;
        e.isMonitor = monitor;
        return e;
    };
    EXPECT_TRUE(PulseDeviceRemovals::isInputDeviceRemoval(event(PulseEvent::Kind::sourceRemoved, false)));
    EXPECT_FALSE(PulseDeviceRemovals::isInputDeviceRemoval(event(PulseEvent::Kind::sourceRemoved, true)));
    for (auto kind :
         {PulseEvent::Kind::sourceAdded, PulseEvent::Kind::sourceChanged, PulseEvent::Kind::sinkInputRemoved,
          PulseEvent::Kind::defaultSourceChanged, PulseEvent::Kind::disconnected})
        EXPECT_FALSE(PulseDeviceRemovals::isInputDeviceRemoval(event(kind, false)));
}

TEST(PulseDeviceRemovals, AnInputDeviceThatGoesAwayIsToldUntilStopped) {
    NUVEL_CONNECT_PULSE(connection);
    PulseDeviceRemovals removals(connection);
    std::atomic<int> removed{0};
    removals.start([&] { ++removed; });

    const std::string microphone = uniqueName("removalmic");
    auto source = privateSource(microphone);
    ASSERT_TRUE(source->loaded());
    source->unload();
    EXPECT_TRUE(waitFor([&] { return removed.load() > 0; }, 30.0));

    // Once stopped, nothing more is told.
    removals.stop();
    int told = removed.load();
    LoadedModule again(nullSourceModule(microphone + "_again"));
    ASSERT_TRUE(again.loaded());
    again.unload();
    ASSERT_TRUE(waitFor([&] { return !sourceListed(microphone + "_again"); }, 30.0));
    EXPECT_EQ(removed.load(), told);
}

TEST(PulseDeviceRemovals, WithoutASoundServerNothingIsTold) {
    PulseDeviceRemovals removals(nullptr);
    bool told = false;
    removals.start([&] { told = true; });
    removals.stop();
    EXPECT_FALSE(told);
}
