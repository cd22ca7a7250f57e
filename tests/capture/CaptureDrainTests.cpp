// The consumer of the microphone source, and the drains of both sources: how a stretch ends.
#include "NuvelKit/capture/CaptureError.hpp"
#include "NuvelKit/capture/MicrophoneConsumer.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/CaptureFakes.hpp"
#include "tests/support/ErrorExpectations.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

namespace nuvel {
namespace {

using test::expectRecordingError;
using test::FakeLiveAudioSink;
using test::ParkingCaptureClock;
using test::runWithWorkers;
using test::ScriptedCaptureClock;
using Kind = FakeLiveAudioSink::Event::Kind;

void push(AudioRing& ring, std::size_t frames, float value, double hostTime = 1000.0, double rate = 48000) {
    std::vector<float> samples(frames, value);
    const float* channels[] = {samples.data()};
    ASSERT_TRUE(ring.push(channels, 1, std::uint32_t(frames), hostTime, rate));
}

TEST(MicrophoneConsumer, AppendsWhatIsQueuedAsItComesAndWhatIsLeftWhenStopped) {
    AudioRing ring(64, 8192);
    FakeLiveAudioSink store;
    ScriptedCaptureClock clock;
    std::stop_source stop;
    push(ring, 1024, 0.1f);
    push(ring, 8192, 0.2f);
    clock.onSleep = [&] {
        if (clock.sleeps() == 1) {
            EXPECT_EQ(store.appendedFrames(), 1024 + 8192); // both, before the first sleep
            // More than one append holds: appended in appends the store takes.
            for (int i = 0; i < 5; ++i)
                push(ring, 8192, 0.3f);
        } else if (clock.sleeps() == 3) {
            push(ring, 10, 0.4f); // queued when the stop comes: appended all the same
            stop.request_stop();
        }
    };
    MicrophoneConsumer::run(ring, store, Uuid::random(), 44100, clock, stop.get_token());
    auto events = store.events();
    // Queued slots go in one append, up to the most the store takes in one.
    const std::int64_t sizes[] = {1024 + 8192, 4 * 8192, 8192, 10};
    ASSERT_EQ(events.size(), std::size(sizes));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(events[i].frames, sizes[i]);
        EXPECT_EQ(events[i].sampleRate, 44100.0);
    }
    ASSERT_EQ(store.samples().size(), std::size_t(1024 + 6 * 8192 + 10));
    EXPECT_EQ(store.samples()[1023], 0.1f);
    EXPECT_EQ(store.samples()[1024], 0.2f);
    EXPECT_EQ(store.samples().back(), 0.4f);
    EXPECT_EQ(clock.sleeps(), 3);
}

TEST(MicrophoneConsumer, LooksAgainBeforeAQuarterOfTheRingCanFill) {
    // Pieces of the given length at 48 kHz, and the sleep after the look that found them.
    for (auto [frames, sleep] : {std::pair{4800u, 0.1}, {48u, 0.016}, {4u, 0.010}}) {
        AudioRing ring(64, 8192);
        FakeLiveAudioSink store;
        ScriptedCaptureClock clock(0.0);
        std::stop_source stop;
        for (int i = 0; i < 3; ++i)
            push(ring, frames, 0.1f);
        clock.onSleep = [&] { stop.request_stop(); };
        MicrophoneConsumer::run(ring, store, Uuid::random(), 48000, clock, stop.get_token());
        EXPECT_NEAR(clock.now(), sleep, 1e-9) << frames;
        EXPECT_EQ(store.appendedFrames(), 3 * frames);
    }
}

TEST(MicrophoneConsumer, AFailedAppendMarksTheRingDroppedAndEndsTheRun) {
    AudioRing ring(64, 8192);
    FakeLiveAudioSink store;
    ScriptedCaptureClock clock;
    store.failAppendAfter(1);
    push(ring, 100, 0.1f);
    push(ring, 100, 0.2f);
    push(ring, 100, 0.3f);
    clock.onSleep = [&] { push(ring, 100, 0.4f); }; // the second append, after the first sleep
    EXPECT_THROW(MicrophoneConsumer::run(ring, store, Uuid::random(), 48000, clock, std::stop_token()),
                 std::runtime_error);
    EXPECT_TRUE(ring.overflowed());
    EXPECT_EQ(store.appendedFrames(), 300);
}

// A drain on the main queue, with the consumer on its own thread.
class DrainTest : public testing::Test {
protected:
    ManualMainQueue queue;
    InlineExecutor executor;
    ParkingCaptureClock clock;
    std::shared_ptr<AudioRing> microphone = std::make_shared<AudioRing>(64, 8192);
    std::shared_ptr<AudioRing> system = std::make_shared<AudioRing>(64, 8192);
    std::shared_ptr<FakeLiveAudioSink> store = std::make_shared<FakeLiveAudioSink>();
    std::shared_ptr<CaptureTimelineLedger> ledger = std::make_shared<CaptureTimelineLedger>();
    std::unique_ptr<ConsumerRun> consumer;
    Uuid id = Uuid::random();

