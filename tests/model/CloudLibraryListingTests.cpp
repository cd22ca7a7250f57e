// The library list: the offline copy shown first, paging, reconciliation and revocation, the
// library's own lease, and the library-wide search.
#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "tests/model/CloudLibraryHarness.hpp"

#include <set>

using namespace nuvel;
using namespace nuvel::test;

namespace {

// Seals a library copy of `ids` as an earlier run left it, validated `age` seconds ago.
void leaveLibraryCopy(CloudHarness& h, const std::vector<std::string>& ids, double age, double seconds) {
    MeetingLibraryPage copy;
    copy.contract_version = 1;
    for (const std::string& id : ids)
        copy.meetings.push_back(meetingSummary(id));
    copy.as_of = "2026-01-04T10:00:00Z";
    copy.offline_access_seconds = seconds;
    h.diskCache()->store(copy, CloudLibrary::libraryKey, h.wallNow().adding(-age), seconds);
}

std::vector<std::string> reconciledBatches(const FakeMeetingService& service, std::set<std::string>* all) {
    std::vector<std::string> batches;
    for (const SeenRequest& r : service.seen()) {
        if (r.path != "/api/meetings/reconcile")
            continue;
        batches.push_back(r.query.at("ids"));
        std::size_t start = 0;
        const std::string& ids = batches.back();
        std::size_t count = 0;
        while (start < ids.size()) {
            std::size_t end = ids.find(',', start);
            if (end == std::string::npos)
                end = ids.size();
            EXPECT_TRUE(all->insert(ids.substr(start, end - start)).second) << "sent twice";
            ++count;
            start = end + 1;
        }
        EXPECT_LE(count, CloudLibrary::reconcileBatch);
    }
    return batches;
}

} // namespace

