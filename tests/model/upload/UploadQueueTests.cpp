// The send gate and the upload-queue wake-up: one upload at a time, refusals that say nothing
// but one, and the wake-up of the queued recording due first.
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "tests/model/ModelHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

// Three recordings, the second and third queued with retries due in the given seconds.
std::vector<LocalRecording> queued(std::optional<double> firstRetryIn, std::optional<double> secondRetryIn) {
    auto list = sampleRecordings(3);
    auto due = [](std::optional<double> in) {
        return in ? std::optional<Date>(Date{700000000 + *in}) : std::nullopt;
    };
    list[1].uploadQueued = true;
    list[1].transfer = TransferState::failed;
    list[1].retryAt = due(firstRetryIn);
    list[2].uploadQueued = true;
    list[2].transfer = TransferState::uploading;
    list[2].retryAt = due(secondRetryIn);
    return list;
}

// Counts the runs started: each is one change of `uploading` from false to true.
std::function<void()> countingStarts(PartsHarness& h, int& starts) {
    return [&h, &starts, was = false]() mutable {
        if (h.state().uploading && !was)
            ++starts;
        was = h.state().uploading;
    };
}

const std::string withoutReconciliation = R"({"create_idempotency": true, "upload_reconciliation": false,
    "upload_heartbeat": false, "commit_reconciliation": false, "native_library": false})";

} // namespace

TEST(UploadGate, RefusesSilentlyWhatTheModelCannotSendNow) {
    struct Case {
        std::string what;
        std::function<void(PartsHarness&, std::vector<LocalRecording>&)> arrange;
    };
    const std::vector<Case> cases = {
        {"an unknown recording",
         [](PartsHarness&, std::vector<LocalRecording>& l) { l[0].id = Uuid::random(); }},
        {"signed out", [](PartsHarness& h, auto&) { h.state().session.reset(); }},
        {"no store", [](PartsHarness& h, auto&) { h.state().store.reset(); }},
        {"recording", [](PartsHarness& h, auto& l) { h.state().activeID = l[1].id; }},
        {"busy", [](PartsHarness& h, auto&) { h.state().busy = true; }},
        {"uploading", [](PartsHarness& h, auto&) { h.state().uploading = true; }},
        {"updating", [](PartsHarness& h, auto&) { h.state().updateInProgress = true; }},
        {"accepted",
         [](PartsHarness& h, auto& l) {
             h.state().recordings[0].transfer = TransferState::accepted;
             l = h.state().recordings;
         }},
        {"needs review, unrecognisable",
         [](PartsHarness& h, auto& l) {
             h.state().recordings[0].transfer = TransferState::needsReview;
             l = h.state().recordings;
         }},
    };
    for (const Case& c : cases) {
        PartsHarness h;
        h.signedInWith(2);
        std::vector<LocalRecording> list = h.state().recordings;
        c.arrange(h, list);
        const ModelState before = h.state();
        h.parts->upload.startUploadIfAllowed(list[0].id, false);
        h.queue.drain();
        EXPECT_EQ(h.state().recordings, before.recordings) << c.what;
        EXPECT_EQ(h.state().uploading, before.uploading) << c.what;
        EXPECT_EQ(h.state().message, "") << c.what;
        EXPECT_EQ(h.changes, 0) << c.what;
    }
}

TEST(UploadGate, AWorkspaceWithoutUploadsSaysSoAndAnAllowedSendMarksTheModelUploadingFirst) {
    PartsHarness h;
    NativeBootstrap contract = sampleContract();
    contract.workspace.canUpload = false;
    h.signedInWith(1, contract);
    const auto before = h.state().recordings;
    h.parts->upload.startUploadIfAllowed(before[0].id, false);
    h.queue.drain();
    EXPECT_EQ(h.state().message,
              "This workspace does not currently allow uploads. Your recording remains saved on this Mac.");
    EXPECT_FALSE(h.state().uploading);
    EXPECT_EQ(h.state().recordings, before);
    EXPECT_EQ(h.changes, 1);

    PartsHarness allowed;
    allowed.signedInWith(1); // no contract: nothing in it can refuse
    std::vector<bool> uploadingWhenTold;
    allowed.context().setObservers([&] { uploadingWhenTold.push_back(allowed.state().uploading); }, {});
    allowed.parts->upload.startUploadIfAllowed(allowed.state().recordings[0].id, false);
    EXPECT_EQ(uploadingWhenTold, (std::vector<bool>{true}));
    allowed.parts->upload.startUploadIfAllowed(allowed.state().recordings[0].id, false);
    EXPECT_EQ(uploadingWhenTold.size(), 1u) << "a second send in the same turn is refused";
    allowed.queue.drain();
    EXPECT_EQ(uploadingWhenTold.back(), false) << "the run has ended (it fails: the sample has no audio)";
    EXPECT_EQ(std::count(uploadingWhenTold.begin(), uploadingWhenTold.end(), false), 1) << "and ended once";
}

