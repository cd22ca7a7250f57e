#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <set>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::expectAuthenticationFailure;
using test::expectRecordingError;
using test::namesIn;

const Uuid recordingID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
const Uuid assetID = *Uuid::parse("11111111-2222-4333-8444-555555555555");

Bytes audio(std::size_t size, std::uint8_t seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = std::uint8_t(i * 31 + seed + (i >> 13));
    return out;
}

void writeFile(const fs::path& path, ByteView bytes) {
    files::createExclusive(path).writeAll(bytes, path);
}

class MediaAssetsTest : public testing::Test {
protected:
    test::TempDir dir{"assets"};
    SymmetricKey key = SymmetricKey::random();
    RecordingStore store{dir / "root", key};
    // Naming a working file makes the recording's folder, as an import's staging does.
    fs::path folder = store.workingFileURL(recordingID, assetID, "caf", "stage").parent_path();
    fs::path asset = folder / "11111111-2222-4333-8444-555555555555.nuvel";

    fs::path stage(const Bytes& bytes) {
        fs::path path = store.workingFileURL(recordingID, assetID, "caf", "stage");
        writeFile(path, bytes);
        return path;
    }
};

TEST_F(MediaAssetsTest, SealedAudioComesBackAsFreshClearCopies) {
    const Bytes clear = audio(2 * (1 << 20) + 77, 3);
    const fs::path source = stage(clear);
    const RecordingStore::MediaDigest expected{hexString(Sha256::hash(clear)), std::int64_t(clear.size())};
    RecordingStore::MediaDigest sealed;
    store.sealClearMedia(source, recordingID, assetID, &sealed);
    EXPECT_EQ(sealed, expected);
    EXPECT_EQ(namesIn(folder), std::set<std::string>{asset.filename()});

    // The asset's records are bound to the recording and the asset.
    EncryptedMedia::decryptFile(asset, dir / "direct.caf", key,
                                "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D/11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(files::readFile(dir / "direct.caf"), clear);

    const fs::path first = store.openClearCopy(recordingID, assetID, "m4a");
    RecordingStore::MediaDigest opened;
    const fs::path second = store.openClearCopy(recordingID, assetID, "caf", &opened);
    EXPECT_EQ(opened, expected);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), folder);
    EXPECT_TRUE(first.filename().string().starts_with("clear-") && first.extension() == ".m4a");
    EXPECT_EQ(files::readFile(first), clear);
    EXPECT_EQ(files::readFile(second), clear);
    store.removeWorkingFiles(first);
    store.removeWorkingFiles(second);
    store.removeWorkingFiles(second); // already gone
    EXPECT_EQ(namesIn(folder), std::set<std::string>{asset.filename()});
}

TEST_F(MediaAssetsTest, SealingAgainChecksTheAudioAlreadySealed) {
    const Bytes clear = audio(300000, 1);
    store.sealClearMedia(stage(clear), recordingID, assetID);
    const Bytes sealed = files::readFile(asset);

    // An interrupted seal left the clear file beside its asset: it is only deleted.
    RecordingStore::MediaDigest again;
    store.sealClearMedia(stage(clear), recordingID, assetID, &again);
    EXPECT_EQ(again,
              (RecordingStore::MediaDigest{hexString(Sha256::hash(clear)), std::int64_t(clear.size())}));
    EXPECT_EQ(namesIn(folder), std::set<std::string>{asset.filename()});
    EXPECT_EQ(files::readFile(asset), sealed);

    // Other audio under the same asset id: refused, both stay, no clear copy is left.
    const fs::path other = stage(audio(300000, 2));
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { store.sealClearMedia(other, recordingID, assetID); });
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{asset.filename(), other.filename()}));
    EXPECT_EQ(files::readFile(asset), sealed);

    // An asset that no longer opens: the clear file stays.
    Bytes damaged = sealed;
    damaged.back() ^= 1;
    fs::remove(asset);
    writeFile(asset, damaged);
    EXPECT_THROW(store.sealClearMedia(other, recordingID, assetID), CryptoError);
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{asset.filename(), other.filename()}));
}

