#include "NuvelKit/capture/AudioStreamDecoder.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;

namespace {

// One channel of everything left to read.
std::vector<float> readChannel(AudioStreamDecoder& decoder, int channel = 0) {
    std::vector<float> out;
    std::vector<float> buffer(1000 * std::size_t(decoder.channels()));
    while (std::size_t n = decoder.read(buffer))
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(buffer[i * std::size_t(decoder.channels()) + std::size_t(channel)]);
    return out;
}

// Sign changes per second / 2: the frequency of a clean tone.
double toneFrequency(const std::vector<float>& samples, double rate) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    return samples.size() < 2 ? 0 : double(crossings) * rate / double(samples.size() - 1) / 2;
}

std::vector<float> middle(const std::vector<float>& samples) {
    return {samples.begin() + long(samples.size() / 4), samples.end() - long(samples.size() / 4)};
}

class StreamDecoderFiles : public testing::Test {
protected:
    test::TempDir dir{"stream-decoder"};
    void SetUp() override {
        test::makeWithFfmpeg(
            "-f lavfi -i sine=frequency=1000:sample_rate=44100:duration=2 -ac 2 -c:a pcm_s16le",
            dir / "stereo.wav");
        test::makeWithFfmpeg(
            "-f lavfi -i sine=frequency=600:sample_rate=96000:duration=1 -ac 6 -c:a pcm_s24le",
            dir / "wide96k.wav");
        // 500 Hz for the first second, 1500 Hz for the second.
        test::makeWithFfmpeg("-f lavfi -i 'aevalsrc=0.4*sin(2*PI*if(lt(t\\,1)\\,500\\,1500)*t):s=48000:d=2' "
                             "-c:a aac -b:a 128k",
                             dir / "steps.m4a");
    }
};

} // namespace

TEST_F(StreamDecoderFiles, TempoChangesTheLengthButNotThePitch) {
    for (double rate : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(rate);
        AudioStreamDecoder decoder(dir / "stereo.wav");
        EXPECT_EQ(decoder.sampleRate(), 44100);
        EXPECT_EQ(decoder.channels(), 2);
        EXPECT_NEAR(decoder.duration(), 2.0, 0.01);
        decoder.setRate(rate);
        std::vector<float> left = readChannel(decoder);
        EXPECT_NEAR(double(left.size()) / 44100, 2.0 / rate, 0.05 / rate);
        EXPECT_NEAR(toneFrequency(middle(left), 44100), 1000, 15);
        std::vector<float> buffer(64);
        EXPECT_EQ(decoder.read(buffer), 0u);
    }
}

TEST_F(StreamDecoderFiles, RatesAreClampedAndHighRatesAndWideLayoutsAreReduced) {
    AudioStreamDecoder decoder(dir / "wide96k.wav");
    EXPECT_EQ(decoder.sampleRate(), 48000);
    EXPECT_EQ(decoder.channels(), 2);
    decoder.setRate(8);
    EXPECT_EQ(decoder.rate(), 2.0);
    decoder.setRate(0.1);
    EXPECT_EQ(decoder.rate(), 0.5);
    decoder.setRate(1);
    std::vector<float> left = readChannel(decoder);
    EXPECT_NEAR(double(left.size()) / 48000, 1.0, 0.01);
    EXPECT_NEAR(toneFrequency(middle(left), 48000), 600, 10);
}

TEST_F(StreamDecoderFiles, SeeksGoToThePointAskedAtEitherRate) {
    AudioStreamDecoder decoder(dir / "steps.m4a");
    EXPECT_EQ(decoder.channels(), 1);
    EXPECT_NEAR(decoder.duration(), 2.0, 0.05);
    // Read into the first half, then jump into the second: only its tone comes.
    std::vector<float> some(4800);
    EXPECT_EQ(decoder.read(some), some.size());
    decoder.seek(1.25);
    std::vector<float> rest = readChannel(decoder);
    EXPECT_NEAR(double(rest.size()) / 48000, 0.75, 0.04);
    EXPECT_NEAR(toneFrequency(rest, 48000), 1500, 30);

    // Back to the start at double speed: half the frames, the first tone first.
    decoder.setRate(2);
    decoder.seek(0);
    std::vector<float> fast = readChannel(decoder);
    EXPECT_NEAR(double(fast.size()) / 48000, 1.0, 0.04);
    std::vector<float> firstTone(fast.begin() + 2400, fast.begin() + 19200);
    EXPECT_NEAR(toneFrequency(firstTone, 48000), 500, 15);

    // Past the end there is nothing more.
    decoder.seek(5);
    std::vector<float> none(480);
    EXPECT_EQ(decoder.read(none), 0u);
}
