#include "Nuvel/platform/PulseAudioPlayer.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/platform/SinkUnderTest.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <pulse/introspect.h>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

// ffmpeg's lavfi sine has amplitude 1/8.
std::string sine(double frequency, int rate, double seconds) {
    return "-f lavfi -i sine=frequency=" + std::to_string(int(frequency)) +
           ":sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds);
}

// Tone files, each made when a test first asks for it.
class PulseAudioPlayerFiles : public testing::Test {
protected:
    TempDir dir{"player"};
    fs::path file(const std::string& name) {
        static const std::map<std::string, std::string> recipes{
            {"stereo.wav", sine(1000, 44100, 1) + " -ac 2 -c:a pcm_s16le"},
            {"mono.wav", sine(1000, 48000, 2) + " -c:a pcm_s16le"},
            {"wide96k.wav", sine(700, 96000, 1) + " -ac 6 -c:a pcm_s24le"},
            {"three.m4a", sine(500, 48000, 3) + " -c:a aac -b:a 96k"},
        };
        fs::path path = dir / name;
        if (!fs::exists(path))
            makeWithFfmpeg(recipes.at(name), path);
        return path;
    }
};

// Polls while playing; the time never goes back.
bool playsOutMonotonically(PulseAudioPlayer& player, double seconds) {
    double last = player.currentTime();
    bool monotonic = true;
    bool ended = waitFor(
        [&] {
            double now = player.currentTime();
            monotonic = monotonic && now >= last;
            last = now;
            return player.reachedEnd();
        },
        seconds);
    EXPECT_TRUE(monotonic);
    return ended;
}

} // namespace

TEST_F(PulseAudioPlayerFiles, OpensAudioFilesAndRefusesEverythingElse) {
    // Opening needs no sound server; only playing does.
    AudioPlayerFactory factory = makePulseAudioPlayerFactory(nullptr);
    EXPECT_NEAR(factory(file("stereo.wav"))->duration(), 1.0, 0.01);
    EXPECT_NEAR(factory(file("three.m4a"))->duration(), 3.0, 0.05);
    auto player = factory(file("wide96k.wav"));
    EXPECT_NEAR(player->duration(), 1.0, 0.01);
    EXPECT_FALSE(player->prepareToPlay());
    EXPECT_FALSE(player->play());
    EXPECT_FALSE(player->isPlaying());

    EXPECT_THROW(factory(dir / "missing.m4a"), fs::filesystem_error);
    writeBytes(dir / "noise.m4a", garbage(50000));
    try {
        factory(dir / "noise.m4a");
        ADD_FAILURE() << "opened noise";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.code(), MediaError::Code::unreadable);
        EXPECT_NE(std::string(e.what()).find("noise.m4a"), std::string::npos);
    }
    makeWithFfmpeg("-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4", dir / "video.mp4");
    try {
        factory(dir / "video.mp4");
        ADD_FAILURE() << "opened a file without audio";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.code(), MediaError::Code::noAudioTrack);
    }
}

TEST_F(PulseAudioPlayerFiles, PlaysToTheEndAndThenStops) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_end");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("stereo.wav"), sink.name);
    ASSERT_TRUE(player.prepareToPlay());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.currentTime(), 0.0);

    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.2; }, 2.0));
    EXPECT_LT(player.currentTime(), 0.9);
    ASSERT_TRUE(playsOutMonotonically(player, 3.0));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), player.duration());

    // Played out, a new play starts from the beginning; a seek clears the end.
    player.setCurrentTime(0.8);
    EXPECT_FALSE(player.reachedEnd());
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(playsOutMonotonically(player, 2.0));
    ASSERT_TRUE(player.play());
    EXPECT_FALSE(player.reachedEnd());
    EXPECT_LT(player.currentTime(), 0.5);
}

TEST_F(PulseAudioPlayerFiles, SeeksAreClampedAndPlayResumesThere) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_seek");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("three.m4a"), sink.name);
    player.setCurrentTime(-4);
    EXPECT_EQ(player.currentTime(), 0.0);
    player.setCurrentTime(60);
    EXPECT_DOUBLE_EQ(player.currentTime(), player.duration());

    // Before preparing, and while playing.
    player.setCurrentTime(2.0);
    ASSERT_TRUE(player.prepareToPlay());
    EXPECT_DOUBLE_EQ(player.currentTime(), 2.0);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 2.1; }, 2.0));
    EXPECT_LT(player.currentTime(), 2.6);
    player.setCurrentTime(0.5);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_DOUBLE_EQ(player.currentTime(), 0.5);
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.6; }, 2.0));
    EXPECT_LT(player.currentTime(), 1.1);
    player.setCurrentTime(2.7);
    ASSERT_TRUE(playsOutMonotonically(player, 2.0));
}

