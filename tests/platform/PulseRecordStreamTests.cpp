#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulsePlaybackStream.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <pulse/def.h>

using namespace nuvel;
using namespace nuvel::test;
using Problem = PulseRecordStream::Problem;

namespace {

// Every piece follows the previous one exactly: time advances by frames / rate and no piece
// overlaps the one before it (a later anchor may only leave a gap).
void expectContinuousTimes(const std::vector<Piece>& pieces, bool allowGaps) {
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        double end = pieces[i - 1].hostTime + pieces[i - 1].samples.size() / pieces[i - 1].sampleRate;
        if (allowGaps)
            EXPECT_GE(pieces[i].hostTime, end - 1e-9) << "piece " << i;
        else
            EXPECT_NEAR(pieces[i].hostTime, end, 1e-9) << "piece " << i;
    }
}

// A playback stream of our own, playing a sine until corked.
struct SinePlayer {
    double frequency;
    double amplitude;
    double phase = 0;
    std::unique_ptr<PulsePlaybackStream> stream;

    SinePlayer(std::shared_ptr<PulseConnection> connection, const std::string& sink, double f, double a)
        : frequency(f), amplitude(a) {
        stream = std::make_unique<PulsePlaybackStream>(
            connection, PulsePlaybackStream::Options{48000, 1, sink, 0.25},
            [this](float* out, std::uint32_t frames) {
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = static_cast<float>(amplitude * std::sin(phase));
                    phase = std::fmod(phase + 2 * M_PI * frequency / 48000, 2 * M_PI);
                }
            });
    }
};

} // namespace

TEST(PulseRecordStream, RecordsTheMicrophoneTone) {
    NUVEL_CONNECT_PULSE(connection);
    Recording recording;
    PulseRecordStream stream(connection, {}, recording.consumer(), recording.problems());
    EXPECT_EQ(stream.deviceName(), "testmic");
    EXPECT_EQ(stream.channels(), 1u);
    double rate = stream.sampleRate();
    EXPECT_EQ(rate, double(sourceInfo(*connection, "testmic")->sampleSpec.rate));
    ASSERT_TRUE(recording.waitForSeconds(1.0));
    stream.close();
    auto pieces = recording.pieces();

    // The sine generator pushes two seconds at a time (its latency is fixed), so only the
    // split and the spacing of the pieces are checked here; the clock test uses a sink.
    for (const auto& piece : pieces) {
        EXPECT_EQ(piece.sampleRate, rate);
        EXPECT_LE(piece.samples.size(), PulseRecordStream::maxFramesPerPiece);
    }
    expectContinuousTimes(pieces, false);
    auto samples = joined(pieces, 1);
    double amplitude = peak(samples);
    EXPECT_GT(amplitude, 0.05);
    EXPECT_NEAR(rms(samples) / amplitude, std::sqrt(0.5), 0.02);
    EXPECT_NEAR(zeroCrossingRate(samples, rate), 880, 880 * 0.02);
    EXPECT_TRUE(recording.reported().empty());
}

