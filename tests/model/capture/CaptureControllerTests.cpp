// A recording from the new-recording sheet to saved, on a real store: starting after the
// microphone permission, the tick with its limit, health and disk checks, pause and resume,
// stop with its held requests, and the sleep and device notices.
#include "tests/model/ModelHarness.hpp"

#include <algorithm>

using namespace nuvel;
using namespace nuvel::test;

namespace {

constexpr const char* savedText = "Saved on this Mac. Send to Nuvel when you are ready.";
constexpr const char* interruptedText = "Recording was interrupted. Your saved audio is safe.";
constexpr const char* couldNotStartText = "Recording could not start. Any saved audio has been preserved.";
constexpr const char* sleepText = "Recording stopped before sleep. Resume with a new recording when ready.";
constexpr const char* deviceText =
    "An audio device disconnected. Saved audio is safe. Check your microphone before recording again.";
constexpr const char* warningText =
    "One minute remains before this workspace's recording limit. Your audio will be saved automatically.";
constexpr const char* limitText = "The workspace recording limit was reached. Your audio is being saved.";

class RecordingTest : public testing::Test {
protected:
    PartsHarness h;
    std::shared_ptr<WorkspaceStore> store;
    std::vector<std::string> messages; // every status line the windows were told of, in order
    int ticks = 0;

    void SetUp() override {
        h.context().setObservers(
            [this] {
                ++h.changes;
                if (messages.empty() || messages.back() != m().message)
                    messages.push_back(m().message);
            },
            [this] { ++h.ticks; });
    }

    ModelState& m() { return h.state(); }
    CaptureController& capture() { return h.parts->capture; }
    FakeCaptureControl& source() { return *h.capture->control; }
    std::shared_ptr<WorkspaceStore> signIn(std::optional<double> limit = std::nullopt) {
        std::optional<NativeBootstrap> contract;
        if (limit) {
            contract = sampleContract();
            contract->workspace.hardMaxMeetingSeconds = *limit;
        }
        store = h.signedInWithRealStore({}, contract);
        return store;
    }
    void start(NewRecording request = {}) {
        capture().startNewRecording(std::move(request));
        h.queue.drain();
    }
    void stop(std::function<void()> completion = {}) { capture().stopRecording(std::move(completion)); }
    // One tick after the source captured 0.1 s more; with `audio` the tone reaches the store.
    void tick(bool audio = false) {
        ++ticks;
        if (audio && h.capture->newest && m().isCapturing())
            h.capture->newest->capture(0.1);
        else if (m().isCapturing())
            source().duration = ticks / 10.0;
        h.queue.advance(CaptureController::tickInterval);
    }
    void tickUntil(double seconds, bool audio = false) {
        while (source().duration + 1e-9 < seconds)
            tick(audio);
    }
    LocalRecording stored(const Uuid& id) { return store->loadRecording(id); }
    int count(const std::string& text) const {
        return int(std::count(messages.begin(), messages.end(), text));
    }
};

TEST_F(RecordingTest, AStartSavesTheNewRecordingAndRunsTheCaptureUntilItIsStopped) {
    signIn(14400);
    NewRecording request;
    request.title = "Design review";
    request.aiNotes = true;
    request.source = SystemAudioSelection::application(4242);
    request.sourceName = "Meeting App";
    request.microphoneDeviceID = 7;
    request.microphoneUID = "alsa_input.usb";
    request.meeting = CalendarMeetingDetails{{"Ada", "Grace"}, {"ada@example.com"}, "Room 4"};
    capture().startNewRecording(request);
    EXPECT_TRUE(m().busy);
    EXPECT_EQ(h.cloud->calls.back(), "stopPlayback");
    h.queue.drain();

    ASSERT_TRUE(m().isCapturing());
    ASSERT_EQ(m().recordings.size(), 1u);
    const LocalRecording& made = m().recordings[0];
    EXPECT_EQ(m().activeID, made.id);
    EXPECT_EQ(m().selectedID, made.id);
    EXPECT_FALSE(m().busy);
    EXPECT_EQ(made.title, "Design review");
    EXPECT_TRUE(made.aiNotes);
    EXPECT_EQ(made.workspaceID, "ws_team");
    EXPECT_EQ(made.captureMode, "application_and_microphone");
    EXPECT_EQ(made.captureSourceName, "Meeting App");
    EXPECT_EQ(made.microphoneUID, "alsa_input.usb");
    EXPECT_EQ(made.attendees, (std::vector<std::string>{"Ada", "Grace"}));
    EXPECT_EQ(made.attendeeEmails, (std::vector<std::string>{"ada@example.com"}));
    EXPECT_EQ(made.location, "Room 4");
    EXPECT_EQ(made.capturedFrames, 0);
    EXPECT_EQ(stored(made.id).capture, CaptureState::recording);
    ASSERT_EQ(h.capture->requests.size(), 1u);
    EXPECT_EQ(h.capture->requests[0].recordingID, made.id);
    EXPECT_EQ(h.capture->requests[0].systemAudio, SystemAudioSelection::application(4242));
    EXPECT_EQ(h.capture->requests[0].microphoneDeviceID, 7u);
    EXPECT_EQ(h.keepAwake->held, 1);
    EXPECT_EQ(h.keepAwake->reasons, (std::vector<std::string>{"Saving a user-started Nuvel recording"}));

    // The tick feeds the meters; audio reaches the store; the stop saves it.
    tickUntil(7, true);
    EXPECT_DOUBLE_EQ(m().microphoneLevel, 0.25);
    EXPECT_NEAR(m().elapsed, 7, 1e-9);
    EXPECT_GE(h.ticks, 70);
    const Uuid id = made.id;
    int completions = 0;
    stop([&] { ++completions; });
    h.queue.drain();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, savedText);
    EXPECT_EQ(h.keepAwake->held, 0);
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "the tick ends with the capture";
    LocalRecording saved = stored(id);
    EXPECT_EQ(saved.capture, CaptureState::saved);
    EXPECT_NEAR(saved.totalDuration(), 7, 1e-6);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::saved);
    EXPECT_EQ(source().live, 0);
}

