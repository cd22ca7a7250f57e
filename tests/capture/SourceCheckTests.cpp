#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/SourceCheck.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/CaptureFakes.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <vector>

using namespace nuvel;
using nuvel::test::RecordedMeters;

namespace {

// A microphone on the manual queue's clock: one buffer of `frames` frames of `value` every
// `interval` seconds while `deliver` is true.
struct FakeMicrophone {
    ManualMainQueue* queue;
    AudioRing ring{64, 8192};
    std::vector<float> buffer;
    bool deliver = true;
    int delivered = 0;
    MainQueue::TimerId timer = 0;

    FakeMicrophone(ManualMainQueue& q, float value, std::uint32_t frames = 1024, double interval = 0.02)
        : queue(&q), buffer(frames, value) {
        timer = q.startRepeatingTimer(interval, [this] {
            if (!deliver)
                return;
            const float* channels[1] = {buffer.data()};
            ring.push(channels, 1, std::uint32_t(buffer.size()), queue->now(), 48000);
            ++delivered;
        });
    }
    ~FakeMicrophone() { queue->cancelTimer(timer); }
};

struct Outcome {
    bool finished = false;
    std::exception_ptr error;
    double endedAt = 0;
};

Task<void> observe(Task<void> check, Outcome* outcome, ManualMainQueue* queue) {
    try {
        co_await std::move(check);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->finished = true;
    outcome->endedAt = queue->now();
}

std::optional<RecordingError::Code> recordingErrorOf(const std::exception_ptr& error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const RecordingError& e) {
        return e.code();
    } catch (...) {
    }
    return std::nullopt;
}

class MicrophonePasses : public ::testing::Test {
protected:
    ManualMainQueue queue{1000.0};
    std::shared_ptr<RecordedMeters> meters = std::make_shared<RecordedMeters>();
    Outcome outcome;

    TaskHandle start(AudioRing& ring, std::weak_ptr<SourceCheckMeters> sink) {
        auto clock = [q = &queue] { return q->now(); };
        return spawn(queue,
                     observe(SourceCheck::microphonePasses(&ring, clock, std::move(sink)), &outcome, &queue));
    }
    void runFor(double seconds) {
        queue.drain();
        queue.advance(seconds);
    }
};

TEST_F(MicrophonePasses, ThirtyPassesAHundredMillisecondsApartMeterAndDiscardTheAudio) {
    FakeMicrophone microphone(queue, 0.5f);
    start(microphone.ring, meters);
    runFor(2.95);
    EXPECT_FALSE(outcome.finished);
    runFor(0.1);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.error, nullptr);
    EXPECT_NEAR(outcome.endedAt - 1000.0, 3.0, 1e-6);
    // One meter reading per pass, none for system audio; the first pass ran before any buffer.
    ASSERT_EQ(meters->microphone.size(), 30u);
    EXPECT_EQ(meters->systemSets, 0);
    EXPECT_EQ(meters->microphone.front(), 0.0);
    for (std::size_t i = 1; i < meters->microphone.size(); ++i)
        EXPECT_NEAR(meters->microphone[i], 0.5, 1e-6);
    // Every pass emptied the ring (4 or 5 buffers came in between two passes): it never filled.
    EXPECT_GT(microphone.delivered, 64);
    EXPECT_FALSE(microphone.ring.overflowed());
}

TEST_F(MicrophonePasses, SilenceIsNotAFailureButMissingCallbacksAre) {
    {
        FakeMicrophone silent(queue, 0.0f);
        start(silent.ring, meters);
        runFor(3.1);
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.error, nullptr);
        EXPECT_EQ(meters->microphone.back(), 0.0);
    }
    // No buffer at all: the watchdog gives the source 2 s from the start of the check.
    outcome = {};
    meters = std::make_shared<RecordedMeters>();
    AudioRing dead(64, 8192);
    const double started = queue.now();
    start(dead, meters);
    runFor(5);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(recordingErrorOf(outcome.error), RecordingError::Code::invalidTransport);
    EXPECT_GT(outcome.endedAt - started, 2.0);
    EXPECT_LT(outcome.endedAt - started, 2.25);
}

TEST_F(MicrophonePasses, AMicrophoneThatStopsFailsTwoSecondsAfterItsLastBuffer) {
    FakeMicrophone microphone(queue, 0.25f);
    start(microphone.ring, meters);
    runFor(0.5);
    microphone.deliver = false;
    const double lastBuffer = queue.now();
    runFor(4);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(recordingErrorOf(outcome.error), RecordingError::Code::invalidTransport);
    EXPECT_GT(outcome.endedAt - lastBuffer, 2.0 - 0.05);
    EXPECT_LT(outcome.endedAt - lastBuffer, 2.2);
    EXPECT_LT(meters->microphone.size(), 30u);
}

TEST_F(MicrophonePasses, LostAudioFailsTheNextPass) {
    FakeMicrophone microphone(queue, 0.25f);
    start(microphone.ring, meters);
    runFor(1.05);
    const std::size_t before = meters->microphone.size();
    microphone.ring.markDropped();
    runFor(0.1);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(recordingErrorOf(outcome.error), RecordingError::Code::invalidTransport);
    EXPECT_EQ(meters->microphone.size(), before + 1); // the failing pass still shows its level
}

TEST_F(MicrophonePasses, CancellingDuringASleepEndsTheCheckWithoutFurtherReadings) {
    FakeMicrophone microphone(queue, 0.25f);
    TaskHandle check = start(microphone.ring, meters);
    runFor(1.05);
    const std::size_t before = meters->microphone.size();
    check.cancel();
    runFor(1);
    ASSERT_TRUE(outcome.finished);
    EXPECT_THROW(std::rethrow_exception(outcome.error), Cancelled);
    EXPECT_EQ(meters->microphone.size(), before);
}

TEST_F(MicrophonePasses, ACheckWhoseMetersAreGoneStillRunsAllPasses) {
    FakeMicrophone microphone(queue, 0.25f);
    start(microphone.ring, meters);
    runFor(0.55);
    const std::size_t before = meters->microphone.size();
    std::weak_ptr<RecordedMeters> watch = meters;
    meters.reset(); // the sheet has gone away
    EXPECT_TRUE(watch.expired());
    runFor(3);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.error, nullptr);
    EXPECT_EQ(before, 6u); // readings stopped when the meters went
}

} // namespace
