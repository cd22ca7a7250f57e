// The entry points the windows call: every refusal changes nothing and tells no observer; what
// an accepted request does before its work begins; sign-in up to the browser; the deferred stop;
// toggling a loaded player; the send gate and the upload-queue wake-up.
#include "tests/model/AppModelHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

// The states that forbid a request, each made from a signed-in model with two recordings, the
// first selected.
enum class Blocker { noSession, noStore, noSelection, busy, recording, uploading, transition };

const char* name(Blocker b) {
    switch (b) {
    case Blocker::noSession:
        return "no session";
    case Blocker::noStore:
        return "no store";
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
    }
    return "?";
}

void block(Harness& h, Blocker b) {
    AppModel& m = *h.model;
    switch (b) {
    case Blocker::noSession:
        AppModelTestAccess::setSession(m, std::nullopt);
        break;
    case Blocker::noStore:
        AppModelTestAccess::setStore(m, nullptr);
        break;
    case Blocker::noSelection:
        AppModelTestAccess::setSelectedID(m, Uuid::random());
        break;
    case Blocker::busy:
        AppModelTestAccess::setBusy(m, true);
        break;
    case Blocker::recording:
        AppModelTestAccess::setActiveID(m, m.recordings()[1].id);
        break;
    case Blocker::uploading:
        AppModelTestAccess::setUploading(m, true);
        break;
    case Blocker::transition:
        AppModelTestAccess::setActiveID(m, m.recordings()[1].id);
        AppModelTestAccess::setCaptureTransition(m, true);
        break;
    }
}

struct Row {
    std::string entry;
    std::vector<Blocker> refusedWhen;
    std::function<void(AppModel&)> call;
};

} // namespace

TEST(AppModelEntryPoints, EveryRefusalChangesNothingAndCallsNoObserver) {
    const std::vector<Row> rows = {
        {"signIn", {Blocker::busy, Blocker::recording, Blocker::uploading}, [](AppModel& m) { m.signIn(); }},
        {"signOut",
         {Blocker::noSession, Blocker::recording, Blocker::uploading, Blocker::busy},
         [](AppModel& m) { m.signOut(); }},
        {"togglePause", {Blocker::transition, Blocker::busy}, [](AppModel& m) { m.togglePause(); }},
        {"togglePlayback",
         {Blocker::noSelection, Blocker::noStore, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.togglePlayback(); }},
        {"togglePlayback(at)",
         {Blocker::noSelection, Blocker::noStore, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.togglePlayback(12.5); }},
        {"discardRecording",
         {Blocker::noSelection, Blocker::noStore, Blocker::noSession, Blocker::busy, Blocker::recording,
          Blocker::uploading},
         [](AppModel& m) { m.discardRecording(); }},
        {"importAudio",
         {Blocker::noSession, Blocker::noStore, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.importAudio("/tmp/meeting.m4a", true); }},
        {"exportAudio",
         {Blocker::noSelection, Blocker::noStore, Blocker::busy, Blocker::recording},
         [](AppModel& m) { m.exportAudio("/tmp/out.m4a"); }},
        {"selectWorkspace",
         {Blocker::noSession, Blocker::recording, Blocker::busy, Blocker::uploading},
         [](AppModel& m) { m.selectWorkspace("ws_other"); }},
        {"startUploadIfAllowed",
         {Blocker::noSession, Blocker::noStore, Blocker::recording, Blocker::busy, Blocker::uploading},
         [](AppModel& m) { m.startUploadIfAllowed(m.recordings()[0].id, false); }},
    };
    for (const Row& row : rows) {
        for (Blocker b : row.refusedWhen) {
            Harness h;
            h.signedInWith(2);
            block(h, b);
            h.expectRefused([&] { row.call(*h.model); }, row.entry + " while " + name(b));
        }
    }
}

