// Scope folders, the sealed file format, entries and their access leases.
#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "tests/meetings/MeetingCacheTestSupport.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace nuvel::test {
namespace {

using json::JsonError;

TEST(MeetingCacheScopeTest, FolderNameHashesTheSortedEscapedCompactJson) {
    MeetingCacheScope plain{"acct-1", "ws-1"};
    EXPECT_EQ(plain.sortedKeyJson(), R"({"accountID":"acct-1","workspaceID":"ws-1"})");
    // Pinned: folders written earlier must keep being found.
    EXPECT_EQ(plain.directoryName(), "d6d91b3c09fc1c844df1059b702e59fe937d4fdf4a32a3082387e2c2735a900a");

    MeetingCacheScope slash{"a/b", "w"};
    EXPECT_EQ(slash.sortedKeyJson(), R"({"accountID":"a\/b","workspaceID":"w"})");
    EXPECT_EQ(slash.directoryName(), "ae9fb482e2abe15525b33803af3dccf8f6b4c9026d2659c5129de1bcdcc1c495");
    EXPECT_NE(slash.directoryName(), sha256Hex(R"({"accountID":"a/b","workspaceID":"w"})"));

    MeetingCacheScope awkward{"q\"b\\s\n\t\x01\x1f", "caf\xc3\xa9 \xe2\x82\xac"};
    EXPECT_EQ(
        awkward.sortedKeyJson(),
        "{\"accountID\":\"q\\\"b\\\\s\\n\\t\\u0001\\u001f\",\"workspaceID\":\"caf\xc3\xa9 \xe2\x82\xac\"}");
    // Whatever the escapes, the bytes are JSON that reads back to the same ids.
    json::Value parsed = json::parse(awkward.sortedKeyJson());
    EXPECT_EQ(MeetingCacheScope::fromJson(parsed), awkward);
}

TEST(MeetingCacheScopeTest, CodableFormRequiresBothStrings) {
    MeetingCacheScope scope{"a", "w"};
    EXPECT_EQ(json::dump(scope.toJson()), R"({"accountID":"a","workspaceID":"w"})");
    EXPECT_EQ(MeetingCacheScope::fromJson(json::parse(R"({"workspaceID":"w","accountID":"a","x":1})")),
              scope);
    EXPECT_EQ(codeOf<JsonError>([] { MeetingCacheScope::fromJson(json::parse(R"({"accountID":"a"})")); }),
              JsonError::Code::missingKey);
    EXPECT_EQ(codeOf<JsonError>(
                  [] { MeetingCacheScope::fromJson(json::parse(R"({"accountID":"a","workspaceID":7})")); }),
              JsonError::Code::wrongType);
}

TEST_F(MeetingCacheTest, BadScopesFailBeforeAnythingIsCreated) {
    EXPECT_EQ(cacheErrorOf([&] { open({"", "ws"}); }), Code::invalidScope);
    EXPECT_EQ(cacheErrorOf([&] { open({"acct", ""}); }), Code::invalidScope);
    EXPECT_EQ(codeOf<JsonError>([&] { open({"acct\xff", "ws"}); }), JsonError::Code::unencodable);
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(MeetingCacheTest, FolderIsOwnerOnlyAndEveryFileIsCreatedOwnerOnly) {
    mode_t previous = ::umask(0); // the most permissive umask must not leak into the cache
    root = temp.path() / "a" / "b";
    auto cache = open();
    cache->store(note, "m1", t0, 60);
    cache->saveDraft(note, "edit:m1");
    cache->revoke({"gone"});
    ::umask(previous);

    EXPECT_EQ(cache->root(), root / scope.directoryName());
    EXPECT_EQ(modeOf(temp.path() / "a"), 0700u);
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(cache->root()), 0700u);
    // Nothing but the three sealed files: no temporary file is left behind.
    EXPECT_EQ(namesIn(cache->root()),
              (std::set<std::string>{MeetingCache::fileName("m1") + ".nuvel",
                                     "draft-" + MeetingCache::fileName("edit:m1") + ".nuvel",
                                     "revocations.nuvel"}));
    for (const std::string& name : namesIn(cache->root()))
        EXPECT_EQ(modeOf(cache->root() / name), 0600u) << name;
}

TEST_F(MeetingCacheTest, EntryFileIsTheSealedDocumentPlus28BytesWithAFreshNonceEachWrite) {
    auto cache = open();
    cache->store(note, "__library__", t0, 90);
    fs::path file = entryFile(*cache, "__library__");
    EXPECT_EQ(file.filename(), "bc62ff4758feeed19a0a889310d66416e44c9f635d8d694e8e1799f774442012.nuvel");
    Bytes first = files::readFile(file);

    Bytes aad = bytesOf(scope.directoryName() + "/__library__");
    EXPECT_EQ(cache->authenticatedData("__library__"), aad);
    Bytes plaintext = aesgcm::open(key, first, aad);
    EXPECT_EQ(first.size(), plaintext.size() + 28);

    json::Value document = json::parse(plaintext);
    EXPECT_EQ(document["scope"], json::parse(R"({"accountID":"acct-1","workspaceID":"ws-1"})"));
    EXPECT_EQ(document["validatedAt"].get<double>(), t0.sinceReferenceDate);
    EXPECT_EQ(document["expiresAt"].get<double>(), t0.sinceReferenceDate + 90);
    std::optional<Bytes> payload = base64Decode(document["payload"].get<std::string>());
    ASSERT_TRUE(payload);
    EXPECT_EQ(json::parse(*payload), note.toJson());
    EXPECT_EQ(document.size(), 4u);

    cache->store(note, "__library__", t0, 90);
    Bytes second = files::readFile(file);
    ASSERT_EQ(second.size(), first.size());
    EXPECT_NE(Bytes(first.begin(), first.begin() + 12), Bytes(second.begin(), second.begin() + 12));
    EXPECT_EQ(aesgcm::open(key, second, aad), plaintext);
}

TEST_F(MeetingCacheTest, EmptyKeyIsAcceptedAndNamedAfterTheDigestOfNothing) {
    auto cache = open();
    cache->store(json::Value("x"), "", t0, 10);
    EXPECT_TRUE(
        fs::exists(cache->root() / "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855.nuvel"));
    EXPECT_EQ(cache->authenticatedData(""), bytesOf(scope.directoryName() + "/"));
    EXPECT_EQ(cache->load("", t0), json::Value("x"));
}

TEST_F(MeetingCacheTest, StoresAndLoadsTypedValuesAndJson) {
    auto cache = open();
    cache->store(note, "m1", t0, 100);
    EXPECT_EQ(cache->load<CachedNote>("m1", t0), note);

    json::Value page = json::parse(R"({"items":[1,2],"next":null})");
    cache->store(page, "__library__", t0, 100);
    EXPECT_EQ(cache->load("__library__", t0.adding(1)), page);

    // A second store of the key replaces the first.
    CachedNote later{"Quarterly review (edited)", 4};
    cache->store(later, "m1", t0.adding(5), 100);
    auto leased = cache->loadWithLease<CachedNote>("m1", t0.adding(6));
    EXPECT_EQ(leased.value, later);
    EXPECT_EQ(leased.lease, (MeetingAuthorizationLease{t0.adding(5), t0.adding(105)}));
    EXPECT_EQ(namesIn(cache->root()).size(), 2u);

    // A payload that is not the requested type fails in that type's own decoder.
    EXPECT_EQ(codeOf<JsonError>([&] { cache->load<CachedNote>("__library__", t0); }),
              JsonError::Code::missingKey);
}

TEST_F(MeetingCacheTest, FilesMovedAcrossKeysScopesOrCacheKeysFailAuthentication) {
    auto cache = open();
    cache->store(note, "a", t0, 100);
    cache->store(note, "b", t0, 100);

    copyOver(entryFile(*cache, "a"), entryFile(*cache, "b"));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->load("b", t0); }), CryptoError::Code::authenticationFailure);

    // The same key under another account or workspace lands in another folder.
    for (const MeetingCacheScope& other :
         {MeetingCacheScope{"acct-2", "ws-1"}, MeetingCacheScope{"acct-1", "ws-2"}}) {
        auto foreign = open(other);
        EXPECT_NE(foreign->root(), cache->root());
        foreign->store(note, "a", t0, 100);
        copyOver(entryFile(*foreign, "a"), entryFile(*cache, "a"));
        EXPECT_EQ(codeOf<CryptoError>([&] { cache->load("a", t0); }),
                  CryptoError::Code::authenticationFailure);
        cache->store(note, "a", t0, 100);
    }

    MeetingCache otherKey(root, SymmetricKey::random(), scope);
    EXPECT_EQ(codeOf<CryptoError>([&] { otherKey.load("a", t0); }), CryptoError::Code::authenticationFailure);

    Bytes altered = files::readFile(entryFile(*cache, "a"));
    altered[altered.size() / 2] ^= 0x01;
    files::atomicWrite(entryFile(*cache, "a"), altered);
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->load("a", t0); }), CryptoError::Code::authenticationFailure);
}