TEST(CloudLibraryListing, TheCachedListComesFirstAndThePageWithOneChangeAtTheEnd) {
    struct Row {
        const char* what;
        double age; // of the cached copy; negative: none
        bool shownFirst;
    };
    const Row rows[] = {
        {"valid copy", 60, true},
        {"copy past its lease", 3600, false},
        {"no copy", -1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.list(3);
        if (row.age >= 0)
            leaveLibraryCopy(h, {"c0", "c1"}, row.age, 3600);
        h.attach();

        std::vector<CloudHarness::Shown> expected = {
            {"", false, false, ""}, // reset
            {"", true, false, ""},  // the load starts
        };
        if (row.shownFirst)
            expected.push_back({"c0,c1", true, true, ""});
        expected.push_back({"m0,m1,m2", false, false, ""});
        ASSERT_EQ(h.shown.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(h.shown[i].meetings, expected[i].meetings) << i;
            EXPECT_EQ(h.shown[i].loading, expected[i].loading) << i;
            EXPECT_EQ(h.shown[i].offline, expected[i].offline) << i;
        }
        // The shown copy's meetings were reconciled; the service knows none of them.
        EXPECT_EQ(h.service->count("GET /api/meetings/reconcile"), row.shownFirst ? 1u : 0u);
        // The merged list is the new copy.
        EXPECT_EQ(
            joinedIDs(
                h.diskCache()->load<MeetingLibraryPage>(CloudLibrary::libraryKey, h.wallNow()).meetings),
            "m0,m1,m2");
    }
}

TEST(CloudLibraryListing, AnUnreachableServiceLeavesTheCachedListUntilItsLeaseEnds) {
    CloudHarness h;
    leaveLibraryCopy(h, {"c0", "c1"}, 0, 600);
    h.service->offline = true;
    h.model->setOnline(false); // the load asks all the same
    h.attach();
    EXPECT_EQ(h.service->count("GET /api/meetings"), 1u);
    EXPECT_EQ(joinedIDs(h.s().meetings), "c0,c1");
    EXPECT_TRUE(h.s().offline);
    EXPECT_FALSE(h.s().loading);
    EXPECT_EQ(h.s().message, cloud_sentences::libraryOffline);

    h.queue.advance(599);
    EXPECT_EQ(joinedIDs(h.s().meetings), "c0,c1");
    h.queue.advance(1);
    EXPECT_TRUE(h.s().meetings.empty());
    EXPECT_TRUE(h.s().offline);
    EXPECT_EQ(h.s().message, cloud_sentences::libraryOffline);
}

TEST(CloudLibraryListing, LoadingMoreAppendsOnlyMeetingsNotListedYet) {
    CloudHarness h;
    h.list(120);
    h.attach();
    EXPECT_EQ(h.s().meetings.size(), 50u);
    EXPECT_EQ(h.s().nextCursor, "o50");
    EXPECT_TRUE(h.s().hasMore);

    // Two new meetings push m48 and m49 onto the second page: they are not listed twice.
    h.service->library.insert(h.service->library.begin(), {meetingSummary("n0"), meetingSummary("n1")});
    h.model->loadLibrary(true);
    h.queue.drain();
    EXPECT_EQ(h.s().meetings.size(), 98u);
    EXPECT_EQ(h.s().meetings[50].id, "m50");
    EXPECT_EQ(h.s().nextCursor, "o100");
    h.model->loadLibrary(true);
    h.queue.drain();
    EXPECT_EQ(h.s().meetings.size(), 120u);
    EXPECT_FALSE(h.s().nextCursor);
    EXPECT_FALSE(h.s().hasMore);

    // More without a cursor asks for the first page again and keeps only the new ones.
    h.service->library.insert(h.service->library.begin(), meetingSummary("n2"));
    h.service->clearSeen();
    h.model->loadLibrary(true);
    h.queue.drain();
    EXPECT_EQ(h.service->seen().front().query.count("cursor"), 0u);
    ASSERT_EQ(h.s().meetings.size(), 123u);
    EXPECT_EQ(h.s().meetings[120].id, "n2");
    EXPECT_EQ(h.s().meetings[122].id, "n1");
    EXPECT_TRUE(h.s().hasMore);

    // Every listed id is reconciled exactly once, in batches of at most 100.
    std::set<std::string> all;
    EXPECT_EQ(reconciledBatches(*h.service, &all).size(), 2u);
    EXPECT_EQ(all.size(), 120u);
    // A load never starts while one runs.
    h.executor.holding = true;
    h.model->loadLibrary(false);
    h.model->loadLibrary(false);
    h.queue.drain();
    EXPECT_EQ(h.executor.held.size(), 1u);
}

TEST(CloudLibraryListing, AReconciledRemovalRevokesTheMeetingAndClosesItSilently) {
    CloudHarness h;
    h.listAndOpen(3, "m1");
    h.diskCache()->saveDraft(MeetingRevisionRequest::make(Uuid::random(), 3, {}),
                             CloudLibrary::draftKey("m1"));
    h.service->searchAnswers["from"].results = {
        MeetingSearchPage::Hit{1, "m1", "", "corrected", "text", 0, {}},
        MeetingSearchPage::Hit{1, "m2", "", "corrected", "text", 0, {}}};
    h.model->search("from");
    h.queue.drain();
    ASSERT_EQ(h.s().searchResults.size(), 2u);

    h.service->library.erase(h.service->library.begin() + 1);
    h.model->loadLibrary(false);
    h.queue.drain();
    EXPECT_EQ(joinedIDs(h.s().meetings), "m0,m2");
    ASSERT_EQ(h.s().searchResults.size(), 1u);
    EXPECT_EQ(h.s().searchResults[0].meeting_id, "m2");
    EXPECT_FALSE(h.s().selectedID || h.s().document || h.s().pendingCorrection || h.s().documentExpiresAt);
    EXPECT_EQ(h.s().message, "");
    EXPECT_FALSE(h.s().loading);
    auto disk = h.diskCache();
    EXPECT_EQ(disk->revocations(), (std::set<std::string, std::less<>>{"m1", "edit:m1"}));
    EXPECT_THROW(disk->loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey("m1")), MeetingCacheError);
    // Its lease task no longer runs.
    h.queue.advance(7200);
    EXPECT_EQ(h.s().message, "");
}

