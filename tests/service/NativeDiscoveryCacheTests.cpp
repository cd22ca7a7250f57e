#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/service/ServiceStub.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::namesIn;

NativeBootstrap contract(std::optional<double> offlineSeconds = 3600) {
    NativeBootstrap b = NativeBootstrap::decode(test::contractText());
    b.limits.offlineAccessSeconds = offlineSeconds;
    return b;
}

std::optional<MeetingCacheError::Code> cacheError(const std::function<void()>& f) {
    try {
        f();
    } catch (const MeetingCacheError& e) {
        return e.code();
    }
    return std::nullopt;
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

const Date T{730000000};

struct Fixture {
    test::TempDir dir{"discovery"};
    SymmetricKey key = SymmetricKey::random();
    fs::path root = dir / "acct" / "discovery";
};

TEST(NativeDiscoveryCache, CreatesItsOwnerOnlyFolderAndNamesTheFileAfterTheAccountDigest) {
    Fixture f;
    EXPECT_EQ(cacheError([&] { NativeDiscoveryCache(f.root, f.key, ""); }),
              MeetingCacheError::Code::invalidScope);
    EXPECT_FALSE(fs::exists(f.root));

    NativeDiscoveryCache one(f.root, f.key, "a");
    EXPECT_EQ(modeOf(f.root), 0700u);
    EXPECT_EQ(one.file(), f.root / "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb.nuvel");

    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    c.save(contract(), T);
    EXPECT_EQ(namesIn(f.root), std::set<std::string>{c.file().filename().string()});
    EXPECT_EQ(modeOf(c.file()), 0600u);
    // Nothing but nonce, ciphertext and tag: the account id is nowhere in the bytes.
    Bytes sealed = files::readFile(c.file());
    EXPECT_EQ(stringOf(sealed).find("acc_1"), std::string::npos);
    EXPECT_GT(sealed.size(), SealedBox::overhead);
    c.save(contract(), T);
    EXPECT_NE(files::readFile(c.file()), sealed); // a fresh nonce every time
}

TEST(NativeDiscoveryCache, ASavedContractLoadsBackFieldForField) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    NativeBootstrap saved = contract(600);
    saved.capabilities.notepadSync = std::nullopt;
    saved.account.name = std::nullopt;
    c.save(saved, T);
    CachedNativeDiscovery got = c.load(T.adding(1));
    EXPECT_EQ(got.bootstrap.encode(), saved.encode());
    EXPECT_FALSE(got.bootstrap.capabilities.notepadSync);
    EXPECT_FALSE(got.bootstrap.account.name);
    EXPECT_EQ(got.validatedAt, T);
    EXPECT_EQ(got.expiresAt, T.adding(600));
}

TEST(NativeDiscoveryCache, TheLeaseIsAtMostADayAndHalfOpen) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    for (auto [offline, span] :
         {std::pair{600.0, 600.0}, {86400.0, 86400.0}, {172800.0, 86400.0}, {0.25, 0.25}}) {
        c.save(contract(offline), T);
        EXPECT_EQ(c.load(T).expiresAt, T.adding(span)) << offline;
        EXPECT_NO_THROW(c.load(T.adding(span / 2)));
        EXPECT_EQ(cacheError([&] { c.load(T.adding(span)); }), MeetingCacheError::Code::expired);
        EXPECT_EQ(cacheError([&] { c.load(T.adding(-1)); }), MeetingCacheError::Code::expired);
    }
    EXPECT_EQ(cacheError([&] { c.load(Date{std::nan("")}); }), MeetingCacheError::Code::expired);
}

