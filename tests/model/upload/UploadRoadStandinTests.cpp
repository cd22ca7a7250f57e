// The upload road end to end against the stand-in service: the order of the calls, resuming
// after a failure and after a restart, the reconciliation of an earlier commit, and the
// failures that must never send a recording twice.
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/model/upload/UploadStandinHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

using Calls = std::vector<std::string>;

StandinCapabilities allOff() {
    StandinCapabilities c;
    c.createIdempotency = c.uploadReconciliation = c.uploadHeartbeat = c.commitReconciliation = false;
    c.notepadSync = false;
    return c;
}

const std::string anyPart = "/api/meetings/[^/]+/audio/\\d+";

} // namespace

TEST(UploadRoad, SendsOnceInTheOrderTheCapabilitiesAskAndEndsAccepted) {
    struct Case {
        std::string what;
        StandinCapabilities capabilities;
        Calls expected;
    };
    const std::vector<Case> cases = {
        {"every capability",
         StandinCapabilities{},
         {"POST meetings", "GET upload", "POST heartbeat", "PUT audio/0", "PUT audio/1", "PUT audio/2",
          "POST commit", "GET meeting"}},
        {"none",
         allOff(),
         {"POST meetings", "PUT audio/0", "PUT audio/1", "PUT audio/2", "POST commit", "GET meeting"}},
    };
    for (const Case& c : cases) {
        StandinUploads s(c.capabilities);
        const LocalRecording r = s.recording();
        s.startWith({r});
        std::vector<TransferState> seen;
        s.app->model->onChange = [&] {
            if (seen.empty() || seen.back() != s.listed(r.id).transfer)
                seen.push_back(s.listed(r.id).transfer);
        };
        s.send(r.id);
        EXPECT_EQ(s.calls(), c.expected) << c.what;
        EXPECT_EQ(seen, (std::vector<TransferState>{TransferState::local, TransferState::creating,
                                                    TransferState::uploading, TransferState::committing,
                                                    TransferState::accepted}))
            << c.what;
        const LocalRecording stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, TransferState::accepted) << c.what;
        EXPECT_EQ(stored.uploadQueued, false) << c.what;
        EXPECT_EQ(stored.acknowledgedParts, (std::set<std::int64_t>{0, 1, 2})) << c.what;
        EXPECT_EQ(s.service.meetingIds(), std::vector<std::string>{*stored.remoteID}) << c.what;
        EXPECT_EQ(hexOf(*s.service.storedAudio(*stored.remoteID)), stored.transportSHA256) << c.what;
        EXPECT_EQ(stored.creationRequest->client_recording_id.has_value(), c.capabilities.createIdempotency)
            << c.what;
        EXPECT_EQ(s.app->model->message(), upload_sentences::sent) << c.what;
        EXPECT_EQ(s.listed(r.id).remoteState, "queued") << c.what << ": read after the commit";
        EXPECT_FALSE(s.app->model->uploading()) << c.what;

        s.service.clearRequests();
        s.send(r.id);
        EXPECT_EQ(s.calls(), Calls{}) << c.what << ": an accepted recording is never sent again";
        EXPECT_EQ(s.media->assembled, 1) << c.what;
    }
}