TEST(AppModelEntryPoints, RefusalsThatDependOnTheRequestItself) {
    Harness h;
    h.signedInWith(2);
    AppModel& m = *h.model;
    const Uuid first = m.recordings()[0].id;
    const Uuid unknown = Uuid::random();

    h.expectRefused([&] { m.select(first); }, "select of the selected recording");
    h.expectRefused([&] { m.togglePause(); }, "togglePause with nothing recording");
    h.expectRefused([&] { m.addBookmark(); }, "addBookmark with nothing recording");
    AppModelTestAccess::setActiveID(m, unknown);
    h.expectRefused([&] { m.addBookmark(); }, "addBookmark for an active id not in the list");
    AppModelTestAccess::setActiveID(m, std::nullopt);
    h.expectRefused([&] { m.setScratchpad("x", unknown); }, "setScratchpad of an unknown recording");
    h.expectRefused([&] { m.setNotepad("x", unknown); }, "setNotepad of an unknown recording");
    h.expectRefused([&] { m.setNotepad("", first); }, "setNotepad with the same (empty) lines");
    h.expectRefused([&] { m.startUploadIfAllowed(unknown, false); }, "send of an unknown recording");

    auto list = m.recordings();
    list[0].transfer = TransferState::accepted;
    list[1].transfer = TransferState::needsReview; // no way for the service to recognise it
    AppModelTestAccess::setRecordings(m, list);
    h.expectRefused([&] { m.startUploadIfAllowed(list[0].id, false); }, "send of an accepted recording");
    h.expectRefused([&] { m.startUploadIfAllowed(list[1].id, true); }, "send that canSend forbids");
    m.setUpdateInProgress(true);
    h.expectRefused([&] { m.startUploadIfAllowed(m.recordings()[0].id, false); }, "send during an update");
}

TEST(AppModelEntryPoints, SignInOpensTheBrowserOnceAndEndsSilentlyWhenNoCallbackComes) {
    Harness h;
    AppModel& m = *h.model;
    m.signIn();
    ASSERT_EQ(h.browser->opened.size(), 1u);
    const PKCEAttempt& attempt = AppModelTestAccess::attempt(m);
    EXPECT_EQ(h.browser->opened[0], "https://nuvel.test/device?challenge=" + attempt.challenge());
    EXPECT_TRUE(m.isSigningIn());
    EXPECT_EQ(h.changes, 0);

    h.expectRefused([&] { m.signIn(); }, "signIn while the browser attempt is pending");

    h.queue.advance(599);
    EXPECT_TRUE(m.isSigningIn());
    h.queue.advance(1);
    EXPECT_FALSE(m.isSigningIn());
    EXPECT_FALSE(AppModelTestAccess::hasAttempt(m));
    EXPECT_EQ(m.message(), "");
    EXPECT_EQ(h.changes, 0);

    m.signIn();
    EXPECT_EQ(h.browser->opened.size(), 2u);
    EXPECT_TRUE(m.isSigningIn());
}

TEST(AppModelEntryPoints, SignInThatCannotStartSaysSoAndKeepsNoAttempt) {
    const std::string failed = "Sign-in could not finish. Please try again.";
    {
        Harness h;
        h.browser->accepts = false;
        h.model->signIn();
        EXPECT_EQ(h.model->message(), failed);
        EXPECT_FALSE(h.model->isSigningIn());
        EXPECT_FALSE(AppModelTestAccess::hasAttempt(*h.model));
        EXPECT_EQ(h.changes, 1);
        EXPECT_EQ(h.queue.pendingTimers(), 0u);
    }
    {
        Harness h;
        h.failRandom = true;
        h.model->signIn();
        EXPECT_EQ(h.model->message(), failed);
        EXPECT_TRUE(h.browser->opened.empty());
        EXPECT_FALSE(h.model->isSigningIn());
    }
}

TEST(AppModelEntryPoints, StopWithNothingRecordingOnlyCallsTheCompletion) {
    Harness h;
    h.signedInWith(2);
    int completions = 0;
    h.expectRefused([&] { h.model->stopRecording([&] { ++completions; }); },
                    "stopRecording with nothing recording");
    EXPECT_EQ(completions, 1);
    h.expectRefused([&] { h.model->stopRecording(); }, "stopRecording without a completion");
}

TEST(AppModelEntryPoints, StopDuringAPauseWaitsForItAndKeepsEveryCompletion) {
    Harness h;
    h.signedInWith(2);
    AppModel& m = *h.model;
    AppModelTestAccess::setActiveID(m, m.recordings()[1].id);

    m.togglePause();
    EXPECT_TRUE(m.captureTransition());
    std::vector<std::string> log;
    m.onChange = [&] { log.push_back("change"); };
    m.stopRecording([&] { log.push_back("first"); });
    EXPECT_TRUE(AppModelTestAccess::stopRequested(m));
    EXPECT_FALSE(m.busy()) << "a deferred stop only records itself";
    m.stopRecording([&] { log.push_back("second"); });
    m.stopRecording(); // no completion: the kept ones stay
    ASSERT_TRUE(AppModelTestAccess::stopCompletion(m));

    h.queue.drain();
    EXPECT_FALSE(AppModelTestAccess::stopRequested(m));
    EXPECT_FALSE(AppModelTestAccess::stopCompletion(m));
    EXPECT_FALSE(m.busy());
    EXPECT_FALSE(m.captureTransition());
    // The fake store refuses the pause, so the capture ends as interrupted; the held stop then
    // finds nothing to stop and calls each completion once, in the order they were given.
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"first", "second", "change"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "first"), 1);
}

