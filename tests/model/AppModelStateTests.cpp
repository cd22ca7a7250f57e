// The model's initial state, the queries the windows read, selection, bookmarks and the
// network path.
#include "tests/model/AppModelHarness.hpp"

#include <cmath>
#include <limits>

using namespace nuvel;
using namespace nuvel::test;

TEST(AppModelState, StartsEmptyOnlineAndIdle) {
    Harness h;
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

TEST(AppModelState, RefusesToBeMadeWithoutItsRequiredParts) {
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
    auto without = [&](auto strip) {
        AppModelDependencies d = complete();
        strip(d);
        return AppModel::make(std::move(d));
    };
    EXPECT_THROW(without([](AppModelDependencies& d) { d.mainQueue = nullptr; }), std::invalid_argument);
    EXPECT_THROW(without([](AppModelDependencies& d) { d.actorExecutor = nullptr; }), std::invalid_argument);
    EXPECT_THROW(without([](AppModelDependencies& d) { d.keyring.reset(); }), std::invalid_argument);
    EXPECT_THROW(without([](AppModelDependencies& d) { d.api.reset(); }), std::invalid_argument);
    EXPECT_THROW(without([](AppModelDependencies& d) { d.cloud.reset(); }), std::invalid_argument);
    EXPECT_THROW(without([](AppModelDependencies& d) { d.openStore = nullptr; }), std::invalid_argument);
}

TEST(AppModelState, CloudObserversForwardToTheModelsOwn) {
    Harness h;
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

TEST(AppModelState, WorkspaceTitleNamesOnlyNonPersonalWorkspaces) {
    Harness h;
    h.localizePrefix = "[fr] ";
    EXPECT_EQ(h.model->workspaceTitle(), "[fr] Personal workspace");
    AppModelTestAccess::setBootstrap(*h.model, sampleContract("personal", "ws_me"));
    EXPECT_EQ(h.model->workspaceTitle(), "[fr] Personal workspace");
    AppModelTestAccess::setBootstrap(*h.model, sampleContract("team"));
    EXPECT_EQ(h.model->workspaceTitle(), "Field Team");
}

TEST(AppModelState, CanSendAgainOnlyWhatTheServiceCanRecognise) {
    Harness h;
    LocalRecording r = sampleRecording();
    for (TransferState state :
         {TransferState::local, TransferState::failed, TransferState::creating, TransferState::uploading,
          TransferState::committing, TransferState::accepted}) {
        r.transfer = state;
        EXPECT_TRUE(h.model->canSend(r)) << rawValue(state);
    }

    r.transfer = TransferState::needsReview;
    EXPECT_FALSE(h.model->canSend(r)); // no remote meeting, no client id, no contract

    auto both = R"({"create_idempotency": true, "upload_reconciliation": true, "upload_heartbeat": false,
                    "commit_reconciliation": false, "native_library": false})";
    auto createOnly =
        R"({"create_idempotency": true, "upload_reconciliation": false, "upload_heartbeat": false,
                          "commit_reconciliation": false, "native_library": false})";
    auto reconcileOnly =
        R"({"create_idempotency": false, "upload_reconciliation": true, "upload_heartbeat": false,
                             "commit_reconciliation": false, "native_library": false})";

    AppModelTestAccess::setBootstrap(*h.model, sampleContract("team", "ws_team", both));
    EXPECT_FALSE(h.model->canSend(r)) << "neither a meeting nor a client id, even with both capabilities";

    LocalRecording withMeeting = r;
    withMeeting.remoteID = "mt_1";
    EXPECT_TRUE(h.model->canSend(withMeeting));
    AppModelTestAccess::setBootstrap(*h.model, sampleContract("team", "ws_team", createOnly));
    EXPECT_FALSE(h.model->canSend(withMeeting));
    AppModelTestAccess::setBootstrap(*h.model, std::nullopt);
    EXPECT_FALSE(h.model->canSend(withMeeting));

    LocalRecording withClientID = r;
    withClientID.creationRequest = CreateMeetingRequest{};
    EXPECT_FALSE(h.model->canSend(withClientID)) << "a request without a client recording id";
    withClientID.creationRequest->client_recording_id = "c1";
    AppModelTestAccess::setBootstrap(*h.model, sampleContract("team", "ws_team", createOnly));
    EXPECT_TRUE(h.model->canSend(withClientID));
    AppModelTestAccess::setBootstrap(*h.model, sampleContract("team", "ws_team", reconcileOnly));
    EXPECT_FALSE(h.model->canSend(withClientID));
}

TEST(AppModelState, SelectTellsTheWindowsOnlyAboutAChange) {
    Harness h;
    h.signedInWith(3);
    const auto& list = h.model->recordings();
    AppModelTestAccess::setSelectedID(*h.model, std::nullopt);

    h.model->select(std::nullopt);
    EXPECT_EQ(h.changes, 0);
    h.model->select(list[1].id);
    EXPECT_EQ(h.changes, 1);
    EXPECT_EQ(h.model->selectedRecording(), &list[1]);
    h.model->select(list[1].id);
    EXPECT_EQ(h.changes, 1);
    h.model->select(std::nullopt);
    EXPECT_EQ(h.changes, 2);
    EXPECT_EQ(h.model->selectedRecording(), nullptr);

    // An id that no recording has is kept, but finds nothing.
    Uuid stranger = Uuid::random();
    h.model->select(stranger);
    EXPECT_EQ(h.model->selectedID(), stranger);
    EXPECT_EQ(h.model->selectedRecording(), nullptr);
}

