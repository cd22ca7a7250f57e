// The application and system audio source against a fake screen-capture service and engine:
// start and its failures, health, pause and resume spans, stop, the capturable applications
// and the source check.
#include "Nuvel/platform/SystemAudioCapture.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/platform/FakeCapturePlatform.hpp"

#include <gtest/gtest.h>
#include <stdexcept>
#include <unistd.h>

using namespace nuvel;
using namespace nuvel::test;
using Selection = SystemAudioCapture::Selection;
using Code = CaptureError::Code;

namespace {

constexpr std::int32_t meetingApp = 4242;

class SystemAudioCaptureTest : public testing::Test {
protected:
    FakeCapturePlatform platform;
    std::shared_ptr<FakeLiveAudioSink> store = std::make_shared<FakeLiveAudioSink>();
    int consumerRuns = 0;

    SystemAudioCaptureTest() {
        platform.service.content.applications = {{meetingApp, "Meeting", "org.example.meeting", 17},
                                                 {99, "Player", "player", 18}};
        platform.service.content.systemOutput = "speakers.monitor";
        platform.service.processes[meetingApp] = 555;
        platform.service.processes[99] = 1;
    }

    std::unique_ptr<SystemAudioCapture> make(Selection selection = Selection::application(meetingApp),
                                             bool microphone = true, bool withStore = true) {
        return std::make_unique<SystemAudioCapture>(withStore ? store : nullptr, Uuid::random(), selection,
                                                    microphone, std::nullopt, platform);
    }
    void start(SystemAudioCapture& capture) {
        runWithWorkers(platform.queue, capture.start());
        ASSERT_TRUE(platform.parkingClock.waitForSleeps(++consumerRuns));
    }
    void resume(SystemAudioCapture& capture) {
        capture.resume();
        ASSERT_TRUE(platform.parkingClock.waitForSleeps(++consumerRuns));
    }
    LocalRecording pause(SystemAudioCapture& capture) {
        return runWithWorkers(platform.queue, capture.pause());
    }
    LocalRecording stop(SystemAudioCapture& capture) {
        return runWithWorkers(platform.queue, capture.stop());
    }
    std::exception_ptr startError(SystemAudioCapture& capture) {
        try {
            runWithWorkers(platform.queue, capture.start());
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }

    FakeEngineState& engine() { return *platform.engine; }
    FakeStreamState& stream() { return *platform.service.stream; }
    double now() { return platform.parkingClock.now(); }

    // `seconds` of both sources from `from`, in 0.1 s buffers, with the clock following and the
    // consumer making a pass after each second.
    void play(double from, double seconds, float system = 0.4f, float microphone = 0.2f) {
        const int buffers = int(std::lround(seconds * 10));
        for (int i = 0; i < buffers; ++i) {
            const double t = from + i * 0.1;
            stream().deliver(4800, system, t);
            engine().deliver(4800, microphone, t);
            if (i % 10 == 9) {
                platform.parkingClock.set(t + 0.1);
                ASSERT_TRUE(platform.parkingClock.runPass());
            }
        }
        platform.parkingClock.set(from + seconds);
    }
};

Code codeOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const CaptureError& e) {
        return e.code();
    }
}

TEST_F(SystemAudioCaptureTest, StartRecordsTheChosenApplicationOrAllSystemAudioWithTheMicrophone) {
    auto capture = make();
    EXPECT_EQ(capture->duration(), 0);
    start(*capture);
    EXPECT_EQ(stream().filter.applicationStream, 17u);
    EXPECT_EQ(stream().filter.applicationProcess, meetingApp);
    EXPECT_FALSE(stream().filter.systemOutput);
    EXPECT_TRUE(stream().started);
    EXPECT_TRUE(engine().running);
    EXPECT_TRUE(engine().tap);
    EXPECT_EQ(engine().observers.size(), 1u);
    EXPECT_TRUE(capture->isHealthy());
    stop(*capture);

    auto all = make(Selection::allSystem());
    start(*all);
    EXPECT_EQ(stream().filter.systemOutput, "speakers.monitor");
    EXPECT_FALSE(stream().filter.applicationStream);
    EXPECT_FALSE(stream().filter.applicationProcess);
    stop(*all);
}

