#include "NuvelKit/ring/FrameRing.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <vector>

namespace nuvel {
namespace {

struct RingDeleter {
    void operator()(FrameRing* r) const { ring::destroy(r); }
};
using RingPtr = std::unique_ptr<FrameRing, RingDeleter>;

RingPtr makeRing(std::uint32_t slots, std::uint32_t framesPerSlot) {
    RingPtr r(ring::create(slots, framesPerSlot));
    EXPECT_NE(r, nullptr);
    return r;
}

// A buffer of `channels` channels, each filled with its own constant.
struct Buffer {
    std::vector<std::vector<float>> data;
    std::vector<const float*> pointers;

    Buffer(std::vector<float> values, std::size_t frames) {
        for (float v : values) {
            data.emplace_back(frames, v);
        }
        for (auto& channel : data) {
            pointers.push_back(channel.data());
        }
    }
    const float* const* channels() const { return pointers.data(); }
    int count() const { return int(pointers.size()); }
    std::uint32_t frames() const { return data.empty() ? 0 : std::uint32_t(data[0].size()); }
};

bool pushBuffer(FrameRing* r, const Buffer& b, double hostTime = 1.0, double rate = 48000.0) {
    return ring::push(r, b.channels(), b.count(), b.frames(), hostTime, rate);
}

TEST(FrameRing, CreationBounds) {
    EXPECT_EQ(ring::create(1, 8), nullptr);
    EXPECT_EQ(ring::create(257, 8), nullptr);
    EXPECT_EQ(ring::create(4, 0), nullptr);
    EXPECT_EQ(ring::create(4, 32769), nullptr);

    RingPtr smallest = makeRing(2, 1);
    EXPECT_EQ(smallest->slots, 2u);
    EXPECT_EQ(smallest->framesPerSlot, 1u);
    RingPtr largest = makeRing(256, 32768);
    EXPECT_EQ(largest->slots, 256u);
    EXPECT_EQ(largest->framesPerSlot, 32768u);
    // The whole sample store is usable: fill the last slot and read it back.
    for (int i = 0; i < 255; ++i) {
        ASSERT_TRUE(pushBuffer(largest.get(), Buffer({0.0f}, 1)));
    }
    ASSERT_TRUE(pushBuffer(largest.get(), Buffer({0.25f}, 32768)));
    std::vector<float> out(32768);
    for (int i = 0; i < 255; ++i) {
        ASSERT_EQ(ring::popFrames(largest.get(), out.data(), 32768), 1u);
    }
    ASSERT_EQ(ring::popFrames(largest.get(), out.data(), 32768), 32768u);
    EXPECT_EQ(out.back(), 0.25f);

    EXPECT_FALSE(ring::overflowed(largest.get()));
    EXPECT_TRUE(ring::isIdle(largest.get()));
    ring::destroy(nullptr);
}

TEST(FrameRing, EmptyAndPausedPushesOnlyTouchTheCallbackTime) {
    RingPtr r = makeRing(4, 16);
    Buffer empty({0.5f}, 0);
    EXPECT_TRUE(ring::push(r.get(), empty.channels(), 1, 0, 7.5, 48000));
    EXPECT_EQ(ring::lastCallbackHostTime(r.get()), 7.5);
    EXPECT_EQ(ring::totalFrames(r.get()), 0u);
    EXPECT_EQ(ring::level(r.get()), 0.0f);
    EXPECT_EQ(r->writeCount.load(), 0u);

    ring::setPaused(r.get(), true);
    Buffer many(std::vector<float>(33, 0.5f), 8);
    EXPECT_TRUE(pushBuffer(r.get(), many, 9.0));
    EXPECT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 8), 9.5));
    EXPECT_EQ(ring::lastCallbackHostTime(r.get()), 9.5);
    EXPECT_EQ(ring::totalFrames(r.get()), 0u);
    EXPECT_EQ(ring::level(r.get()), 0.0f);
    EXPECT_FALSE(ring::overflowed(r.get()));
    std::vector<float> out(16);
    EXPECT_EQ(ring::popFrames(r.get(), out.data(), 16), 0u);
}