    void startMicrophoneConsumer() {
        consumer = std::make_unique<ConsumerRun>(queue, [this](std::stop_token stop) {
            MicrophoneConsumer::run(*microphone, *store, id, 48000, clock, stop);
        });
        ASSERT_TRUE(clock.waitForSleeps(1));
    }

    void startSystemConsumer(bool withStore = true) {
        ledger->beginSpan(clock.now(), Date{1});
        SystemCaptureConsumer::Inputs inputs;
        inputs.startedAt = clock.now();
        inputs.ledger = ledger;
        inputs.store = withStore ? store : nullptr;
        inputs.recordingID = id;
        inputs.system = system;
        inputs.includesMicrophone = true;
        inputs.microphone = microphone;
        inputs.microphoneRate = 48000;
        consumer = std::make_unique<ConsumerRun>(
            queue, [this, inputs](std::stop_token stop) { SystemCaptureConsumer::run(inputs, clock, stop); });
        ASSERT_TRUE(clock.waitForSleeps(1));
    }

    void startFailingConsumer(std::exception_ptr error) {
        consumer =
            std::make_unique<ConsumerRun>(queue, [error](std::stop_token) { std::rethrow_exception(error); });
    }

    LocalRecording drainMicrophone() {
        return runWithWorkers(queue, drainMicrophoneCapture(microphone, consumer, store, id, executor));
    }
    LocalRecording drainSystem(bool withStore = true) {
        return runWithWorkers(queue, drainSystemCapture(microphone, system, consumer,
                                                        withStore ? store : nullptr, id, executor));
    }
};

TEST_F(DrainTest, MicrophoneDrainAppendsEveryQueuedFrameBeforeFinishingTheSegment) {
    startMicrophoneConsumer();
    for (int i = 0; i < 40; ++i)
        push(*microphone, 1024, float(i) / 100);
    microphone->setPaused(true);
    LocalRecording recording = drainMicrophone();
    EXPECT_EQ(consumer, nullptr);
    auto events = store->events();
    EXPECT_EQ(store->appendedFrames(), 40 * 1024);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, Kind::finish);
    EXPECT_EQ(events.back().frames, 40 * 1024);
    ASSERT_EQ(recording.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(recording.segments[0].duration, 40 * 1024 / 48000.0);
    EXPECT_EQ(store->samples()[39 * 1024], 0.39f);
}

TEST_F(DrainTest, MicrophoneDrainReportsLostAudioAfterTheSegmentIsFinished) {
    startMicrophoneConsumer();
    push(*microphone, 4800, 0.5f);
    microphone->markDropped();
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { drainMicrophone(); });
    // The audio captured before the loss is a segment.
    EXPECT_EQ(store->finishes(), 1);
    EXPECT_EQ(store->recording().segments.size(), 1u);
}

