// Transcript corrections: the draft is sealed on disk before the request leaves, a retry sends
// the same request key, each service answer ends in its sentence and completion, and a correction
// confirmed late never takes a newer one's draft with it.
#include "tests/model/CloudLibraryHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

const char* revision = "PATCH /api/meetings/m0/revision";

// The completions a correction produced, as "saved,conflict".
struct Completions {
    CorrectionCompletion make() {
        return [this](bool saved, bool conflict) {
            seen.push_back(std::string(saved ? "saved" : "unsaved") + (conflict ? ",conflict" : ""));
        };
    }
    std::vector<std::string> seen;
};

std::vector<MeetingRevisionOperation> fixHello() {
    return {MeetingRevisionOperation::wordText("w0", "Hello")};
}

std::optional<MeetingRevisionRequest> diskDraft(const CloudHarness& h) {
    try {
        return h.diskCache()->loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey("m0"));
    } catch (...) {
        return std::nullopt;
    }
}

std::string sentKey(const SeenRequest& request) {
    return MeetingRevisionRequest::decode(request.body).operation_id;
}

void settle(CloudHarness& h) {
    do {
        h.executor.runAll();
        h.queue.drain();
    } while (!h.executor.held.empty());
}

struct AnswerRow {
    const char* name;
    int status; // -1: success; 0: no connection
    std::vector<std::string> completions;
    std::string_view message;
    bool keepsDraft;
    bool signedOut;
    bool revoked;
};

} // namespace

TEST(CloudLibraryCorrections, EachServiceAnswerEndsInItsSentenceAndCompletion) {
    using namespace cloud_sentences;
    const std::vector<AnswerRow> rows = {
        {"success", -1, {"saved"}, "", false, false, false},
        {"conflict", 409, {"unsaved,conflict"}, correctionConflict, true, false, false},
        {"server error", 500, {"unsaved"}, correctionNotSent, true, false, false},
        {"no connection", 0, {"unsaved"}, correctionNotSent, true, false, false},
        {"session rejected", 401, {}, meetingSignIn, false, true, false},
        {"access removed", 403, {}, "", false, false, true},
        {"meeting gone", 404, {}, "", false, false, true},
    };
    for (const AnswerRow& row : rows) {
        SCOPED_TRACE(row.name);
        CloudHarness h;
        h.listAndOpen(2, "m0");
        if (row.status >= 0)
            h.service->fail(revision, row.status);
        // The draft is on disk, sealed, when the request arrives.
        std::optional<MeetingRevisionRequest> draftAtSend;
        h.service->onRequest = [&](const SeenRequest& r) {
            if (r.line() == revision)
                draftAtSend = diskDraft(h);
        };
        Completions done;
        h.service->clearSeen();
        h.model->submitCorrection(fixHello(), 3, done.make());
        ASSERT_TRUE(h.s().pendingCorrection);
        const MeetingRevisionRequest submitted = *h.s().pendingCorrection;
        h.queue.drain();

        ASSERT_TRUE(draftAtSend);
        EXPECT_EQ(*draftAtSend, submitted);
        ASSERT_EQ(h.service->count(revision), 1u);
        const MeetingRevisionRequest sent = MeetingRevisionRequest::decode(h.service->seen().front().body);
        EXPECT_EQ(sent, submitted);
        EXPECT_EQ(sent.revision, 3);
        EXPECT_EQ(done.seen, row.completions);
        EXPECT_EQ(h.s().message, row.message);
        EXPECT_EQ(diskDraft(h).has_value(), row.keepsDraft);
        EXPECT_EQ(h.s().pendingCorrection.has_value(), row.keepsDraft);
        EXPECT_EQ(!h.s().session, row.signedOut);
        if (row.signedOut) { // every cached meeting of the workspace went with the session
            EXPECT_THROW(h.diskCache()->loadWithLease<NativeMeetingDocument>("m1", h.wallNow()),
                         std::exception);
        }
        EXPECT_EQ(h.s().selectedID == std::nullopt && !row.signedOut, row.revoked);
        if (row.status == -1) { // the meeting reloads with the new revision
            EXPECT_EQ(h.service->count("GET /api/meetings/m0"), 1u);
        }
    }
}