TEST(FrameRing, RefusedPushesSetStickyOverflow) {
    struct Case {
        const char* name;
        int channels;
        std::uint32_t frames;
    };
    for (const Case& c : {Case{"no channels", 0, 8}, Case{"33 channels", 33, 8}, Case{"too long", 1, 17}}) {
        SCOPED_TRACE(c.name);
        RingPtr r = makeRing(4, 16);
        Buffer b(std::vector<float>(std::size_t(std::max(c.channels, 1)), 0.5f), c.frames);
        EXPECT_FALSE(ring::push(r.get(), b.channels(), c.channels, c.frames, 3.0, 48000));
        EXPECT_TRUE(ring::overflowed(r.get()));
        EXPECT_EQ(ring::lastCallbackHostTime(r.get()), 3.0);
        // Every later push is refused, also a valid one and an empty one.
        EXPECT_FALSE(pushBuffer(r.get(), Buffer({0.5f}, 4), 4.0));
        EXPECT_FALSE(pushBuffer(r.get(), Buffer({0.5f}, 0), 5.0));
        EXPECT_EQ(ring::lastCallbackHostTime(r.get()), 5.0);
        EXPECT_EQ(ring::totalFrames(r.get()), 0u);
        EXPECT_TRUE(ring::isIdle(r.get()));
    }
}

TEST(FrameRing, NullChannelPointersAreRefusedNotRead) {
    RingPtr r = makeRing(4, 16);
    EXPECT_FALSE(ring::push(r.get(), nullptr, 1, 8, 1.0, 48000));
    EXPECT_TRUE(ring::overflowed(r.get()));

    RingPtr s = makeRing(4, 16);
    std::vector<float> left(8, 0.5f);
    const float* channels[] = {left.data(), nullptr};
    EXPECT_FALSE(ring::push(s.get(), channels, 2, 8, 1.0, 48000));
    EXPECT_TRUE(ring::overflowed(s.get()));
}

TEST(FrameRing, FullRingRefusesAndStaysRefusingAfterAPop) {
    RingPtr r = makeRing(2, 8);
    EXPECT_TRUE(pushBuffer(r.get(), Buffer({0.1f}, 8), 1.0));
    EXPECT_TRUE(pushBuffer(r.get(), Buffer({0.2f}, 8), 2.0));
    EXPECT_FALSE(pushBuffer(r.get(), Buffer({0.3f}, 8), 3.0));
    EXPECT_TRUE(ring::overflowed(r.get()));
    EXPECT_EQ(ring::totalFrames(r.get()), 16u);

    std::vector<float> out(8);
    double hostTime = 0;
    EXPECT_EQ(ring::pop(r.get(), out.data(), 8, &hostTime, nullptr), 8u);
    EXPECT_EQ(hostTime, 1.0);
    EXPECT_FALSE(pushBuffer(r.get(), Buffer({0.4f}, 8), 4.0));
    // What was stored before the overflow stays readable.
    EXPECT_EQ(ring::pop(r.get(), out.data(), 8, &hostTime, nullptr), 8u);
    EXPECT_EQ(hostTime, 2.0);
    EXPECT_EQ(out[0], 0.2f);
    EXPECT_EQ(ring::popFrames(r.get(), out.data(), 8), 0u);
}

TEST(FrameRing, DownmixAndLevel) {
    RingPtr r = makeRing(8, 64);
    std::vector<float> out(64);

    ASSERT_TRUE(pushBuffer(r.get(), Buffer({1.0f, -1.0f}, 64)));
    EXPECT_EQ(ring::level(r.get()), 0.0f);
    ASSERT_EQ(ring::popFrames(r.get(), out.data(), 64), 64u);
    for (float s : out) {
        ASSERT_EQ(s, 0.0f);
    }

    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 64)));
    EXPECT_FLOAT_EQ(ring::level(r.get()), 0.5f);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({2.0f}, 64)));
    EXPECT_EQ(ring::level(r.get()), 1.0f);

    // Three channels: each sample is divided by the channel count before it is summed.
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.3f, 0.6f, 0.9f}, 4)));
    ASSERT_EQ(ring::popFrames(r.get(), out.data(), 64), 64u);
    ASSERT_EQ(ring::popFrames(r.get(), out.data(), 64), 64u);
    ASSERT_EQ(ring::popFrames(r.get(), out.data(), 64), 4u);
    const float expected = 0.3f / 3.0f + 0.6f / 3.0f + 0.9f / 3.0f;
    EXPECT_EQ(out[0], expected);
    EXPECT_EQ(out[3], expected);

    // A buffer with a NaN shows as full scale on the meter.
    std::vector<float> bad = {0.1f, std::numeric_limits<float>::quiet_NaN()};
    const float* channels[] = {bad.data()};
    ASSERT_TRUE(ring::push(r.get(), channels, 1, 2, 1.0, 48000));
    EXPECT_EQ(ring::level(r.get()), 1.0f);
}