TEST_F(MeetingCacheTest, ReadsOfBrokenFilesFailInTheStepThatBreaks) {
    auto cache = open();
    EXPECT_EQ(fileErrorOf([&] { cache->load("missing", t0); }), ENOENT);

    files::atomicWrite(entryFile(*cache, "short"), Bytes(27, 0));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->load("short", t0); }),
              CryptoError::Code::incorrectParameterSize);
    files::atomicWrite(entryFile(*cache, "empty-box"), Bytes(28, 0));
    EXPECT_EQ(codeOf<CryptoError>([&] { cache->load("empty-box", t0); }),
              CryptoError::Code::authenticationFailure);

    // Authentic, but not an entry document.
    cache->writeSealed(viewOf(R"({"scope":{"accountID":"acct-1","workspaceID":"ws-1"},"payload":"e30="})"),
                       entryFile(*cache, "draft-like"), "draft-like");
    EXPECT_EQ(codeOf<JsonError>([&] { cache->load("draft-like", t0); }), JsonError::Code::missingKey);
    cache->writeSealed(viewOf("not json"), entryFile(*cache, "garbage"), "garbage");
    EXPECT_EQ(codeOf<JsonError>([&] { cache->load("garbage", t0); }), JsonError::Code::syntax);

    // Authentic, but written for another scope.
    MeetingCacheEntry foreign{{"acct-2", "ws-1"}, t0, t0.adding(100), bytesOf("{}")};
    cache->writeSealed(viewOf(foreign.encode()), entryFile(*cache, "foreign"), "foreign");
    EXPECT_EQ(cacheErrorOf([&] { cache->load("foreign", t0); }), Code::invalidScope);
}