TEST(PulseRecordStream, DeliversSmallPiecesTimedOnTheHostClock) {
    NUVEL_CONNECT_PULSE(connection);
    // The player stands for another program: it has a connection, and a thread, of its own.
    NUVEL_CONNECT_PULSE(playerConnection);
    std::string sinkName = uniqueName("nuvel_clock");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    SinePlayer player(playerConnection, sinkName, 440, 0.5);
    ASSERT_TRUE(playingSinkInputOf(*connection, ::getpid(), sinkName));

    Recording recording;
    PulseRecordStream::Options options;
    options.source = sinkName + ".monitor";
    const double openedAt = hostTimeSeconds();
    PulseRecordStream stream(connection, options, recording.consumer(), recording.problems());
    double rate = stream.sampleRate();
    ASSERT_TRUE(recording.waitForSeconds(1.0));
    // Past a held-back start (below): the newest piece arrives as it is recorded.
    ASSERT_TRUE(waitFor(
        [&] {
            auto all = recording.pieces();
            const Piece& newest = all.back();
            return newest.hostTime + newest.samples.size() / rate > newest.arrivedAt - 0.1;
        },
        3.0));
    double now = hostTimeSeconds();
    stream.close();
    auto pieces = recording.pieces();

    std::size_t largest = 0;
    for (const auto& piece : pieces)
        largest = std::max(largest, piece.samples.size());
    // Fragments of about 25 ms, not the server's default lumps of seconds.
    EXPECT_LE(largest, std::size_t(rate * 0.1));
    expectContinuousTimes(pieces, false);
    // A fresh null sink may take a moment for its first block; once data flows, each piece's
    // host time lies just before its arrival. PipeWire holds back a fresh stream's first audio
    // (up to about two seconds of it) and then sends it at once: those pieces keep the times
    // they were recorded at, from the stream's opening on.
    EXPECT_LE(pieces.front().hostTime, pieces.front().arrivedAt);
    if (onPipeWire())
        EXPECT_GT(pieces.front().hostTime, openedAt - 0.05);
    else
        EXPECT_GT(pieces.front().hostTime, pieces.front().arrivedAt - 0.2);
    const Piece& last = pieces.back();
    EXPECT_NEAR(last.hostTime + last.samples.size() / rate, now, 0.15);
    auto samples = joined(pieces, 4);
    EXPECT_NEAR(toneAmplitude(samples, 440, rate), 0.5, 0.05);
}

TEST(PulseRecordStream, ConvertsToTheRequestedRateAndDownmixesChannels) {
    NUVEL_CONNECT_PULSE(connection);
    Recording recording;
    PulseRecordStream::Options options;
    options.source = "testmic";
    options.sampleRate = 48000;
    options.channels = 2; // the server copies the mono tone to both channels
    PulseRecordStream stream(connection, options, recording.consumer(), recording.problems());
    EXPECT_EQ(stream.sampleRate(), 48000);
    EXPECT_EQ(stream.channels(), 2u);
    ASSERT_TRUE(recording.waitForSeconds(0.8));
    stream.close();
    auto pieces = recording.pieces();
    for (const auto& piece : pieces)
        EXPECT_EQ(piece.sampleRate, 48000);
    // The tone's shape and pitch, over what sounded: PipeWire's server may fill a moment of a
    // fresh stream with silence, which says nothing of the conversion.
    const auto recorded = joined(pieces, 4);
    const auto samples = sounding(recorded);
    EXPECT_GT(samples.size(), recorded.size() / 2);
    double amplitude = peak(samples);
    EXPECT_GT(amplitude, 0.05);
    EXPECT_NEAR(rms(samples) / amplitude, std::sqrt(0.5), 0.02);
    EXPECT_NEAR(zeroCrossingRate(samples, 48000), 880, 880 * 0.02);
}

TEST(PulseRecordStream, RefusesMissingTargetsAndImpossibleFormats) {
    NUVEL_CONNECT_PULSE(connection);
    auto openError = [&](PulseRecordStream::Options options) -> std::optional<PulseError> {
        try {
            PulseRecordStream stream(connection, options, [](const float*, std::uint32_t, double, double) {},
                                     {});
        } catch (const PulseError& error) {
            return error;
        }
        return std::nullopt;
    };
    PulseRecordStream::Options missingSource;
    missingSource.source = "no-such-source";
    auto error = openError(missingSource);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), PA_ERR_NOENTITY);

    PulseRecordStream::Options missingInput;
    missingInput.sinkInput = 0xFFFFFFF0u;
    error = openError(missingInput);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), PA_ERR_NOENTITY);

    PulseRecordStream::Options tooManyChannels;
    tooManyChannels.channels = 33;
    error = openError(tooManyChannels);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), PA_ERR_INVALID);
    EXPECT_TRUE(connection->isConnected());
}

