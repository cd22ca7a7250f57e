// Drafts, revocation, restore and purge.
#include "tests/meetings/MeetingCacheTestSupport.hpp"

#include <thread>
#include <vector>

namespace nuvel::test {
namespace {

using Ids = std::set<std::string, std::less<>>;

TEST_F(MeetingCacheTest, DraftsAreSealedUnderTheirIdAndNeverExpire) {
    auto cache = open();
    cache->saveDraft(note, "edit:m1");

    fs::path file = draftFile(*cache, "edit:m1");
    EXPECT_EQ(file.filename(), "draft-" + sha256Hex("edit:m1") + ".nuvel");
    EXPECT_FALSE(fs::exists(cache->root() / ("draft-" + sha256Hex("draft:edit:m1") + ".nuvel")));
    EXPECT_FALSE(fs::exists(cache->root() / (sha256Hex("draft:edit:m1") + ".nuvel")));
    EXPECT_EQ(namesIn(cache->root()).size(), 1u);

    json::Value document = openByHand(file, "draft:edit:m1");
    EXPECT_EQ(document["scope"], json::Value(scope.toJson()));
    EXPECT_EQ(json::parse(*base64Decode(document["payload"].get<std::string>())), note.toJson());
    EXPECT_EQ(files::readFile(file).size(), json::dump(document).size() + 28);

    EXPECT_EQ(cache->loadDraft<CachedNote>("edit:m1"), note);
    // Drafts and entries of one id are separate files.
    EXPECT_EQ(fileErrorOf([&] { cache->load("edit:m1", t0); }), ENOENT);

    cache->saveDraft(json::Value{{"text", "second"}, {"revision", 9}}, "edit:m1");
    EXPECT_EQ(cache->loadDraft<CachedNote>("edit:m1"), (CachedNote{"second", 9}));
    // Reopened much later (there is no clock to consult), the draft is still there.
    EXPECT_EQ(open()->loadDraft("edit:m1")["text"], "second");

    EXPECT_EQ(fileErrorOf([&] { cache->loadDraft("edit:none"); }), ENOENT);
}

TEST_F(MeetingCacheTest, DraftsMovedOrForeignFailToLoad) {
    auto cache = open();
    cache->saveDraft(note, "x");
    cache->saveDraft(note, "y");
    copyOver(draftFile(*cache, "x"), draftFile(*cache, "y"));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->loadDraft("y"); }), CryptoError::Code::authenticationFailure);

    // An entry file of key "x" does not pass for the draft of "x".
    cache->store(note, "x", t0, 60);
    copyOver(entryFile(*cache, "x"), draftFile(*cache, "x"));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->loadDraft("x"); }), CryptoError::Code::authenticationFailure);

    MeetingCacheDraft foreign{{"acct-1", "ws-9"}, bytesOf("{}")};
    cache->writeSealed(viewOf(foreign.encode()), draftFile(*cache, "z"), "draft:z");
    EXPECT_EQ(cacheErrorOf([&] { cache->loadDraft("z"); }), Code::invalidScope);
    files::atomicWrite(draftFile(*cache, "z"), Bytes(5, 1));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->loadDraft("z"); }), CryptoError::Code::incorrectParameterSize);
}

TEST_F(MeetingCacheTest, RevokeDeletesAnIdsFilesAndRefusesItEverywhereUntilRestored) {
    auto cache = open();
    cache->store(note, "m1", t0, 600);
    cache->saveDraft(note, "m1");
    cache->store(note, "m2", t0, 600);
    cache->saveDraft(note, "edit:m1");

    cache->revoke({"m1", "edit:m1"});
    EXPECT_EQ(cache->revocations(), (Ids{"edit:m1", "m1"}));
    EXPECT_FALSE(fs::exists(entryFile(*cache, "m1")));
    EXPECT_FALSE(fs::exists(draftFile(*cache, "m1")));
    EXPECT_FALSE(fs::exists(draftFile(*cache, "edit:m1")));
    EXPECT_EQ(cache->load<CachedNote>("m2", t0), note);

    auto refusals = [&](MeetingCache& c) {
        EXPECT_EQ(cacheErrorOf([&] { c.store(note, "m1", t0, 600); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.load("m1", t0); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.loadWithLease("m1", t0); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.lease("m1", t0); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.entry("m1", t0); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.saveDraft(note, "m1"); }), Code::revoked);
        EXPECT_EQ(cacheErrorOf([&] { c.loadDraft("edit:m1"); }), Code::revoked);
    };
    refusals(*cache);
    EXPECT_FALSE(fs::exists(entryFile(*cache, "m1")));

    // The set is sealed on disk and comes back with a new cache over the same folder.
    auto reopened = open();
    EXPECT_EQ(reopened->revocations(), (Ids{"edit:m1", "m1"}));
    refusals(*reopened);
    EXPECT_EQ(json::parse(openByHand(cache->root() / "revocations.nuvel", "revocations").dump()),
              json::parse(R"({"ids":["edit:m1","m1"]})"));

    // Restoring allows the id again, without bringing its data back.
    reopened->restore({"m1", "never-revoked"});
    EXPECT_EQ(open()->revocations(), (Ids{"edit:m1"}));
    EXPECT_EQ(fileErrorOf([&] { reopened->load("m1", t0); }), ENOENT);
    reopened->store(note, "m1", t0, 600);
    EXPECT_EQ(reopened->load<CachedNote>("m1", t0), note);
}