TEST_F(RecordingTest, ARoomRecordingAndTheStartsThatCannotGoOn) {
    signIn();
    start();
    ASSERT_TRUE(m().isCapturing());
    EXPECT_EQ(m().recordings[0].captureMode, "room");
    EXPECT_FALSE(m().recordings[0].workspaceID) << "no contract, no workspace";
    EXPECT_FALSE(h.capture->requests[0].systemAudio);
    stop();
    h.queue.drain();

    // Refused permission creates nothing.
    h.microphoneGranted = false;
    start();
    EXPECT_EQ(m().message,
              "Microphone access is off. Enable Nuvel in System Settings, or import a recording.");
    EXPECT_EQ(m().recordings.size(), 1u);
    EXPECT_FALSE(m().busy);

    // A source that does not start leaves the saved recording listed, selected and interrupted.
    h.microphoneGranted = true;
    h.capture->failStart = true;
    start();
    ASSERT_EQ(m().recordings.size(), 2u);
    const LocalRecording& failed = m().recordings[0];
    EXPECT_EQ(m().selectedID, failed.id);
    EXPECT_EQ(failed.capture, CaptureState::interrupted);
    EXPECT_EQ(stored(failed.id).capture, CaptureState::interrupted);
    EXPECT_EQ(m().message, couldNotStartText);
    EXPECT_FALSE(m().isRecording());
    EXPECT_FALSE(m().busy);
    EXPECT_EQ(h.keepAwake->held, 0);
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
}

TEST_F(RecordingTest, TheLimitWarnsOnceAMinuteBeforeAndStopsTheRecordingAtIt) {
    signIn(120);
    start();
    tickUntil(59.9);
    EXPECT_EQ(count(warningText), 0);
    tick();
    EXPECT_NEAR(m().elapsed, 60, 1e-9);
    EXPECT_EQ(count(warningText), 1);
    tickUntil(119.9);
    EXPECT_TRUE(m().isCapturing()) << "not stopped before the limit";
    tick();
    h.queue.drain();
    EXPECT_EQ(count(warningText), 1) << "warned only once";
    EXPECT_EQ(count(limitText), 1);
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().recordings[0].capture, CaptureState::saved);
    EXPECT_EQ(m().message, savedText);

    // A limit shorter than a minute warns on the first tick.
    ticks = 0;
    source().duration = 0;
    messages.clear();
    auto contract = sampleContract();
    contract.workspace.hardMaxMeetingSeconds = 30;
    m().bootstrap = contract;
    start();
    tick();
    EXPECT_EQ(count(warningText), 1);
}