TEST(CloudLibraryCorrections, ARetrySendsTheSameLowerCaseKeyWithoutSavingAgain) {
    CloudHarness h;
    h.listAndOpen(1, "m0");
    h.service->offline = true;
    Completions done;
    h.model->submitCorrection(fixHello(), 3, done.make());
    h.queue.drain();
    ASSERT_EQ(done.seen, std::vector<std::string>{"unsaved"});
    ASSERT_TRUE(h.s().pendingCorrection);
    const std::string key = h.s().pendingCorrection->operation_id;
    ASSERT_EQ(key.size(), 36u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef-"), std::string::npos) << key;

    h.service->offline = false;
    h.service->clearSeen();
    runToCompletion(h.queue, h.model->retryCorrection("m0", *h.s().pendingCorrection, done.make(), h.session,
                                                      h.s().generation));
    h.queue.drain();
    ASSERT_EQ(h.service->count(revision), 1u);
    EXPECT_EQ(sentKey(h.service->seen().front()), key);
    EXPECT_EQ(done.seen, (std::vector<std::string>{"unsaved", "saved"}));
    EXPECT_FALSE(diskDraft(h));

    // A retry for a generation or meeting no longer shown sends nothing and answers nothing.
    h.service->clearSeen();
    MeetingRevisionRequest stale = MeetingRevisionRequest::make(Uuid::random(), 3, fixHello());
    runToCompletion(h.queue, h.model->retryCorrection("m0", stale, done.make(), h.session, Uuid::random()));
    runToCompletion(h.queue, h.model->retryCorrection("m9", stale, done.make(), h.session, h.s().generation));
    EXPECT_EQ(h.service->count(revision), 0u);
    EXPECT_EQ(done.seen.size(), 2u);
}

TEST(CloudLibraryCorrections, AnOlderCorrectionConfirmedLateKeepsTheNewerDraft) {
    CloudHarness h;
    h.listAndOpen(1, "m0");
    h.service->offline = true;
    Completions done;
    h.model->submitCorrection(fixHello(), 3, done.make()); // R1: kept as the draft
    h.queue.drain();
    const MeetingRevisionRequest r1 = *h.s().pendingCorrection;
    h.service->offline = false;

    h.executor.holding = true;
    h.model->submitCorrection({MeetingRevisionOperation::speakerLabel("s1", "Ada L.")}, 3, done.make()); // R2
    const MeetingRevisionRequest r2 = *h.s().pendingCorrection;
    h.queue.drain();
    h.executor.run(0); // R2's draft is written
    h.queue.drain();   // R2's request is on its way
    ASSERT_EQ(h.executor.held.size(), 1u);
    spawn(h.queue, h.model->retryCorrection("m0", r1, done.make(), h.session, h.s().generation));
    h.queue.drain();
    ASSERT_EQ(h.executor.held.size(), 2u);
    h.executor.run(1); // R1 is confirmed first
    h.queue.drain();
    EXPECT_EQ(done.seen.back(), "saved");
    EXPECT_EQ(diskDraft(h), r2);

    h.service->fail(revision, 0); // R2 then fails and stays for a retry
    settle(h);
    EXPECT_EQ(done.seen.back(), "unsaved");
    EXPECT_EQ(diskDraft(h), r2);
    EXPECT_EQ(h.s().pendingCorrection, r2);
}

TEST(CloudLibraryCorrections, ACorrectionThatCannotGoOutEndsTheWaitOnlyWhileItsMeetingIsShown) {
    struct Row {
        const char* name;
        std::function<void(CloudHarness&)> meanwhile; // between the draft and the request
        std::vector<std::string> completions;
        bool draftStays;
    };
    const std::vector<Row> rows = {
        {"the clock went back before the lease",
         [](CloudHarness& h) { h.clockShift = -7200; },
         {"unsaved"},
         true},
        {"another meeting was opened", [](CloudHarness& h) { h.model->openMeeting("m1", false); }, {}, true},
        {"signed out", [](CloudHarness& h) { h.model->reset(); }, {}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CloudHarness h;
        h.listAndOpen(2, "m0");
        h.service->clearSeen();
        h.executor.holding = true;
        Completions done;
        const std::string message = h.s().message;
        h.model->submitCorrection(fixHello(), 3, done.make());
        h.queue.drain();
        h.executor.run(0); // the draft
        row.meanwhile(h);
        h.executor.holding = false;
        settle(h);
        EXPECT_EQ(h.service->count(revision), 0u);
        EXPECT_EQ(done.seen, row.completions);
        EXPECT_EQ(diskDraft(h).has_value(), row.draftStays);
    }
}

TEST(CloudLibraryCorrections, NothingIsSavedOrSentWithoutTheRightOrWhenTheDraftCannotBeWritten) {
    using namespace cloud_sentences;
    {
        CloudHarness h;
        h.list(1);
        h.service->library[0].access = rights({"share"});
        h.attach();
        h.open("m0");
        h.service->clearSeen();
        Completions done;
        h.model->submitCorrection(fixHello(), 3, done.make());
        EXPECT_EQ(done.seen, std::vector<std::string>{"unsaved"}); // at once
        h.queue.drain();
        EXPECT_EQ(h.service->count(revision), 0u);
        EXPECT_FALSE(h.s().pendingCorrection);
        EXPECT_FALSE(diskDraft(h));
    }
    {
        CloudHarness h;
        h.listAndOpen(1, "m0");
        // A folder where the draft file goes: the sealed write cannot replace it.
        std::unique_ptr<MeetingCache> cache = h.diskCache();
        cache->saveDraft(MeetingRevisionRequest{}, CloudLibrary::draftKey("m0"));
        fs::path draftFile;
        for (const fs::directory_entry& item : fs::directory_iterator(cache->root()))
            if (item.path().filename().string().rfind("draft-", 0) == 0)
                draftFile = item.path();
        ASSERT_FALSE(draftFile.empty());
        fs::remove(draftFile);
        fs::create_directories(draftFile / "blocker");
        h.service->clearSeen();
        Completions done;
        h.model->submitCorrection(fixHello(), 3, done.make());
        h.queue.drain();
        EXPECT_EQ(done.seen, std::vector<std::string>{"unsaved"});
        EXPECT_EQ(h.s().message, draftNotSaved);
        EXPECT_EQ(h.service->count(revision), 0u);
        EXPECT_TRUE(h.s().pendingCorrection); // still on screen for another try
    }
}
