// The capture sources against the private sound server of scripts/test-env, writing into a real
// recording store: the room microphone, one application or all system audio with the
// microphone, the source check, and sources that go away.
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/MicrophoneCapture.hpp"
#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/platform/CaptureServerSupport.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/CaptureFakes.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/RealTimeQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;
using Selection = SystemAudioCapture::Selection;

namespace {

class CaptureServerTest : public testing::Test {
protected:
    ManualMainQueue queue;
    InlineExecutor executor;
    StoreFixture store;
};

TEST_F(CaptureServerTest, ATwelveSecondRoomRecordingIsSealedSegmentsOfTheTone) {
    NUVEL_CONNECT_PULSE(connection);
    WarmSource microphone("testmic");
    ASSERT_TRUE(microphone.warm());
    PulseCapturePlatform platform(connection, queue, executor);
    MicrophoneCapture capture(store.id, store.sink, std::nullopt, platform);
    capture.start();
    const double started = hostTimeSeconds();
    const double rate = capture.sampleRate();
    EXPECT_EQ(rate, double(sourceInfo(*connection, "testmic")->sampleSpec.rate));
    expectHealthyFor(capture, 12.0 - (hostTimeSeconds() - started));
    const double elapsed = hostTimeSeconds() - started;
    EXPECT_GT(capture.microphoneLevel(), 0.3);
    LocalRecording recording = runWithWorkers(queue, capture.stop());

    // PipeWire's record latency reaches about 0.15 s under load: the last of it before the stop
    // may not have arrived.
    const double latency = onPipeWire() ? 0.3 : 0.1;
    EXPECT_NEAR(recording.totalDuration(), 12.0, latency);
    EXPECT_NEAR(recording.totalDuration(), elapsed, latency);
    EXPECT_NEAR(capture.duration(), recording.totalDuration(), 1e-9);
    ASSERT_EQ(recording.segments.size(), 3u); // 5 s, 5 s and the rest
    EXPECT_DOUBLE_EQ(recording.segments[0].duration, 5.0);
    EXPECT_EQ(recording, store.store->loadRecording(store.id));

    auto samples = store.sealedAudio(recording, rate);
    EXPECT_NEAR(windowedAmplitude(samples, 440, rate), 0.5, 0.03);
    EXPECT_LT(windowedAmplitude(samples, 1000, rate), 0.01); // and nothing else
}

TEST_F(CaptureServerTest, OneApplicationIsCapturedWithTheMicrophoneAndWithoutTheOtherApplications) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_meeting");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    TempDir tones("capture-tones");
    writeToneWav(tones / "meeting.wav", 1000, 30, 0.5);
    writeToneWav(tones / "other.wav", 2000, 30, 0.5);
    ChildProcess meeting({"paplay", "-d", sinkName, (tones / "meeting.wav").string()});
    ChildProcess other({"paplay", "-d", sinkName, (tones / "other.wav").string()}); // same sink
    ASSERT_TRUE(sinkInputOf(*connection, meeting.pid()));
    ASSERT_TRUE(sinkInputOf(*connection, other.pid()));
    WarmSource output(sinkName + ".monitor");
    WarmSource microphone("testmic");
    ASSERT_TRUE(output.warm() && microphone.warm());

    PulseCapturePlatform platform(connection, queue, executor);
    auto applications = runWithWorkers(queue, SystemAudioCapture::availableApplications(platform));
    auto listed = std::find_if(applications.begin(), applications.end(),
                               [&](const auto& a) { return a.id == meeting.pid(); });
    ASSERT_NE(listed, applications.end());
    auto input = sinkInputOf(*connection, meeting.pid());
    EXPECT_EQ(listed->name, input->applicationName);
    EXPECT_FALSE(listed->name.empty());
    EXPECT_EQ(listed->bundleIdentifier, input->applicationID.value_or(input->processBinary));
    EXPECT_FALSE(listed->bundleIdentifier.empty());
    for (const auto& application : applications)
        EXPECT_NE(application.id, getpid());

    SystemAudioCapture capture(store.sink, store.id, Selection::application(meeting.pid()), true,
                               std::nullopt, platform);
    runWithWorkers(queue, capture.start());
    expectHealthyFor(capture, 4.0);
    EXPECT_GT(capture.systemLevel(), 0.3);
    LocalRecording paused = runWithWorkers(queue, capture.pause());
    EXPECT_FALSE(paused.segments.empty());
    ASSERT_TRUE(paused.sourceTimeline);
    EXPECT_EQ(paused.sourceTimeline->spans.size(), 1u);
    sleepSeconds(1.0);
    EXPECT_TRUE(capture.isHealthy());
    capture.resume();
    expectHealthyFor(capture, 3.0);
    LocalRecording recording = runWithWorkers(queue, capture.stop());

