// One application's audio against the private sound server: every stream of the process is
// recorded onto one timeline, also one it closes and opens again or one that is moved to another
// output, and the recording stays healthy throughout.
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "tests/platform/CaptureServerSupport.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/CaptureFakes.hpp"
#include "tests/support/RealTimeQueue.hpp"

#include <gtest/gtest.h>
#include <signal.h>

using namespace nuvel;
using namespace nuvel::test;
using Selection = SystemAudioCapture::Selection;

namespace {

std::string twoStreamPlayer() {
    return (std::filesystem::path(NUVEL_BINARY_DIR) / "tests" / "two-stream-player").string();
}

std::size_t streamsOf(PulseConnection& connection, pid_t pid) {
    auto inputs = listSinkInputs(connection);
    return std::size_t(
        std::count_if(inputs.begin(), inputs.end(), [pid](const auto& i) { return i.processID == pid; }));
}

// The recording between two host times, by the timeline of its one span.
std::vector<float> between(const std::vector<float>& samples, const CaptureTimeline& timeline, double from,
                           double to) {
    const double start = timeline.spans.at(0).hostStart;
    auto index = [&](double t) {
        return std::size_t(std::clamp((t - start) * 48000.0, 0.0, double(samples.size())));
    };
    return {samples.begin() + std::ptrdiff_t(index(from)), samples.begin() + std::ptrdiff_t(index(to))};
}

class ApplicationAudioServerTest : public testing::Test {
protected:
    ManualMainQueue queue;
    InlineExecutor executor;
    StoreFixture store;
};

TEST_F(ApplicationAudioServerTest, EveryStreamIsHeardAlsoOneTheApplicationClosesAndOpensAgain) {
    NUVEL_CONNECT_PULSE(connection);
    const std::string sinkName = uniqueName("nuvel_streams");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    ChildProcess player({twoStreamPlayer(), sinkName, "1000", "2000", "0.4"});
    ASSERT_TRUE(waitFor([&] { return streamsOf(*connection, player.pid()) == 2; }, 5.0));
    WarmSource output(sinkName + ".monitor");
    WarmSource microphone("testmic");
    ASSERT_TRUE(output.warm() && microphone.warm());

    PulseCapturePlatform platform(connection, queue, executor);
    auto applications = runWithWorkers(queue, SystemAudioCapture::availableApplications(platform));
    EXPECT_EQ(std::count_if(applications.begin(), applications.end(),
                            [&](const auto& a) { return a.id == player.pid(); }),
              1); // one application, however many streams

    SystemAudioCapture capture(store.sink, store.id, Selection::application(player.pid()), true, std::nullopt,
                               platform);
    // PipeWire's server holds back a fresh stream's first audio (up to about two seconds when
    // every core is busy) and then sends it at once, too late to be mixed: there it is cut, and
    // each stream is measured once it has settled.
    const double settle = onPipeWire() ? 2.5 : 0.0;
    runWithWorkers(queue, capture.start());
    const double started = hostTimeSeconds();
    expectHealthyFor(capture, 2.5 + settle);
    const double closed = hostTimeSeconds();
    kill(player.pid(), SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return streamsOf(*connection, player.pid()) == 1; }, 2.0));
    expectHealthyFor(capture, 2.5); // a stream that ends is not lost audio
    const double reopened = hostTimeSeconds();
    kill(player.pid(), SIGUSR2);
    ASSERT_TRUE(waitFor([&] { return streamsOf(*connection, player.pid()) == 2; }, 2.0));
    expectHealthyFor(capture, 3.0 + settle);
    const double stopped = hostTimeSeconds();
    LocalRecording recording = runWithWorkers(queue, capture.stop());

    EXPECT_NEAR(recording.totalDuration(), stopped - started, 0.3);
    const CaptureTimeline& timeline = recording.sourceTimeline.value();
    ASSERT_EQ(timeline.spans.size(), 1u);
    expectFewIntervals(timeline);
    auto samples = store.sealedAudio(recording, 48000);
    struct Stretch {
        const char* name;
        double from, to;
        double second; // the 2000 Hz stream's amplitude, halved in the mix
    };
    const Stretch stretches[] = {
        {"both streams", started + 0.3 + settle, closed - 0.2, 0.2},
        {"the second stream closed", closed + 0.5, reopened - 0.2, 0.0},
        {"the second stream opened again", reopened + 0.7 + settle, stopped - 0.3, 0.2},
    };
    for (const Stretch& stretch : stretches) {
        SCOPED_TRACE(stretch.name);
        auto part = between(samples, timeline, stretch.from, stretch.to);
        ASSERT_GE(part.size(), std::size_t(48000));
        EXPECT_NEAR(windowedAmplitude(part, 1000, 48000), 0.2, 0.03);
        EXPECT_NEAR(windowedAmplitude(part, 2000, 48000), stretch.second, 0.03);
        EXPECT_NEAR(windowedAmplitude(part, 440, 48000), 0.25, 0.04); // the microphone
    }
}

TEST_F(ApplicationAudioServerTest, AStreamMovedToAnotherOutputIsFollowed) {
    NUVEL_CONNECT_PULSE(connection);
    const std::string first = uniqueName("nuvel_moving_a");
    const std::string second = uniqueName("nuvel_moving_b");
    auto sinkA = privateSink(first);
    auto sinkB = privateSink(second);
    ASSERT_TRUE(sinkA->loaded() && sinkB->loaded());
    TempDir tones("capture-tones");
    writeToneWav(tones / "meeting.wav", 1000, 30, 0.5);
    ChildProcess meeting({"paplay", "-d", first, (tones / "meeting.wav").string()});
    auto input = playingSinkInputOf(*connection, meeting.pid(), first);
    ASSERT_TRUE(input);
    WarmSource outputA(first + ".monitor");
    WarmSource outputB(second + ".monitor");
    WarmSource microphone("testmic");
    ASSERT_TRUE(outputA.warm() && outputB.warm() && microphone.warm());

    PulseCapturePlatform platform(connection, queue, executor);
    SystemAudioCapture capture(store.sink, store.id, Selection::application(meeting.pid()), true,
                               std::nullopt, platform);
    runWithWorkers(queue, capture.start());
    const double started = hostTimeSeconds();
    expectHealthyFor(capture, 1.5);
    const double moved = hostTimeSeconds();
    ASSERT_TRUE(runProgram({"pactl", "move-sink-input", std::to_string(input->index), second}));
    ASSERT_TRUE(waitFor(
        [&] {
            const auto now = sinkInputOf(*connection, meeting.pid(), 0.0);
            return now && now->sink != input->sink;
        },
        30.0));
    // The application's stream plays on elsewhere, and is recorded there. PipeWire's server
    // stalls its streams for a moment when one moves, longer under load, and what arrives too
    // late is cut: there the stream is measured once it has settled.
    const double settle = onPipeWire() ? 1.5 : 0.0;
    expectHealthyFor(capture, 2.5 + settle);
    const double stopped = hostTimeSeconds();
    LocalRecording recording = runWithWorkers(queue, capture.stop());

    const CaptureTimeline& timeline = recording.sourceTimeline.value();
    auto samples = store.sealedAudio(recording, 48000);
    EXPECT_NEAR(windowedAmplitude(between(samples, timeline, started + 0.3, moved - 0.2), 1000, 48000), 0.25,
                0.04);
    EXPECT_NEAR(
        windowedAmplitude(between(samples, timeline, moved + 0.7 + settle, stopped - 0.3), 1000, 48000), 0.25,
        0.04);
}

} // namespace