TEST_F(RecordingTest, TheDiskIsCheckedEveryFiveSecondsOfCaptureAgainstAFloor) {
    signIn();
    h.freeBytes = CaptureController::freeSpaceFloor; // 100,000,001 bytes pass
    start();
    tickUntil(4.9);
    EXPECT_EQ(h.freeSpaceChecks, 0);
    tick();
    EXPECT_EQ(h.freeSpaceChecks, 1) << "the first check at 5 s";
    tickUntil(9.9);
    EXPECT_EQ(h.freeSpaceChecks, 1);
    tick();
    EXPECT_EQ(h.freeSpaceChecks, 2);
    EXPECT_TRUE(m().isCapturing());

    // One byte less interrupts at the next check; the audio already saved stays.
    h.freeBytes = CaptureController::freeSpaceFloor - 1;
    tickUntil(15);
    EXPECT_EQ(h.freeSpaceChecks, 3);
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, interruptedText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);
    EXPECT_EQ(source().live, 0);
    EXPECT_EQ(h.keepAwake->held, 0);

    // No figure at all interrupts too.
    h.freeBytes.reset();
    source().duration = 0;
    ticks = 0;
    start();
    tickUntil(5);
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, interruptedText);
}

TEST_F(RecordingTest, AnUnhealthySourceInterruptsAtOnceButNotWhilePaused) {
    signIn();
    start();
    tickUntil(1);
    capture().togglePause();
    h.queue.drain();
    ASSERT_TRUE(m().isPaused());
    EXPECT_EQ(stored(*m().activeID).capture, CaptureState::paused);
    source().healthy = false;
    for (int i = 0; i < 60; ++i)
        tick(); // no health check while paused, though the meters are still read
    EXPECT_TRUE(m().isPaused());
    EXPECT_EQ(h.freeSpaceChecks, 0);
    EXPECT_DOUBLE_EQ(m().microphoneLevel, 0) << "a paused source reports silence";

    // Resuming an unhealthy source fails: interrupted.
    capture().togglePause();
    h.queue.drain();
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, interruptedText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);

    // While capturing, an unhealthy source ends the capture at the next tick.
    source().healthy = true;
    start();
    tick();
    source().healthy = false;
    tick();
    h.queue.drain();
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, "The microphone stopped. Your saved audio is safe; resume explicitly when ready.");
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);
    EXPECT_FALSE(m().captureTransition);
}

TEST_F(RecordingTest, PauseAndResumeMoveTheStateAndKeepTheAnnotationsOfTheList) {
    signIn();
    start();
    tickUntil(2, true);
    const Uuid id = *m().activeID;
    h.parts->annotations.setScratchpad("private thought", id);
    h.parts->annotations.addBookmark();
    capture().togglePause();
    h.queue.drain();
    ASSERT_TRUE(m().isPaused());
    const LocalRecording& listed = m().recordings[0];
    EXPECT_EQ(listed.scratchpad, "private thought") << "a store write does not undo an edit";
    EXPECT_EQ(listed.bookmarks.size(), 1u);
    EXPECT_EQ(listed.segments.size(), 1u) << "the pause finished the live segment";

    capture().togglePause();
    h.queue.drain();
    EXPECT_TRUE(m().isCapturing());
    EXPECT_EQ(stored(id).capture, CaptureState::recording);
    EXPECT_EQ(source().calls, (std::vector<std::string>{"pause", "resume"}));

    // Without a source, a resume is an interruption.
    capture().togglePause();
    h.queue.drain();
    ASSERT_TRUE(m().isPaused());
    source().failResume = true;
    capture().togglePause();
    h.queue.drain();
    EXPECT_EQ(m().message, interruptedText);
    EXPECT_EQ(stored(id).capture, CaptureState::interrupted);
}

TEST_F(RecordingTest, StopsAskedForDuringAPauseRunAfterItWithEveryCompletionBeforeTheChange) {
    signIn();
    start();
    tickUntil(3, true);
    std::vector<std::string> log;
    h.context().setObservers([&] { log.push_back("change"); }, {});
    capture().togglePause();
    stop([&] { log.push_back("quit waits"); });
    stop([&] { log.push_back("window waits"); });
    EXPECT_FALSE(m().busy) << "held until the pause ends";
    h.queue.drain();
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, savedText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::saved);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"quit waits", "window waits", "change"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "quit waits"), 1);
}