TEST_F(MeetingCacheTest, RevokeAndRestoreRewriteTheFileEvenWhenTheSetIsUnchanged) {
    auto cache = open();
    cache->revoke({"a"});
    fs::path file = cache->root() / "revocations.nuvel";
    Bytes first = files::readFile(file);
    cache->revoke({});
    Bytes second = files::readFile(file);
    cache->restore({"never-revoked"});
    Bytes third = files::readFile(file);
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(cache->revocations(), (Ids{"a"}));
    EXPECT_EQ(open()->revocations(), (Ids{"a"}));
}

TEST_F(MeetingCacheTest, RevocationsThatCannotBeSavedChangeNothing) {
    auto cache = open();
    cache->store(note, "m1", t0, 600);
    cache->revoke({"old"});
    // A folder in the revocation file's place makes the atomic replacement fail.
    fs::path file = cache->root() / "revocations.nuvel";
    fs::remove(file);
    fs::create_directory(file);

    EXPECT_EQ(fileErrorOf([&] { cache->revoke({"m1"}); }), EISDIR);
    EXPECT_EQ(cache->revocations(), (Ids{"old"}));
    EXPECT_EQ(cache->load<CachedNote>("m1", t0), note);
    EXPECT_EQ(fileErrorOf([&] { cache->restore({"old"}); }), EISDIR);
    EXPECT_EQ(cache->revocations(), (Ids{"old"}));
}

TEST_F(MeetingCacheTest, RevokeStopsAtTheFirstDeletionFailureWithEveryIdRevoked) {
    auto cache = open();
    for (const char* id : {"a", "b", "c"})
        cache->store(note, id, t0, 600);
    fs::remove(entryFile(*cache, "b"));
    fs::create_directories(entryFile(*cache, "b") / "inside");

    EXPECT_EQ(fileErrorOf([&] { cache->revoke({"a", "b", "c"}); }), EISDIR);
    EXPECT_FALSE(fs::exists(entryFile(*cache, "a")));
    EXPECT_TRUE(fs::exists(entryFile(*cache, "c")));
    EXPECT_EQ(cache->revocations(), (Ids{"a", "b", "c"}));
    EXPECT_EQ(cacheErrorOf([&] { cache->load("c", t0); }), Code::revoked);
    EXPECT_EQ(cacheErrorOf([&] { open()->load("c", t0); }), Code::revoked);
}

TEST_F(MeetingCacheTest, RemoveDeletesEntryAndDraftAndLeavesRevocationsAlone) {
    auto cache = open();
    cache->remove("nothing-here");
    EXPECT_TRUE(namesIn(cache->root()).empty());

    cache->store(note, "m1", t0, 600);
    cache->saveDraft(note, "m1");
    cache->store(note, "m2", t0, 600);
    cache->revoke({"r"});
    cache->remove("m1");
    EXPECT_EQ(namesIn(cache->root()),
              (std::set<std::string>{MeetingCache::fileName("m2") + ".nuvel", "revocations.nuvel"}));
    cache->remove("r");
    EXPECT_EQ(cache->revocations(), (Ids{"r"}));

    // A deletion failure of the entry leaves the draft in place.
    cache->saveDraft(note, "m3");
    fs::create_directories(entryFile(*cache, "m3") / "inside");
    EXPECT_EQ(fileErrorOf([&] { cache->remove("m3"); }), EISDIR);
    EXPECT_EQ(cache->loadDraft<CachedNote>("m3"), note);
}

