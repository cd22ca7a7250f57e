// The model as the windows see it, reached only through its entry points and the fakes: its
// first state, what it needs to be made, the observers it forwards, the entry points' refusals,
// what an accepted long request shows before its work ends, the network path and its end.
#include "tests/model/ModelHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

// The states that forbid a request, each reached through entry points from a model signed in
// with two recordings, the first selected (or, for `signedOut`, from a start without a session).
enum class Blocker { signedOut, noSelection, busy, recording, uploading, transition, signingIn, updating };

const char* name(Blocker b) {
    switch (b) {
    case Blocker::signedOut:
        return "signed out";
    case Blocker::noSelection:
        return "no selection";
    case Blocker::busy:
        return "busy";
    case Blocker::recording:
        return "recording";
    case Blocker::uploading:
        return "uploading";
    case Blocker::transition:
        return "capture transition";
    case Blocker::signingIn:
        return "signing in";
    case Blocker::updating:
        return "updating";
    }
    return "?";
}

void enter(AppHarness& h, Blocker b) {
    if (b == Blocker::signedOut) {
        h.startUp();
        return;
    }
    h.signedInWith(2);
    AppModel& m = *h.model;
    switch (b) {
    case Blocker::signedOut:
        break;
    case Blocker::noSelection:
        m.select(Uuid::random());
        break;
    case Blocker::busy:
        h.executor.holding = true; // the export waits for its first store job
        m.exportAudio(h.data / "out.m4a");
        h.queue.drain();
        break;
    case Blocker::recording:
        m.startNewRecording({});
        h.queue.drain();
        break;
    case Blocker::uploading:
        m.startUploadIfAllowed(m.recordings()[0].id, false); // the run has not begun yet
        break;
    case Blocker::transition:
        m.startNewRecording({});
        h.queue.drain();
        m.togglePause(); // the pause has not begun yet
        break;
    case Blocker::signingIn:
        m.signIn();
        break;
    case Blocker::updating:
        m.setUpdateInProgress(true);
        break;
    }
    h.changes = 0;
}

Uuid firstOrAny(const AppModel& m) {
    return m.recordings().empty() ? Uuid::random() : m.recordings()[0].id;
}

} // namespace

TEST(AppModel, StartsEmptyOnlineAndIdle) {
    AppHarness h;
    const AppModel& m = *h.model;
    EXPECT_FALSE(m.updateInProgress());
    EXPECT_FALSE(m.session());
    EXPECT_FALSE(m.bootstrap());
    EXPECT_TRUE(m.recordings().empty());
    EXPECT_FALSE(m.selectedID());
    EXPECT_FALSE(m.activeID());
    EXPECT_EQ(m.message(), "");
    EXPECT_FALSE(m.busy());
    EXPECT_FALSE(m.uploading());
    EXPECT_EQ(m.microphoneLevel(), 0);
    EXPECT_EQ(m.systemLevel(), 0);
    EXPECT_EQ(m.elapsed(), 0);
    EXPECT_FALSE(m.selectedSource());
    EXPECT_FALSE(m.microphoneDeviceID());
    EXPECT_FALSE(m.store());
    EXPECT_FALSE(m.captureTransition());
    EXPECT_TRUE(m.networkAvailable());
    EXPECT_FALSE(m.playbackID());
    EXPECT_FALSE(m.isSigningIn());
    EXPECT_FALSE(m.isRecording());
    EXPECT_FALSE(m.isCapturing());
    EXPECT_FALSE(m.isPaused());
    EXPECT_EQ(m.activeRecording(), nullptr);
    EXPECT_EQ(m.selectedRecording(), nullptr);
    // Made, not started: the network monitor listens, nothing else has happened.
    EXPECT_TRUE(h.network->report);
    EXPECT_FALSE(h.sleepNotices->willSleep);
    EXPECT_TRUE(h.cloud->calls.empty());
    EXPECT_EQ(h.changes, 0);
    EXPECT_EQ(h.queue.drain(), 0u);
}

