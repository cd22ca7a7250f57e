// One rule for the service's refusals, for the library load and for opening a meeting: 401 asks
// to sign in again, 403 and 404 revoke, anything else counts as offline and keeps what the lease
// allows. Every sentence is shown with the change that ends the load.
#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "tests/model/CloudLibraryHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

enum class Outcome {
    signedOut,    // the library was reset
    revoked,      // the meeting left the lists and the cache
    closed,       // the open meeting was closed, the library stays
    offlineKept,  // offline, what was shown stays
    notesMissing, // the transcript stays, without notes
};

struct Row {
    const char* request; // the failing request's line
    bool opening;        // true: while opening m1; false: while reloading the library
    int status;          // 0: no connection
    Outcome outcome;
    std::string_view message;
};

} // namespace

TEST(CloudLibraryServiceAnswers, RefusalsFollowOneRuleForLoadsAndForOpening) {
    using namespace cloud_sentences;
    const char* page = "GET /api/meetings";
    const char* reconcile = "GET /api/meetings/reconcile";
    const char* summary = "GET /api/meetings/m1";
    const char* corrected = "GET /api/meetings/m1/transcript?layer=corrected";
    const char* raw = "GET /api/meetings/m1/transcript?layer=raw";
    const char* notes = "GET /api/meetings/m1/notes";
    const char* sharing = "GET /api/meetings/m1/sharing";
    std::vector<Row> rows;
    for (const char* request : {page, reconcile}) {
        rows.push_back({request, false, 401, Outcome::signedOut, librarySignIn});
        rows.push_back({request, false, 403, Outcome::signedOut, libraryAccessRemoved});
        rows.push_back({request, false, 404, Outcome::offlineKept, libraryOffline});
        rows.push_back({request, false, 500, Outcome::offlineKept, libraryOffline});
        rows.push_back({request, false, 0, Outcome::offlineKept, libraryOffline});
    }
    for (const char* request : {summary, corrected}) {
        rows.push_back({request, true, 401, Outcome::closed, meetingSignIn});
        rows.push_back({request, true, 403, Outcome::revoked, meetingRemoved});
        rows.push_back({request, true, 404, Outcome::revoked, meetingRemoved});
        // The copy of the first opening stays on screen under its lease.
        rows.push_back({request, true, 500, Outcome::offlineKept, meetingOffline});
        rows.push_back({request, true, 0, Outcome::offlineKept, meetingOffline});
    }
    for (const char* request : {raw, notes}) {
        rows.push_back({request, true, 401, Outcome::revoked, ""});
        rows.push_back({request, true, 403, Outcome::revoked, ""});
        rows.push_back({request, true, 404, Outcome::revoked, ""});
        rows.push_back({request, true, 500, Outcome::notesMissing, notesUnavailable});
        rows.push_back({request, true, 0, Outcome::notesMissing, notesUnavailable});
    }
    rows.push_back({sharing, true, 401, Outcome::closed, meetingSignIn});
    rows.push_back({sharing, true, 403, Outcome::revoked, meetingRemoved});
    rows.push_back({sharing, true, 404, Outcome::revoked, meetingRemoved});
    rows.push_back({sharing, true, 500, Outcome::offlineKept, meetingOffline});
    rows.push_back({sharing, true, 0, Outcome::offlineKept, meetingOffline});

    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.request) + " " + std::to_string(row.status));
        CloudHarness h;
        h.listAndOpen(3, "m1");
        const MeetingRevisionRequest draft = MeetingRevisionRequest::make(Uuid::random(), 3, {});
        h.diskCache()->saveDraft(draft, CloudLibrary::draftKey("m1"));
        if (!row.opening)
            h.open("m0");
        h.service->fail(row.request, row.status);
        h.shown.clear();
        if (row.opening)
            h.open("m1");
        else {
            h.model->loadLibrary(false);
            h.queue.drain();
        }

        const CloudMeetingState& s = h.s();
        EXPECT_EQ(s.message, row.message);
        // A sentence that asks to sign in comes with the offer to.
        EXPECT_EQ(s.signInNeeded, row.status == 401 && !row.message.empty());
        // The sentence is what the last change showed, and the load has ended.
        ASSERT_FALSE(h.shown.empty());
        EXPECT_EQ(h.shown.back().message, row.message);
        EXPECT_FALSE(s.loading);
        auto disk = h.diskCache();
        switch (row.outcome) {
        case Outcome::signedOut:
            EXPECT_FALSE(s.session);
            EXPECT_TRUE(s.meetings.empty());
            EXPECT_FALSE(s.document);
            // The workspace's cache was purged: no copy, no draft.
            EXPECT_ANY_THROW(disk->load<NativeMeetingDocument>("m1", h.wallNow()));
            EXPECT_ANY_THROW(disk->loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey("m1")));
            break;
        case Outcome::revoked:
            EXPECT_EQ(joinedIDs(s.meetings), "m0,m2");
            EXPECT_FALSE(s.document || s.selectedID || s.pendingCorrection);
            EXPECT_TRUE(disk->revocations().contains("m1"));
            EXPECT_TRUE(disk->revocations().contains("edit:m1"));
            break;
        case Outcome::closed:
            EXPECT_EQ(joinedIDs(s.meetings), "m0,m1,m2");
            EXPECT_FALSE(s.document || s.selectedID || s.pendingCorrection);
            EXPECT_TRUE(s.session);
            EXPECT_EQ(disk->loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey("m1")), draft);
            break;
        case Outcome::offlineKept:
            EXPECT_TRUE(s.offline);
            EXPECT_TRUE(s.session);
            EXPECT_EQ(joinedIDs(s.meetings), "m0,m1,m2");
            if (row.opening) {
                ASSERT_TRUE(s.document);
                EXPECT_EQ(*s.document, h.service->document("m1"));
                EXPECT_FALSE(s.sharing);
            }
            break;
        case Outcome::notesMissing:
            ASSERT_TRUE(s.document);
            EXPECT_FALSE(s.document->notes);
            EXPECT_EQ(s.document->transcript, h.service->document("m1").transcript);
            EXPECT_EQ(s.document->originalTranscript.has_value(), row.request == notes);
            EXPECT_FALSE(s.offline);
            EXPECT_TRUE(s.sharing); // the load went on
            // Stored as shown, without notes.
            EXPECT_EQ(disk->load<NativeMeetingDocument>("m1", h.wallNow()), *s.document);
            EXPECT_EQ(h.service->count(notes), row.request == notes ? 2u : 1u);
            break;
        }
        // Whatever happened, the library can load again.
        h.service->failures.clear();
        h.service->clearSeen();
        h.model->loadLibrary(false);
        h.queue.drain();
        EXPECT_EQ(h.service->count(page), s.session ? 1u : 0u);
    }
}
