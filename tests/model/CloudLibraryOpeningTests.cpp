// Opening a cloud meeting: the order of its requests and publications, the offline copy and the
// saved draft, the sharing right, and loads that were overtaken.
#include "tests/model/CloudLibraryHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

TEST(CloudLibraryOpening, AFreshOpenPublishesTwiceAndKeepsTheWholeDocument) {
    CloudHarness h;
    h.list(3);
    h.attach();
    h.queue.advance(20);
    h.service->library[1].title = "Renamed on the service";
    h.service->clearSeen();
    const std::size_t before = h.shown.size();
    testing::internal::CaptureStderr();
    h.open("m1");
    // A meeting without a saved correction draft is the usual case, not a fault to trace.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(h.service->lines(), (std::vector<std::string>{
                                      "GET /api/meetings/m1",
                                      "GET /api/meetings/m1/transcript?layer=corrected",
                                      "GET /api/meetings/m1/transcript?layer=raw",
                                      "GET /api/meetings/m1/notes",
                                      "GET /api/meetings/m1/sharing",
                                  }));
    const NativeMeetingDocument expected = h.service->document("m1");
    const CloudMeetingState& s = h.s();
    ASSERT_TRUE(s.document);
    EXPECT_EQ(*s.document, expected);
    EXPECT_EQ(s.originalTranscript, expected.originalTranscript);
    ASSERT_TRUE(s.sharing);
    EXPECT_EQ(s.sharing->shares.at(0).id, "sh_1");
    EXPECT_EQ(s.meetings[1].title, "Renamed on the service");
    EXPECT_EQ(s.durationMilliseconds, 62500);
    EXPECT_TRUE(s.audioAvailable);
    EXPECT_FALSE(s.offline || s.loading);
    EXPECT_EQ(s.documentValidatedAt, h.wallNow());
    EXPECT_EQ(s.documentExpiresAt, h.wallNow().adding(3600));
    // Start, first publication (no notes), second publication, end.
    ASSERT_EQ(h.shown.size(), before + 4);
    EXPECT_TRUE(h.shown[before].loading);
    EXPECT_EQ(h.model->state().selectedID, "m1");
    // The copy on disk is the whole document, under the same lease.
    auto copy = h.diskCache()->loadWithLease<NativeMeetingDocument>("m1", h.wallNow());
    EXPECT_EQ(copy.value, expected);
    EXPECT_EQ(copy.lease.expiresAt, *s.documentExpiresAt);

    // Audio the retention removed, or that the user may not hear, cannot be played.
    h.service->library[1].audio_deleted = true;
    h.open("m1");
    EXPECT_FALSE(h.s().audioAvailable);
    h.service->library[2].access = rights({"export"});
    h.open("m2");
    EXPECT_FALSE(h.s().audioAvailable);
    EXPECT_FALSE(h.s().sharing); // no share right: no sharing request
    EXPECT_EQ(h.service->count("GET /api/meetings/m2/sharing"), 0u);
}

TEST(CloudLibraryOpening, TheOfflineCopyOpensWhileItsLeaseHoldsWithItsDraft) {
    struct Row {
        const char* what;
        double age; // of the copy when reopened
        bool shown;
    };
    const Row rows[] = {
        {"inside the lease", 3599, true},
        {"past the lease", 3600, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.listAndOpen(3, "m1");
        const MeetingRevisionRequest draft = MeetingRevisionRequest::make(Uuid::random(), 3, {});
        h.diskCache()->saveDraft(draft, CloudLibrary::draftKey("m1"));
        h.open("m0");
        h.clockShift = row.age; // as if the app had been closed meanwhile
        h.service->offline = true;
        h.shown.clear();
        h.open("m1");

        EXPECT_EQ(h.s().document.has_value(), row.shown);
        EXPECT_EQ(h.s().selectedID.has_value(), row.shown);
        EXPECT_EQ(h.s().pendingCorrection.has_value(), row.shown);
        EXPECT_EQ(h.s().message, cloud_sentences::meetingOffline);
        EXPECT_FALSE(h.s().loading);
        if (row.shown) {
            EXPECT_EQ(*h.s().document, h.service->document("m1"));
            EXPECT_EQ(*h.s().pendingCorrection, draft);
            EXPECT_TRUE(h.s().offline);
            EXPECT_TRUE(h.model->documentLeaseIsValid());
            // Start, the copy at once, then the offline end.
            ASSERT_EQ(h.shown.size(), 3u);
            EXPECT_TRUE(h.shown[1].offline && h.shown[1].loading);
            EXPECT_EQ(h.shown[1].message, "");
        }
        EXPECT_EQ(h.shown.back().message, cloud_sentences::meetingOffline);
        // The draft stays on disk either way.
        EXPECT_EQ(h.diskCache()->loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey("m1")), draft);
    }
}

TEST(CloudLibraryOpening, OnlyTheNewestLoadWrites) {
    struct Row {
        const char* what;
        bool olderResumesFirst;
    };
    const Row rows[] = {{"older resumes while the newer runs", true},
                        {"older resumes after the newer", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.list(3);
        h.attach();
        h.executor.holding = true;
        h.model->openMeeting("m1", false);
        h.queue.drain();
        h.model->openMeeting("m1", true); // the correction sheet reloads while the first load runs
        h.queue.drain();
        ASSERT_EQ(h.executor.held.size(), 2u);
        h.executor.holding = false;
        auto olderFailsOffline = [&] {
            h.service->offline = true;
            h.executor.run(0);
            h.queue.drain();
            h.service->offline = false;
        };
        if (row.olderResumesFirst) {
            olderFailsOffline();
            EXPECT_TRUE(h.s().loading);
            EXPECT_EQ(h.s().message, "");
            h.executor.runAll();
            h.queue.drain();
        } else {
            h.executor.run(1);
            h.queue.drain();
            olderFailsOffline();
        }
        EXPECT_FALSE(h.s().loading);
        EXPECT_FALSE(h.s().offline);
        EXPECT_EQ(h.s().message, "");
        ASSERT_TRUE(h.s().document);
        EXPECT_EQ(*h.s().document, h.service->document("m1"));
        EXPECT_EQ(h.service->count("GET /api/meetings/m1"), 1u); // the older one asked nothing
    }
}

TEST(CloudLibraryOpening, SelectingAnotherMeetingStopsEveryWriteOfTheFirstLoad) {
    CloudHarness h;
    h.list(3);
    h.attach();
    h.service->library[1].title = "changed";
    h.executor.holding = true;
    h.model->openMeeting("m1", false);
    h.queue.drain();
    h.model->openMeeting("m2", false);
    h.queue.drain();
    h.executor.holding = false;
    h.executor.runAll();
    h.queue.drain();

    EXPECT_EQ(h.s().selectedID, "m2");
    EXPECT_EQ(h.s().document->summary.id, "m2");
    EXPECT_EQ(h.s().meetings[1].title, "Meeting m1"); // never replaced by the first load
    EXPECT_EQ(h.service->count("GET /api/meetings/m1"), 0u);
    EXPECT_FALSE(h.s().loading);
    // Without a session or cache nothing is opened.
    h.model->reset();
    h.open("m0");
    EXPECT_FALSE(h.s().selectedID);
}