TEST_F(MeetingCacheTest, OfflineSecondsMustBeFiniteAndAboveZeroCheckedFirst) {
    auto cache = open();
    cache->revoke({"revoked"});
    const double inf = std::numeric_limits<double>::infinity();
    for (double seconds : {0.0, -0.0, -1.0, inf, -inf, std::nan("")}) {
        EXPECT_EQ(cacheErrorOf([&] { cache->store(note, "m1", t0, seconds); }), Code::invalidLease)
            << seconds;
        EXPECT_EQ(cacheErrorOf([&] { cache->store(note, "revoked", t0, seconds); }), Code::invalidLease)
            << seconds;
    }
    EXPECT_FALSE(fs::exists(entryFile(*cache, "m1")));
    EXPECT_EQ(cacheErrorOf([&] { cache->store(note, "revoked", t0, 1); }), Code::revoked);

    // However small, a positive period is accepted (a period that rounds away reads as expired).
    cache->store(note, "tiny", t0, std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(cacheErrorOf([&] { cache->load("tiny", t0); }), Code::expired);
    cache->store(note, "short", t0, 0.001);
    EXPECT_EQ(cache->load<CachedNote>("short", t0), note);
}

TEST_F(MeetingCacheTest, EntryIsReadableFromItsValidationUpToButNotAtItsLimit) {
    auto cache = open();
    cache->store(note, "m1", t0, 3600);
    Bytes before = files::readFile(entryFile(*cache, "m1"));

    EXPECT_EQ(cache->load<CachedNote>("m1", t0), note);
    EXPECT_EQ(cache->lease("m1", t0.adding(3599.5)), (MeetingAuthorizationLease{t0, t0.adding(3600)}));
    EXPECT_EQ(cache->entry("m1", t0).expiresAt, t0.adding(3600));
    EXPECT_EQ(cacheErrorOf([&] { cache->load("m1", t0.adding(3600)); }), Code::expired);
    EXPECT_EQ(cacheErrorOf([&] { cache->lease("m1", t0.adding(1e6)); }), Code::expired);
    EXPECT_EQ(cacheErrorOf([&] { cache->loadWithLease("m1", t0.adding(-0.001)); }), Code::expired);
    // A clock reading that cannot be compared grants nothing.
    EXPECT_EQ(cacheErrorOf([&] { cache->entry("m1", Date{std::nan("")}); }), Code::expired);

    // Reading never rewrites or deletes, also when the entry has expired.
    EXPECT_EQ(files::readFile(entryFile(*cache, "m1")), before);
}

TEST_F(MeetingCacheTest, LeasesNeverExceedADayAfterValidation) {
    auto cache = open();
    cache->store(note, "long", t0, 1e9);
    EXPECT_EQ(cache->entry("long", t0).expiresAt, t0.adding(86400));
    EXPECT_EQ(openByHand(entryFile(*cache, "long"), "long")["expiresAt"].get<double>(),
              t0.sinceReferenceDate + 86400);

    // Another writer stored a longer period: the cap applies again on read.
    MeetingCacheEntry overLong{scope, t0, t0.adding(200000), bytesOf(json::dump(note.toJson()))};
    cache->writeSealed(viewOf(overLong.encode()), entryFile(*cache, "over"), "over");
    auto leased = cache->loadWithLease<CachedNote>("over", t0.adding(86399));
    EXPECT_EQ(leased.value, note);
    EXPECT_EQ(leased.lease, (MeetingAuthorizationLease{t0, t0.adding(86400)}));
    EXPECT_EQ(cache->lease("over", t0), leased.lease);
    EXPECT_EQ(cacheErrorOf([&] { cache->load("over", t0.adding(86400)); }), Code::expired);
}

TEST_F(MeetingCacheTest, StoreDoesNotConsultTheClockButRefusesUnwritableDates) {
    auto cache = open();
    Date longAgo = t0.adding(-10 * 86400);
    cache->store(note, "old", longAgo, 60);
    EXPECT_EQ(cacheErrorOf([&] { cache->load("old", t0); }), Code::expired);
    EXPECT_EQ(cache->load<CachedNote>("old", longAgo.adding(59)), note);

    EXPECT_EQ(codeOf<JsonError>([&] { cache->store(note, "nan", Date{std::nan("")}, 60); }),
              JsonError::Code::unencodable);
    json::Value notFinite = json::Value::object();
    notFinite["x"] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(codeOf<JsonError>([&] { cache->store(notFinite, "inf", t0, 60); }),
              JsonError::Code::unencodable);
    EXPECT_FALSE(fs::exists(entryFile(*cache, "nan")));
    EXPECT_FALSE(fs::exists(entryFile(*cache, "inf")));
}

TEST(MeetingCacheDocumentsTest, DecodersRequireTheirKeysAndIgnoreOthers) {
    auto entry = MeetingCacheEntry::decode(viewOf(
        R"({"x":true,"payload":"e30=","expiresAt":20,"validatedAt":10.5,"scope":{"accountID":"a","workspaceID":"w"}})"));
    EXPECT_EQ(entry, (MeetingCacheEntry{{"a", "w"}, Date{10.5}, Date{20}, bytesOf("{}")}));
    EXPECT_EQ(MeetingCacheEntry::decode(viewOf(entry.encode())), entry);

    auto entryError = [](const char* text) {
        return codeOf<JsonError>([&] { MeetingCacheEntry::decode(viewOf(text)); });
    };
    EXPECT_EQ(entryError(R"({"payload":"","expiresAt":1,"validatedAt":0})"), JsonError::Code::missingKey);
    EXPECT_EQ(
        entryError(
            R"({"scope":{"accountID":"a","workspaceID":"w"},"payload":"","expiresAt":"1","validatedAt":0})"),
        JsonError::Code::wrongType);
    EXPECT_EQ(
        entryError(
            R"({"scope":{"accountID":"a","workspaceID":"w"},"payload":"e30","expiresAt":1,"validatedAt":0})"),
        JsonError::Code::invalidValue);
    // A number beyond a double is refused by the parser.
    EXPECT_TRUE(entryError(
        R"({"scope":{"accountID":"a","workspaceID":"w"},"payload":"","expiresAt":1e999,"validatedAt":0})"));
    EXPECT_EQ(entryError("[]"), JsonError::Code::wrongType);

    auto revocations = MeetingCacheRevocations::decode(viewOf(R"({"ids":["b","a","b"],"more":1})"));
    EXPECT_EQ(revocations.ids, (std::set<std::string, std::less<>>{"a", "b"}));
    EXPECT_EQ(revocations.encode(), R"({"ids":["a","b"]})");
    EXPECT_EQ(codeOf<JsonError>([] { MeetingCacheRevocations::decode(viewOf("{}")); }),
              JsonError::Code::missingKey);
    EXPECT_EQ(codeOf<JsonError>([] { MeetingCacheRevocations::decode(viewOf(R"({"ids":[1]})")); }),
              JsonError::Code::wrongType);

    MeetingCacheDraft draft{{"a", "w"}, bytesOf("[1]")};
    EXPECT_EQ(MeetingCacheDraft::decode(viewOf(draft.encode())), draft);
    EXPECT_EQ(codeOf<JsonError>([] { MeetingCacheDraft::decode(viewOf(R"({"payload":"e30="})")); }),
              JsonError::Code::missingKey);
}

// The meeting documents go into the cache as they are, through their own coders.
static_assert(MeetingCacheEncodable<NativeMeetingDocument> && MeetingCacheDecodable<NativeMeetingDocument>);
static_assert(MeetingCacheEncodable<MeetingLibraryPage> && MeetingCacheDecodable<MeetingLibraryPage>);
static_assert(MeetingCacheEncodable<MeetingSearchPage> && MeetingCacheDecodable<MeetingSearchPage>);

TEST_F(MeetingCacheTest, AMeetingDocumentAndALibraryPageComeBackAsTheyWereStored) {
    auto cache = open();
    const NativeMeetingDocument meeting =
        NativeMeetingDocument::decode(test::golden("meeting-document.json"));
    cache->store(meeting, "m1", t0, 100);
    EXPECT_EQ(cache->load<NativeMeetingDocument>("m1", t0.adding(1)), meeting);

    const MeetingLibraryPage page = MeetingLibraryPage::decode(test::golden("library-page.json"));
    cache->store(page, "__library__", t0, 100);
    EXPECT_EQ(json::dump(cache->load<MeetingLibraryPage>("__library__", t0).toJson()),
              json::dump(page.toJson()));
}

} // namespace
} // namespace nuvel::test