TEST(UploadRoad, AFailedPartIsResumedAfterARestartWithOnlyTheMissingParts) {
    for (bool reconciliation : {true, false}) {
        StandinCapabilities capabilities;
        capabilities.uploadReconciliation = reconciliation;
        StandinUploads s(capabilities);
        const LocalRecording r = s.recording();
        s.startWith({r});
        s.service.addFault("PUT", "/api/meetings/[^/]+/audio/1", StandinFault::error(503, "busy").times(1));
        s.send(r.id);
        LocalRecording stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, TransferState::failed);
        EXPECT_EQ(stored.errorCode, "busy");
        EXPECT_EQ(stored.acknowledgedParts, (std::set<std::int64_t>{0}));
        ASSERT_TRUE(stored.retryAt);
        const double in = stored.retryAt->sinceReferenceDate - (s.app->wallClockAtStart + s.app->queue.now());
        EXPECT_GE(in, 8);
        EXPECT_LE(in, 12);
        EXPECT_EQ(s.app->model->message(), upload_sentences::paused);

        s.app->restart();
        s.service.clearRequests();
        s.app->queue.advance(12.5);
        Calls expected = {"PUT audio/1", "PUT audio/2", "POST commit", "GET meeting"};
        if (reconciliation)
            expected.insert(expected.begin(), "GET upload");
        expected.insert(expected.begin() + (reconciliation ? 1 : 0), "POST heartbeat");
        EXPECT_EQ(s.calls(), expected) << "reconciliation " << reconciliation;
        stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, TransferState::accepted);
        EXPECT_EQ(stored.retryAttempts, 0);
        EXPECT_EQ(s.service.meetingIds().size(), 1u);
        EXPECT_EQ(hexOf(*s.service.storedAudio(*stored.remoteID)), stored.transportSHA256);
        EXPECT_EQ(s.media->assembled, 1) << "the sealed transport is reused";
    }
}

TEST(UploadRoad, AnEarlierCommitIsReconciledWithoutSendingAndAForeignOneNeedsReview) {
    // The commit took effect but its answer was lost: the next run finds it accepted.
    StandinUploads s;
    const LocalRecording r = s.recording();
    s.startWith({r});
    s.service.addFault("POST", "/api/meetings/[^/]+/commit", StandinFault::loseAnswer().times(1));
    s.send(r.id);
    EXPECT_EQ(s.stored(r.id).transfer, TransferState::failed);
    EXPECT_EQ(s.stored(r.id).errorCode, "transfer_failed");
    s.service.clearRequests();
    s.app->queue.advance(12.5);
    EXPECT_EQ(s.calls(), (Calls{"GET upload", "GET meeting"}));
    EXPECT_EQ(s.stored(r.id).transfer, TransferState::accepted);
    EXPECT_EQ(s.stored(r.id).errorCode, "transfer_failed") << "kept from the last failure";
    EXPECT_EQ(s.service.meetingIds().size(), 1u);

    // Another file was committed to the meeting meanwhile: never sent again on its own.
    StandinUploads other;
    const LocalRecording o = other.recording();
    other.startWith({o});
    other.service.addFault("PUT", anyPart, StandinFault::error(503, "busy").times(1));
    other.send(o.id);
    const std::string meetingID = *other.stored(o.id).remoteID;
    NuvelAPI direct(other.service.origin(), std::make_shared<CurlTransport>());
    const Bytes foreign = bytesOf("another file altogether");
    direct.uploadPart(meetingID, 0, foreign, other.session.token);
    direct.commitUpload(meetingID, 1, hexOf("another file altogether"), other.session.token);
    other.service.clearRequests();
    other.app->queue.advance(12.5);
    EXPECT_EQ(other.calls(), Calls{"GET upload"});
    const LocalRecording stored = other.stored(o.id);
    EXPECT_EQ(stored.transfer, TransferState::needsReview);
    EXPECT_EQ(stored.errorCode, "ambiguous_request");
    EXPECT_EQ(other.app->model->message(), upload_sentences::ambiguous);
}