TEST(PulseRecordStream, OneApplicationAloneOrEverythingFromTheDefaultSinksMonitor) {
    NUVEL_CONNECT_PULSE(connection);
    // Both players use the default sink; other tests keep to sinks of their own.
    TempDir folder("pulse-apps");
    writeToneWav(folder / "low.wav", 440, 6, 0.4);
    writeToneWav(folder / "high.wav", 1250, 6, 0.4);
    ChildProcess low({"paplay", "-d", "testsink", (folder / "low.wav").string()});
    ChildProcess high({"paplay", "-d", "testsink", (folder / "high.wav").string()});
    auto lowInput = sinkInputOf(*connection, low.pid());
    ASSERT_TRUE(lowInput);
    ASSERT_TRUE(sinkInputOf(*connection, high.pid()));

    Recording application;
    Recording everything;
    PulseRecordStream::Options one;
    one.sinkInput = lowInput->index;
    one.sampleRate = 48000;
    one.channels = 1;
    PulseRecordStream applicationStream(connection, one, application.consumer(), application.problems());
    EXPECT_EQ(applicationStream.deviceName(), "testsink.monitor");
    PulseRecordStream::Options all;
    all.source = defaultSinkMonitorSourceName(*connection);
    ASSERT_TRUE(all.source);
    all.sampleRate = 48000;
    all.channels = 1;
    PulseRecordStream everythingStream(connection, all, everything.consumer(), everything.problems());
    ASSERT_TRUE(application.waitForSeconds(1.0));
    ASSERT_TRUE(everything.waitForSeconds(1.0));
    applicationStream.close();
    everythingStream.close();

    auto mine = joined(application.pieces(), 4);
    EXPECT_NEAR(toneAmplitude(mine, 440, 48000), 0.4, 0.04);
    EXPECT_LT(toneAmplitude(mine, 1250, 48000), 0.01);
    expectContinuousTimes(application.pieces(), false);

    auto both = joined(everything.pieces(), 4);
    EXPECT_NEAR(toneAmplitude(both, 440, 48000), 0.4, 0.04);
    EXPECT_NEAR(toneAmplitude(both, 1250, 48000), 0.4, 0.04);
}

TEST(PulseRecordStream, APausedApplicationStillYieldsTimedSilence) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_corked");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    SinePlayer player(connection, sinkName, 440, 0.5);

    Recording recording;
    PulseRecordStream::Options options;
    options.sinkInput = player.stream->sinkInputIndex();
    options.sampleRate = 48000;
    options.channels = 1;
    PulseRecordStream stream(connection, options, recording.consumer(), recording.problems());
    ASSERT_TRUE(recording.waitForSeconds(0.3));

    player.stream->setCorked(true);
    // PipeWire's server shows the cork a moment after it confirmed it.
    EXPECT_TRUE(
        waitFor([&] { return sinkInputInfo(*connection, player.stream->sinkInputIndex())->corked; }, 1.0));
    double corkedAt = hostTimeSeconds();
    std::size_t before = recording.pieces().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto whileCorked = recording.pieces();
    player.stream->setCorked(false);
    double uncorkedAt = hostTimeSeconds();
    ASSERT_TRUE(waitFor(
        [&] {
            auto pieces = recording.pieces();
            return !pieces.empty() && peak(pieces.back().samples) > 0.3;
        },
        2.0));
    stream.close();
    auto pieces = recording.pieces();

    // While corked, silence kept arriving: no gap near the two-second watchdog, and the
    // silence covers the corked time but one check and the lag.
    double lastArrival = corkedAt;
    double silentSeconds = 0;
    for (std::size_t i = before; i < whileCorked.size(); ++i) {
        const Piece& piece = whileCorked[i];
        EXPECT_LT(piece.arrivedAt - lastArrival, 0.6);
        lastArrival = piece.arrivedAt;
        if (peak(piece.samples) == 0)
            silentSeconds += piece.samples.size() / piece.sampleRate;
    }
    EXPECT_LT(uncorkedAt - lastArrival, 0.6);
    EXPECT_GT(silentSeconds,
              1.2 - PulseRecordStream::stallSeconds - PulseRecordStream::silenceLagSeconds - 0.25);
    EXPECT_LT(silentSeconds, 1.2 + 0.2);
    // Time never runs backwards or overlaps, also where the tone resumes.
    expectContinuousTimes(pieces, true);
    EXPECT_TRUE(recording.reported().empty());
    EXPECT_FALSE(stream.hasFailed());
}