TEST_F(SystemAudioCaptureTest, ASourceThatTakesSecondsToOpenOverflowsNeitherRing) {
    // Each source delivers more buffers than a ring holds while the other one opens; neither ring
    // is read before the clock starts.
    const auto flood = [this](bool microphone) {
        for (std::uint32_t i = 0; i < 2 * SystemAudioCapture::ringSlots; ++i)
            microphone ? engine().deliver(480, 0.2f, now()) : stream().deliver(480, 0.4f, now());
    };
    engine().whileStarting = [&] { flood(false); };
    platform.service.whileStarting = [&] { flood(true); };
    auto capture = make();
    start(*capture);
    EXPECT_TRUE(capture->isHealthy());
    stop(*capture);
}

TEST_F(SystemAudioCaptureTest, StartRefusesWithoutPermissionOrWithoutTheChosenSource) {
    platform.service.permission = false;
    auto capture = make();
    EXPECT_EQ(codeOf(startError(*capture)), Code::permission);
    EXPECT_EQ(platform.service.contentQueries, 0); // nothing was asked for
    EXPECT_FALSE(platform.service.stream);
    platform.service.permission = true;

    // An application that is not capturable, or whose process is gone already.
    EXPECT_EQ(codeOf(startError(*make(Selection::application(7)))), Code::sourceMissing);
    platform.service.processes.erase(meetingApp);
    EXPECT_EQ(codeOf(startError(*make())), Code::sourceMissing);
    // All system audio with nothing to capture it from.
    platform.service.content.systemOutput.reset();
    EXPECT_EQ(codeOf(startError(*make(Selection::allSystem()))), Code::sourceMissing);
    EXPECT_FALSE(platform.service.stream);

    // The service's own errors pass through.
    platform.service.contentFails = true;
    EXPECT_THROW(std::rethrow_exception(startError(*make(Selection::allSystem()))), std::runtime_error);
}

TEST_F(SystemAudioCaptureTest, AStartThatFailsLaterLeavesNothingRunning) {
    struct Failure {
        const char* name;
        std::function<void(FakeCapturePlatform&)> arrange;
    };
    const Failure failures[] = {
        {"unsupported microphone format",
         [](FakeCapturePlatform& p) { p.engine->format.commonFormat = PcmSampleFormat::int16; }},
        {"interleaved microphone", [](FakeCapturePlatform& p) { p.engine->format.interleaved = true; }},
        {"microphone below 8000 Hz", [](FakeCapturePlatform& p) { p.engine->format.sampleRate = 7999; }},
        {"engine does not start", [](FakeCapturePlatform& p) { p.engine->startFails = true; }},
        {"stream does not start", [](FakeCapturePlatform& p) { p.service.startFails = true; }},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.name);
        platform.engine = std::make_shared<FakeEngineState>();
        platform.service.startFails = false;
        failure.arrange(platform);
        auto capture = make();
        EXPECT_NE(startError(*capture), nullptr);
        EXPECT_FALSE(engine().tap);
        EXPECT_TRUE(engine().observers.empty());
        EXPECT_FALSE(engine().running);
        EXPECT_TRUE(stream().stopped);
        // Paused: audio that still arrives is dropped, and the capture cannot be resumed.
        stream().started = true;
        stream().stopped = false;
        stream().deliver(480, 0.5f, now());
        EXPECT_EQ(capture->systemLevel(), 0);
        EXPECT_THROW(capture->resume(), CaptureError);
        EXPECT_EQ(capture->duration(), 0);
    }
    // The stream cannot even be made: that error, and nothing to undo.
    platform.engine = std::make_shared<FakeEngineState>();
    platform.service.makeFails = true;
    platform.service.stream.reset();
    auto capture = make();
    EXPECT_THROW(std::rethrow_exception(startError(*capture)), std::runtime_error);
    EXPECT_EQ(engine().starts, 0);
}