    EXPECT_NEAR(capture.duration(), 7.0, 0.2);
    EXPECT_NEAR(recording.totalDuration(), capture.duration(), 0.2);
    const CaptureTimeline& timeline = recording.sourceTimeline.value();
    ASSERT_EQ(timeline.spans.size(), 2u);
    for (const auto& span : timeline.spans)
        EXPECT_TRUE(span.hostEnd.has_value());
    EXPECT_EQ(timeline.spans[1].mediaFrameStart, timeline.spans[0].mediaFrameEnd);
    EXPECT_EQ(timeline.committedFrames, recording.capturedFrames.value_or(-1));
    expectFewIntervals(timeline);

    auto samples = store.sealedAudio(recording, 48000);
    EXPECT_NEAR(windowedAmplitude(samples, 1000, 48000), 0.25, 0.04); // the application, halved in the mix
    EXPECT_NEAR(windowedAmplitude(samples, 440, 48000), 0.25, 0.04);  // the microphone, halved
    EXPECT_LT(windowedAmplitude(samples, 2000, 48000), 0.01);         // not the other application
}

TEST_F(CaptureServerTest, AllSystemAudioIsEverythingTheOutputPlaysWithTheMicrophone) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_speakers");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    TempDir tones("capture-tones");
    writeToneWav(tones / "one.wav", 1000, 20, 0.5);
    writeToneWav(tones / "two.wav", 2000, 20, 0.3);
    ChildProcess one({"paplay", "-d", sinkName, (tones / "one.wav").string()});
    ChildProcess two({"paplay", "-d", sinkName, (tones / "two.wav").string()});
    ASSERT_TRUE(sinkInputOf(*connection, one.pid()));
    ASSERT_TRUE(sinkInputOf(*connection, two.pid()));
    WarmSource output(sinkName + ".monitor");
    WarmSource microphone("testmic");
    ASSERT_TRUE(output.warm() && microphone.warm());

    // "All system audio" is this test's own output, so parallel tests are not heard.
    PulseCapturePlatform platform(connection, queue, executor, PulseSystemAudioService::Options{sinkName});
    SystemAudioCapture capture(store.sink, store.id, Selection::allSystem(), true, std::nullopt, platform);
    runWithWorkers(queue, capture.start());
    expectHealthyFor(capture, 3.0);
    LocalRecording recording = runWithWorkers(queue, capture.stop());

    EXPECT_NEAR(recording.totalDuration(), 3.0, 0.2);
    const CaptureTimeline& timeline = recording.sourceTimeline.value();
    ASSERT_EQ(timeline.spans.size(), 1u);
    expectFewIntervals(timeline);
    auto samples = store.sealedAudio(recording, 48000);
    EXPECT_NEAR(windowedAmplitude(samples, 1000, 48000), 0.25, 0.04);
    EXPECT_NEAR(windowedAmplitude(samples, 2000, 48000), 0.15, 0.03);
    EXPECT_NEAR(windowedAmplitude(samples, 440, 48000), 0.25, 0.04);
}

TEST_F(CaptureServerTest, WhatPlaysRightAtStartIsInTheRecordingFromItsBeginning) {
    NUVEL_CONNECT_PULSE(connection);
    for (const bool wholeSystem : {true, false}) {
        SCOPED_TRACE(wholeSystem ? "all system audio" : "one application");
        StoreFixture into;
        // An output nobody records yet, as the user's speakers are before Start: its first audio
        // to a new stream comes late.
        std::string sinkName = uniqueName("nuvel_cold");
        auto sink = privateSink(sinkName);
        ASSERT_TRUE(sink->loaded());
        TempDir tones("capture-tones");
        writeToneWav(tones / "tone.wav", 1000, 20, 0.5);
        ChildProcess player({"paplay", "-d", sinkName, (tones / "tone.wav").string()});
        ASSERT_TRUE(sinkInputOf(*connection, player.pid()));

        PulseCapturePlatform platform(connection, queue, executor,
                                      PulseSystemAudioService::Options{sinkName});
        SystemAudioCapture capture(
            into.sink, into.id, wholeSystem ? Selection::allSystem() : Selection::application(player.pid()),
            false, std::nullopt, platform);
        runWithWorkers(queue, capture.start());
        expectHealthyFor(capture, 2.0);
        LocalRecording recording = runWithWorkers(queue, capture.stop());

        const std::vector<float> samples = into.sealedAudio(recording, 48000);
        ASSERT_GE(samples.size(), 48000u);
        const auto tenth = [&](std::size_t index) {
            const auto from = samples.begin() + std::ptrdiff_t(index * 4800);
            return toneAmplitude(std::vector<float>(from, from + 4800), 1000, 48000);
        };
        const double steady = tenth(15);
        EXPECT_GT(steady, 0.2);
        for (std::size_t index = 0; index < 10; ++index)
            EXPECT_GT(tenth(index), 0.8 * steady) << "the tone is missing at " << double(index) / 10 << " s";
    }
}

