#include "NuvelKit/capture/MediaAssembly.hpp"
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/TempDir.hpp"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::expectAuthenticationFailure;
using test::expectRecordingError;
using test::namesIn;

const Uuid recordingID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
const Uuid otherID = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid fileID = *Uuid::parse("abcdefab-cdef-4abc-8def-abcdefabcdef");

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

LocalRecording recording(const Uuid& id = recordingID) {
    LocalRecording r =
        LocalRecording::make("acct-1", std::string("ws-1"), " Weekly ", true, Date{700000000.5}, id);
    r.segments = {RecordingSegment{otherID, 5.0, Date{700000001}, "caf", 0, "live"}};
    r.scratchpad = "from the manifest";
    r.bookmarks = {Bookmark{otherID, 1200, Date{700000002}, "manifest"}};
    r.notepad = std::vector<NotepadLine>{{"nmanifest1", "kept", 10}};
    return r;
}

class RecordingStoreTest : public testing::Test {
protected:
    test::TempDir dir{"store"};
    SymmetricKey key = SymmetricKey::random();
    RecordingStore store{dir / "production", key};

    fs::path folder(const Uuid& id = recordingID) const { return dir / "production" / id.uppercase(); }
    fs::path manifest(const Uuid& id = recordingID) const { return folder(id) / "manifest.nuvel"; }

    // Writes a manifest as the store would, but from any JSON and for any authenticated data.
    void plantManifest(const Uuid& folderID, const std::string& json, const std::string& aad) {
        fs::create_directories(folder(folderID));
        files::atomicWrite(manifest(folderID), aesgcm::seal(key, viewOf(json), viewOf(aad)));
    }
};

TEST_F(RecordingStoreTest, WorkingFileNamesAreCheckedBeforeAnythingIsMade) {
    fs::path url = store.workingFileURL(recordingID, fileID, "m4a", "transport");
    EXPECT_EQ(url, folder() / "transport-ABCDEFAB-CDEF-4ABC-8DEF-ABCDEFABCDEF.m4a");
    EXPECT_TRUE(fs::is_directory(folder()));
    EXPECT_FALSE(fs::exists(url));
    for (const char* kind : {"stage", "clear", "capture", "checkpoint"})
        EXPECT_EQ(store.workingFileURL(recordingID, fileID, "caf", kind).filename().string(),
                  std::string(kind) + "-ABCDEFAB-CDEF-4ABC-8DEF-ABCDEFABCDEF.caf");

    for (auto [extension, kind] : {std::pair{"m4a", "Clear"},
                                   {"m4a", "cipher"},
                                   {"m4a", "live"},
                                   {"wav", "clear"},
                                   {"M4A", "clear"},
                                   {"m4a/..", "clear"},
                                   {"", "clear"}})
        expectRecordingError(RecordingError::Code::unsafePath,
                             [&] { store.workingFileURL(otherID, fileID, extension, kind); });
    EXPECT_FALSE(fs::exists(folder(otherID)));
}

TEST_F(RecordingStoreTest, ManifestIsTheBareSealedJsonUnderItsRecordingID) {
    const LocalRecording r = recording();
    store.saveManifest(r);
    const Bytes first = files::readFile(manifest());
    EXPECT_EQ(stringOf(aesgcm::open(key, first, viewOf("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"))),
              r.encoded());
    EXPECT_EQ(store.loadRecording(recordingID), r);

    // A fresh nonce for every save; the older file still opens to the same JSON.
    store.saveManifest(r);
    const Bytes second = files::readFile(manifest());
    EXPECT_NE(first, second);
    EXPECT_EQ(aesgcm::open(key, second, viewOf(recordingID.uppercase())),
              aesgcm::open(key, first, viewOf(recordingID.uppercase())));
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"manifest.nuvel"}); // no temporary files stay

    // Version 2 is refused on saving, and the old manifest stays.
    LocalRecording future = r;
    future.version = 2;
    expectRecordingError(RecordingError::Code::invalidManifest, [&] { store.saveManifest(future); });
    EXPECT_EQ(files::readFile(manifest()), second);

    // Another key opens nothing.
    RecordingStore stranger(dir / "production", SymmetricKey::random());
    expectAuthenticationFailure([&] { stranger.loadRecording(recordingID); });
}