TEST(CloudLibraryListing, WithoutOfflineSecondsNothingIsKeptAndMeetingsOpenUndated) {
    CloudHarness h;
    h.list(2);
    h.service->offlineSeconds = std::nullopt;
    h.attach();
    EXPECT_EQ(h.s().offlineLease, 0);
    h.open("m1");
    EXPECT_TRUE(h.s().document);
    EXPECT_FALSE(h.s().documentValidatedAt || h.s().documentExpiresAt);
    EXPECT_TRUE(h.model->documentLeaseIsValid());
    auto disk = h.diskCache();
    EXPECT_ANY_THROW(disk->load<MeetingLibraryPage>(CloudLibrary::libraryKey, h.wallNow()));
    EXPECT_ANY_THROW(disk->load<NativeMeetingDocument>("m1", h.wallNow()));
    // A later page with seconds does not raise the lease again.
    h.service->offlineSeconds = 3600;
    h.model->loadLibrary(false);
    h.queue.drain();
    EXPECT_EQ(h.s().offlineLease, 0);
}

TEST(CloudLibraryListing, ACopyThatCannotBeStoredLeavesTheMergedPageShownOffline) {
    CloudHarness h;
    h.list(2);
    h.attach();
    ASSERT_FALSE(h.s().offline);
    // A folder in the place of the library copy's file: the sealed write cannot replace it.
    const fs::path entry = h.cacheRoot() / h.scope().directoryName() /
                           (MeetingCache::fileName(CloudLibrary::libraryKey) + ".nuvel");
    ASSERT_TRUE(fs::remove(entry));
    fs::create_directories(entry / "blocker");
    h.service->library.push_back(meetingSummary("m2"));
    h.model->loadLibrary(false);
    h.queue.drain();
    EXPECT_EQ(joinedIDs(h.s().meetings), "m0,m1,m2");
    EXPECT_TRUE(h.s().offline);
    EXPECT_FALSE(h.s().loading);
    EXPECT_EQ(h.s().message, cloud_sentences::libraryOffline);
    EXPECT_TRUE(h.s().session);
}

TEST(CloudLibraryListing, SearchShowsTheAnswerToTheLatestQueryOnly) {
    CloudHarness h;
    h.list(2);
    MeetingSearchPage truncated;
    truncated.results = {MeetingSearchPage::Hit{0, "m0", "Budget", "corrected", "title", 0, {}}};
    truncated.truncated = true;
    h.service->searchAnswers["budget"] = truncated;
    h.service->searchAnswers["plan"].results = {
        MeetingSearchPage::Hit{2, "m1", "", "corrected", "text", 900, {}}};
    h.model->search("plan"); // detached: nothing
    h.attach();
    EXPECT_EQ(h.service->count("GET /api/search"), 0u);

    struct Row {
        std::string query;
        bool failing;
        std::string hits; // meeting ids
        std::string message;
        bool asked;
    };
    const Row rows[] = {
        {"  budget\n", false, "m0", std::string(cloud_sentences::searchTruncated), true},
        {"plan", false, "m1", "", true},
        {" \t ", false, "", "", false}, // clears without asking; the sentence stays
        {"budget", true, "", std::string(cloud_sentences::searchOffline), true},
        {"plan", false, "m1", "", true},
        {"nothing here", false, "", "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.query);
        h.service->failures.clear();
        if (row.failing)
            h.service->fail("GET /api/search", 503);
        const std::size_t asked = h.service->count("GET /api/search");
        h.model->search(row.query);
        h.queue.drain();
        EXPECT_EQ(h.service->count("GET /api/search"), asked + (row.asked ? 1 : 0));
        std::string hits;
        for (const MeetingSearchPage::Hit& hit : h.s().searchResults)
            hits += hit.meeting_id;
        EXPECT_EQ(hits, row.hits);
        EXPECT_EQ(h.s().message, row.message);
    }
    EXPECT_EQ(h.service->seen().back().query.at("q"), "nothing here");
    EXPECT_EQ(h.service->seen().back().query.at("workspace_id"), "ws_1");

    // Answers arriving out of order: the older query's hits never show under the newer text,
    // and emptying the field retires what is still on its way.
    h.service->failures.clear();
    h.executor.holding = true;
    h.model->search("plan");
    h.model->search("budget");
    h.queue.drain();
    ASSERT_EQ(h.executor.held.size(), 2u);
    h.executor.run(1);
    h.queue.drain();
    h.executor.run(0);
    h.queue.drain();
    ASSERT_EQ(h.s().searchResults.size(), 1u);
    EXPECT_EQ(h.s().searchResults[0].meeting_id, "m0");
    h.model->search("plan");
    h.queue.drain();
    h.model->search("");
    h.executor.runAll();
    h.queue.drain();
    EXPECT_TRUE(h.s().searchResults.empty());
}