TEST_F(CaptureServerTest, AnApplicationThatQuitsLeavesTheCaptureUnhealthyWithItsAudioKept) {
    NUVEL_CONNECT_PULSE(connection);
    MeetingOnPrivateSink app("nuvel_quitting");
    ASSERT_TRUE(app.ready(*connection));

    PulseCapturePlatform platform(connection, queue, executor);
    SystemAudioCapture capture(store.sink, store.id, Selection::application(app.meeting.pid()), true,
                               std::nullopt, platform);
    runWithWorkers(queue, capture.start());
    expectHealthyFor(capture, 1.5);
    app.meeting.stop();
    // Unhealthy as soon as the process is gone; once the server has removed its stream the
    // capture has lost that source for good, which the stop reports after keeping the audio.
    EXPECT_TRUE(waitFor([&] { return !capture.isHealthy(); }, 2.0));
    sleepSeconds(0.5);
    try {
        runWithWorkers(queue, capture.stop());
        ADD_FAILURE() << "stopped cleanly";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.code(), CaptureError::Code::sourceInterrupted);
    }
    EXPECT_THROW(capture.resume(), CaptureError);
    LocalRecording recording = store.store->loadRecording(store.id);
    EXPECT_GT(recording.totalDuration(), 1.0);
    EXPECT_TRUE(recording.sourceTimeline->spans.at(0).hostEnd.has_value());
    store.sealedAudio(recording, 48000);
}

TEST_F(CaptureServerTest, AMicrophoneThatGoesAwayEndsTheRoomCaptureWithItsAudioKept) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sourceName = uniqueName("nuvel_usbmic");
    auto module = privateSource(sourceName, {"rate=16000", "channels=2"});
    ASSERT_TRUE(module->loaded());
    auto device = MicrophoneDevices::device(*connection, sourceName);
    ASSERT_TRUE(device);

    PulseCapturePlatform platform(connection, queue, executor);
    MicrophoneCapture capture(store.id, store.sink, device->id, platform);
    capture.start();
    EXPECT_EQ(capture.sampleRate(), 16000);
    expectHealthyFor(capture, 1.5);
    module->unload();
    EXPECT_TRUE(waitFor([&] { return !capture.isHealthy(); }, 30.0));
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { runWithWorkers(queue, capture.stop()); });
    LocalRecording recording = store.store->loadRecording(store.id);
    EXPECT_NEAR(recording.totalDuration(), 1.5, 0.3);
    auto samples = store.sealedAudio(recording, 16000);
    EXPECT_EQ(peak(samples), 0.0); // a null source is silent

    // Chosen again while it is gone, the device is unavailable.
    MicrophoneCapture again(store.id, store.sink, device->id, platform);
    try {
        again.start();
        ADD_FAILURE() << "started";
    } catch (const MicrophoneDevices::DeviceError& e) {
        EXPECT_EQ(e.kind(), MicrophoneDevices::DeviceError::Case::unavailable);
    }
}

TEST_F(CaptureServerTest, TheSourceCheckMetersAnApplicationAndTheMicrophoneForThreeSeconds) {
    NUVEL_CONNECT_PULSE(connection);
    MeetingOnPrivateSink app("nuvel_check");
    ASSERT_TRUE(app.ready(*connection));

    struct Meters final : SourceCheckMeters {
        std::vector<double> microphone, system;
        void setMicrophoneLevel(double level) override { microphone.push_back(level); }
        void setSystemLevel(double level) override { system.push_back(level); }
    };
    auto meters = std::make_shared<Meters>();
    PulseCapturePlatform platform(connection, queue, executor);
    const double begun = hostTimeSeconds();
    runInRealTime(queue, SystemAudioCapture::sourceCheck(Selection::application(app.meeting.pid()), true,
                                                         std::nullopt, meters, platform));
    EXPECT_NEAR(hostTimeSeconds() - begun, 3.0, 0.5);
    ASSERT_EQ(meters->system.size(), 30u);
    ASSERT_EQ(meters->microphone.size(), 30u);
    // Both sources reach their meters (a 0.5 sine has an RMS of about 0.35), read over the last
    // second: a reading of a stretch the server held back shows less.
    const auto lastSecond = [](const std::vector<double>& levels) {
        return steadyLevel(std::vector<double>(levels.end() - 10, levels.end()));
    };
    EXPECT_NEAR(lastSecond(meters->system), 0.354, 0.05);
    EXPECT_NEAR(lastSecond(meters->microphone), 0.354, 0.05);
}

} // namespace
