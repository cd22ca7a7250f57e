#include "NuvelKit/capture/CaptureError.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/CaptureFakes.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>

namespace nuvel {
namespace {

using test::FakeLiveAudioSink;
using test::ScriptedCaptureClock;
using Kind = FakeLiveAudioSink::Event::Kind;

constexpr double start = 1000.0;

// One run of the consumer on the test's thread. The producers are played from the clock's
// sleeps: each 10 ms pass, every buffer whose audio has been captured by then is pushed.
class SystemConsumerTest : public testing::Test {
protected:
    std::shared_ptr<AudioRing> system = std::make_shared<AudioRing>(64, 8192);
    std::shared_ptr<AudioRing> microphone = std::make_shared<AudioRing>(64, 8192);
    std::shared_ptr<CaptureTimelineLedger> ledger = std::make_shared<CaptureTimelineLedger>();
    std::shared_ptr<FakeLiveAudioSink> store = std::make_shared<FakeLiveAudioSink>();
    ScriptedCaptureClock clock{start};
    std::stop_source stop;
    bool includesMicrophone = true;
    double microphoneRate = 48000;

    // Steady producers: system 0.4 in 10 ms buffers at 48000 Hz, microphone 0.2 in 10 ms
    // buffers at its own rate, both from the span's start; off when their value is absent.
    std::optional<float> systemValue = 0.4f;
    std::optional<float> microphoneValue = 0.2f;
    double spanStart = start;
    std::int64_t systemBuffers = 0;
    std::int64_t microphoneBuffers = 0;
    // A microphone whose server holds back what it records over this stretch of host time and
    // then sends it at once; pushed, when `cutStale`, as the platform's producers push.
    double microphoneHeldFrom = 0;
    double microphoneHeldUntil = 0;
    bool cutStale = false;
    // How long before its push the producer read the clock for its cut (a thread held up).
    double cutDelay = 0;
    // Stop the run once the clock reaches this time.
    double stopAt = start + 1.0;
    // Called at every sleep after the producers, with the clock's time.
    std::function<void(double)> script;

    void push(AudioRing& ring, double hostTime, std::size_t frames, float value, double rate) {
        std::vector<float> samples(frames, value);
        const float* channels[] = {samples.data()};
        ASSERT_TRUE(ring.push(channels, 1, std::uint32_t(frames), hostTime, rate));
    }

    void produce() {
        const double now = clock.now();
        auto due = [&](std::int64_t index) { return spanStart + double(index + 1) * 0.01 <= now + 1e-9; };
        while (systemValue && due(systemBuffers)) {
            push(*system, spanStart + double(systemBuffers) * 0.01, 480, *systemValue, 48000);
            ++systemBuffers;
        }
        const auto micFrames = std::size_t(std::lround(microphoneRate * 0.01));
        const bool held = now > microphoneHeldFrom + 1e-9 && now < microphoneHeldUntil - 1e-9;
        while (microphoneValue && !held && due(microphoneBuffers)) {
            double hostTime = spanStart + double(microphoneBuffers) * 0.01;
            std::size_t frames = micFrames;
            if (cutStale) {
                const std::uint32_t stale = SystemCaptureConsumer::staleFrames(
                    hostTime, std::uint32_t(frames), microphoneRate, now - cutDelay);
                frames -= stale;
                hostTime += double(stale) / microphoneRate;
            }
            if (frames > 0)
                push(*microphone, hostTime, frames, *microphoneValue, microphoneRate);
            ++microphoneBuffers;
        }
    }

    SystemCaptureConsumer::Inputs inputs(bool withStore = true) const {
        SystemCaptureConsumer::Inputs in;
        in.startedAt = spanStart;
        in.ledger = ledger;
        in.store = withStore ? store : nullptr;
        in.recordingID = Uuid::random();
        in.system = system;
        in.includesMicrophone = includesMicrophone;
        in.microphone = microphone;
        in.microphoneRate = microphoneRate;
        return in;
    }