TEST(UploadQueue, WakesTheEarliestDueRecordingAndOnlyOne) {
    PartsHarness h;
    h.signedInWith(queued(30.0, 10.0));
    EXPECT_EQ(h.queue.nextDeadline(), 1010.0) << "the second is due first";
    int runs = 0;
    h.context().setObservers(countingStarts(h, runs), {});
    h.queue.advance(9.9);
    EXPECT_EQ(runs, 0);
    h.queue.advance(0.1);
    EXPECT_EQ(runs, 1);
    ASSERT_TRUE(h.queue.nextDeadline());
    EXPECT_GT(*h.queue.nextDeadline(), h.queue.now()) << "one wake-up serves one recording; the next waits";

    // The wake-up names the second: once it is accepted, the wake-up finds nothing to send.
    PartsHarness other;
    other.signedInWith(queued(30.0, 10.0));
    other.state().recordings[2].transfer = TransferState::accepted;
    int sent = 0;
    other.context().setObservers([&] { sent += other.state().uploading ? 1 : 0; }, {});
    other.queue.advance(40);
    EXPECT_EQ(sent, 0);
}

TEST(UploadQueue, ARetryThatFellDueWhileTheComputerSleptGoesSoonAfterItWakes) {
    PartsHarness h;
    h.signedInWith(queued(300.0, 7200.0));
    int runs = 0;
    h.context().setObservers(countingStarts(h, runs), {});
    h.queue.advance(5);
    h.suspended += 3600; // the queue's timers stood still meanwhile
    h.queue.advance(continuousSleepStep - 5);
    EXPECT_EQ(runs, 1) << "due five minutes after the retry was set, an hour has passed";
}

TEST(UploadQueue, NoRetryTimeIsDueAtOnceAndTheFirstInTheListWinsATie) {
    // The first one's run fails (the samples have no audio) and is due again in 8 to 12 s: a
    // second without a retry time goes at once after it, one due in 20 s does not.
    struct Due {
        std::optional<double> first, second;
        int runs;
    };
    for (auto [first, second, expectedRuns] : {Due{std::nullopt, std::nullopt, 2}, Due{-50.0, 20.0, 1}}) {
        PartsHarness h;
        h.nextReport.recordings = queued(first, second);
        int runs = 0;
        h.context().setObservers(countingStarts(h, runs), {});
        runToCompletion(h.queue,
                        h.parts->workspaces.openWorkspace(sampleSession(), std::nullopt, std::nullopt));
        h.queue.drain();
        EXPECT_EQ(runs, expectedRuns) << "sent without a sleep";
    }

    // Which one was woken: make the first unsendable once the wake-up is set; nothing is sent.
    PartsHarness tie;
    tie.nextReport.recordings = queued(std::nullopt, std::nullopt);
    runToCompletion(tie.queue, [](PartsHarness* h) -> Task<void> {
        const DeviceSession session = sampleSession();
        const std::optional<NativeBootstrap> noContract;
        const std::optional<Date> noLimit;
        co_await h->parts->workspaces.openWorkspace(session, noContract, noLimit);
        h->state().recordings[1].transfer = TransferState::accepted; // before the wake-up runs
    }(&tie));
    int sent = 0;
    tie.context().setObservers([&] { sent += tie.state().uploading ? 1 : 0; }, {});
    tie.queue.drain();
    EXPECT_EQ(sent, 0);
}

