// The microphone source against a fake engine: start, health, pause, resume and stop.
#include "Nuvel/platform/MicrophoneCapture.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/platform/FakeCapturePlatform.hpp"
#include "tests/support/ErrorExpectations.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace nuvel;
using namespace nuvel::test;
using Kind = FakeLiveAudioSink::Event::Kind;

namespace {

class MicrophoneCaptureTest : public testing::Test {
protected:
    FakeCapturePlatform platform;
    std::shared_ptr<FakeLiveAudioSink> store = std::make_shared<FakeLiveAudioSink>();
    int consumerRuns = 0;

    std::unique_ptr<MicrophoneCapture> make(std::optional<std::uint32_t> device = std::nullopt) {
        return std::make_unique<MicrophoneCapture>(Uuid::random(), store, device, platform);
    }
    // Starts, and waits until the consumer has made its first pass.
    void start(MicrophoneCapture& capture) {
        capture.start();
        ASSERT_TRUE(platform.parkingClock.waitForSleeps(++consumerRuns));
    }
    void resume(MicrophoneCapture& capture) {
        capture.resume();
        ASSERT_TRUE(platform.parkingClock.waitForSleeps(++consumerRuns));
    }
    LocalRecording pause(MicrophoneCapture& capture) {
        return runWithWorkers(platform.queue, capture.pause());
    }
    LocalRecording stop(MicrophoneCapture& capture) { return runWithWorkers(platform.queue, capture.stop()); }
    FakeEngineState& engine() { return *platform.engine; }
    double now() { return platform.parkingClock.now(); }
};

TEST_F(MicrophoneCaptureTest, StartAcceptsOnlyFloatNonInterleavedInputsOfUsualRatesAndChannels) {
    struct Case {
        double rate;
        int channels;
        PcmSampleFormat format;
        bool interleaved;
        bool accepted;
    };
    const Case cases[] = {
        {7999, 1, PcmSampleFormat::float32, false, false},
        {192001, 1, PcmSampleFormat::float32, false, false},
        {48000, 0, PcmSampleFormat::float32, false, false},
        {48000, 33, PcmSampleFormat::float32, false, false},
        {48000, 1, PcmSampleFormat::int16, false, false},
        {48000, 2, PcmSampleFormat::float32, true, false},
        {8000, 1, PcmSampleFormat::float32, false, true},
        {192000, 32, PcmSampleFormat::float32, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        platform.engine->format = {c.rate, c.channels, c.format, c.interleaved};
        auto capture = make();
        if (c.accepted) {
            start(*capture);
            EXPECT_TRUE(engine().running);
            EXPECT_EQ(capture->sampleRate(), c.rate);
            stop(*capture);
        } else {
            expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->start(); });
            EXPECT_FALSE(engine().tap);
            EXPECT_TRUE(engine().observers.empty());
            EXPECT_EQ(engine().starts, 0);
        }
    }
}

TEST_F(MicrophoneCaptureTest, AFailedStartLeavesNoTapObserverOrRunningEngineBehind) {
    // The engine does not start: the tap and the configuration observer are both removed, so
    // nothing keeps the ring alive or marks it afterwards.
    platform.engine->startFails = true;
    auto capture = make();
    EXPECT_THROW(capture->start(), std::runtime_error);
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
    EXPECT_FALSE(engine().running);
    EXPECT_FALSE(capture->isHealthy());
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->resume(); });

    // A device that is gone: its error as it is, nothing installed.
    platform.engine->startFails = false;
    platform.engine->deviceUnavailable = true;
    capture = make(7);
    try {
        capture->start();
        ADD_FAILURE() << "started";
    } catch (const MicrophoneDevices::DeviceError& e) {
        EXPECT_EQ(e.kind(), MicrophoneDevices::DeviceError::Case::unavailable);
    }
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
}

TEST_F(MicrophoneCaptureTest, EveryQueuedFrameIsAppendedBeforeTheSegmentIsFinished) {
    auto capture = make(3);
    EXPECT_EQ(capture->duration(), 0);
    start(*capture);
    EXPECT_EQ(engine().device, 3u);
    for (int i = 0; i < 60; ++i)
        engine().deliver(1024, 0.25f, now() + i * 1024 / 48000.0);
    EXPECT_DOUBLE_EQ(capture->duration(), 60 * 1024 / 48000.0);
    EXPECT_FLOAT_EQ(float(capture->microphoneLevel()), 0.25f);
    EXPECT_EQ(capture->systemLevel(), 0);

    LocalRecording recording = pause(*capture);
    ASSERT_EQ(recording.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(recording.segments[0].duration, 60 * 1024 / 48000.0);
    auto events = store->events();
    EXPECT_EQ(store->appendedFrames(), 60 * 1024);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, Kind::finish);
    EXPECT_EQ(capture->microphoneLevel(), 0); // paused
    EXPECT_TRUE(capture->isHealthy());

    // Buffers while paused are dropped but keep the source alive.
    platform.parkingClock.advance(5);
    engine().deliver(1024, 0.5f, now());
    EXPECT_DOUBLE_EQ(capture->duration(), 60 * 1024 / 48000.0);
    resume(*capture);
    engine().deliver(4800, 0.5f, now());
    recording = stop(*capture);
    ASSERT_EQ(recording.segments.size(), 2u);
    EXPECT_DOUBLE_EQ(recording.segments[1].duration, 0.1);
    EXPECT_EQ(store->appendedFrames(), 60 * 1024 + 4800);
    // Stopped: tap and observer removed, engine stopped.
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
    EXPECT_FALSE(engine().running);
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->resume(); });
    // Stopping again finishes again and changes nothing.
    recording = stop(*capture);
    EXPECT_EQ(recording.segments.size(), 2u);
}

