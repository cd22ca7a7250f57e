#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulsePlaybackStream.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "tests/platform/PulseTestSupport.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

TEST(PulsePlaybackStream, PlaysStereoThatARecordingDownmixesToTheMean) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_playback");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());

    // A tone on the left channel only, silence on the right.
    double phase = 0;
    PulsePlaybackStream::Options options{48000, 2, sinkName, 0.25};
    PulsePlaybackStream player(connection, options, [&](float* out, std::uint32_t frames) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            out[2 * i] = static_cast<float>(0.5 * std::sin(phase));
            out[2 * i + 1] = 0.0f;
            phase = std::fmod(phase + 2 * M_PI * 880 / 48000, 2 * M_PI);
        }
    });
    EXPECT_EQ(player.channels(), 2u);
    auto input = sinkInputInfo(*connection, player.sinkInputIndex());
    ASSERT_TRUE(input);
    EXPECT_EQ(input->sampleSpec.format, "float32le");
    EXPECT_EQ(input->sampleSpec.channels, 2u);

    Recording recording;
    PulseRecordStream::Options recordOptions;
    recordOptions.source = sinkName + ".monitor";
    recordOptions.sampleRate = 48000;
    recordOptions.channels = 2;
    PulseRecordStream stream(connection, recordOptions, recording.consumer(), recording.problems());
    ASSERT_TRUE(recording.waitForSeconds(0.6));
    double latency = player.latencySeconds();
    EXPECT_GT(latency, 0.0);
    EXPECT_LT(latency, 0.5);
    player.flush();
    stream.close();

    auto samples = joined(recording.pieces(), 4);
    EXPECT_NEAR(toneAmplitude(samples, 880, 48000), 0.25, 0.02);

    std::uint32_t index = player.sinkInputIndex();
    player.close();
    // PipeWire's server lists a closed stream a moment longer.
    EXPECT_TRUE(waitFor([&] { return !sinkInputInfo(*connection, index); }, 1.0));
}

TEST(PulsePlaybackStream, ACorkedStartMakesASilentSinkInputThatStillTicks) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_corked_start");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    PulsePlaybackStream::Options options{48000, 1, sinkName, 0.05};
    options.startCorked = true;
    PulsePlaybackStream player(connection, options,
                               [](float* out, std::uint32_t frames) { std::fill_n(out, frames, 0.5f); });
    EXPECT_TRUE(sinkInputInfo(*connection, player.sinkInputIndex())->corked);

    Recording recording;
    PulseRecordStream::Options recordOptions;
    recordOptions.sinkInput = player.sinkInputIndex();
    recordOptions.sampleRate = 48000;
    recordOptions.channels = 1;
    double opened = hostTimeSeconds();
    PulseRecordStream stream(connection, recordOptions, recording.consumer(), recording.problems());
    // Nothing was ever played, yet timed silence comes, starting from the opening.
    ASSERT_TRUE(recording.waitForSeconds(0.4, 2.0));
    stream.close();
    auto pieces = recording.pieces();
    // It starts when the stream was ready, a moment after the call began.
    EXPECT_GE(pieces.front().hostTime, opened);
    EXPECT_LT(pieces.front().hostTime, opened + 0.3);
    EXPECT_EQ(peak(joined(pieces)), 0.0);
    EXPECT_LT(pieces.front().arrivedAt - opened, 0.6);
}