TEST_F(SystemAudioCaptureTest, BothSourcesAreMixedIntoTheStoreAndEachStretchIsOneSpan) {
    auto capture = make();
    start(*capture);
    const double t0 = now();
    play(t0, 5.0);
    EXPECT_FLOAT_EQ(float(capture->systemLevel()), 0.4f);
    EXPECT_FLOAT_EQ(float(capture->microphoneLevel()), 0.2f);
    EXPECT_NEAR(capture->duration(), 5.0, 1e-9);

    LocalRecording paused = pause(*capture);
    ASSERT_EQ(paused.segments.size(), 1u);
    EXPECT_NEAR(paused.segments[0].duration, 5.0, 1.0 / 48000);
    ASSERT_TRUE(paused.sourceTimeline.has_value());
    EXPECT_TRUE(paused.sourceTimeline->spans.at(0).hostEnd.has_value());
    EXPECT_EQ(capture->systemLevel(), 0);
    // Pausing twice is refused; five seconds of pause do not count.
    EXPECT_THROW(pause(*capture), RecordingError);
    platform.parkingClock.advance(5.0);
    EXPECT_NEAR(capture->duration(), 5.0, 1e-9);

    resume(*capture);
    EXPECT_THROW(capture->resume(), CaptureError); // running already
    play(now(), 3.0);
    LocalRecording stopped = stop(*capture);
    EXPECT_NEAR(capture->duration(), 8.0, 1e-9);
    platform.parkingClock.advance(10);
    EXPECT_NEAR(capture->duration(), 8.0, 1e-9);

    ASSERT_EQ(stopped.segments.size(), 2u);
    const CaptureTimeline& timeline = stopped.sourceTimeline.value();
    EXPECT_EQ(timeline, capture->timeline());
    ASSERT_EQ(timeline.spans.size(), 2u);
    EXPECT_EQ(timeline.spans[0].hostStart, t0);
    EXPECT_EQ(timeline.spans[1].hostStart, t0 + 10.0);
    EXPECT_EQ(timeline.spans[1].mediaFrameStart, timeline.spans[0].mediaFrameEnd);
    EXPECT_EQ(timeline.spans[1].mediaFrameEnd, timeline.committedFrames);
    EXPECT_EQ(timeline.intervals.size(), 4u); // one per source and span
    for (float x : store->samples())
        ASSERT_NEAR(x, 0.3f, 1e-6);
    // Stopped: everything is down.
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
    EXPECT_FALSE(engine().running);
    EXPECT_TRUE(stream().stopped);
    EXPECT_THROW(capture->resume(), CaptureError);
}

TEST_F(SystemAudioCaptureTest, MicrophoneAudioTooOldToBeMixedIsCutWhereItArrives) {
    // A 0.1 s buffer arriving one second in, begun `age` s before: what is older than the
    // consumer can place is cut, the rest recorded from where it is fresh enough.
    struct Case {
        double age;
        std::int64_t keptFrames; // 0: nothing reaches the recording
    };
    constexpr double latest = SystemCaptureConsumer::latestAge;
    const Case cases[] = {{latest - 0.05, 4800}, {latest + 0.05, 2400}, {latest + 0.1, 0}, {latest + 0.4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.age);
        auto capture = make();
        start(*capture);
        const double t0 = now();
        for (int i = 0; i < 10; ++i)
            stream().deliver(4800, 0.4f, t0 + i * 0.1);
        platform.parkingClock.set(t0 + 1.0);
        engine().deliver(4800, 0.2f, t0 + 1.0 - c.age);
        ASSERT_TRUE(platform.parkingClock.runPass());
        LocalRecording stopped = stop(*capture); // a refused buffer would make it throw
        std::vector<CaptureTimeline::SourceInterval> microphone;
        for (const auto& interval : stopped.sourceTimeline.value().intervals)
            if (interval.source == "microphone")
                microphone.push_back(interval);
        if (c.keptFrames == 0) {
            EXPECT_TRUE(microphone.empty());
            continue;
        }
        ASSERT_EQ(microphone.size(), 1u);
        EXPECT_EQ(microphone[0].sourceFrames, c.keptFrames);
        EXPECT_NEAR(microphone[0].hostStart,
                    std::max(t0 + 1.0 - c.age, t0 + 1.0 - SystemCaptureConsumer::latestAge), 1e-6);
    }
}

TEST_F(SystemAudioCaptureTest, TheApplicationQuittingMakesTheCaptureUnhealthyForGood) {
    auto capture = make();
    start(*capture);
    play(now(), 0.5);
    EXPECT_TRUE(capture->isHealthy());
    platform.service.processes.erase(meetingApp);
    EXPECT_FALSE(capture->isHealthy());
    // Also while paused, and resuming is refused.
    pause(*capture);
    EXPECT_FALSE(capture->isHealthy());
    EXPECT_THROW(capture->resume(), CaptureError);
    // A new process with the same id is not the application.
    platform.service.processes[meetingApp] = 556;
    EXPECT_FALSE(capture->isHealthy());
    stop(*capture);

    // With all system audio no application is watched.
    auto all = make(Selection::allSystem());
    start(*all);
    platform.service.processes.clear();
    EXPECT_TRUE(all->isHealthy());
    stop(*all);
}

