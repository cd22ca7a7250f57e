#include "NuvelKit/capture/SystemAudioOutput.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace nuvel {
namespace {

SystemAudioBuffer monoBuffer(const std::vector<float>& samples, double time = 5.0) {
    SystemAudioBuffer buffer;
    buffer.format = PcmSampleFormat::float32;
    buffer.channelCount = 1;
    buffer.sampleRate = 48000;
    buffer.frameCount = std::uint32_t(samples.size());
    buffer.data = samples.data();
    buffer.byteSize = samples.size() * sizeof(float);
    buffer.presentationTime = time;
    return buffer;
}

TEST(SystemAudioOutput, PushesMonoFloatAt48000WithItsPresentationTime) {
    auto ring = std::make_shared<AudioRing>(64, 8192);
    SystemAudioOutput output(ring);
    std::vector<float> samples(960, 0.5f);
    output.didOutput(monoBuffer(samples, 12.5));
    auto slot = ring->read();
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->samples, samples);
    EXPECT_EQ(slot->hostTime, 12.5);
    EXPECT_EQ(slot->sampleRate, 48000.0);
    EXPECT_FALSE(ring->overflowed());
    EXPECT_DOUBLE_EQ(ring->level(), 0.5);
}

TEST(SystemAudioOutput, AudioInAnyOtherShapeMarksTheRingDropped) {
    std::vector<float> samples(480, 0.1f);
    std::vector<std::function<void(SystemAudioBuffer&)>> spoil = {
        [](SystemAudioBuffer& b) { b.sampleRate = 44100; },
        [](SystemAudioBuffer& b) { b.sampleRate = 48000.5; },
        [](SystemAudioBuffer& b) { b.channelCount = 2; },
        [](SystemAudioBuffer& b) { b.format = PcmSampleFormat::int16; },
        [](SystemAudioBuffer& b) { b.frameCount = 0; },
        [](SystemAudioBuffer& b) { b.data = nullptr; },
        [](SystemAudioBuffer& b) { b.byteSize = 480 * 4 - 1; },
        [](SystemAudioBuffer& b) { b.presentationTime = std::numeric_limits<double>::quiet_NaN(); },
    };
    for (std::size_t i = 0; i < spoil.size(); ++i) {
        SCOPED_TRACE(i);
        auto ring = std::make_shared<AudioRing>(64, 8192);
        SystemAudioOutput output(ring);
        SystemAudioBuffer buffer = monoBuffer(samples);
        spoil[i](buffer);
        output.didOutput(buffer);
        EXPECT_TRUE(ring->overflowed());
        EXPECT_FALSE(ring->read().has_value());
    }
    // A stream that stops turns the capture unhealthy too.
    auto ring = std::make_shared<AudioRing>(64, 8192);
    SystemAudioOutput output(ring);
    output.didStop();
    EXPECT_TRUE(ring->overflowed());
    output.didOutput(monoBuffer(samples));
    EXPECT_FALSE(ring->read().has_value());
}

} // namespace
} // namespace nuvel