TEST(AppModelEntryPoints, StopWhileBusyIsDeferredAndAStopItselfTakesBothGuards) {
    Harness h;
    h.signedInWith(2);
    AppModel& m = *h.model;
    AppModelTestAccess::setActiveID(m, m.recordings()[1].id);
    AppModelTestAccess::setBusy(m, true);
    m.stopRecording();
    EXPECT_TRUE(AppModelTestAccess::stopRequested(m));
    EXPECT_FALSE(m.captureTransition());

    AppModelTestAccess::setBusy(m, false);
    m.stopRecording();
    EXPECT_TRUE(m.busy());
    EXPECT_TRUE(m.captureTransition());
    EXPECT_EQ(h.changes, 0) << "the stop's task tells the windows when it ends";
    h.queue.drain();
    EXPECT_FALSE(m.busy());
    EXPECT_FALSE(m.captureTransition());
    EXPECT_FALSE(AppModelTestAccess::stopRequested(m)) << "the held stop ran after the first";
}

TEST(AppModelEntryPoints, TogglingTheLoadedRecordingDrivesItsPlayerWithoutNewWork) {
    Harness h;
    auto store = h.signedInWith(2);
    AppModel& m = *h.model;
    const Uuid first = m.recordings()[0].id;
    AppModelTestAccess::setPlayer(m, std::make_unique<FakePlayer>(&h.playerLog), first,
                                  h.data / "clear-1.m4a");

    m.togglePlayback();
    m.togglePlayback();
    m.togglePlayback(12.5);
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"play", "pause", "seek 12.500000", "play"}));
    EXPECT_EQ(h.changes, 3);
    EXPECT_FALSE(m.busy());
    h.queue.drain();
    EXPECT_TRUE(store->removedFiles.empty());

    // Another recording: the loaded one is stopped and its clear file removed first.
    m.select(m.recordings()[1].id);
    bool busyWhenTold = false;
    m.onChange = [&] { busyWhenTold = m.busy(); };
    m.togglePlayback();
    EXPECT_TRUE(busyWhenTold);
    EXPECT_EQ(h.playerLog.back(), "stop");
    EXPECT_FALSE(m.playbackID());
    h.queue.drain();
    EXPECT_EQ(store->removedFiles, (std::vector<std::filesystem::path>{h.data / "clear-1.m4a"}));
    EXPECT_FALSE(m.busy());
}

TEST(AppModelEntryPoints, StopPlaybackRemovesTheClearFileAndTellsNoObserver) {
    Harness h;
    auto store = h.signedInWith(1);
    AppModel& m = *h.model;
    AppModelTestAccess::setPlayer(m, std::make_unique<FakePlayer>(&h.playerLog), m.recordings()[0].id,
                                  h.data / "clear-2.m4a");
    m.stopPlayback();
    h.queue.drain();
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"stop"}));
    EXPECT_FALSE(AppModelTestAccess::hasPlayer(m));
    EXPECT_FALSE(m.playbackID());
    EXPECT_EQ(store->removedFiles.size(), 1u);
    EXPECT_EQ(h.changes, 0);
    m.stopPlayback(); // nothing loaded: nothing to do
    h.queue.drain();
    EXPECT_EQ(store->removedFiles.size(), 1u);
}