TEST_F(RecordingTest, AStopThatCannotFinishTheSourceLeavesTheAudioForRecovery) {
    signIn();
    start();
    tickUntil(6, true);
    source().failStop = true;
    stop();
    h.queue.drain();
    EXPECT_EQ(m().message, "Some audio needs recovery. Saved segments have been preserved.");
    const LocalRecording kept = stored(m().recordings[0].id);
    EXPECT_EQ(kept.capture, CaptureState::interrupted);
    EXPECT_EQ(kept.segments.size(), 1u) << "the first five seconds were sealed as they came";
    EXPECT_FALSE(m().busy);
    EXPECT_FALSE(m().captureTransition);
}

TEST_F(RecordingTest, ANoticeOfSleepOrALostDeviceEndsTheCaptureAndLetsTheSystemSleepAfterwards) {
    signIn();
    int readies = 0;
    // Nothing recording: nothing changes, and the system may sleep at once.
    h.queue.drain();
    capture().willSleep([&] { ++readies; });
    h.queue.drain();
    EXPECT_EQ(readies, 1);
    EXPECT_TRUE(m().message.empty());

    start();
    tickUntil(2, true);
    capture().willSleep([&] { ++readies; });
    h.queue.drain();
    EXPECT_EQ(readies, 2);
    EXPECT_FALSE(m().isRecording());
    EXPECT_EQ(m().message, sleepText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);
    EXPECT_EQ(stored(m().recordings[0].id).segments.size(), 1u) << "the audio so far was kept";

    start();
    capture().togglePause();
    h.queue.drain();
    capture().deviceChanged();
    h.queue.drain();
    EXPECT_EQ(m().message, deviceText) << "a paused capture ends too";
    EXPECT_FALSE(m().isRecording());
}

TEST_F(RecordingTest, ANoticeDuringAStopLetsItSaveAndOneDuringAPauseIsAppliedAfterIt) {
    signIn();
    int readies = 0;
    start();
    tickUntil(1, true);
    stop();
    capture().willSleep([&] { ++readies; });
    h.queue.drain();
    EXPECT_EQ(m().message, savedText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::saved);
    EXPECT_EQ(readies, 1) << "released once the stop had saved";

    start();
    tickUntil(2, true);
    capture().togglePause();
    capture().deviceChanged();
    h.queue.drain();
    EXPECT_EQ(source().calls.back(), "stop") << "the pause ended first, then the notice stopped the source";
    EXPECT_EQ(m().message, deviceText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);
    EXPECT_FALSE(m().captureTransition);
}

TEST_F(RecordingTest, ANoticeWhileTheSourceStartsStopsItWhenTheStartEnds) {
    signIn();
    h.capture->startSeconds = 1; // a system-audio start takes its time
    int completions = 0;
    NewRecording request;
    request.source = SystemAudioSelection::allSystem();
    capture().startNewRecording(request);
    h.queue.drain();
    ASSERT_TRUE(m().isRecording()) << "saved and listed, the source still starting";
    stop([&] { ++completions; });
    capture().willSleep([] {});
    h.queue.drain();
    EXPECT_FALSE(m().isRecording());
    h.queue.advance(1);
    h.queue.drain();
    EXPECT_EQ(source().live, 0) << "no capture may run without a recording";
    EXPECT_EQ(source().calls, (std::vector<std::string>{"stop"}));
    EXPECT_EQ(h.keepAwake->held, 0);
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
    EXPECT_EQ(m().message, couldNotStartText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::interrupted);
    EXPECT_EQ(completions, 1) << "the held stop found nothing to stop and completed";
    EXPECT_FALSE(m().busy);
}

TEST_F(RecordingTest, AStopDuringTheStartRunsWhenTheStartEnds) {
    signIn();
    h.capture->startSeconds = 0.5;
    int completions = 0;
    capture().startNewRecording({});
    h.queue.drain();
    stop([&] { ++completions; });
    EXPECT_EQ(completions, 0);
    h.queue.advance(0.5);
    h.queue.drain();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(m().message, savedText);
    EXPECT_EQ(m().recordings[0].capture, CaptureState::saved);
    EXPECT_EQ(source().live, 0);
}