TEST(NativeDiscoveryCache, ARecordWithAnOverlongOrEmptySpanIsExpired) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    const Bytes context = bytesOf("nuvel/discovery/v1/acc_1");
    auto plant = [&](double validated, double expires) {
        CachedNativeDiscovery record{contract(), Date{validated}, Date{expires}};
        const std::string text = json::dump(record.toJson());
        files::atomicWrite(c.file(), aesgcm::seal(f.key, viewOf(text), context));
    };
    plant(T.sinceReferenceDate, T.sinceReferenceDate + 86400.5);
    EXPECT_EQ(cacheError([&] { c.load(T.adding(10)); }), MeetingCacheError::Code::expired);
    plant(T.sinceReferenceDate, T.sinceReferenceDate);
    EXPECT_EQ(cacheError([&] { c.load(T); }), MeetingCacheError::Code::expired);
    plant(T.sinceReferenceDate, T.sinceReferenceDate - 5);
    EXPECT_EQ(cacheError([&] { c.load(T.adding(-2)); }), MeetingCacheError::Code::expired);
    plant(T.sinceReferenceDate, T.sinceReferenceDate + 86400);
    EXPECT_NO_THROW(c.load(T.adding(86399)));
    EXPECT_TRUE(fs::exists(c.file()));
}

TEST(NativeDiscoveryCache, AContractWithoutAUsableLeaseRemovesTheCachedOne) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    for (std::optional<double> bad :
         {std::optional<double>(), std::optional(0.0), std::optional(-1.0), std::optional(std::nan("")),
          std::optional(std::numeric_limits<double>::infinity())}) {
        c.save(contract(), T);
        ASSERT_TRUE(fs::exists(c.file()));
        EXPECT_EQ(cacheError([&] { c.save(contract(bad), T); }), MeetingCacheError::Code::invalidLease);
        EXPECT_FALSE(fs::exists(c.file()));
        EXPECT_THROW(c.load(T), fs::filesystem_error);
    }
    // An invalid contract touches nothing.
    c.save(contract(), T);
    NativeBootstrap other = contract(std::nullopt);
    other.account.id = "acc_2";
    try {
        c.save(other, T);
        ADD_FAILURE() << "saved a contract of another account";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::invalidTransport);
    }
    EXPECT_NO_THROW(c.load(T));
    EXPECT_NO_THROW(c.remove());
    EXPECT_NO_THROW(c.remove());
    EXPECT_FALSE(fs::exists(c.file()));
}

TEST(NativeDiscoveryCache, TamperedOrMisplacedFilesFailToOpenAndStay) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    c.save(contract(), T);
    const Bytes good = files::readFile(c.file());
    auto authenticationFails = [&](NativeDiscoveryCache& cache) {
        try {
            cache.load(T);
        } catch (const CryptoError& e) {
            return e.code() == CryptoError::Code::authenticationFailure;
        }
        return false;
    };
    for (std::size_t at : {std::size_t(0), std::size_t(20), good.size() - 1}) {
        Bytes flipped = good;
        flipped[at] ^= 0x01;
        files::atomicWrite(c.file(), flipped);
        EXPECT_TRUE(authenticationFails(c)) << at;
        EXPECT_EQ(files::readFile(c.file()), flipped);
    }
    files::atomicWrite(c.file(), Bytes(good.begin(), good.begin() + 20));
    EXPECT_THROW(c.load(T), CryptoError);

    // Another account's name, or another key, does not open it.
    NativeDiscoveryCache other(f.root, f.key, "acc_2");
    files::atomicWrite(other.file(), good);
    EXPECT_TRUE(authenticationFails(other));
    NativeDiscoveryCache rekeyed(f.root, SymmetricKey::random(), "acc_1");
    files::atomicWrite(c.file(), good);
    EXPECT_TRUE(authenticationFails(rekeyed));
    EXPECT_NO_THROW(c.load(T));
}

TEST(NativeDiscoveryCache, FailedSavesLeaveNoTemporaryFile) {
    Fixture f;
    NativeDiscoveryCache c(f.root, f.key, "acc_1");
    // The rename cannot replace a folder that holds something.
    fs::create_directories(c.file() / "blocker");
    EXPECT_THROW(c.save(contract(), T), fs::filesystem_error);
    EXPECT_EQ(namesIn(f.root), std::set<std::string>{c.file().filename().string()});
    fs::remove_all(c.file());

    c.save(contract(), T);
    EXPECT_EQ(namesIn(f.root), std::set<std::string>{c.file().filename().string()});

    // Without its folder the temporary file cannot be created.
    fs::remove_all(f.root);
    try {
        c.save(contract(), T);
        ADD_FAILURE() << "saved without a folder";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::invalidManifest);
    }
    EXPECT_FALSE(fs::exists(f.root));
}

} // namespace
} // namespace nuvel