TEST_F(RecordingStoreTest, LoadChecksTheManifestAfterOpeningIt) {
    const std::string aad = recordingID.uppercase();
    LocalRecording r = recording();

    LocalRecording elsewhere = recording(otherID);
    plantManifest(recordingID, elsewhere.encoded(), aad); // sealed for this folder, but names another id
    expectRecordingError(RecordingError::Code::invalidManifest, [&] { store.loadRecording(recordingID); });

    LocalRecording future = r;
    future.version = 2;
    plantManifest(recordingID, future.encoded(), aad);
    expectRecordingError(RecordingError::Code::invalidManifest, [&] { store.loadRecording(recordingID); });

    for (double bad : {0.0, -0.0, -1.0}) {
        r.segments[0].duration = bad;
        store.saveManifest(r); // saving checks only the version
        const Bytes stored = files::readFile(manifest());
        expectRecordingError(RecordingError::Code::invalidManifest,
                             [&] { store.loadRecording(recordingID); });
        EXPECT_EQ(files::readFile(manifest()), stored); // nothing changed on disk
    }

    plantManifest(recordingID, "{\"version\":1}", aad);
    EXPECT_THROW(store.loadRecording(recordingID), json::JsonError);
    files::atomicWrite(manifest(), Bytes(27, 0));
    try {
        store.loadRecording(recordingID);
        ADD_FAILURE() << "opened";
    } catch (const CryptoError& e) {
        EXPECT_EQ(e.code(), CryptoError::Code::incorrectParameterSize);
    }
}

// Looking up or touching a recording the store does not hold (never made, or removed) fails as
// not found and makes no folder: an empty one would come back from every recovery as unreadable.
TEST_F(RecordingStoreTest, UnknownRecordingsFailAsNotFoundAndMakeNothing) {
    MediaAssembly assembly(
        [](const fs::path&) { return std::optional<std::int64_t>(std::int64_t(1) << 40); });
    LocalRecording removed = recording(otherID);
    removed.segments = {};
    store.saveManifest(removed);
    store.deleteRecording(otherID, "acct-1");
    removed.segments = recording().segments;

    const std::pair<const char*, std::function<void(const Uuid&)>> lookups[] = {
        {"load", [&](const Uuid& id) { store.loadRecording(id); }},
        {"delete", [&](const Uuid& id) { store.deleteRecording(id, "acct-1"); }},
        {"capture state", [&](const Uuid& id) { store.setCaptureState(CaptureState::saved, id); }},
        {"save keeping annotations",
         [&](const Uuid& id) {
             LocalRecording r = removed;
             r.id = id;
             store.saveManifestKeepingAnnotations(r);
         }},
        {"timeline", [&](const Uuid& id) { store.setSourceTimeline(CaptureTimeline{}, id); }},
        {"finish", [&](const Uuid& id) { store.finishLiveSegment(id); }},
        {"folder", [&](const Uuid& id) { store.recordingDirectory(id); }},
        {"clear copy", [&](const Uuid& id) { store.openClearCopy(id, fileID, "m4a"); }},
        {"assemble",
         [&](const Uuid& id) {
             LocalRecording r = removed;
             r.id = id;
             assembly.assemble(r, store);
         }},
    };
    for (const Uuid& id : {otherID, fileID}) { // removed, never made
        for (const auto& [what, lookup] : lookups) {
            try {
                lookup(id);
                ADD_FAILURE() << what << " succeeded";
            } catch (const fs::filesystem_error& e) {
                EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory) << what;
                if (std::string_view(what) == "load") {
                    EXPECT_EQ(e.path1().filename(), "manifest.nuvel");
                }
            }
            EXPECT_TRUE(fs::is_empty(dir / "production")) << what;
        }
    }
}

TEST_F(RecordingStoreTest, DocumentsMovedToAnotherRecordingDoNotOpen) {
    store.saveManifest(recording(recordingID));
    store.saveManifest(recording(otherID));
    store.saveAnnotations(recordingID, {"mine", {}, std::nullopt});

    fs::copy_file(manifest(recordingID), manifest(otherID), fs::copy_options::overwrite_existing);
    expectAuthenticationFailure([&] { store.loadRecording(otherID); });

    store.saveManifest(recording(otherID));
    fs::copy_file(folder(recordingID) / "annotations.nuvel", folder(otherID) / "annotations.nuvel");
    expectAuthenticationFailure([&] { store.loadRecording(otherID); });

    // The annotations are sealed apart from the manifest: one cannot stand in for the other.
    fs::copy_file(folder(recordingID) / "annotations.nuvel", manifest(recordingID),
                  fs::copy_options::overwrite_existing);
    expectAuthenticationFailure([&] { store.loadRecording(recordingID); });
}