TEST(AppModel, RefusesToBeMadeWithoutItsRequiredParts) {
    ManualMainQueue queue;
    InlineExecutor executor;
    auto complete = [&] {
        AppModelDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.keyring = std::make_shared<MemorySecretBackend>();
        d.api = std::make_shared<FakeAPI>();
        d.cloud = std::make_unique<FakeCloud>();
        d.openStore = [](const std::filesystem::path&, const SymmetricKey&) {
            return std::shared_ptr<WorkspaceStore>();
        };
        return d;
    };
    EXPECT_NO_THROW(AppModel::make(complete()));
    const std::vector<std::function<void(AppModelDependencies&)>> strips = {
        [](AppModelDependencies& d) { d.mainQueue = nullptr; },
        [](AppModelDependencies& d) { d.actorExecutor = nullptr; },
        [](AppModelDependencies& d) { d.keyring.reset(); },
        [](AppModelDependencies& d) { d.api.reset(); },
        [](AppModelDependencies& d) { d.cloud.reset(); },
        [](AppModelDependencies& d) { d.openStore = nullptr; },
    };
    for (std::size_t i = 0; i < strips.size(); ++i) {
        AppModelDependencies d = complete();
        strips[i](d);
        EXPECT_THROW(AppModel::make(std::move(d)), std::invalid_argument) << "dependency " << i;
    }
}

TEST(AppModel, CloudObserversForwardToTheModelsOwn) {
    AppHarness h;
    ASSERT_TRUE(h.cloud->onChange && h.cloud->onPlaybackTick);
    h.cloud->onChange();
    h.cloud->onPlaybackTick();
    h.cloud->onPlaybackTick();
    EXPECT_EQ(h.changes, 1);
    EXPECT_EQ(h.ticks, 2);
    // Unset observers and a model that has gone are both fine.
    h.model->onTick = nullptr;
    h.cloud->onPlaybackTick();
    auto forward = h.cloud->onChange;
    h.model.reset();
    forward();
    EXPECT_EQ(h.changes, 1);
}

TEST(AppModel, WorkspaceTitleNamesOnlyNonPersonalWorkspaces) {
    const std::vector<std::pair<std::optional<NativeBootstrap>, std::string>> cases = {
        {std::nullopt, "[fr] Personal workspace"},
        {sampleContract("personal", "ws_me"), "[fr] Personal workspace"},
        {sampleContract("team"), "Field Team"},
    };
    for (const auto& [contract, title] : cases) {
        AppHarness h;
        h.localizePrefix = "[fr] ";
        h.signedInWith(0, contract);
        EXPECT_EQ(h.model->workspaceTitle(), title);
    }
}

TEST(AppModel, SelectTellsTheWindowsOnlyAboutAChange) {
    AppHarness h;
    h.signedInWith(3);
    const auto& list = h.model->recordings();
    EXPECT_EQ(h.model->selectedID(), list[0].id) << "start-up selects the first";
    h.model->select(std::nullopt);
    EXPECT_EQ(h.changes, 1);
    h.model->select(std::nullopt);
    EXPECT_EQ(h.changes, 1);
    h.model->select(list[1].id);
    EXPECT_EQ(h.changes, 2);
    EXPECT_EQ(h.model->selectedRecording(), &list[1]);
    h.model->select(list[1].id);
    EXPECT_EQ(h.changes, 2);

    // An id that no recording has is kept, but finds nothing.
    Uuid stranger = Uuid::random();
    h.model->select(stranger);
    EXPECT_EQ(h.model->selectedID(), stranger);
    EXPECT_EQ(h.model->selectedRecording(), nullptr);
}

