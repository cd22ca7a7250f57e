// The processing-status refresh of a sent recording against the stand-in service: what it
// takes from the meeting, what it leaves alone, and its one sentence when it cannot refresh.
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "tests/model/upload/UploadStandinHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

// The model's parts over the stand-in, signed in to its personal workspace.
struct PartsOverStandin {
    PartsOverStandin() {
        service.start();
        session =
            DeviceSession{service.issueToken(), DeviceAccount{StandinService::defaultAccountId, "", {}}};
        auto api = std::make_shared<NuvelAPI>(service.origin(), std::make_shared<CurlTransport>());
        contract = api->bootstrap(session.token, std::nullopt);
        h = std::make_unique<PartsHarness>([this, api](AppModelDependencies& d) {
            d.api = api;
            d.media = media;
        });
        h->realStores = true;
        runToCompletion(h->queue, h->parts->workspaces.openWorkspace(session, contract, std::nullopt));
        h->queue.drain();
    }
    ModelState& state() { return h->state(); }
    const LocalRecording& listed(const Uuid& id) { return *state().findRecording(id); }

    StandinService service;
    std::shared_ptr<SizedTransportMedia> media = std::make_shared<SizedTransportMedia>();
    DeviceSession session;
    std::optional<NativeBootstrap> contract;
    std::unique_ptr<PartsHarness> h;
};

} // namespace

TEST(UploadStatusRefresh, TakesOnlyItsOwnFieldsIntoTheRecordingAsItIsWhenTheAnswerArrives) {
    PartsOverStandin s;
    LocalRecording r = LocalRecording::make(StandinService::defaultAccountId, "ws_personal", "Standup", false,
                                            Date{700000000}, Uuid::random());
    r.capture = CaptureState::saved;
    r.segments = {RecordingSegment::make(Uuid::random(), r.createdAt, "m4a", std::nullopt, std::nullopt, 60)};
    s.state().store->saveManifest(r);
    s.state().recordings.push_back(r);
    UploadQueue& upload = s.h->parts->upload;
    upload.startUploadIfAllowed(r.id, false);
    s.h->queue.drain();
    ASSERT_EQ(s.listed(r.id).transfer, TransferState::accepted);
    const std::string meeting = *s.listed(r.id).remoteID;
    auto stored = [&] { return s.state().store->loadRecording(r.id); };

    struct Case {
        std::string what;
        std::string state;
        TransferState before;
        TransferState after;
    };
    const std::vector<Case> cases = {
        {"failed processing still holds the upload", "failed", TransferState::failed,
         TransferState::accepted},
        {"completed", "completed", TransferState::needsReview, TransferState::accepted},
        {"a word outside the list", "archived", TransferState::failed, TransferState::failed},
    };
    for (const Case& c : cases) {
        s.service.setProcessingState(meeting, c.state);
        ModelState& state = s.state();
        state.findRecording(r.id)->transfer = c.before;
        s.h->executor.holding = true;
        upload.startStatusRefresh(r.id);
        s.h->queue.drain();
        // Saved meanwhile by other work: kept, not overwritten by a copy taken before the request.
        state.findRecording(r.id)->retryAttempts = 4;
        state.findRecording(r.id)->title = "Renamed meanwhile";
        s.h->releaseHeld();
        const LocalRecording& listed = s.listed(r.id);
        EXPECT_EQ(listed.remoteState, c.state) << c.what;
        EXPECT_EQ(listed.transfer, c.after) << c.what;
        EXPECT_EQ(listed.retryAttempts, 4) << c.what;
        EXPECT_NE(listed.title, "Renamed meanwhile") << c.what << ": the service's title wins";
        ASSERT_TRUE(listed.resultURL) << c.what;
        EXPECT_EQ(listed.resultURL->path(), "/m/" + meeting) << c.what;
        EXPECT_EQ(stored().retryAttempts, 4) << c.what;
    }

    // A failure: one sentence, nothing changed.
    s.service.addFault("GET", "/api/meetings/[^/]+", StandinFault::error(503, "busy").times(1));
    const LocalRecording before = s.listed(r.id);
    upload.startStatusRefresh(r.id);
    s.h->queue.drain();
    EXPECT_EQ(s.listed(r.id), before);
    EXPECT_EQ(s.state().message, upload_sentences::statusNotRefreshed);

    // Another account's recording is not asked for.
    s.state().message.clear();
    s.state().findRecording(r.id)->accountID = "acct_other";
    s.service.clearRequests();
    upload.startStatusRefresh(r.id);
    s.h->queue.drain();
    EXPECT_TRUE(s.service.requests().empty());
    EXPECT_EQ(s.state().message, upload_sentences::statusNotRefreshed);
}