TEST(PulseRecordStream, AStreamWhoseSourceDisappearsReportsFailure) {
    NUVEL_CONNECT_PULSE(connection);
    std::string name = uniqueName("nuvel_vanishing");
    auto source = privateSource(name);
    ASSERT_TRUE(source->loaded());
    Recording recording;
    PulseRecordStream::Options options;
    options.source = name;
    PulseRecordStream stream(connection, options, recording.consumer(), recording.problems());
    ASSERT_TRUE(recording.waitForSeconds(0.1));
    source->unload();
    ASSERT_TRUE(waitFor([&] { return !recording.reported().empty(); }, 30.0));
    EXPECT_EQ(recording.reported(), std::vector<Problem>{Problem::failed});
    EXPECT_TRUE(stream.hasFailed());
    EXPECT_TRUE(connection->isConnected());
}

TEST(PulseRecordStream, AnApplicationThatStopsOrMovesIsReported) {
    NUVEL_CONNECT_PULSE(connection);
    std::string first = uniqueName("nuvel_leaving_a");
    std::string second = uniqueName("nuvel_leaving_b");
    auto sinkA = privateSink(first);
    auto sinkB = privateSink(second);
    TempDir folder("pulse-leaving");
    writeToneWav(folder / "tone.wav", 440, 30, 0.3); // outlasts any wait of a loaded machine

    ChildProcess ending({"paplay", "-d", first, (folder / "tone.wav").string()});
    auto endingInput = sinkInputOf(*connection, ending.pid());
    ASSERT_TRUE(endingInput);
    Recording endingRecording;
    PulseRecordStream::Options options;
    options.sinkInput = endingInput->index;
    PulseRecordStream endingStream(connection, options, endingRecording.consumer(),
                                   endingRecording.problems());
    ASSERT_TRUE(endingRecording.waitForSeconds(0.1));
    ending.stop();
    EXPECT_TRUE(waitFor([&] { return endingStream.hasFailed(); }, 30.0));

    ChildProcess moving({"paplay", "-d", first, (folder / "tone.wav").string()});
    auto movingInput = playingSinkInputOf(*connection, moving.pid(), first);
    ASSERT_TRUE(movingInput);
    Recording movingRecording;
    options.sinkInput = movingInput->index;
    PulseRecordStream movingStream(connection, options, movingRecording.consumer(),
                                   movingRecording.problems());
    ASSERT_TRUE(movingRecording.waitForSeconds(0.1));
    ASSERT_TRUE(runProgram({"pactl", "move-sink-input", std::to_string(movingInput->index), second}));
    if (!onPipeWire()) {
        // PulseAudio ends a stream that follows a sink-input when the sink-input changes sink.
        EXPECT_TRUE(waitFor([&] { return movingStream.hasFailed(); }, 30.0));
        return;
    }
    // PipeWire's server keeps the stream on the sink-input: the application is still heard
    // (under load with a moment of silence where the server relinks it).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    movingRecording.clear();
    ASSERT_TRUE(movingRecording.waitForSeconds(0.5));
    const double heard = toneAmplitude(joined(movingRecording.pieces(), 2), 440, movingStream.sampleRate());
    EXPECT_GT(heard, 0.15);
    EXPECT_LT(heard, 0.33);
    EXPECT_FALSE(movingStream.hasFailed());
}
