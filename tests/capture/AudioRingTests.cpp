#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace nuvel {
namespace {

void expectInvalidTransport(std::uint32_t slots, std::uint32_t frames) {
    try {
        AudioRing ring(slots, frames);
        ADD_FAILURE() << "no error for " << slots << " x " << frames;
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::invalidTransport);
    }
}

TEST(AudioRing, SizesOutOfRangeThrowInvalidTransport) {
    expectInvalidTransport(1, 8192);
    expectInvalidTransport(257, 8192);
    expectInvalidTransport(64, 0);
    expectInvalidTransport(64, 32769);
    AudioRing ring(64, 8192);
    EXPECT_EQ(ring.capacity(), 8192u);
    EXPECT_FALSE(ring.read().has_value());
    EXPECT_FALSE(ring.readSamples().has_value());
}

TEST(AudioRing, WriteTakesOnlyNonInterleavedFloatBuffers) {
    std::vector<float> left(4, 0.5f), right(4, 0.25f);
    const float* channels[] = {left.data(), right.data()};
    const PcmBuffer good{PcmSampleFormat::float32, false, 2, 44100.0, 4, channels};

    PcmBuffer int16 = good;
    int16.format = PcmSampleFormat::int16;
    PcmBuffer interleaved = good;
    interleaved.interleaved = true;
    PcmBuffer noFloatData = good;
    noFloatData.floatChannelData = nullptr;

    for (const PcmBuffer& bad : {int16, interleaved, noFloatData}) {
        AudioRing ring(4, 16);
        EXPECT_FALSE(ring.write(bad, 1.0));
        EXPECT_TRUE(ring.overflowed());
        AudioRing untimed(4, 16);
        EXPECT_FALSE(untimed.writeUntimed(bad));
        EXPECT_TRUE(untimed.overflowed());
    }

    AudioRing ring(4, 16);
    ASSERT_TRUE(ring.write(good, 12.5));
    ASSERT_TRUE(ring.writeUntimed(good));
    EXPECT_EQ(ring.totalFrames(), 8);
    EXPECT_EQ(ring.lastCallbackHostTime(), 0.0);
    EXPECT_DOUBLE_EQ(ring.level(), 0.375);

    auto first = ring.read();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->samples, std::vector<float>(4, 0.375f));
    EXPECT_EQ(first->hostTime, 12.5);
    EXPECT_EQ(first->sampleRate, 44100.0);
    auto second = ring.read();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->hostTime, 0.0);
    EXPECT_EQ(second->sampleRate, 0.0);
    EXPECT_FALSE(ring.read().has_value());
    EXPECT_FALSE(ring.overflowed());
}

TEST(AudioRing, RawPushAndReadSamplesOfAFullSlot) {
    AudioRing ring(2, 8);
    std::vector<float> mono = {0, 1, 2, 3, 4, 5, 6, 7};
    const float* channels[] = {mono.data()};
    ASSERT_TRUE(ring.push(channels, 1, 8, 3.0, 48000.0));
    ASSERT_TRUE(ring.push(channels, 1, 3, 3.1, 48000.0));
    EXPECT_EQ(ring.readSamples(), mono);
    EXPECT_EQ(ring.readSamples(), (std::vector<float>{0, 1, 2}));
    EXPECT_FALSE(ring.readSamples().has_value());
    // Read onto the end of what a caller gathers.
    ASSERT_TRUE(ring.push(channels, 1, 2, 3.2, 48000.0));
    std::vector<float> gathered = {9};
    EXPECT_TRUE(ring.readSamplesInto(gathered));
    EXPECT_FALSE(ring.readSamplesInto(gathered));
    EXPECT_EQ(gathered, (std::vector<float>{9, 0, 1}));
    EXPECT_EQ(ring.lastCallbackHostTime(), 3.2);
    EXPECT_TRUE(ring.isIdle());
}

TEST(AudioRing, PauseDropsAndMarkDroppedIsSticky) {
    AudioRing ring(4, 8);
    std::vector<float> mono(8, 0.5f);
    const float* channels[] = {mono.data()};
    ASSERT_TRUE(ring.push(channels, 1, 8, 1.0, 48000.0));
    ring.setPaused(true);
    EXPECT_EQ(ring.level(), 0.0);
    EXPECT_TRUE(ring.push(channels, 1, 8, 2.0, 48000.0));
    EXPECT_EQ(ring.totalFrames(), 8);
    EXPECT_EQ(ring.lastCallbackHostTime(), 2.0);
    ring.setPaused(false);

    // A full ring refuses, and so does one marked as lost: each refused frame is counted.
    const std::int64_t before = CaptureLossTally::shared().snapshot().ringRefusedFrames;
    AudioRing full(2, 8);
    ASSERT_TRUE(full.push(channels, 1, 8, 1.0, 48000.0));
    ASSERT_TRUE(full.push(channels, 1, 8, 1.1, 48000.0));
    EXPECT_FALSE(full.push(channels, 1, 5, 1.2, 48000.0));
    EXPECT_TRUE(full.overflowed());
    EXPECT_EQ(CaptureLossTally::shared().snapshot().ringRefusedFrames - before, 5);

    ring.markDropped();
    EXPECT_TRUE(ring.overflowed());
    EXPECT_FALSE(ring.push(channels, 1, 8, 3.0, 48000.0));
    const PcmBuffer buffer{PcmSampleFormat::float32, false, 1, 48000.0, 3, channels};
    EXPECT_FALSE(ring.write(buffer, 3.1));
    EXPECT_EQ(CaptureLossTally::shared().snapshot().ringRefusedFrames - before, 5 + 8 + 3);
    // The slot stored before is still handed out.
    auto slot = ring.read();
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->hostTime, 1.0);
    EXPECT_TRUE(ring.overflowed());
}

} // namespace
} // namespace nuvel
