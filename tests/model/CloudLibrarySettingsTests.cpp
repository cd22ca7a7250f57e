// The server audio retention as the settings window reads and changes it, and clearing the
// cached meetings.
#include "tests/model/CloudLibraryHarness.hpp"

#include <fstream>

using namespace nuvel;
using namespace nuvel::test;

TEST(CloudLibrarySettings, RetentionIsReadAsWholeDaysOfTheOfferedNumbers) {
    using Days = std::optional<std::int64_t>;
    using Choices = std::vector<std::int64_t>;
    struct Row {
        std::string settings; // empty: the read fails
        Days days;
        Choices choices;
    };
    const Row rows[] = {
        {R"({"retention_days":30,"retention_choices":[7,"x",30,null,90]})", 30, {7, 30, 90}},
        {R"({"retention_days":30.9,"retention_choices":[-7.5,7.99]})", 30, {-7, 7}},
        {R"({"retention_choices":{"7":7}})", std::nullopt, {}},
        {R"({"retention_days":"30","retention_choices":7})", std::nullopt, {}},
        {R"({"retention_days":1e300,"retention_choices":[9.3e18,-9223372036854775808,365]})",
         std::nullopt,
         {std::numeric_limits<std::int64_t>::min(), 365}},
        {R"([30])", std::nullopt, {}},
        {"", std::nullopt, {}},
    };
    CloudHarness h;
    h.list(1);
    h.attach();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.settings);
        h.service->failures.clear();
        if (row.settings.empty())
            h.service->fail("GET /api/settings", 500);
        else
            h.service->settings = row.settings;
        const std::size_t changes = h.shown.size();
        runToCompletion(h.queue, h.model->refreshServerRetention(h.s().generation, h.session));
        EXPECT_EQ(h.s().retentionDays, row.days);
        EXPECT_EQ(h.s().retentionChoices, row.choices);
        EXPECT_EQ(h.shown.size(), changes + 1);
        EXPECT_EQ(h.s().message, ""); // never a sentence
    }
    // An answer for an earlier generation is dropped.
    h.service->failures.clear();
    h.service->settings = R"({"retention_days":7})";
    const Uuid stale = h.s().generation;
    h.attach();
    const std::size_t changes = h.shown.size();
    runToCompletion(h.queue, h.model->refreshServerRetention(stale, h.session));
    EXPECT_FALSE(h.s().retentionDays);
    EXPECT_EQ(h.shown.size(), changes);
}

TEST(CloudLibrarySettings, OnlyAnOfferedRetentionIsSentAndTheServiceValueFollows) {
    CloudHarness h;
    h.list(1);
    h.attach();
    h.model->setServerRetentionDays(30); // no choices known yet
    runToCompletion(h.queue, h.model->refreshServerRetention(h.s().generation, h.session));
    ASSERT_EQ(h.s().retentionChoices, (std::vector<std::int64_t>{7, 30, 90}));

    h.model->setServerRetentionDays(45);
    h.queue.drain();
    EXPECT_EQ(h.service->count("PUT /api/settings"), 0u);
    EXPECT_EQ(h.s().message, "");

    // One update, one read after it; the value changes only when the read answers.
    h.service->clearSeen();
    h.service->settings = R"({"retention_days":90,"retention_choices":[7,30,90]})";
    h.executor.holding = true;
    h.model->setServerRetentionDays(90);
    h.queue.drain();
    h.executor.runAll(); // the update
    h.queue.drain();
    EXPECT_EQ(h.s().retentionDays, 30);
    h.executor.runAll(); // the read
    h.queue.drain();
    EXPECT_EQ(h.s().retentionDays, 90);
    EXPECT_EQ(h.service->lines(), (std::vector<std::string>{"PUT /api/settings", "GET /api/settings"}));
    EXPECT_EQ(h.service->seen()[0].body, R"({"retention_days":90})");
    h.executor.holding = false;

    // A refusal, even 401, only writes the sentence; the value shown stays.
    h.service->fail("PUT /api/settings", 401);
    h.model->setServerRetentionDays(7);
    h.queue.drain();
    EXPECT_EQ(h.s().message, cloud_sentences::retentionFailed);
    EXPECT_EQ(h.s().retentionDays, 90);
    EXPECT_TRUE(h.s().session);
    EXPECT_EQ(h.service->count("GET /api/settings"), 1u);

    // Signed out: nothing is sent.
    h.model->reset();
    h.model->setServerRetentionDays(7);
    h.queue.drain();
    EXPECT_EQ(h.service->count("PUT /api/settings"), 2u);
}

TEST(CloudLibrarySettings, ClearingTheCacheClosesTheMeetingAndEmptiesTheLists) {
    struct Row {
        const char* what;
        bool purgeFails;
        bool staleGeneration;
    };
    const Row rows[] = {
        {"purged", false, false},
        {"purge fails", true, false},
        {"signed out meanwhile", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CloudHarness h;
        h.listAndOpen(3, "m1");
        h.service->searchAnswers["from"].results = {
            MeetingSearchPage::Hit{1, "m1", "", "corrected", "text", 0, {}}};
        h.model->search("from");
        h.queue.drain();
        const fs::path folder = h.cacheRoot() / h.scope().directoryName();
        if (row.purgeFails) {
            // The folder's place taken by a file: it can be neither listed nor emptied.
            fs::remove_all(folder);
            std::ofstream(folder) << "x";
        }
        const Uuid generation = h.s().generation;
        if (row.staleGeneration) {
            // The user signs out while the purge runs: it finishes, and nothing else is written.
            h.executor.holding = true;
            spawn(h.queue, h.model->clearCache(generation));
            h.queue.drain();
            h.model->reset();
            h.executor.runAll();
            h.queue.drain();
            EXPECT_TRUE(fs::is_empty(folder));
            EXPECT_EQ(h.s().message, "");
            EXPECT_EQ(h.shown.back().message, "");
            continue;
        }
        runToCompletion(h.queue, h.model->clearCache(generation));
        EXPECT_FALSE(h.s().document || h.s().selectedID);
        EXPECT_TRUE(h.s().meetings.empty());
        EXPECT_TRUE(h.s().searchResults.empty());
        EXPECT_EQ(h.s().message,
                  row.purgeFails ? cloud_sentences::cacheNotCleared : cloud_sentences::leaseExpired);
        EXPECT_EQ(h.shown.back().message, h.s().message);
        EXPECT_EQ(fs::is_directory(folder) && fs::is_empty(folder), !row.purgeFails);
    }
}

TEST(CloudLibrarySettings, ACacheThatCouldNotOpenIsClearedSoTheNextAttachmentWorks) {
    CloudHarness h;
    h.listAndOpen(2, "m1");
    const fs::path folder = h.cacheRoot() / h.scope().directoryName();
    std::ofstream(folder / MeetingCache::revocationsFileName, std::ios::trunc) << "damaged";
    EXPECT_ANY_THROW(h.attach());

    runToCompletion(h.queue, h.model->clearCache(h.s().generation));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(h.s().message, cloud_sentences::leaseExpired);
    h.attach();
    EXPECT_EQ(joinedIDs(h.s().meetings), "m0,m1");
}