TEST(UploadQueue, SchedulesNothingWhileTheModelCannotSendAndCancelsTheWaitingWakeUp) {
    const std::vector<std::pair<std::string, std::function<void(PartsHarness&)>>> states = {
        {"offline", [](PartsHarness& h) { h.state().networkAvailable = false; }},
        {"signed out", [](PartsHarness& h) { h.state().session.reset(); }},
        {"recording", [](PartsHarness& h) { h.state().activeID = h.state().recordings[0].id; }},
        {"busy", [](PartsHarness& h) { h.state().busy = true; }},
        {"uploading", [](PartsHarness& h) { h.state().uploading = true; }},
        {"updating", [](PartsHarness& h) { h.state().updateInProgress = true; }},
    };
    for (const auto& [what, enter] : states) {
        PartsHarness h;
        h.signedInWith(queued(5.0, 8.0));
        TaskHandle pending = h.parts->upload.queueWakeup();
        ASSERT_TRUE(pending.isValid() && !pending.isFinished()) << what;
        enter(h);
        h.parts->upload.scheduleQueueWakeup();
        EXPECT_TRUE(pending.isCancelled()) << what;
        EXPECT_FALSE(h.parts->upload.queueWakeup().isValid()) << what;
        h.queue.drain();
        EXPECT_EQ(h.queue.pendingTimers(), 0u) << what;
    }
}

TEST(UploadQueue, ARecordingThatNeedsReviewWakesOnlyWhenTheServiceCanRecogniseIt) {
    auto wakes = [](std::optional<NativeBootstrap> contract, TransferState transfer, bool queuedFlag) {
        PartsHarness h;
        auto list = sampleRecordings(1);
        list[0].uploadQueued = queuedFlag;
        list[0].transfer = transfer;
        list[0].remoteID = "mt_1";
        list[0].retryAt = Date{700000000 + 60};
        h.signedInWith(list, std::move(contract));
        return h.parts->upload.queueWakeup().isValid();
    };
    EXPECT_FALSE(wakes(std::nullopt, TransferState::needsReview, true)) << "no contract";
    EXPECT_TRUE(wakes(sampleContract(), TransferState::needsReview, true));
    EXPECT_FALSE(
        wakes(sampleContract("team", "ws_team", withoutReconciliation), TransferState::needsReview, true));
    EXPECT_FALSE(wakes(sampleContract(), TransferState::accepted, true)) << "accepted";
    EXPECT_FALSE(wakes(sampleContract(), TransferState::failed, false)) << "not queued";
    EXPECT_TRUE(wakes(sampleContract(), TransferState::failed, true));
}

TEST(UploadQueue, AWakeUpThatFindsTheModelOccupiedIsRefusedSilently) {
    PartsHarness h;
    h.signedInWith(queued(5.0, 8.0));
    h.state().activeID = h.state().recordings[0].id; // a capture began meanwhile
    int told = 0;
    h.context().setObservers([&] { ++told; }, {});
    h.queue.advance(10);
    EXPECT_EQ(told, 0);
    EXPECT_FALSE(h.state().uploading);
    EXPECT_EQ(h.state().message, "");
    EXPECT_EQ(h.queue.pendingTimers(), 0u) << "no further wake-up until the next reschedule";
}

TEST(UploadQueue, ARetryThatFellDueDuringAnImportARecordingOrAnUpdateGoesOnceItEnds) {
    struct Case {
        std::string what;
        std::function<void(AppHarness&)> begin, end;
    };
    const std::vector<Case> cases = {
        {"import",
         [](AppHarness& h) {
             h.executor.holding = true;
             h.model->importAudio(h.data.path() / "missing.wav", false);
         },
         [](AppHarness& h) { h.releaseHeld(); }},
        {"update", [](AppHarness& h) { h.model->setUpdateInProgress(true); },
         [](AppHarness& h) { h.model->setUpdateInProgress(false); }},
        {"recording",
         [](AppHarness& h) {
             h.model->startNewRecording({});
             h.queue.drain();
             ASSERT_TRUE(h.model->isRecording());
         },
         [](AppHarness& h) { h.model->stopRecording(); }},
    };
    for (const Case& c : cases) {
        AppHarness h;
        h.signedInWith(queued(5.0, 50.0));
        int runs = 0; // runs started: `uploading` turning true
        bool was = false;
        h.model->onChange = [&] {
            runs += h.model->uploading() && !was ? 1 : 0;
            was = h.model->uploading();
        };
        c.begin(h);
        h.queue.advance(10);
        EXPECT_EQ(runs, 0) << c.what << ": refused while it runs";
        c.end(h);
        h.queue.drain();
        EXPECT_EQ(runs, 1) << c.what << ": sent once it has ended";
    }
}