TEST_F(MeetingCacheTest, PurgeEmptiesTheFolderAndForgetsRevocations) {
    auto cache = open();
    cache->store(note, "m1", t0, 600);
    cache->saveDraft(note, "edit:m1");
    cache->revoke({"m2"});
    files::atomicWrite(cache->root() / ".hidden", bytesOf("x"));
    fs::create_directories(cache->root() / "stray" / "deeper");

    cache->purge();
    EXPECT_TRUE(fs::is_directory(cache->root()));
    EXPECT_TRUE(namesIn(cache->root()).empty());
    EXPECT_TRUE(cache->revocations().empty());
    cache->store(note, "m2", t0, 600);
    EXPECT_EQ(cache->load<CachedNote>("m2", t0), note);
    EXPECT_TRUE(open()->revocations().empty());

    // The scope folder removed behind the cache's back: the listing fails and nothing changes.
    cache->revoke({"m3"});
    fs::remove_all(cache->root());
    EXPECT_EQ(fileErrorOf([&] { cache->purge(); }), ENOENT);
    EXPECT_EQ(cache->revocations(), (Ids{"m3"}));
}

TEST_F(MeetingCacheTest, DamagedRevocationFileKeepsTheCacheClosedUntilPurgedByPath) {
    MeetingCacheScope other{"acct-1", "ws-2"};
    {
        auto cache = open();
        cache->store(note, "m1", t0, 600);
        cache->revoke({"r"});
        open(other)->store(note, "m1", t0, 600);
    }
    fs::path folder = root / scope.directoryName();
    fs::path file = folder / "revocations.nuvel";
    Bytes good = files::readFile(file);

    Bytes altered = good;
    altered.back() ^= 0x80;
    files::atomicWrite(file, altered);
    EXPECT_EQ(codeOf<CryptoError>([&] { open(); }), CryptoError::Code::authenticationFailure);
    files::atomicWrite(file, Bytes(good.begin(), good.begin() + 27));
    EXPECT_EQ(codeOf<CryptoError>([&] { open(); }), CryptoError::Code::incorrectParameterSize);
    files::atomicWrite(file, good);
    EXPECT_EQ(codeOf<CryptoError>([&] { MeetingCache(root, SymmetricKey::random(), scope); }),
              CryptoError::Code::authenticationFailure);
    {
        // Authentic but not a revocation document: also closed.
        auto cache = open();
        cache->writeSealed(viewOf(R"({"id":["r"]})"), file, "revocations");
    }
    EXPECT_EQ(codeOf<json::JsonError>([&] { open(); }), json::JsonError::Code::missingKey);
    // A dangling link is something, not nothing: it must open, and cannot.
    fs::remove(file);
    fs::create_symlink(folder / "elsewhere", file);
    EXPECT_EQ(fileErrorOf([&] { open(); }), ENOENT);

    // Clearing the cached meetings still works without an opened cache.
    MeetingCache::purge(root, scope);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(namesIn(folder).empty());
    auto cache = open();
    EXPECT_TRUE(cache->revocations().empty());
    EXPECT_EQ(fileErrorOf([&] { cache->load("m1", t0); }), ENOENT);
    // Other scopes are untouched.
    EXPECT_EQ(open(other)->load<CachedNote>("m1", t0), note);
}

TEST_F(MeetingCacheTest, PurgeByPathOfAnAbsentScopeCreatesNothing) {
    MeetingCache::purge(root, {"nobody", "nowhere"});
    EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(cacheErrorOf([&] { MeetingCache::purge(root, {"", "ws"}); }), Code::invalidScope);
}

TEST_F(MeetingCacheTest, OperationsFromSeveralThreadsDoNotInterleave) {
    auto cache = open();
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < 15; ++i) {
                std::string id = "w" + std::to_string(w) + "-" + std::to_string(i % 5);
                CachedNote value{id, i};
                cache->store(value, id, t0, 600);
                EXPECT_EQ(cache->load<CachedNote>(id, t0), value);
                cache->saveDraft(value, id);
                if (i % 3 == 0) {
                    cache->revoke({id});
                    cache->restore({id});
                }
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_TRUE(cache->revocations().empty());
    EXPECT_TRUE(open()->revocations().empty());
}

} // namespace
} // namespace nuvel::test