TEST_F(PulseAudioPlayerFiles, DoubleRateHalvesTheAudioAndKeepsItsPitch) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_rate");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("mono.wav"), sink.name);
    player.setRate(9);
    EXPECT_EQ(player.rate(), 2.0);
    player.setRate(0.1);
    EXPECT_EQ(player.rate(), 0.5);
    player.setRate(2);
    ASSERT_TRUE(player.prepareToPlay());
    sink.recording.clear();
    ASSERT_TRUE(player.play());
    // Halfway through the file after about half a second.
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.8; }, 2.0));
    ASSERT_TRUE(playsOutMonotonically(player, 3.0));
    ASSERT_TRUE(sink.recording.waitForSeconds(0.2));
    std::vector<float> sound = sink.audible();
    EXPECT_NEAR(double(sound.size()) / 48000, 1.0, 0.08);
    EXPECT_NEAR(zeroCrossingRate(sound, 48000) / 2, 1000, 20);
}

TEST_F(PulseAudioPlayerFiles, AHighRateWideFilePlaysDownmixedAtItsPitch) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_wide");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("wide96k.wav"), sink.name);
    ASSERT_TRUE(player.prepareToPlay());
    auto input = sink.playerSinkInput(*connection);
    ASSERT_TRUE(input);
    auto info = sinkInputInfo(*connection, *input);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->sampleSpec.rate, 48000u);
    EXPECT_EQ(info->sampleSpec.channels, 2u);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(playsOutMonotonically(player, 3.0));
    std::vector<float> sound = sink.audible();
    EXPECT_NEAR(double(sound.size()) / 48000, 1.0, 0.06);
    EXPECT_NEAR(zeroCrossingRate(sound, 48000) / 2, 700, 15);
}

TEST_F(PulseAudioPlayerFiles, PauseHoldsTheTimeAndStopReleasesTheStreamUntilTheNextPlay) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_stop");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("three.m4a"), sink.name);
    ASSERT_TRUE(player.play()); // prepares on its own
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.3; }, 2.0));
    player.pause();
    EXPECT_FALSE(player.isPlaying());
    double paused = player.currentTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(player.currentTime(), paused);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > paused + 0.2; }, 2.0));

    player.stop();
    EXPECT_FALSE(player.isPlaying());
    double stopped = player.currentTime();
    EXPECT_GT(stopped, paused);
    // PipeWire's server lists a closed stream a moment longer.
    EXPECT_TRUE(waitFor([&] { return !sink.playerSinkInput(*connection); }, 1.0));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(sink.playerSinkInput(*connection));
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > stopped + 0.1; }, 2.0));
    EXPECT_LT(player.currentTime(), stopped + 0.6);
}

TEST_F(PulseAudioPlayerFiles, ALostStreamStopsPlaybackAndAPlayOpensANewOne) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_lost");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer player(connection, file("three.m4a"), sink.name);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.2; }, 2.0));

    auto input = sink.playerSinkInput(*connection);
    ASSERT_TRUE(input);
    // Ended by the server, as when it drops a stream.
    connection->locked([&] {
        connection->await(pa_context_kill_sink_input(connection->context(), *input, nullptr, nullptr),
                          "kill");
    });
    ASSERT_TRUE(waitFor([&] { return !player.isPlaying(); }, 2.0));
    EXPECT_FALSE(player.reachedEnd());
    double lost = player.currentTime();
    EXPECT_GT(lost, 0.2);

    // A play opens a new stream and goes on from where the sound stopped.
    ASSERT_TRUE(player.play());
    EXPECT_NE(sink.playerSinkInput(*connection), input);
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > lost + 0.1; }, 2.0));
    EXPECT_LT(player.currentTime(), lost + 0.6);
}

TEST_F(PulseAudioPlayerFiles, DestroyingAPlayerInAnyStateIsClean) {
    NUVEL_CONNECT_PULSE(connection);
    SinkUnderTest sink(connection, "nuvel_player_destroy");
    ASSERT_TRUE(sink.ready());
    PulseAudioPlayer(connection, file("stereo.wav"), sink.name);
    PulseAudioPlayer(connection, file("stereo.wav"), sink.name).prepareToPlay();
    {
        PulseAudioPlayer player(connection, file("three.m4a"), sink.name);
        ASSERT_TRUE(player.play());
        player.setRate(1.5);
        ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.1; }, 2.0));
    }
    auto stopped = std::make_unique<PulseAudioPlayer>(connection, file("three.m4a"), sink.name);
    ASSERT_TRUE(stopped->play());
    stopped->stop();
    stopped.reset();
    EXPECT_TRUE(waitFor([&] { return !sink.playerSinkInput(*connection); }, 1.0));
}