TEST_F(MicrophoneCaptureTest, LostAudioMakesTheSourceUnhealthyAndTheDrainThrowsAfterFinishing) {
    struct Loss {
        const char* name;
        std::function<void(FakeEngineState&, double now)> cause;
    };
    const Loss losses[] = {
        {"configuration change", [](FakeEngineState& e, double) { e.changeConfiguration(); }},
        {"buffer at another rate", [](FakeEngineState& e, double now) { e.deliver(441, 0.1f, now, 44100); }},
        {"buffer without a time", [](FakeEngineState& e, double) { e.deliver(480, 0.1f, std::nullopt); }},
    };
    for (const Loss& loss : losses) {
        SCOPED_TRACE(loss.name);
        store = std::make_shared<FakeLiveAudioSink>();
        auto capture = make();
        start(*capture);
        engine().deliver(4800, 0.3f, now());
        EXPECT_TRUE(capture->isHealthy());
        loss.cause(engine(), now());
        EXPECT_FALSE(capture->isHealthy());
        engine().deliver(4800, 0.3f, now()); // refused from now on
        EXPECT_DOUBLE_EQ(capture->duration(), 0.1);

        expectRecordingError(RecordingError::Code::invalidTransport, [&] { pause(*capture); });
        // The audio captured before the loss is a finished segment.
        EXPECT_EQ(store->finishes(), 1);
        EXPECT_EQ(store->recording().segments.size(), 1u);
        EXPECT_EQ(store->appendedFrames(), 4800);
        // The source stays paused and refuses to resume.
        expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->resume(); });
        EXPECT_EQ(capture->microphoneLevel(), 0);
        expectRecordingError(RecordingError::Code::invalidTransport, [&] { stop(*capture); });
    }
}

TEST_F(MicrophoneCaptureTest, TheWatchdogTripsTwoSecondsAfterTheLaterOfStartAndLastCallback) {
    auto capture = make();
    start(*capture);
    const double startedAt = now();
    platform.parkingClock.set(startedAt + 2.0);
    EXPECT_TRUE(capture->isHealthy());
    platform.parkingClock.set(startedAt + 2.001);
    EXPECT_FALSE(capture->isHealthy());
    // A callback brings it back; then two seconds from that callback.
    engine().deliver(480, 0.1f, startedAt + 2.5);
    platform.parkingClock.set(startedAt + 4.5);
    EXPECT_TRUE(capture->isHealthy());
    platform.parkingClock.set(startedAt + 4.501);
    EXPECT_FALSE(capture->isHealthy());
    // Paused: healthy however long nothing comes, as long as the engine runs.
    engine().deliver(480, 0.1f, now());
    pause(*capture);
    platform.parkingClock.advance(60);
    EXPECT_TRUE(capture->isHealthy());
    // Resuming restarts the two seconds from the resume time.
    resume(*capture);
    platform.parkingClock.advance(2.0);
    EXPECT_TRUE(capture->isHealthy());
    // An engine that stopped under the source.
    engine().running = false;
    EXPECT_FALSE(capture->isHealthy());
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->resume(); });
}

TEST_F(MicrophoneCaptureTest, ResumingARunningSourceIsRefused) {
    auto capture = make();
    start(*capture);
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->resume(); });
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { capture->start(); });
    engine().deliver(480, 0.1f, now());
    stop(*capture);
    EXPECT_EQ(store->appendedFrames(), 480);
}

TEST_F(MicrophoneCaptureTest, DestroyingARunningSourceRemovesEverythingAndKeepsItsAudio) {
    auto capture = make();
    start(*capture);
    engine().deliver(2048, 0.1f, now());
    capture.reset();
    EXPECT_TRUE(engine().destroyed);
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
    EXPECT_FALSE(engine().running);
    EXPECT_EQ(store->appendedFrames(), 2048);
}

} // namespace