TEST(FrameRing, UntimedPushStoresZeroTimes) {
    RingPtr r = makeRing(4, 8);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 8), 12.0, 44100));
    Buffer b({0.5f}, 8);
    ASSERT_TRUE(ring::pushUntimed(r.get(), b.channels(), 1, 8));
    EXPECT_EQ(ring::lastCallbackHostTime(r.get()), 0.0);

    std::vector<float> out(8);
    double hostTime = -1, rate = -1;
    ASSERT_EQ(ring::pop(r.get(), out.data(), 8, &hostTime, &rate), 8u);
    EXPECT_EQ(hostTime, 12.0);
    EXPECT_EQ(rate, 44100.0);
    ASSERT_EQ(ring::pop(r.get(), out.data(), 8, &hostTime, &rate), 8u);
    EXPECT_EQ(hostTime, 0.0);
    EXPECT_EQ(rate, 0.0);
}

TEST(FrameRing, PopIntoTooSmallDestinationLeavesTheSlot) {
    RingPtr r = makeRing(4, 16);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 10), 2.0));
    std::vector<float> out(16, -1.0f);
    EXPECT_EQ(ring::popFrames(r.get(), out.data(), 9), 0u);
    EXPECT_TRUE(ring::overflowed(r.get()));
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(ring::popFrames(r.get(), nullptr, 16), 0u);
    double hostTime = 0;
    EXPECT_EQ(ring::pop(r.get(), out.data(), 10, &hostTime, nullptr), 10u);
    EXPECT_EQ(hostTime, 2.0);
    EXPECT_EQ(out[9], 0.5f);
    EXPECT_EQ(out[10], -1.0f);
}

TEST(FrameRing, PauseClearsTheLevelUntilTheNextAcceptedPush) {
    RingPtr r = makeRing(8, 8);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 8)));
    ring::setPaused(r.get(), true);
    EXPECT_EQ(ring::level(r.get()), 0.0f);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.5f}, 8)));
    ring::setPaused(r.get(), false);
    EXPECT_EQ(ring::level(r.get()), 0.0f);
    // Pausing does not empty the ring: the slot stored before it is still there.
    std::vector<float> out(8);
    EXPECT_EQ(ring::popFrames(r.get(), out.data(), 8), 8u);
    EXPECT_EQ(ring::popFrames(r.get(), out.data(), 8), 0u);
    ASSERT_TRUE(pushBuffer(r.get(), Buffer({0.25f}, 8)));
    EXPECT_FLOAT_EQ(ring::level(r.get()), 0.25f);
    EXPECT_EQ(ring::totalFrames(r.get()), 16u);
}

TEST(FrameRing, SlotsComeOutInOrderAcrossManyWraps) {
    RingPtr r = makeRing(3, 32);
    std::vector<float> out(32);
    std::uint64_t frames = 0;
    // Pushes run up to three slots (a full ring) ahead of the pops, so the indices wrap at varying offsets.
    std::uint32_t next = 0;
    for (std::uint32_t i = 0; i < 999; ++i) {
        const std::uint32_t n = 1 + i % 32;
        Buffer b({float(i)}, n);
        ASSERT_TRUE(ring::push(r.get(), b.channels(), 1, n, 100.0 + i, 8000.0 + i));
        frames += n;
        if (i % 3 == 2) {
            for (; next <= i; ++next) {
                double hostTime = 0, rate = 0;
                ASSERT_EQ(ring::pop(r.get(), out.data(), 32, &hostTime, &rate), 1 + next % 32);
                EXPECT_EQ(out[0], float(next));
                EXPECT_EQ(out[next % 32], float(next));
                EXPECT_EQ(hostTime, 100.0 + next);
                EXPECT_EQ(rate, 8000.0 + next);
            }
        }
    }
    EXPECT_EQ(r->writeCount.load(), 999u);
    EXPECT_EQ(r->readCount.load(), 999u);
    EXPECT_EQ(ring::totalFrames(r.get()), frames);
    EXPECT_FALSE(ring::overflowed(r.get()));
}

} // namespace
} // namespace nuvel