TEST(AppModel, EveryRefusalChangesNothingStartsNothingAndCallsNoObserver) {
    struct Row {
        std::string entry;
        std::vector<Blocker> refusedWhen;
        std::function<void(AppModel&)> call;
    };
    const std::vector<Row> rows = {
        // A pending browser attempt does not refuse a new one: it is replaced.
        {"signIn", {Blocker::busy, Blocker::recording, Blocker::uploading}, [](AppModel& m) { m.signIn(); }},
        {"signOut",
         {Blocker::signedOut, Blocker::recording, Blocker::uploading, Blocker::busy},
         [](AppModel& m) { m.signOut(); }},
        {"startNewRecording",
         {Blocker::signedOut, Blocker::busy, Blocker::recording, Blocker::updating},
         [](AppModel& m) { m.startNewRecording({}); }},
        {"togglePause",
         {Blocker::transition, Blocker::busy, Blocker::signedOut},
         [](AppModel& m) { m.togglePause(); }},
        {"togglePlayback",
         {Blocker::noSelection, Blocker::signedOut, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.togglePlayback(); }},
        {"togglePlayback(at)",
         {Blocker::noSelection, Blocker::signedOut, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.togglePlayback(12.5); }},
        {"discardRecording",
         {Blocker::noSelection, Blocker::signedOut, Blocker::busy, Blocker::recording, Blocker::uploading},
         [](AppModel& m) { m.discardRecording(); }},
        {"importAudio",
         {Blocker::signedOut, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.importAudio("/tmp/meeting.m4a", true); }},
        {"exportAudio",
         {Blocker::noSelection, Blocker::signedOut, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.exportAudio("/tmp/out.m4a"); }},
        {"selectWorkspace",
         {Blocker::signedOut, Blocker::recording, Blocker::busy, Blocker::uploading},
         [](AppModel& m) { m.selectWorkspace("ws_other"); }},
        {"startUploadIfAllowed",
         {Blocker::signedOut, Blocker::recording, Blocker::busy, Blocker::uploading, Blocker::updating},
         [](AppModel& m) { m.startUploadIfAllowed(firstOrAny(m), false); }},
        {"addBookmark", {Blocker::signedOut, Blocker::busy}, [](AppModel& m) { m.addBookmark(); }},
    };
    for (const Row& row : rows) {
        for (Blocker b : row.refusedWhen) {
            AppHarness h;
            enter(h, b);
            h.expectRefused([&] { row.call(*h.model); }, row.entry + " while " + name(b));
        }
    }
}

TEST(AppModel, RefusalsThatDependOnTheRequestItself) {
    AppHarness h;
    h.signedInWith(2);
    AppModel& m = *h.model;
    const Uuid first = m.recordings()[0].id;
    const Uuid unknown = Uuid::random();
    h.expectRefused([&] { m.select(first); }, "select of the selected recording");
    h.expectRefused([&] { m.setScratchpad("x", unknown); }, "setScratchpad of an unknown recording");
    h.expectRefused([&] { m.setNotepad("x", unknown); }, "setNotepad of an unknown recording");
    h.expectRefused([&] { m.setNotepad("", first); }, "setNotepad with the same (empty) lines");
    h.expectRefused([&] { m.startUploadIfAllowed(unknown, false); }, "send of an unknown recording");

    // Nothing recording: a stop only calls its completion, at once.
    int completions = 0;
    h.expectRefused([&] { m.stopRecording([&] { ++completions; }); }, "stopRecording with nothing recording");
    EXPECT_EQ(completions, 1);
    h.expectRefused([&] { m.stopRecording(); }, "stopRecording without a completion");
}

TEST(AppModel, AcceptedLongRequestsHoldTheModelBusyUntilTheirWorkEnds) {
    const std::vector<std::pair<std::string, std::function<void(AppModel&)>>> requests = {
        {"importAudio", [](AppModel& m) { m.importAudio("/tmp/meeting.wav", false); }},
        {"exportAudio", [](AppModel& m) { m.exportAudio("/tmp/out.m4a"); }},
        {"discardRecording", [](AppModel& m) { m.discardRecording(); }},
        {"selectWorkspace", [](AppModel& m) { m.selectWorkspace("ws_other"); }},
        {"signOut", [](AppModel& m) { m.signOut(); }},
        {"togglePlayback", [](AppModel& m) { m.togglePlayback(); }},
        {"startNewRecording", [](AppModel& m) { m.startNewRecording({}); }},
    };
    for (const auto& [what, request] : requests) {
        AppHarness h;
        h.signedInWith(2);
        std::vector<bool> busyWhenTold;
        h.model->onChange = [&] { busyWhenTold.push_back(h.model->busy()); };
        request(*h.model);
        EXPECT_EQ(busyWhenTold, (std::vector<bool>{true})) << what;
        h.queue.drain();
        EXPECT_FALSE(h.model->busy()) << what;
        EXPECT_EQ(busyWhenTold.back(), false) << what;
    }
}