TEST_F(DrainTest, MicrophoneDrainFinishesAfterAFailedConsumerAndRethrowsItsError) {
    store->failAppendAfter(1);
    startMicrophoneConsumer();
    // Five full slots: more than one append takes, so the second append fails.
    for (int i = 0; i < 5; ++i)
        push(*microphone, 8192, 0.5f);
    store->failFinishes(true); // a second failure does not hide the first
    EXPECT_THROW(drainMicrophone(), std::runtime_error);
    EXPECT_EQ(store->finishes(), 1);
    EXPECT_EQ(store->appendedFrames(), 4 * 8192);
    EXPECT_TRUE(microphone->overflowed());
    EXPECT_EQ(consumer, nullptr);
    // A second drain has no consumer to wait for and reports the loss.
    store->failFinishes(false);
    EXPECT_THROW(drainMicrophone(), RecordingError);
}

TEST_F(DrainTest, SystemDrainWritesTheStretchAndReturnsTheFinishedRecording) {
    startSystemConsumer();
    for (int i = 0; i < 10; ++i) {
        push(*system, 480, 0.4f, clock.now() + i * 0.01);
        push(*microphone, 480, 0.2f, clock.now() + i * 0.01);
    }
    system->setPaused(true);
    microphone->setPaused(true);
    LocalRecording recording = drainSystem();
    ASSERT_EQ(recording.segments.size(), 1u);
    EXPECT_DOUBLE_EQ(recording.segments[0].duration, 0.1);
    auto events = store->events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, Kind::timeline); // saved at the end of the run
    EXPECT_EQ(events.back().kind, Kind::finish);
    EXPECT_EQ(recording.sourceTimeline->spans.at(0).hostEnd, clock.now() + 0.1);
}

TEST_F(DrainTest, SystemDrainAfterANormalRunWithLostAudioThrowsSourceInterruptedAfterFinishing) {
    startSystemConsumer();
    push(*system, 480, 0.4f, clock.now());
    // Lost after the last pass: the run itself ends normally.
    system->markDropped();
    try {
        drainSystem();
        ADD_FAILURE() << "drain succeeded";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.code(), CaptureError::Code::sourceInterrupted);
    }
    EXPECT_EQ(store->finishes(), 1);
    EXPECT_EQ(store->recording().segments.size(), 1u);
}

TEST_F(DrainTest, SystemDrainAfterAFailedRunFinishesAndRethrowsTheRunsError) {
    startFailingConsumer(std::make_exception_ptr(RecordingError(RecordingError::Code::invalidTransport)));
    store->failFinishes(true);
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { drainSystem(); });
    EXPECT_EQ(store->finishes(), 1);
    EXPECT_EQ(consumer, nullptr);
}

TEST_F(DrainTest, SystemDrainWithoutAStoreEndsTheRunAndThrowsInvalidManifest) {
    startSystemConsumer(false);
    push(*system, 375, 0.4f, clock.now()); // 375 frames end on an exactly representable time
    expectRecordingError(RecordingError::Code::invalidManifest, [&] { drainSystem(false); });
    EXPECT_EQ(ledger->snapshot().committedFrames, 375);
    EXPECT_TRUE(store->events().empty());
}

TEST(CaptureError, DescriptionsAreTheUsersSentences) {
    EXPECT_EQ(CaptureError(CaptureError::Code::permission).description(),
              "Allow Screen & System Audio Recording in System Settings, then reopen Nuvel.");
    EXPECT_EQ(CaptureError(CaptureError::Code::sourceMissing).description(),
              "The selected application is unavailable. Choose it again before recording.");
    EXPECT_EQ(CaptureError(CaptureError::Code::sourceInterrupted).description(),
              "An audio source stopped delivering audio. Your recorded audio is preserved.");
    EXPECT_EQ(CaptureError(CaptureError::Code::permission), CaptureError(CaptureError::Code::permission));
    EXPECT_NE(std::hash<CaptureError>()(CaptureError(CaptureError::Code::permission)),
              std::hash<CaptureError>()(CaptureError(CaptureError::Code::sourceMissing)));
}

} // namespace
} // namespace nuvel