TEST_F(SystemAudioCaptureTest, LostOrMissingAudioOnEitherSideMakesTheCaptureUnhealthy) {
    auto capture = make();
    start(*capture);
    const double t0 = now();
    play(t0, 1.0);
    EXPECT_TRUE(capture->isHealthy());
    // More than two seconds without a system buffer, while the microphone keeps coming.
    for (int i = 0; i < 19; ++i)
        engine().deliver(4800, 0.2f, t0 + 1.0 + i * 0.1);
    platform.parkingClock.set(t0 + 2.9);
    EXPECT_TRUE(capture->isHealthy());
    platform.parkingClock.set(t0 + 2.91);
    EXPECT_FALSE(capture->isHealthy());
    stream().deliver(480, 0.4f, t0 + 3.0);
    EXPECT_TRUE(capture->isHealthy());
    // The stream stopping with an error: unhealthy for good; the drain reports it after
    // finishing the segment.
    stream().output->didStop();
    EXPECT_FALSE(capture->isHealthy());
    try {
        stop(*capture);
        ADD_FAILURE() << "stopped cleanly";
    } catch (const CaptureError& e) {
        EXPECT_EQ(e.code(), Code::sourceInterrupted);
    }
    EXPECT_EQ(store->finishes(), 1);
    EXPECT_EQ(store->recording().segments.size(), 1u);

    // A configuration change of the microphone's engine, and a microphone at another rate.
    for (int which = 0; which < 2; ++which) {
        auto other = make();
        start(*other);
        play(now(), 0.2);
        if (which == 0)
            engine().changeConfiguration();
        else
            engine().deliver(441, 0.1f, now(), 44100);
        EXPECT_FALSE(other->isHealthy());
        EXPECT_THROW(pause(*other), CaptureError);
        EXPECT_THROW(other->resume(), CaptureError);
    }
}

TEST_F(SystemAudioCaptureTest, WithoutTheMicrophoneOnlyTheSystemSourceCounts) {
    auto capture = make(Selection::application(meetingApp), false);
    start(*capture);
    EXPECT_FALSE(engine().tap);
    EXPECT_EQ(engine().starts, 0);
    for (int i = 0; i < 10; ++i)
        stream().deliver(4800, 0.4f, now() + i * 0.1);
    platform.parkingClock.advance(1.0);
    EXPECT_TRUE(capture->isHealthy()); // no microphone callback, no engine: both irrelevant
    EXPECT_EQ(capture->microphoneLevel(), 0);
    stop(*capture);
    for (float x : store->samples())
        ASSERT_NEAR(x, 0.2f, 1e-6); // the mean with silence
}

TEST(SystemAudioApplications, AreTheOtherProcessesSortedByNameWithNumbersByValue) {
    FakeCapturePlatform platform;
    const auto own = static_cast<std::int32_t>(getpid());
    platform.service.content.applications = {
        {10, "Player 10", "a", 1}, {11, "Player 9", "b", 2}, {own, "Nuvel", "nuvel", 3},
        {12, "Browser", "c", 4},   {13, "", "", 5},          {14, "Browser", "d", 6},
    };
    auto applications = runWithWorkers(platform.queue, SystemAudioCapture::availableApplications(platform));
    std::vector<SystemAudioCapture::Application> expected = {{13, "", ""},
                                                             {12, "Browser", "c"},
                                                             {14, "Browser", "d"},
                                                             {11, "Player 9", "b"},
                                                             {10, "Player 10", "a"}};
    EXPECT_EQ(applications, expected);

    platform.service.content.applications = {{own, "Nuvel", "nuvel", 3}};
    EXPECT_TRUE(runWithWorkers(platform.queue, SystemAudioCapture::availableApplications(platform)).empty());
    platform.service.contentFails = true;
    EXPECT_THROW(runWithWorkers(platform.queue, SystemAudioCapture::availableApplications(platform)),
                 std::runtime_error);
}

// Meters that keep what the check writes, and when.
struct CountingMeters final : SourceCheckMeters {
    explicit CountingMeters(const MainQueue& queue) : queue(queue) {}
    const MainQueue& queue;
    std::vector<double> microphone;
    std::vector<double> system;
    std::vector<double> times;
    void setMicrophoneLevel(double level) override { microphone.push_back(level); }
    void setSystemLevel(double level) override {
        system.push_back(level);
        times.push_back(queue.now());
    }
};