TEST_F(RecordingStoreTest, AnnotationsOverlayTheManifest) {
    const LocalRecording r = recording();
    store.saveManifest(r);
    const Bookmark mark{fileID, 99, Date{700000050}, "annotated"};

    // Without a notepad the manifest's lines stay; scratchpad and bookmarks are always replaced.
    store.saveAnnotations(recordingID, {"from the annotations", {mark}, std::nullopt});
    LocalRecording loaded = store.loadRecording(recordingID);
    EXPECT_EQ(loaded.scratchpad, "from the annotations");
    EXPECT_EQ(loaded.bookmarks, std::vector<Bookmark>{mark});
    EXPECT_EQ(loaded.notepad, r.notepad);
    store.saveAnnotations(recordingID, {"", {}, std::nullopt});
    loaded = store.loadRecording(recordingID);
    EXPECT_EQ(loaded.scratchpad, "");
    EXPECT_TRUE(loaded.bookmarks.empty());

    // An empty list replaces too.
    store.saveAnnotations(recordingID, {"x", {}, std::vector<NotepadLine>{}});
    EXPECT_EQ(store.loadRecording(recordingID).notepad, std::vector<NotepadLine>{});
    const std::vector<NotepadLine> lines{{"nannotated", "new", std::nullopt}};
    store.saveAnnotations(recordingID, {"x", {}, lines});
    EXPECT_EQ(store.loadRecording(recordingID).notepad, lines);

    // The overlay is a view: the manifest on disk is untouched.
    const std::string aad = recordingID.uppercase();
    EXPECT_EQ(LocalRecording::decode(stringOf(aesgcm::open(key, files::readFile(manifest()), viewOf(aad)))),
              r);

    // The JSON inside, and a null notepad read as absent.
    const fs::path annotations = folder() / "annotations.nuvel";
    store.saveAnnotations(recordingID, {"s", {mark}, std::nullopt});
    const std::string json =
        stringOf(aesgcm::open(key, files::readFile(annotations), viewOf(aad + "/annotations")));
    EXPECT_EQ(json, R"({"scratchpad":"s","bookmarks":[)" + json::dump(mark.toJson()) + "]}");
    files::atomicWrite(annotations,
                       aesgcm::seal(key, viewOf(R"({"scratchpad":"n","bookmarks":[],"notepad":null,"x":1})"),
                                    viewOf(aad + "/annotations")));
    loaded = store.loadRecording(recordingID);
    EXPECT_EQ(loaded.scratchpad, "n");
    EXPECT_EQ(loaded.notepad, r.notepad);

    // Unreadable annotations fail the whole load.
    files::atomicWrite(annotations,
                       aesgcm::seal(key, viewOf(R"({"scratchpad":"n"})"), viewOf(aad + "/annotations")));
    EXPECT_THROW(store.loadRecording(recordingID), json::JsonError);
    Bytes damaged = aesgcm::seal(key, viewOf(json), viewOf(aad + "/annotations"));
    damaged[20] ^= 1;
    files::atomicWrite(annotations, damaged);
    expectAuthenticationFailure([&] { store.loadRecording(recordingID); });

    // Annotations need no manifest.
    store.saveAnnotations(otherID, {"orphan", {}, std::nullopt});
    EXPECT_EQ(namesIn(folder(otherID)), std::set<std::string>{"annotations.nuvel"});
}

TEST(RecordingStorePermissions, OwnerOnlyEvenWithAPermissiveUmask) {
    test::TempDir dir("store-umask");
    const mode_t previous = ::umask(0);
    {
        RecordingStore store(dir / "data" / "Nuvel" / "production", SymmetricKey::random());
        EXPECT_EQ(modeOf(dir / "data"), 0700u);
        EXPECT_EQ(modeOf(dir / "data" / "Nuvel"), 0700u);
        EXPECT_EQ(modeOf(store.root()), 0700u);

        LocalRecording r = recording();
        store.saveManifest(r);
        store.saveManifest(r);
        store.saveAnnotations(recordingID, {"s", {}, std::nullopt});
        const fs::path stage = store.workingFileURL(recordingID, fileID, "caf", "stage");
        files::createExclusive(stage).writeAll(viewOf("clear audio"), stage);
        store.sealClearMedia(stage, recordingID, fileID);
        const fs::path copy = store.openClearCopy(recordingID, fileID, "caf");
        EXPECT_EQ(files::readFile(copy), bytesOf("clear audio"));

        const fs::path folder = store.recordingDirectory(recordingID);
        EXPECT_EQ(modeOf(folder), 0700u);
        EXPECT_EQ(namesIn(folder).size(), 4u); // manifest, annotations, asset, clear copy
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_EQ(modeOf(entry.path()), 0600u) << entry.path();
    }
    ::umask(previous);
}

} // namespace
} // namespace nuvel