TEST(UploadRoad, FailuresThatMustNotSendTwiceOrAtAll) {
    // Larger than the workspace takes: refused before any request, and not retried.
    StandinLimits small = StandinUploads::smallParts();
    small.maxSourceBytes = 2499;
    StandinUploads tooLarge(StandinCapabilities{}, small);
    const LocalRecording big = tooLarge.recording();
    tooLarge.startWith({big});
    tooLarge.send(big.id);
    EXPECT_EQ(tooLarge.calls(), Calls{});
    EXPECT_EQ(tooLarge.stored(big.id).errorCode, "too_large");
    EXPECT_FALSE(tooLarge.stored(big.id).retryAt);
    EXPECT_EQ(tooLarge.app->model->message(), upload_sentences::tooLarge);

    // Exactly at the limit passes.
    small.maxSourceBytes = 2500;
    StandinUploads atLimit(StandinCapabilities{}, small);
    const LocalRecording fits = atLimit.recording();
    atLimit.startWith({fits});
    atLimit.send(fits.id);
    EXPECT_EQ(atLimit.stored(fits.id).transfer, TransferState::accepted);

    // A connection dropped during the commit, without commit reconciliation: review, no retry.
    StandinCapabilities noCommitCheck;
    noCommitCheck.commitReconciliation = false;
    StandinUploads dropped(noCommitCheck);
    const LocalRecording r = dropped.recording();
    dropped.startWith({r});
    dropped.service.addFault("POST", "/api/meetings/[^/]+/commit", StandinFault::dropConnection());
    dropped.send(r.id);
    EXPECT_EQ(dropped.stored(r.id).transfer, TransferState::needsReview);
    EXPECT_EQ(dropped.stored(r.id).uploadQueued, false);
    EXPECT_EQ(dropped.app->model->message(), upload_sentences::ambiguous);
    dropped.service.clearRequests();
    dropped.app->queue.advance(3600);
    dropped.app->restart();
    dropped.app->queue.advance(3600);
    EXPECT_EQ(dropped.count("POST commit"), 0) << "never sent again by itself";
    EXPECT_EQ(dropped.count("PUT audio/0"), 0);

    // A creation whose answer was lost, without an idempotency key: review, one meeting at most.
    StandinCapabilities noKey;
    noKey.createIdempotency = false;
    StandinUploads lost(noKey);
    const LocalRecording l = lost.recording();
    lost.startWith({l});
    lost.service.addFault("POST", "/api/meetings", StandinFault::loseAnswer());
    lost.send(l.id);
    EXPECT_EQ(lost.stored(l.id).transfer, TransferState::needsReview);
    lost.app->queue.advance(3600);
    EXPECT_EQ(lost.count("POST meetings"), 1);
    EXPECT_EQ(lost.service.meetingIds().size(), 1u);
}

TEST(UploadRoad, AnAcceptedRecordingWhoseSaveFailsStaysAcceptedAndIsWrittenAtTheNextSave) {
    struct Case {
        int failures; // saves of the accepted manifest that fail
        TransferState storedAfterRun;
        std::string_view message;
    };
    const std::vector<Case> cases = {
        {1, TransferState::accepted, upload_sentences::sent},                 // the status refresh writes it
        {2, TransferState::committing, upload_sentences::statusNotRefreshed}, // the next run writes it
    };
    for (const Case& c : cases) {
        StandinUploads s;
        const LocalRecording first = s.recording("First"), second = s.recording("Second");
        s.startWith({first, second});
        std::vector<TransferState> seen;
        s.app->model->onChange = [&] {
            if (seen.empty() || seen.back() != s.listed(first.id).transfer)
                seen.push_back(s.listed(first.id).transfer);
        };
        *s.acceptedSaveFailures = c.failures;
        s.send(first.id);
        EXPECT_EQ(seen.back(), TransferState::accepted) << c.failures;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), TransferState::failed), 0) << c.failures;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), TransferState::needsReview), 0) << c.failures;
        EXPECT_EQ(s.listed(first.id).uploadQueued, false) << c.failures;
        EXPECT_EQ(s.app->model->message(), c.message) << c.failures;
        EXPECT_EQ(s.stored(first.id).transfer, c.storedAfterRun) << c.failures;
        EXPECT_EQ(*s.acceptedSaveFailures, 0) << c.failures;
        s.service.clearRequests();
        s.app->queue.advance(3600);
        EXPECT_EQ(s.calls(), Calls{}) << c.failures << ": nothing is retried";

        s.send(second.id);
        const LocalRecording stored = s.stored(first.id);
        EXPECT_EQ(stored.transfer, TransferState::accepted) << c.failures;
        EXPECT_EQ(stored.uploadQueued, false) << c.failures;
        EXPECT_EQ(s.stored(second.id).transfer, TransferState::accepted) << c.failures;
        EXPECT_EQ(s.count("POST commit"), 1) << c.failures << ": only the second is sent";
        EXPECT_EQ(s.service.meetingIds().size(), 2u) << c.failures;
    }
}

