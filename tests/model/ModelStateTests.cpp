// The shared state's own rules: which recording is active, whether one may be sent again, and
// how a recording the store returned goes back into the list.
#include "tests/model/ModelHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

TEST(ModelState, TheActiveRecordingFollowsItsCaptureState) {
    ModelState state;
    state.recordings = sampleRecordings(2);
    state.recordings[1].capture = CaptureState::paused;
    struct Case {
        std::optional<Uuid> active;
        bool recording, capturing, paused, found;
    };
    const std::vector<Case> cases = {
        {std::nullopt, false, false, false, false},
        {state.recordings[0].id, true, true, false, true},
        {state.recordings[1].id, true, false, true, true},
        // An active id whose recording left the list: still recording, but neither state.
        {Uuid::random(), true, false, false, false},
    };
    for (const Case& c : cases) {
        state.activeID = c.active;
        EXPECT_EQ(state.isRecording(), c.recording);
        EXPECT_EQ(state.isCapturing(), c.capturing);
        EXPECT_EQ(state.isPaused(), c.paused);
        EXPECT_EQ(state.recordingMatching(state.activeID) != nullptr, c.found);
    }
}

TEST(ModelState, CanSendAgainOnlyWhatTheServiceCanRecognise) {
    const std::string both =
        R"({"create_idempotency": true, "upload_reconciliation": true, "upload_heartbeat": false,
                                 "commit_reconciliation": false, "native_library": false})";
    const std::string createOnly = R"({"create_idempotency": true, "upload_reconciliation": false,
                                       "upload_heartbeat": false, "commit_reconciliation": false, "native_library": false})";
    const std::string reconcileOnly = R"({"create_idempotency": false, "upload_reconciliation": true,
                                          "upload_heartbeat": false, "commit_reconciliation": false, "native_library": false})";
    ModelState state;
    LocalRecording r = sampleRecording();
    for (TransferState transfer :
         {TransferState::local, TransferState::failed, TransferState::creating, TransferState::uploading,
          TransferState::committing, TransferState::accepted}) {
        r.transfer = transfer;
        EXPECT_TRUE(state.canSend(r)) << rawValue(transfer);
    }

    r.transfer = TransferState::needsReview;
    LocalRecording withMeeting = r;
    withMeeting.remoteID = "mt_1";
    LocalRecording withRequest = r;
    withRequest.creationRequest = CreateMeetingRequest{};
    LocalRecording withClientID = withRequest;
    withClientID.creationRequest->client_recording_id = "c1";
    struct Case {
        std::string what;
        const LocalRecording& recording;
        std::optional<std::string> capabilities; // none: no contract
        bool sendable;
    };
    const std::vector<Case> cases = {
        {"neither a meeting nor a client id", r, std::nullopt, false},
        {"neither, even with both capabilities", r, both, false},
        {"a meeting, reconciled", withMeeting, both, true},
        {"a meeting, not reconciled", withMeeting, createOnly, false},
        {"a meeting, no contract", withMeeting, std::nullopt, false},
        {"a request without a client id", withRequest, both, false},
        {"a client id, idempotent", withClientID, createOnly, true},
        {"a client id, not idempotent", withClientID, reconcileOnly, false},
        {"a client id, no contract", withClientID, std::nullopt, false},
    };
    for (const Case& c : cases) {
        state.bootstrap.reset();
        if (c.capabilities)
            state.bootstrap = sampleContract("team", "ws_team", *c.capabilities);
        EXPECT_EQ(state.canSend(c.recording), c.sendable) << c.what;
    }
}

TEST(ModelState, AReturnedRecordingReplacesTheListedOneButNotItsAnnotations) {
    ModelState state;
    state.recordings = sampleRecordings(2);
    LocalRecording& listed = state.recordings[1];
    listed.scratchpad = "newer";
    listed.bookmarks.push_back(Bookmark::make(1500, "", Date{700000001}));
    listed.notepad = std::vector<NotepadLine>{{"nabc1", "shared", std::nullopt}};
    listed.notepadRevision = 4;
    listed.notepadBase = std::vector<NotepadLine>{};

    LocalRecording returned = sampleRecording("From the store");
    returned.id = listed.id;
    returned.capture = CaptureState::saved;
    returned.scratchpad = "older";
    state.replaceRecording(returned);
    EXPECT_EQ(state.recordings[1].title, "From the store");
    EXPECT_EQ(state.recordings[1].capture, CaptureState::saved);
    EXPECT_EQ(state.recordings[1].scratchpad, "newer");
    EXPECT_EQ(state.recordings[1].bookmarks.size(), 1u);
    EXPECT_EQ(state.recordings[1].notepad->size(), 1u);
    EXPECT_EQ(state.recordings[1].notepadRevision, 4);
    EXPECT_EQ(state.recordings[1].notepadBase, std::vector<NotepadLine>{});

    const auto before = state.recordings;
    state.replaceRecording(sampleRecording("Not listed"));
    EXPECT_EQ(state.recordings, before) << "a recording whose id is not listed is not added";
}