class SourceCheckTest : public SystemAudioCaptureTest {
protected:
    std::shared_ptr<CountingMeters> meters = std::make_shared<CountingMeters>(platform.queue);
    MainQueue::TimerId producer = 0;
    std::function<void(double)> onTick;

    // Both producers deliver every 50 ms of virtual time; the capture clock follows the queue.
    void startProducers() {
        producer = platform.queue.startRepeatingTimer(0.05, [this] {
            const double t = platform.queue.now();
            platform.parkingClock.set(t);
            if (platform.service.stream)
                stream().deliver(2400, 0.4f, t - 0.05);
            engine().deliver(2400, 0.2f, t - 0.05);
            if (onTick)
                onTick(t);
        });
    }

    std::exception_ptr check(Selection selection = Selection::application(meetingApp)) {
        platform.parkingClock.set(platform.queue.now());
        startProducers();
        std::exception_ptr error;
        try {
            runWithWorkers(platform.queue,
                           SystemAudioCapture::sourceCheck(selection, true, std::nullopt, meters, platform));
        } catch (...) {
            error = std::current_exception();
        }
        platform.queue.cancelTimer(producer);
        return error;
    }
};

TEST_F(SourceCheckTest, ThirtyPassesMeterBothSourcesAndThenEverythingIsShutDown) {
    EXPECT_EQ(check(), nullptr);
    EXPECT_EQ(meters->microphone.size(), 30u);
    // 100 ms apart.
    for (std::size_t i = 1; i < meters->times.size(); ++i)
        EXPECT_NEAR(meters->times[i] - meters->times[i - 1], 0.1, 1e-9);
    EXPECT_EQ(meters->system.size(), 30u);
    EXPECT_FLOAT_EQ(float(meters->system.back()), 0.4f);
    EXPECT_FLOAT_EQ(float(meters->microphone.back()), 0.2f);
    EXPECT_TRUE(stream().stopped);
    EXPECT_FALSE(engine().running);
    EXPECT_FALSE(engine().tap);
    EXPECT_TRUE(engine().observers.empty());
    EXPECT_TRUE(store->events().empty()); // nothing written anywhere

    // Released meters are simply not written; the check still passes.
    meters.reset();
    EXPECT_EQ(check(Selection::allSystem()), nullptr);
}

TEST_F(SourceCheckTest, AnApplicationThatQuitsFailsTheNextPassAfterShuttingDown) {
    onTick = [this](double t) {
        if (t > platform.queue.now() - 1 && meters->system.size() == 10)
            platform.service.processes.erase(meetingApp);
    };
    auto error = check();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(codeOf(error), Code::sourceInterrupted);
    EXPECT_EQ(meters->system.size(), 11u);
    EXPECT_TRUE(stream().stopped);
    EXPECT_FALSE(engine().running);
}

TEST_F(SourceCheckTest, WithoutPermissionTheCheckFailsAtOnceAndSetsNoMeter) {
    platform.service.permission = false;
    auto error = check();
    EXPECT_EQ(codeOf(error), Code::permission);
    EXPECT_TRUE(meters->system.empty());
}

TEST_F(SourceCheckTest, CancellingTheCheckEndsItAfterShuttingDownAndSetsNoFurtherMeter) {
    platform.parkingClock.set(platform.queue.now());
    startProducers();
    TaskHandle handle =
        spawn(platform.queue, SystemAudioCapture::sourceCheck(Selection::application(meetingApp), true,
                                                              std::nullopt, meters, platform));
    // Let five passes run, then cancel during a sleep.
    while (meters->system.size() < 5) {
        platform.queue.drain();
        platform.queue.waitAndDrain(0.002);
        if (meters->system.size() < 5)
            platform.queue.fireNextTimer();
    }
    handle.cancel();
    const auto setBeforeCancel = meters->system.size();
    runWithWorkers(platform.queue, [](TaskHandle h) -> Task<void> { co_await h.join(); }(handle));
    platform.queue.cancelTimer(producer);
    EXPECT_TRUE(handle.isFinished());
    EXPECT_THROW(std::rethrow_exception(handle.error()), Cancelled);
    EXPECT_EQ(meters->system.size(), setBeforeCancel);
    EXPECT_TRUE(stream().stopped);
    EXPECT_FALSE(engine().running);
}

} // namespace