TEST_F(RecordingTest, WithoutAContractThereIsNoLimitAndASlowCheckHoldsBackTheNext) {
    signIn();
    start();
    tickUntil(4.9);
    h.executor.holding = true; // the store answers the check's re-read only when the test says
    tick();
    ASSERT_EQ(h.executor.held.size(), 1u);
    EXPECT_TRUE(m().captureTransition);
    tickUntil(11);
    EXPECT_EQ(h.executor.held.size(), 1u) << "no second check while the first runs";
    h.executor.holding = false;
    h.executor.runNewest();
    h.queue.drain();
    EXPECT_EQ(h.freeSpaceChecks, 1);
    tick();
    EXPECT_EQ(h.freeSpaceChecks, 2) << "the next check comes at once, its five seconds having passed";
    tickUntil(200);
    EXPECT_TRUE(m().isCapturing());
    EXPECT_EQ(count(warningText), 0);
    EXPECT_EQ(count(limitText), 0);
}

TEST_F(RecordingTest, WithoutASourceAPauseStillPausesAndAStopStillSaves) {
    LocalRecording recording = sampleRecording("Held over");
    signIn();
    store->saveManifest(recording);
    m().recordings = {recording}; // a capture whose source went with an earlier run
    m().activeID = recording.id;
    capture().togglePause();
    h.queue.drain();
    EXPECT_TRUE(m().isPaused());
    EXPECT_EQ(stored(recording.id).capture, CaptureState::paused);
    stop();
    h.queue.drain();
    EXPECT_EQ(m().message, savedText);
    EXPECT_EQ(stored(recording.id).capture, CaptureState::saved);
}

// Over a fake store that refuses every capture-state write: the pause fails into an interruption.
TEST(CaptureStops, AStopDuringAPauseWaitsForItAndKeepsEveryCompletion) {
    PartsHarness h;
    h.signedInWith(2);
    CaptureController& capture = h.parts->capture;
    h.state().activeID = h.state().recordings[1].id;

    capture.togglePause();
    EXPECT_TRUE(h.state().captureTransition);
    std::vector<std::string> log;
    h.context().setObservers([&] { log.push_back("change"); }, {});
    capture.stopRecording([&] { log.push_back("first"); });
    EXPECT_TRUE(capture.stopRequested());
    EXPECT_FALSE(h.state().busy) << "a deferred stop only records itself";
    capture.stopRecording([&] { log.push_back("second"); });
    capture.stopRecording({}); // no completion: the kept ones stay

    h.queue.drain();
    EXPECT_FALSE(capture.stopRequested());
    EXPECT_FALSE(h.state().busy);
    EXPECT_FALSE(h.state().captureTransition);
    // The capture ended as interrupted; the held stop then found nothing to stop and called each
    // completion once, in the order they were given.
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"first", "second", "change"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "first"), 1);
}

TEST(CaptureStops, AStopWhileBusyIsDeferredAndAStopItselfTakesBothGuards) {
    PartsHarness h;
    h.signedInWith(2);
    CaptureController& capture = h.parts->capture;
    h.state().activeID = h.state().recordings[1].id;
    h.state().busy = true; // another long operation runs
    capture.stopRecording({});
    EXPECT_TRUE(capture.stopRequested());
    EXPECT_FALSE(h.state().captureTransition);

    h.state().busy = false;
    capture.stopRecording({});
    EXPECT_TRUE(h.state().busy);
    EXPECT_TRUE(h.state().captureTransition);
    EXPECT_EQ(h.changes, 0) << "the stop's task tells the windows when it ends";
    h.queue.drain();
    EXPECT_FALSE(h.state().busy);
    EXPECT_FALSE(h.state().captureTransition);
    EXPECT_FALSE(capture.stopRequested()) << "the held stop ran after the first";
}

TEST(CaptureStops, AModelThatEndsWithWorkLeftCallsTheCompletionsThatStillWait) {
    PartsHarness h;
    h.signedInWith(1);
    CaptureController& capture = h.parts->capture;
    int completions = 0, readies = 0;
    h.state().activeID = h.state().recordings[0].id;
    h.executor.holding = true;
    capture.togglePause();
    h.queue.drain(); // the pause waits for the store
    capture.stopRecording([&] { ++completions; });
    capture.willSleep([&] { ++readies; }); // held until the pause ends
    std::weak_ptr<ModelParts> model = h.parts;
    h.parts.reset();
    EXPECT_FALSE(model.expired()) << "the running pause holds the model";
    EXPECT_EQ(completions + readies, 0);

    h.executor.held.clear(); // the executor goes with the store's job: the pause never resumes
    EXPECT_TRUE(model.expired());
    EXPECT_EQ(completions, 1) << "the quitting application's wait for the stop ends";
    EXPECT_EQ(readies, 1) << "the system may sleep";
}

} // namespace
