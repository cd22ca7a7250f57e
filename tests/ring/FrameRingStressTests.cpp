// One producer, one consumer and one pauser hammer a small ring at once. Run under
// ThreadSanitizer this also checks the hand-over of the plain slot memory by the two counters.
#include "NuvelKit/ring/FrameRing.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace nuvel {
namespace {

constexpr std::uint32_t slots = 8;
constexpr std::uint32_t framesPerSlot = 256;
constexpr std::uint32_t buffers = 20000;

std::uint32_t framesOf(std::uint32_t sequence) {
    return 1 + (sequence * 7) % framesPerSlot;
}

TEST(FrameRingStress, ProducerConsumerAndPauser) {
    FrameRing* r = ring::create(slots, framesPerSlot);
    ASSERT_NE(r, nullptr);

    std::atomic<bool> producerDone{false};
    std::uint32_t refusedPushes = 0;
    std::uint32_t acceptedPushes = 0;

    std::thread producer([&] {
        // Two channels of the same value: the downmix (v / 2 + v / 2) gives v back exactly.
        std::vector<float> left(framesPerSlot), right(framesPerSlot);
        const float* channels[] = {left.data(), right.data()};
        for (std::uint32_t sequence = 0; sequence < buffers; ++sequence) {
            // A real callback would be refused on a full ring; here the producer waits so that
            // nothing is lost and the consumer can check every slot.
            while (r->writeCount.load(std::memory_order_relaxed) -
                       r->readCount.load(std::memory_order_acquire) >=
                   slots) {
                std::this_thread::yield();
            }
            const std::uint32_t n = framesOf(sequence);
            std::fill_n(left.begin(), n, float(sequence));
            std::fill_n(right.begin(), n, float(sequence));
            if (ring::push(r, channels, 2, n, double(sequence), 48000.0)) {
                ++acceptedPushes;
            } else {
                ++refusedPushes;
            }
        }
        producerDone.store(true);
    });

    std::uint64_t consumedFrames = 0;
    std::uint32_t consumedSlots = 0;
    std::uint32_t badSlots = 0;
    std::thread consumer([&] {
        std::vector<float> out(framesPerSlot);
        std::int64_t previous = -1;
        for (;;) {
            const bool done = producerDone.load();
            double hostTime = 0, rate = 0;
            const std::uint32_t n = ring::pop(r, out.data(), framesPerSlot, &hostTime, &rate);
            if (n == 0) {
                if (done) {
                    break;
                }
                std::this_thread::yield();
                continue;
            }
            const auto sequence = std::uint32_t(hostTime);
            bool good = std::int64_t(sequence) > previous && n == framesOf(sequence) && rate == 48000.0;
            for (std::uint32_t i = 0; i < n; ++i) {
                good = good && out[i] == float(sequence);
            }
            badSlots += good ? 0 : 1;
            previous = sequence;
            consumedFrames += n;
            ++consumedSlots;
        }
    });

    // The pauser does what a capture's drain does: set paused, wait until no push is in flight,
    // and from then on no slot may be added and the meter must read 0.
    std::uint32_t pauses = 0;
    std::uint32_t slotsAddedWhilePaused = 0;
    std::uint32_t levelsWhilePaused = 0;
    while (!producerDone.load()) {
        ring::setPaused(r, true);
        while (!ring::isIdle(r)) {
            std::this_thread::yield();
        }
        const std::uint64_t stored = r->writeCount.load(std::memory_order_acquire);
        for (int i = 0; i < 20; ++i) {
            std::this_thread::yield();
            slotsAddedWhilePaused += r->writeCount.load(std::memory_order_acquire) != stored ? 1 : 0;
            levelsWhilePaused += ring::level(r) != 0.0f ? 1 : 0;
        }
        ring::setPaused(r, false);
        ++pauses;
        for (int i = 0; i < 50; ++i) {
            std::this_thread::yield();
        }
    }

    producer.join();
    consumer.join();

    EXPECT_EQ(refusedPushes, 0u);
    EXPECT_EQ(acceptedPushes, buffers);
    EXPECT_GT(pauses, 0u);
    EXPECT_EQ(slotsAddedWhilePaused, 0u);
    EXPECT_EQ(levelsWhilePaused, 0u);
    EXPECT_EQ(badSlots, 0u);
    // Paused pushes were dropped, every other one arrived: the counters agree with the consumer.
    EXPECT_LE(consumedSlots, buffers);
    EXPECT_EQ(r->writeCount.load(), consumedSlots);
    EXPECT_EQ(ring::totalFrames(r), consumedFrames);
    EXPECT_FALSE(ring::overflowed(r));
    EXPECT_TRUE(ring::isIdle(r));
    ring::destroy(r);
}

} // namespace
} // namespace nuvel