TEST(AppModel, SetScratchpadKeepsTheTextAndSavesWithoutTellingTheWindows) {
    AppHarness h;
    auto store = h.signedInWith(2);
    const Uuid second = h.model->recordings()[1].id;
    h.model->setScratchpad("call the vendor", second);
    h.queue.drain();
    EXPECT_EQ(h.model->recordings()[1].scratchpad, "call the vendor");
    ASSERT_EQ(store->annotationSaves.size(), 1u);
    EXPECT_EQ(store->annotationSaves[0].id, second);
    EXPECT_EQ(store->annotationSaves[0].annotations.scratchpad, "call the vendor");
    EXPECT_EQ(h.changes, 0);
}

TEST(AppModel, EveryNetworkReportSetsTheFlagTellsTheCloudAndReschedulesTheQueue) {
    AppHarness h;
    auto list = sampleRecordings(2);
    list[1].uploadQueued = true;
    list[1].transfer = TransferState::failed;
    list[1].retryAt = Date{700000000 + 30};
    h.signedInWith(list);
    const std::size_t cloudCalls = h.cloud->calls.size();
    ASSERT_EQ(h.queue.nextDeadline(), 1030.0) << "start-up armed the wake-up for the retry";

    h.network->report(false);
    EXPECT_TRUE(h.model->networkAvailable()) << "the report is handled on the main queue";
    h.queue.drain();
    EXPECT_FALSE(h.model->networkAvailable());
    EXPECT_EQ(h.cloud->calls.back(), "offline");
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "offline: no wake-up";

    h.network->report(true);
    h.queue.drain();
    EXPECT_TRUE(h.model->networkAvailable());
    EXPECT_EQ(h.cloud->calls.back(), "online");
    EXPECT_EQ(h.queue.nextDeadline(), 1030.0) << "asleep until the retry is due";

    // The same status again is handled again: the wake-up is made anew, and only one waits.
    h.network->report(true);
    h.queue.drain();
    EXPECT_EQ(h.cloud->calls.size(), cloudCalls + 3);
    EXPECT_EQ(h.queue.pendingTimers(), 1u);
    EXPECT_EQ(h.changes, 0) << "a network report itself is not shown";

    int sent = 0; // runs started: `uploading` turning true
    bool was = false;
    h.model->onChange = [&] {
        sent += h.model->uploading() && !was ? 1 : 0;
        was = h.model->uploading();
    };
    h.queue.advance(30);
    EXPECT_EQ(sent, 1) << "the queued recording goes when its retry is due";
}

TEST(AppModel, ReportsAndWaitsAfterTheModelHasGoneEndQuietly) {
    AppHarness h;
    auto list = sampleRecordings(1);
    list[0].transfer = TransferState::accepted;
    list[0].remoteID = "mt_1";
    h.signedInWith(list);
    h.model->setNotepad("shared", list[0].id);
    h.queue.drain();
    ASSERT_EQ(h.queue.pendingTimers(), 1u) << "the notepad waits three seconds for the service";

    auto report = h.network->report;
    h.model.reset();
    EXPECT_TRUE(h.network->stopped);
    report(false); // a report already on its way when the monitor stopped
    h.queue.drain();
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "the model's end cancelled the wait";
    h.queue.advance(3);
}

TEST(AppModel, TheSystemsNoticesReachTheCaptureOnTheMainQueue) {
    AppHarness h;
    h.signedInWithRealStore();
    int readies = 0;
    h.sleepNotices->willSleep([&] { ++readies; }); // nothing recording
    EXPECT_EQ(readies, 0) << "handled on the main queue";
    h.queue.drain();
    EXPECT_EQ(readies, 1);

    h.model->startNewRecording({});
    h.queue.drain();
    ASSERT_TRUE(h.model->isCapturing());
    h.deviceRemovals->removed();
    h.queue.drain();
    EXPECT_FALSE(h.model->isRecording());
    EXPECT_EQ(
        h.model->message(),
        "An audio device disconnected. Saved audio is safe. Check your microphone before recording again.");

    auto notice = h.sleepNotices->willSleep;
    h.model.reset();
    notice([&] { ++readies; });
    h.queue.drain();
    EXPECT_EQ(readies, 2) << "a model that has gone lets the system sleep at once";
}