// The run that seals the transport sends from the bytes it composed and digested, decrypting
// nothing; it dies before its second part, leaving that clear copy behind. Recovery at the next
// start deletes it, and the next run decrypts the sealed transport and checks it against the
// stored digest before any request: a transport that fails either check is never sent.
TEST(UploadRoad, ALaterRunDecryptsAndChecksTheTransportThatTheSealingRunSentFromItsClearBytes) {
    struct Case {
        std::string what;
        std::function<void(StandinUploads&, const LocalRecording&)> damage;
    };
    const std::vector<Case> cases = {
        {"intact", {}},
        {"another digest stored",
         [](StandinUploads& s, const LocalRecording& r) {
             LocalRecording stored = s.stored(r.id);
             stored.transportSHA256 = hexOf("other bytes");
             s.app->model->store()->saveManifest(stored);
         }},
        {"asset changed on disk",
         [](StandinUploads& s, const LocalRecording& r) {
             const auto asset = s.app->model->store()->root() / r.id.uppercase() /
                                (s.stored(r.id).transportAssetID->uppercase() + ".nuvel");
             Bytes sealed = files::readFile(asset);
             sealed[sealed.size() / 2] ^= 1;
             std::ofstream(asset, std::ios::binary | std::ios::trunc)
                 .write(reinterpret_cast<const char*>(sealed.data()), std::streamsize(sealed.size()));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StandinUploads s;
        const LocalRecording r = s.recording();
        s.startWith({r});
        const auto folder = s.app->model->store()->root() / r.id.uppercase();
        auto clearFiles = [&] {
            std::set<std::string> names;
            for (const std::string& name : namesIn(folder))
                if (name.starts_with("clear-") || name.starts_with("transport-"))
                    names.insert(name);
            return names;
        };
        s.api->beforePart = [&](std::int64_t index) {
            if (index == 1 && !*s.savesLost) {
                *s.savesLost = true;
                throw std::runtime_error("the process died");
            }
        };
        s.send(r.id);
        EXPECT_EQ(*s.clearCopies, 0) << "the sealing run decrypts nothing";
        EXPECT_EQ(s.count("PUT audio/0"), 1);
        EXPECT_EQ(clearFiles().size(), 1u) << "the dead run's clear copy is still there";

        *s.savesLost = false;
        if (c.damage)
            c.damage(s, r);
        s.service.clearRequests();
        s.app->restart();
        EXPECT_EQ(clearFiles(), std::set<std::string>{}) << "recovery deleted it";
        s.app->queue.advance(1);

        EXPECT_EQ(*s.clearCopies, 1);
        EXPECT_EQ(s.media->assembled, 1);
        const LocalRecording stored = s.stored(r.id);
        if (!c.damage) {
            EXPECT_EQ(s.calls(), (Calls{"GET /api/bootstrap", "GET upload", "POST heartbeat", "PUT audio/1",
                                        "PUT audio/2", "POST commit", "GET meeting"}));
            EXPECT_EQ(stored.transfer, TransferState::accepted);
            EXPECT_EQ(hexOf(*s.service.storedAudio(*stored.remoteID)), stored.transportSHA256);
        } else {
            EXPECT_EQ(s.calls(), Calls{"GET /api/bootstrap"});
            EXPECT_EQ(stored.transfer, TransferState::failed);
            EXPECT_EQ(stored.errorCode, "transfer_failed");
        }
        EXPECT_EQ(clearFiles(), std::set<std::string>{}) << "the later run's copy is removed";
    }
}