TEST(AppModelState, ActiveRecordingFollowsItsCaptureState) {
    Harness h;
    h.signedInWith(2);
    auto list = h.model->recordings();
    list[1].capture = CaptureState::paused;
    AppModelTestAccess::setRecordings(*h.model, list);
    AppModelTestAccess::setActiveID(*h.model, list[1].id);
    EXPECT_TRUE(h.model->isRecording());
    EXPECT_TRUE(h.model->isPaused());
    EXPECT_FALSE(h.model->isCapturing());
    EXPECT_EQ(h.model->activeRecording()->id, list[1].id);

    // An active id whose recording left the list: still recording, but neither state.
    AppModelTestAccess::setActiveID(*h.model, Uuid::random());
    EXPECT_TRUE(h.model->isRecording());
    EXPECT_FALSE(h.model->isPaused());
    EXPECT_FALSE(h.model->isCapturing());
    EXPECT_EQ(h.model->activeRecording(), nullptr);
}

TEST(AppModelState, BookmarksTakeWholeMillisecondsOfTheElapsedTime) {
    Harness h;
    auto store = h.signedInWith(2);
    const Uuid active = h.model->recordings()[1].id;
    AppModelTestAccess::setActiveID(*h.model, active);

    h.model->addBookmark(); // before the first tick
    AppModelTestAccess::setElapsed(*h.model, 0.7509);
    h.model->addBookmark();
    AppModelTestAccess::setElapsed(*h.model, std::numeric_limits<double>::quiet_NaN());
    h.model->addBookmark();
    AppModelTestAccess::setElapsed(*h.model, std::numeric_limits<double>::infinity());
    h.model->addBookmark();
    AppModelTestAccess::setElapsed(*h.model, 3725.0);
    h.model->addBookmark();
    h.queue.drain();

    const auto& bookmarks = h.model->activeRecording()->bookmarks;
    ASSERT_EQ(bookmarks.size(), 5u);
    EXPECT_EQ(bookmarks[0].mediaMilliseconds, 0);
    EXPECT_EQ(bookmarks[1].mediaMilliseconds, 750);
    EXPECT_EQ(bookmarks[2].mediaMilliseconds, 0);
    EXPECT_EQ(bookmarks[3].mediaMilliseconds, 0);
    EXPECT_EQ(bookmarks[4].mediaMilliseconds, 3725000);
    EXPECT_EQ(bookmarks[1].label, "");
    EXPECT_EQ(bookmarks[1].createdAt, (Date{700000000}));
    EXPECT_NE(bookmarks[0].id, bookmarks[1].id);
    EXPECT_EQ(h.changes, 5);
    EXPECT_TRUE(h.model->recordings()[0].bookmarks.empty());

    // Each bookmark was saved with the annotations as they stood then.
    ASSERT_EQ(store->annotationSaves.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(store->annotationSaves[i].id, active);
        EXPECT_EQ(store->annotationSaves[i].annotations.bookmarks.size(), i + 1);
    }
}

TEST(AppModelState, NotepadNeedsSyncOnlyForASentRecordingAheadOfItsBase) {
    LocalRecording r = sampleRecording();
    r.notepad = std::vector<NotepadLine>{{"nabc1", "hello", std::nullopt}};
    EXPECT_FALSE(notepadNeedsSync(r)) << "never sent";
    r.remoteID = "mt_1";
    EXPECT_TRUE(notepadNeedsSync(r));
    r.notepadBase = r.notepad;
    EXPECT_FALSE(notepadNeedsSync(r));
    r.notepad.reset();
    EXPECT_TRUE(notepadNeedsSync(r)) << "all lines removed";
    r.notepadBase.reset();
    EXPECT_FALSE(notepadNeedsSync(r)) << "none and none";
}

TEST(AppModelNetwork, EveryReportSetsTheFlagTellsTheCloudAndReschedulesTheQueue) {
    Harness h;
    h.signedInWith(2);
    auto list = h.model->recordings();
    list[1].uploadQueued = true;
    list[1].transfer = TransferState::failed;
    list[1].retryAt = Date{700000000 + 30};
    AppModelTestAccess::setRecordings(*h.model, list);

    h.network->report(false);
    EXPECT_TRUE(h.model->networkAvailable()) << "the report is handled on the main queue";
    h.queue.drain();
    EXPECT_FALSE(h.model->networkAvailable());
    EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"offline"}));
    EXPECT_FALSE(AppModelTestAccess::queueWakeup(*h.model).isValid()) << "offline: no wake-up";

    h.network->report(true);
    h.queue.drain();
    EXPECT_TRUE(h.model->networkAvailable());
    EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"offline", "online"}));
    TaskHandle wakeup = AppModelTestAccess::queueWakeup(*h.model);
    ASSERT_TRUE(wakeup.isValid());
    EXPECT_EQ(h.queue.nextDeadline(), 1030.0) << "asleep until the retry is due";

    // The same status again is handled again: the wake-up is made anew.
    h.network->report(true);
    h.queue.drain();
    EXPECT_EQ(h.cloud->calls.back(), "online");
    EXPECT_TRUE(wakeup.isCancelled());
    EXPECT_TRUE(wakeup.isFinished());
    EXPECT_TRUE(AppModelTestAccess::queueWakeup(*h.model).isValid());
    EXPECT_EQ(h.queue.pendingTimers(), 1u);

    // Going offline cancels the pending wake-up and leaves none.
    h.network->report(false);
    h.queue.drain();
    EXPECT_FALSE(AppModelTestAccess::queueWakeup(*h.model).isValid());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
    EXPECT_EQ(h.changes, 0) << "a network report itself is not shown";
}

TEST(AppModelNetwork, ReportsAfterTheModelHasGoneAreDropped) {
    Harness h;
    auto report = h.network->report;
    h.model.reset();
    EXPECT_TRUE(h.network->stopped);
    report(false); // a report already on its way when the monitor stopped
    EXPECT_NO_FATAL_FAILURE(h.queue.drain());
}