TEST_F(MediaAssetsTest, ASealCanKeepItsClearBytesAsAWorkingCopy) {
    const Bytes clear = audio((1 << 20) + 5, 6);
    const RecordingStore::MediaDigest expected{hexString(Sha256::hash(clear)), std::int64_t(clear.size())};
    const fs::path transport = store.workingFileURL(recordingID, Uuid::random(), "m4a", "transport");
    writeFile(transport, clear);
    RecordingStore::MediaDigest sealed;
    const fs::path copy = store.sealClearMediaKeepingCopy(transport, recordingID, assetID, sealed);
    EXPECT_EQ(sealed, expected);
    EXPECT_EQ(copy.parent_path(), folder);
    EXPECT_TRUE(copy.filename().string().starts_with("clear-") && copy.extension() == ".m4a") << copy;
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{asset.filename(), copy.filename()}));
    EXPECT_EQ(files::readFile(copy), clear);
    RecordingStore::MediaDigest opened;
    store.removeWorkingFiles(store.openClearCopy(recordingID, assetID, "m4a", &opened));
    EXPECT_EQ(opened, expected);
    store.removeWorkingFiles(copy);

    // The same audio again under the sealed id (a seal interrupted before the move) is kept too;
    // other audio is refused and stays under its own name.
    const fs::path again = stage(clear);
    const fs::path kept = store.sealClearMediaKeepingCopy(again, recordingID, assetID, sealed);
    EXPECT_EQ(sealed, expected);
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{asset.filename(), kept.filename()}));
    store.removeWorkingFiles(kept);
    const fs::path other = stage(audio(5000, 7));
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { store.sealClearMediaKeepingCopy(other, recordingID, assetID, sealed); });
    EXPECT_EQ(namesIn(folder), (std::set<std::string>{asset.filename(), other.filename()}));
    store.removeWorkingFiles(other);

    // Only a removable working file of the recording's own folder, and nothing happens otherwise.
    const Uuid fresh = Uuid::random();
    const fs::path otherFolder = store.workingFileURL(Uuid::random(), assetID, "caf", "stage").parent_path();
    for (const fs::path& path :
         {folder / "capture-a.caf", folder / "transport-a.wav", otherFolder / "stage-a.caf",
          dir / "root" / "stage-a.caf", dir / "stage-a.caf"}) {
        writeFile(path, clear);
        expectRecordingError(RecordingError::Code::unsafePath,
                             [&] { store.sealClearMediaKeepingCopy(path, recordingID, fresh, sealed); });
        EXPECT_EQ(files::readFile(path), clear) << path;
        fs::remove(path);
    }
    EXPECT_EQ(namesIn(folder), std::set<std::string>{asset.filename()});
}

TEST_F(MediaAssetsTest, FailuresLeaveNoClearFiles) {
    EXPECT_THROW(store.sealClearMedia(folder / "stage-missing.caf", recordingID, assetID),
                 fs::filesystem_error);
    EXPECT_TRUE(fs::is_empty(folder));

    expectRecordingError(RecordingError::Code::unsafePath,
                         [&] { store.openClearCopy(recordingID, assetID, "wav"); });
    EXPECT_THROW(store.openClearCopy(recordingID, assetID, "m4a"), fs::filesystem_error); // no asset
    EXPECT_TRUE(fs::is_empty(folder));

    // An asset moved into another recording's folder does not open there.
    store.sealClearMedia(stage(audio(5000, 4)), recordingID, assetID);
    const Uuid otherRecording = Uuid::random();
    const fs::path otherFolder = store.workingFileURL(otherRecording, assetID, "caf", "stage").parent_path();
    fs::copy_file(asset, otherFolder / asset.filename());
    EXPECT_THROW(store.openClearCopy(otherRecording, assetID, "m4a"), CryptoError);
    EXPECT_EQ(namesIn(otherFolder), std::set<std::string>{asset.filename()});
}

TEST_F(MediaAssetsTest, OnlyWorkingFilesOfARecordingFolderAreRemoved) {
    for (const char* name : {"stage-a.m4a", "clear-b.caf", "transport-c.m4a"}) {
        writeFile(folder / name, viewOf("x"));
        store.removeWorkingFiles(folder / name);
        EXPECT_FALSE(fs::exists(folder / name)) << name;
    }

    fs::create_directories(dir / "root" / "nested" / "deeper");
    fs::create_directories(dir / "elsewhere" / "A");
    const std::vector<fs::path> refused = {
        folder / "checkpoint-a.caf",
        folder / "capture-a.caf",
        folder / "live-00000000000000000000-a.caf",
        folder / "manifest.nuvel",
        folder / asset.filename(),
        folder / "Clear-a.caf",
        dir / "root" / "clear-a.caf",                       // directly under the root
        dir / "root" / "nested" / "deeper" / "clear-a.caf", // two folders deep
        dir / "elsewhere" / "A" / "clear-a.caf",            // another tree
        folder / ".." / ".." / "clear-a.caf",               // resolves to beside the root
        dir / "root" / "nested" / ".." / "clear-a.caf",
        "clear-a.caf",
    };
    for (const fs::path& path : refused) {
        if (!fs::exists(path))
            writeFile(path, viewOf("keep"));
        expectRecordingError(RecordingError::Code::unsafePath, [&] { store.removeWorkingFiles(path); });
        EXPECT_TRUE(fs::exists(path)) << path;
        if (path.is_relative())
            fs::remove(path);
    }

    // Paths that resolve into a recording folder are accepted.
    writeFile(folder / "clear-d.caf", viewOf("x"));
    store.removeWorkingFiles(dir / "root" / "nested" / ".." / folder.filename() / "." / "clear-d.caf");
    EXPECT_FALSE(fs::exists(folder / "clear-d.caf"));

    // A root given with a trailing separator and "." parts is the same root.
    RecordingStore spelled(dir / "." / "root" / "", key);
    writeFile(folder / "clear-e.caf", viewOf("x"));
    spelled.removeWorkingFiles(folder / "clear-e.caf");
    EXPECT_FALSE(fs::exists(folder / "clear-e.caf"));
}

TEST(Sha256OfFile, DigestsInLowerCaseHexadecimal) {
    test::TempDir dir("digest");
    writeFile(dir / "empty", {});
    EXPECT_EQ(sha256OfFile(dir / "empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const Bytes big = audio(3 * (1 << 20) + 5, 9);
    writeFile(dir / "big", big);
    EXPECT_EQ(sha256OfFile(dir / "big"), hexString(Sha256::hash(big)));
    EXPECT_THROW(sha256OfFile(dir / "missing"), fs::filesystem_error);
}

} // namespace
} // namespace nuvel