    // Begins a span at `spanStart` and runs one stretch; the error it ended with, or null.
    std::exception_ptr runStretch(bool withStore = true) {
        ledger->beginSpan(spanStart, Date{1});
        clock.set(spanStart);
        systemBuffers = microphoneBuffers = 0;
        stop = std::stop_source();
        clock.onSleep = [this] {
            produce();
            if (script)
                script(clock.now());
            if (clock.now() >= stopAt - 1e-9)
                stop.request_stop();
        };
        try {
            SystemCaptureConsumer::run(inputs(withStore), clock, stop.get_token());
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }
};

// A frame of the steady mix, or of the system stream alone where the failing pass left the
// microphone's last buffer unread.
bool steadyFrame(float x) {
    return std::abs(x - 0.3f) < 1e-6 || std::abs(x - 0.2f) < 1e-6;
}

template <class E> typename E::Code codeOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const E& e) {
        return e.code();
    }
}

TEST_F(SystemConsumerTest, SteadyStreamsAreMixedBehindRealTimeAndTheTimelineIsSavedEvery240000Frames) {
    stopAt = start + 12.0;
    std::int64_t appendedAtSix = -1;
    script = [&](double now) {
        if (std::abs(now - (start + 6.0)) < 1e-6)
            appendedAtSix = store->appendedFrames();
    };
    ASSERT_EQ(runStretch(), nullptr);

    // The pass before that sleep (at now - 10 ms) rendered up to the render lag before its own time.
    EXPECT_NEAR(double(appendedAtSix), (6.0 - 0.01 - SystemCaptureConsumer::renderLag) * 48000, 1.0);

    // On stop everything appended is written, the last render lag included: 12 s of output.
    auto samples = store->samples();
    ASSERT_EQ(samples.size(), 576000u);
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_NEAR(samples[i], 0.3f, 1e-6) << "frame " << i; // the mean of 0.4 and 0.2
    for (const auto& event : store->events())
        if (event.kind == Kind::append) {
            EXPECT_LE(event.frames, 4800);
            EXPECT_EQ(event.sampleRate, 48000.0);
        }

    // Saved after 240000 and 480000 committed frames with the span open, and at the end closed.
    auto timelines = store->timelines();
    ASSERT_EQ(timelines.size(), 3u);
    EXPECT_GE(timelines[0].committedFrames, 240000);
    EXPECT_LT(timelines[0].committedFrames, 240000 + 4800);
    EXPECT_GE(timelines[1].committedFrames, 480000);
    EXPECT_LT(timelines[1].committedFrames, 480000 + 4800);
    EXPECT_FALSE(timelines[0].spans.at(0).hostEnd.has_value());
    EXPECT_FALSE(timelines[1].spans.at(0).hostEnd.has_value());
    const CaptureTimeline& last = timelines[2];
    EXPECT_EQ(last, ledger->snapshot());
    EXPECT_EQ(last.committedFrames, 576000);
    ASSERT_EQ(last.spans.size(), 1u);
    EXPECT_EQ(last.spans[0].hostEnd, start + 12.0); // the end of the latest buffer
    EXPECT_EQ(last.spans[0].mediaFrameEnd, 576000);
    // Back-to-back buffers make one interval per source.
    ASSERT_EQ(last.intervals.size(), 2u);
    for (const auto& interval : last.intervals) {
        EXPECT_EQ(interval.sourceFrames, 576000);
        EXPECT_EQ(interval.mediaFrameStart, 0);
        EXPECT_EQ(interval.mediaFrameEnd, 576000);
    }
    EXPECT_FALSE(system->overflowed());
    EXPECT_FALSE(microphone->overflowed());
}

TEST_F(SystemConsumerTest, AMicrophoneAtAnotherRateIsPlacedOnTheOutputTimeline) {
    microphoneRate = 44100;
    stopAt = start + 2.0;
    ASSERT_EQ(runStretch(), nullptr);
    auto samples = store->samples();
    ASSERT_EQ(samples.size(), 96000u);
    // The microphone covers every output frame after resampling: the mean holds throughout.
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_NEAR(samples[i], 0.3f, 1e-6) << "frame " << i;
    auto timeline = ledger->snapshot();
    ASSERT_EQ(timeline.intervals.size(), 2u);
    EXPECT_EQ(timeline.intervals[1].source, "microphone");
    EXPECT_EQ(timeline.intervals[1].sampleRate, 44100.0);
    EXPECT_EQ(timeline.intervals[1].sourceFrames, 88200);
}

TEST_F(SystemConsumerTest, SilentProducersRenderSilenceUntilTheWatchdogEndsTheRun) {
    systemValue.reset();
    microphoneValue.reset();
    stopAt = start + 10.0;
    auto error = runStretch();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(codeOf<CaptureError>(error), CaptureError::Code::sourceInterrupted);
    // Passes up to 2.0 s after the start rendered silence the render lag behind; then the run failed.
    EXPECT_NEAR(clock.now() - start, 2.0, 0.011);
    auto samples = store->samples();
    EXPECT_NEAR(double(samples.size()), (clock.now() - start - SystemCaptureConsumer::renderLag) * 48000,
                481);
    for (float x : samples)
        ASSERT_EQ(x, 0.0f);
    // Closed at the start (nothing arrived), saved, and both rings marked dropped.
    auto timeline = store->recording().sourceTimeline.value();
    EXPECT_EQ(timeline.spans.at(0).hostEnd, start);
    EXPECT_EQ(timeline.committedFrames, std::int64_t(samples.size()));
    EXPECT_EQ(store->events().back().kind, Kind::timeline);
    EXPECT_TRUE(system->overflowed());
    EXPECT_TRUE(microphone->overflowed());
}

TEST_F(SystemConsumerTest, ABufferArrivingTooLateEndsTheRunWithInvalidTransport) {
    stopAt = start + 5.0;
    bool sent = false;
    script = [&](double now) {
        if (!sent && now >= start + 1.0 - 1e-9) {
            // The previous pass rendered up to 10 ms more than the render lag before now; this
            // one begins 40 ms before that.
            push(*system, now - SystemCaptureConsumer::renderLag - 0.05, 480, 0.9f, 48000);
            sent = true;
        }
    };
    auto error = runStretch();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(codeOf<RecordingError>(error), RecordingError::Code::invalidTransport);
    // What the mixer held is flushed: everything up to the end of the last steady buffers.
    auto samples = store->samples();
    EXPECT_EQ(samples.size(), 48000u);
    for (float x : samples)
        ASSERT_TRUE(steadyFrame(x)) << x; // the late buffer's 0.9 is nowhere
    auto timeline = store->recording().sourceTimeline.value();
    EXPECT_EQ(timeline.spans.at(0).hostEnd, start + 1.0);
    EXPECT_EQ(timeline.committedFrames, 48000);
    EXPECT_TRUE(system->overflowed());
    EXPECT_TRUE(microphone->overflowed());
    EXPECT_FALSE(system->push(nullptr, 1, 0, 0, 48000)); // refused from now on
}

TEST_F(SystemConsumerTest, AHeldBackMicrophoneCutAtThePushLeavesAGapInsteadOfEndingTheRun) {
    struct Case {
        const char* name;
        double heldFrom, heldUntil; // seconds after the start
        bool cut;
        bool fails;    // with invalidTransport
        double heldUp; // the producer read the clock for its cut this long before its push
    } cases[] = {
        // A fresh stream's first second sent at once, as PipeWire does: without the cut the first
        // buffers begin long before what was rendered and end the recording.
        {"start, uncut", 0, 1.0, false, true},
        {"start, cut", 0, 1.0, true, false},
        // A stall in the middle of the run.
        {"middle, uncut", 1.5, 2.4, false, true},
        {"middle, cut", 1.5, 2.4, true, false},
        // Held back less than the consumer's margin: nothing is cut, nothing refused.
        {"short, cut", 1.5, 1.65, true, false},
        // The producer's thread, on a busy machine, kept waiting between its cut and its push.
        {"cut, pushed 0.2 s later", 1.0, 1.7, true, false, 0.2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system = std::make_shared<AudioRing>(128, 8192);
        microphone = std::make_shared<AudioRing>(128, 8192);
        ledger = std::make_shared<CaptureTimelineLedger>();
        store = std::make_shared<FakeLiveAudioSink>();
        microphoneHeldFrom = start + c.heldFrom;
        microphoneHeldUntil = start + c.heldUntil;
        cutStale = c.cut;
        cutDelay = c.heldUp;
        stopAt = start + 3.0;
        auto error = runStretch();
        if (c.fails) {
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(codeOf<RecordingError>(error), RecordingError::Code::invalidTransport);
            continue;
        }
        ASSERT_EQ(error, nullptr);
        // The system source alone (0.2) where the microphone's audio was too old when it came,
        // the mix (0.3) everywhere else; each boundary may fall within one 10 ms pass.
        auto samples = store->samples();
        ASSERT_EQ(samples.size(), 144000u);
        const double gapFrom = c.heldFrom;
        const double gapTo = std::max(c.heldFrom, c.heldUntil - c.heldUp - SystemCaptureConsumer::latestAge);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = double(i) / 48000;
            const bool nearBoundary = std::abs(t - gapFrom) < 0.011 || std::abs(t - gapTo) < 0.011;
            const bool inGap = t >= gapFrom && t < gapTo;
            if (!nearBoundary) {
                ASSERT_NEAR(samples[i], inGap ? 0.2f : 0.3f, 1e-6) << "frame " << i;
            }
        }
        EXPECT_FALSE(microphone->overflowed());
    }
}

TEST_F(SystemConsumerTest, ABufferAtTheWrongRateEndsTheRunWithSourceInterruptedAndIsNotMixed) {
    for (bool onMicrophone : {true, false}) {
        SCOPED_TRACE(onMicrophone ? "microphone" : "system");
        system = std::make_shared<AudioRing>(64, 8192);
        microphone = std::make_shared<AudioRing>(64, 8192);
        ledger = std::make_shared<CaptureTimelineLedger>();
        store = std::make_shared<FakeLiveAudioSink>();
        stopAt = start + 5.0;
        bool sent = false;
        script = [&](double now) {
            if (!sent && now >= start + 0.5 - 1e-9) {
                push(onMicrophone ? *microphone : *system, now, 441, 0.9f, 44100);
                sent = true;
            }
        };
        auto error = runStretch();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(codeOf<CaptureError>(error), CaptureError::Code::sourceInterrupted);
        for (const auto& interval : ledger->snapshot().intervals)
            EXPECT_EQ(interval.sampleRate, 48000.0);
        for (float x : store->samples())
            ASSERT_TRUE(steadyFrame(x)) << x;
        EXPECT_TRUE(system->overflowed() && microphone->overflowed());
    }
}

TEST_F(SystemConsumerTest, AudioFromBeforeTheStretchBeganIsDroppedNotFatal) {
    // A resume at 1000.0: the streams still deliver what they recorded just before it, as
    // small pieces wholly before the start, more than 10 ms early.
    push(*system, start - 0.0104, 2, 0.9f, 48000);
    push(*microphone, start - 0.03, 480, 0.9f, 48000);
    stopAt = start + 1.0;
    ASSERT_EQ(runStretch(), nullptr);
    auto samples = store->samples();
    ASSERT_EQ(samples.size(), 48000u);
    for (float x : samples)
        ASSERT_NEAR(x, 0.3f, 1e-6);
    for (const auto& interval : ledger->snapshot().intervals)
        EXPECT_GE(interval.hostStart, start);
}

TEST_F(SystemConsumerTest, AMicrophoneThatIsNotIncludedIsNeverReadButItsLossStillCounts) {
    includesMicrophone = false;
    microphoneValue.reset();
    push(*microphone, start, 100, 0.7f, 48000);
    stopAt = start + 5.0;
    script = [&](double now) {
        if (std::abs(now - (start + 0.5)) < 1e-6)
            microphone->markDropped();
    };
    auto error = runStretch();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(codeOf<CaptureError>(error), CaptureError::Code::sourceInterrupted);
    // Only the system source is mixed (half its amplitude), and the microphone slot is unread.
    for (float x : store->samples())
        ASSERT_NEAR(x, 0.2f, 1e-6);
    EXPECT_EQ(ledger->snapshot().intervals.size(), 1u);
    auto slot = microphone->read();
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(slot->samples.size(), 100u);
}

TEST_F(SystemConsumerTest, StoreFailuresEndTheRunAfterKeepingWhatTheStoreStillTakes) {
    // An append that fails: the flush tries again, the timeline is saved, the error reported.
    store->failAppendAfter(10);
    stopAt = start + 5.0;
    auto error = runStretch();
    ASSERT_NE(error, nullptr);
    EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
    int appends = 0;
    for (const auto& event : store->events())
        appends += event.kind == Kind::append;
    EXPECT_EQ(appends, 10);
    auto timeline = store->recording().sourceTimeline.value();
    EXPECT_TRUE(timeline.spans.at(0).hostEnd.has_value());
    EXPECT_EQ(timeline.committedFrames, store->appendedFrames()); // only what was written
    EXPECT_TRUE(system->overflowed() && microphone->overflowed());

    // A periodic save that fails ends the run with its error; the final save fails quietly.
    system = std::make_shared<AudioRing>(64, 8192);
    microphone = std::make_shared<AudioRing>(64, 8192);
    ledger = std::make_shared<CaptureTimelineLedger>();
    store = std::make_shared<FakeLiveAudioSink>();
    store->failTimelineSaves(true);
    stopAt = start + 12.0;
    error = runStretch();
    ASSERT_NE(error, nullptr);
    EXPECT_THROW(std::rethrow_exception(error), std::runtime_error);
    EXPECT_GE(store->appendedFrames(), 240000);
    EXPECT_LT(clock.now(), start + 6.0);
    EXPECT_TRUE(ledger->snapshot().spans.at(0).hostEnd.has_value());
}

TEST_F(SystemConsumerTest, WithoutAStoreChunksAreCommittedButNotWritten) {
    stopAt = start + 6.0;
    ASSERT_EQ(runStretch(false), nullptr);
    auto timeline = ledger->snapshot();
    EXPECT_EQ(timeline.committedFrames, 288000);
    EXPECT_EQ(timeline.spans.at(0).hostEnd, start + 6.0);
    EXPECT_TRUE(store->events().empty());
}

TEST_F(SystemConsumerTest, EachStretchIsOneSpanAndTheFramesContinueAcrossThem) {
    stopAt = start + 2.0;
    ASSERT_EQ(runStretch(), nullptr);
    // Paused for three seconds, then a second stretch of one second.
    spanStart = start + 5.0;
    stopAt = start + 6.0;
    ASSERT_EQ(runStretch(), nullptr);

    auto timeline = ledger->snapshot();
    ASSERT_EQ(timeline.spans.size(), 2u);
    EXPECT_EQ(timeline.spans[0].hostStart, start);
    EXPECT_EQ(timeline.spans[0].hostEnd, start + 2.0);
    EXPECT_EQ(timeline.spans[0].mediaFrameStart, 0);
    EXPECT_EQ(timeline.spans[0].mediaFrameEnd, 96000);
    EXPECT_EQ(timeline.spans[1].hostStart, start + 5.0);
    EXPECT_EQ(timeline.spans[1].hostEnd, start + 6.0);
    EXPECT_EQ(timeline.spans[1].mediaFrameStart, 96000);
    EXPECT_EQ(timeline.spans[1].mediaFrameEnd, 144000);
    EXPECT_EQ(timeline.committedFrames, 144000);
    ASSERT_EQ(timeline.intervals.size(), 4u);
    EXPECT_EQ(timeline.intervals[2].span, 1);
    EXPECT_EQ(timeline.intervals[2].mediaFrameStart, 96000);
    EXPECT_EQ(timeline.intervals[3].span, 1);
    // The pause leaves no gap in the written audio, and each stretch saved its timeline.
    EXPECT_EQ(store->appendedFrames(), 144000);
    EXPECT_EQ(store->timelines().size(), 2u);
}

} // namespace
} // namespace nuvel