TEST(AppModelEntryPoints, AcceptedLongRequestsHoldTheModelBusyUntilTheirWorkEnds) {
    const std::vector<std::pair<std::string, std::function<void(AppModel&)>>> requests = {
        {"importAudio", [](AppModel& m) { m.importAudio("/tmp/meeting.wav", false); }},
        {"exportAudio", [](AppModel& m) { m.exportAudio("/tmp/out.m4a"); }},
        {"discardRecording", [](AppModel& m) { m.discardRecording(); }},
        {"selectWorkspace", [](AppModel& m) { m.selectWorkspace("ws_other"); }},
        {"signOut", [](AppModel& m) { m.signOut(); }},
        {"togglePlayback", [](AppModel& m) { m.togglePlayback(); }},
    };
    for (const auto& [what, request] : requests) {
        Harness h;
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

TEST(AppModelEntryPoints, SetScratchpadKeepsTheTextAndSavesWithoutTellingTheWindows) {
    Harness h;
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

TEST(AppModelUploadGate, AWorkspaceWithoutUploadsSaysSoAndStartsNothing) {
    Harness h;
    NativeBootstrap contract = sampleContract();
    contract.workspace.canUpload = false;
    h.signedInWith(1, contract);
    const auto before = h.model->recordings();
    h.model->startUploadIfAllowed(before[0].id, false);
    h.queue.drain();
    EXPECT_EQ(h.model->message(),
              "This workspace does not currently allow uploads. Your recording remains saved on this Mac.");
    EXPECT_FALSE(h.model->uploading());
    EXPECT_EQ(h.model->recordings(), before);
    EXPECT_EQ(h.changes, 1);
}

TEST(AppModelUploadGate, AnAllowedSendMarksTheModelUploadingBeforeItsRunStarts) {
    Harness h;
    h.signedInWith(1); // no contract: nothing in it can refuse
    std::vector<bool> uploadingWhenTold;
    h.model->onChange = [&] { uploadingWhenTold.push_back(h.model->uploading()); };
    h.model->startUploadIfAllowed(h.model->recordings()[0].id, false);
    EXPECT_EQ(uploadingWhenTold, (std::vector<bool>{true}));
    h.expectRefused([&] { h.model->startUploadIfAllowed(h.model->recordings()[0].id, false); },
                    "a second send in the same turn");
}

namespace {
// Two queued recordings in a signed-in, idle, online model.
std::vector<LocalRecording> queued(Harness& h, std::optional<double> firstRetryIn,
                                   std::optional<double> secondRetryIn) {
    h.signedInWith(3);
    auto list = h.model->recordings();
    auto due = [](std::optional<double> in) {
        return in ? std::optional<Date>(Date{700000000 + *in}) : std::nullopt;
    };
    list[1].uploadQueued = true;
    list[1].transfer = TransferState::failed;
    list[1].retryAt = due(firstRetryIn);
    list[2].uploadQueued = true;
    list[2].transfer = TransferState::uploading;
    list[2].retryAt = due(secondRetryIn);
    AppModelTestAccess::setRecordings(*h.model, list);
    return list;
}

} // namespace

TEST(AppModelUploadQueue, WakesTheEarliestDueRecordingAndOnlyOne) {
    Harness h;
    auto list = queued(h, 30.0, 10.0);
    AppModelTestAccess::scheduleQueueWakeup(*h.model);
    h.queue.drain();
    EXPECT_EQ(h.queue.nextDeadline(), 1010.0) << "the second is due first";
    int runs = 0;
    h.model->onChange = [&] { runs += h.model->uploading() ? 1 : 0; };
    h.queue.advance(9.9);
    EXPECT_EQ(runs, 0);
    h.queue.advance(0.1);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "one wake-up serves one recording";

    // The wake-up names the second: once it is accepted, the wake-up finds nothing to send.
    Harness other;
    auto again = queued(other, 30.0, 10.0);
    AppModelTestAccess::scheduleQueueWakeup(*other.model);
    again[2].transfer = TransferState::accepted;
    AppModelTestAccess::setRecordings(*other.model, again);
    int sent = 0;
    other.model->onChange = [&] { sent += other.model->uploading() ? 1 : 0; };
    other.queue.advance(40);
    EXPECT_EQ(sent, 0);
    EXPECT_FALSE(other.model->uploading());
}

TEST(AppModelUploadQueue, NoRetryTimeIsDueAtOnceAndTheFirstInTheListWinsATie) {
    Harness h;
    auto list = queued(h, std::nullopt, std::nullopt);
    AppModelTestAccess::scheduleQueueWakeup(*h.model);
    int runs = 0;
    h.model->onChange = [&] { runs += h.model->uploading() ? 1 : 0; };
    h.queue.drain();
    EXPECT_EQ(runs, 1) << "sent without a sleep";
    EXPECT_EQ(h.queue.pendingTimers(), 0u);

    // Which one was woken: make the first unsendable once the wake-up is set; nothing is sent.
    Harness tie;
    auto tied = queued(tie, std::nullopt, std::nullopt);
    AppModelTestAccess::scheduleQueueWakeup(*tie.model);
    tied[1].transfer = TransferState::accepted;
    AppModelTestAccess::setRecordings(*tie.model, tied);
    tie.expectRefused([&] { tie.queue.drain(); }, "the wake-up of the first recording");

    // A retry time already past counts as due at once too.
    Harness late;
    queued(late, -50.0, 20.0);
    AppModelTestAccess::scheduleQueueWakeup(*late.model);
    int lateRuns = 0;
    late.model->onChange = [&] { lateRuns += late.model->uploading() ? 1 : 0; };
    late.queue.drain();
    EXPECT_EQ(lateRuns, 1);
}

TEST(AppModelUploadQueue, SchedulesNothingWhileTheModelCannotSend) {
    const std::vector<std::pair<std::string, std::function<void(Harness&)>>> states = {
        {"offline", [](Harness& h) { AppModelTestAccess::setNetworkAvailable(*h.model, false); }},
        {"signed out", [](Harness& h) { AppModelTestAccess::setSession(*h.model, std::nullopt); }},
        {"recording",
         [](Harness& h) { AppModelTestAccess::setActiveID(*h.model, h.model->recordings()[0].id); }},
        {"busy", [](Harness& h) { AppModelTestAccess::setBusy(*h.model, true); }},
        {"uploading", [](Harness& h) { AppModelTestAccess::setUploading(*h.model, true); }},
        {"updating", [](Harness& h) { h.model->setUpdateInProgress(true); }},
    };
    for (const auto& [what, enter] : states) {
        Harness h;
        queued(h, 5.0, std::nullopt);
        AppModelTestAccess::scheduleQueueWakeup(*h.model);
        TaskHandle pending = AppModelTestAccess::queueWakeup(*h.model);
        ASSERT_TRUE(pending.isValid()) << what;
        enter(h);
        AppModelTestAccess::scheduleQueueWakeup(*h.model);
        EXPECT_TRUE(pending.isCancelled()) << what;
        EXPECT_FALSE(AppModelTestAccess::queueWakeup(*h.model).isValid()) << what;
    }
}

TEST(AppModelUploadQueue, ARecordingThatNeedsReviewWakesOnlyWhenTheServiceCanRecogniseIt) {
    auto reviewWithMeeting = [](Harness& h, std::optional<NativeBootstrap> contract) {
        h.signedInWith(1, std::move(contract));
        auto list = h.model->recordings();
        list[0].uploadQueued = true;
        list[0].transfer = TransferState::needsReview;
        list[0].remoteID = "mt_1";
        AppModelTestAccess::setRecordings(*h.model, list);
        AppModelTestAccess::scheduleQueueWakeup(*h.model);
        return AppModelTestAccess::queueWakeup(*h.model).isValid();
    };
    Harness noContract, reconciles, doesNot;
    EXPECT_FALSE(reviewWithMeeting(noContract, std::nullopt));
    EXPECT_TRUE(reviewWithMeeting(reconciles, sampleContract()));
    EXPECT_FALSE(reviewWithMeeting(
        doesNot, sampleContract("team", "ws_team",
                                R"({"create_idempotency": true, "upload_reconciliation": false,
                                                               "upload_heartbeat": false, "commit_reconciliation": false,
                                                               "native_library": false})")));

    // Accepted and unqueued recordings are never woken.
    Harness idle;
    idle.signedInWith(2);
    auto list = idle.model->recordings();
    list[0].uploadQueued = true;
    list[0].transfer = TransferState::accepted;
    list[1].uploadQueued = false;
    AppModelTestAccess::setRecordings(*idle.model, list);
    AppModelTestAccess::scheduleQueueWakeup(*idle.model);
    EXPECT_FALSE(AppModelTestAccess::queueWakeup(*idle.model).isValid());
}

TEST(AppModelUploadQueue, AWakeUpThatFindsTheModelOccupiedIsRefusedSilently) {
    Harness h;
    queued(h, 5.0, std::nullopt);
    AppModelTestAccess::scheduleQueueWakeup(*h.model);
    AppModelTestAccess::setActiveID(*h.model, h.model->recordings()[0].id); // a capture began meanwhile
    int told = 0;
    h.model->onChange = [&] { ++told; };
    h.queue.advance(10);
    EXPECT_EQ(told, 0);
    EXPECT_FALSE(h.model->uploading());
    EXPECT_EQ(h.model->message(), "");
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "no further wake-up until the next reschedule";
}
