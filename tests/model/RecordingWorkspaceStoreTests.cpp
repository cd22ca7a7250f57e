// The workspace store over the encrypted recording store, on a temporary folder.
#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

using namespace nuvel;

TEST(RecordingWorkspaceStore, PassesManifestsAndAnnotationsThroughToTheSealedStore) {
    test::TempDir dir("workspace-store");
    SymmetricKey key = SymmetricKey::random();
    std::shared_ptr<WorkspaceStore> store = RecordingWorkspaceStore::open(dir / "personal", key);
    ASSERT_NE(store->recordingStore(), nullptr);
    EXPECT_EQ(store->root(), dir / "personal");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "personal"));

    LocalRecording recording =
        LocalRecording::make("acc_1", std::nullopt, "Plan", true, Date{700000000}, Uuid::random());
    store->saveManifest(recording);
    RecordingStore::Annotations annotations{"private",
                                            {Bookmark::make(1500, "", Date{700000001})},
                                            std::vector<NotepadLine>{{"nabc1", "shared", 1200}}};
    store->saveAnnotations(recording.id, annotations);

    // A second store over the same folder and key reads what the first wrote.
    RecordingWorkspaceStore reopened(dir / "personal", key);
    LocalRecording loaded = reopened.loadRecording(recording.id);
    EXPECT_EQ(loaded.title, "Plan");
    EXPECT_EQ(loaded.scratchpad, "private");
    ASSERT_EQ(loaded.bookmarks.size(), 1u);
    EXPECT_EQ(loaded.bookmarks[0].mediaMilliseconds, 1500);
    EXPECT_EQ(loaded.notepad, annotations.notepad);

    auto staged = store->workingFileURL(recording.id, Uuid::random(), "m4a", "stage");
    EXPECT_EQ(staged.parent_path(), dir / "personal" / recording.id.uppercase());
    EXPECT_THROW(store->removeWorkingFiles(dir / "personal" / recording.id.uppercase() / "manifest.nuvel"),
                 RecordingError);
    EXPECT_TRUE(std::filesystem::exists(dir / "personal" / recording.id.uppercase() / "manifest.nuvel"));
}

TEST(RecordingWorkspaceStore, RecoveryStateChangesAndDeletionReachTheStore) {
    test::TempDir dir("workspace-store");
    RecordingWorkspaceStore store(dir / "personal", SymmetricKey::random());
    LocalRecording mine =
        LocalRecording::make("acc_1", std::nullopt, "", false, Date{700000000}, Uuid::random());
    LocalRecording theirs =
        LocalRecording::make("acc_2", std::nullopt, "", false, Date{700000001}, Uuid::random());
    store.saveManifest(mine);
    store.saveManifest(theirs);

    // A recording still "recording" when the store opens was cut off.
    RecoveryReport report = store.recover("acc_1");
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].id, mine.id);
    EXPECT_EQ(report.recordings[0].capture, CaptureState::interrupted);
    EXPECT_EQ(report.unreadable, 0);

    EXPECT_EQ(store.setCaptureState(CaptureState::saved, mine.id).capture, CaptureState::saved);
    EXPECT_EQ(store.loadRecording(mine.id).capture, CaptureState::saved);
    EXPECT_THROW(store.deleteRecording(theirs.id, "acc_1"), RecordingError);
    store.deleteRecording(mine.id, "acc_1");
    EXPECT_THROW(store.loadRecording(mine.id), std::exception);
    EXPECT_EQ(store.loadRecording(theirs.id).accountID, "acc_2");
}
