// Audio that stays on this machine, over a real encrypted workspace store and the real media
// assembler: importing a file as a saved recording, exporting a recording's audio, playing it
// with the fake player, and removing a local copy. Files are made and checked with ffmpeg and
// ffprobe.
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/model/AppModelHarness.hpp"

#include <fstream>
#include <sstream>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

const std::string savedText = "Saved on this Mac. Send to Nuvel when you are ready.";
const std::string undecodableText = "This file could not be decoded. Try an audio export such as M4A or WAV.";
const std::string exportedText = "Audio exported. Private notes were not included.";
const std::string exportFailedText = "Audio could not be exported. Your saved segments are still on this Mac.";
const std::string playFailedText = "Audio could not be played. Your saved segments are still on this Mac.";
const std::string removedText = "Local copy removed. This does not delete a meeting on Nuvel.";
const std::string removeFailedText = "The local copy could not be removed. Please try again.";

fs::path folderOf(const WorkspaceStore& store, const Uuid& id) { return store.root() / id.uppercase(); }

// Clear working files ("stage-", "clear-", "transport-") anywhere under `root`.
std::vector<std::string> workingFilesUnder(const fs::path& root) {
    std::vector<std::string> found;
    if (!fs::exists(root))
        return found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = entry.path().filename().string();
        for (const char* kind : {"stage-", "clear-", "transport-"})
            if (name.rfind(kind, 0) == 0)
                found.push_back(entry.path().string());
    }
    return found;
}

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A recording queued to be sent in ten minutes, added at the end of the list: whatever task
// ends next should arm the upload-queue wake-up for it.
void addQueuedLater(Harness& h) {
    auto list = h.model->recordings();
    LocalRecording queued = sampleRecording("Queued");
    queued.capture = CaptureState::saved;
    queued.uploadQueued = true;
    queued.retryAt = Date{h.wallClockAtStart + h.queue.now() + 600};
    list.push_back(queued);
    AppModelTestAccess::setRecordings(*h.model, list);
}

// The wake-up task as it is now, to tell a new one from it later.
std::shared_ptr<TaskState> wakeupNow(Harness& h) { return AppModelTestAccess::queueWakeup(*h.model).state(); }

void expectWakeupArmed(Harness& h, const std::shared_ptr<TaskState>& before, const std::string& what) {
    const TaskHandle& wakeup = AppModelTestAccess::queueWakeup(*h.model);
    EXPECT_TRUE(wakeup.isValid() && !wakeup.isFinished() && !wakeup.isCancelled() && wakeup.state() != before)
        << what << ": the upload-queue wake-up was not scheduled again";
}

// Runs held executor jobs one at a time, draining the main queue after each, until none is left.
void runHeldJobs(Harness& h) {
    h.queue.drain();
    while (!h.executor.held.empty()) {
        h.executor.runNewest();
        h.queue.drain();
    }
}

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { store = h.signedInWithRealStore({}, sampleContract()); }

    Harness h;
    std::shared_ptr<WorkspaceStore> store;
    TempDir files{"import-files"};
};

using ExportTest = ImportTest;
using PlaybackTest = ImportTest;

} // namespace

// ---- Import ----

TEST_F(ImportTest, AWavAndAnM4aBecomeSavedRecordingsFirstInTheListWithTheirSealedAudio) {
    makeWithFfmpeg("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -c:a pcm_s16le",
                   files / "tone.wav");
    makeWithFfmpeg("-f lavfi -i sine=frequency=660:sample_rate=48000:duration=2 -c:a aac", files / "tone.m4a");

    std::vector<Uuid> imported;
    for (const char* name : {"tone.wav", "tone.m4a"}) {
        SCOPED_TRACE(name);
        h.changes = 0;
        h.model->importAudio(files / name, true);
        EXPECT_TRUE(h.model->busy());
        h.queue.drain();

        EXPECT_EQ(h.model->message(), savedText);
        EXPECT_FALSE(h.model->busy());
        EXPECT_GE(h.changes, 2) << "at the start and at the end";
        ASSERT_EQ(h.model->recordings().size(), imported.size() + 1);
        const LocalRecording& recording = h.model->recordings().front();
        EXPECT_EQ(h.model->selectedID(), recording.id);
        EXPECT_EQ(recording.title, "");
        EXPECT_TRUE(recording.aiNotes);
        EXPECT_EQ(recording.accountID, "acc_1");
        EXPECT_EQ(recording.workspaceID, std::optional<std::string>("ws_team"));
        EXPECT_EQ(recording.capture, CaptureState::saved);
        EXPECT_EQ(recording.transfer, TransferState::local);
        ASSERT_EQ(recording.segments.size(), 1u);
        const RecordingSegment& segment = recording.segments[0];
        EXPECT_EQ(segment.fileExtension, std::optional<std::string>("m4a"));
        EXPECT_EQ(segment.captureFileKind, std::nullopt);
        EXPECT_EQ(segment.startedAt, recording.createdAt);
        EXPECT_NEAR(segment.duration, probedDuration(files / name), 0.1);

        // Only the sealed asset is on disk: no clear copy of the user's audio stays behind.
        fs::path folder = folderOf(*store, recording.id);
        EXPECT_TRUE(fs::exists(folder / (segment.id.uppercase() + ".nuvel")));
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});

        // The sealed asset decrypts to the converted audio.
        fs::path clear = store->openClearCopy(recording.id, segment.id, "m4a");
        EXPECT_NEAR(probedDuration(clear), segment.duration, 0.05);
        EXPECT_EQ(probe(clear)["codec_name"], "aac");
        store->removeWorkingFiles(clear);

        EXPECT_EQ(store->loadRecording(recording.id), recording);
        imported.insert(imported.begin(), recording.id);
    }
    EXPECT_EQ(h.model->recordings()[1].id, imported[1]) << "the earlier import moves down";

    // A fresh scan of the store finds both as they were saved.
    RecoveryReport report = store->recover("acc_1");
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(report.recordings.size(), 2u);
    for (const LocalRecording& listed : h.model->recordings()) {
        auto found = std::find_if(report.recordings.begin(), report.recordings.end(),
                                  [&](const LocalRecording& r) { return r.id == listed.id; });
        ASSERT_NE(found, report.recordings.end());
        EXPECT_EQ(found->segments, listed.segments);
        EXPECT_EQ(found->capture, CaptureState::saved);
    }
}

TEST_F(ImportTest, AFileThatCannotBeDecodedAddsNothingAndLeavesNoClearFile) {
    writeBytes(files / "noise.m4a", garbage(64 * 1024));
    writeBytes(files / "empty.wav", "");
    const std::vector<fs::path> inputs = {files / "noise.m4a", files / "empty.wav", files / "missing.wav"};
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        h.model->importAudio(input, false);
        h.queue.drain();
        EXPECT_EQ(h.model->message(), undecodableText);
        EXPECT_FALSE(h.model->busy());
        EXPECT_TRUE(h.model->recordings().empty());
        EXPECT_EQ(h.model->selectedID(), std::nullopt);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
    }
}

TEST_F(ImportTest, AFailureAfterTheConversionRemovesTheStagedClearCopy) {
    makeWithFfmpeg("-f lavfi -i sine=frequency=440:duration=2 -c:a pcm_s16le", files / "tone.wav");
    makeWithFfmpeg("-f lavfi -i sine=frequency=880:duration=1 -c:a aac", files / "other.m4a");

    // Step through the store and media work; once the file is converted, put a different sealed
    // asset under the segment's name so that sealing the staged copy is refused.
    h.executor.holding = true;
    h.model->importAudio(files / "tone.wav", false);
    h.queue.drain();
    fs::path staged;
    for (int job = 0; job < 3; ++job) { // first manifest, staging path, conversion
        ASSERT_EQ(h.executor.held.size(), 1u) << "job " << job;
        h.executor.runNewest();
        h.queue.drain();
    }
    std::vector<std::string> working = workingFilesUnder(store->root());
    ASSERT_EQ(working.size(), 1u);
    staged = working[0];
    std::string name = staged.filename().string();
    ASSERT_EQ(name.rfind("stage-", 0), 0u) << name;
    const Uuid recordingID = *Uuid::parse(staged.parent_path().filename().string());
    const Uuid segmentID = *Uuid::parse(name.substr(6, 36));
    fs::path decoy = store->workingFileURL(recordingID, Uuid::random(), "m4a", "stage");
    fs::copy_file(files / "other.m4a", decoy);
    store->sealClearMedia(decoy, recordingID, segmentID);

    runHeldJobs(h);
    h.executor.holding = false;
    EXPECT_EQ(h.model->message(), undecodableText);
    EXPECT_FALSE(h.model->busy());
    EXPECT_TRUE(h.model->recordings().empty());
    EXPECT_FALSE(fs::exists(staged)) << "the clear copy of the user's file outlived the failed import";
    EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
}

// ---- Export ----

TEST_F(ExportTest, ExportWritesAValidM4aToANewPathAndOverAnExistingFile) {
    LocalRecording recording = Harness::savedRecording(*store, 7, "Review");
    AppModelTestAccess::setRecordings(*h.model, {recording});
    AppModelTestAccess::setSelectedID(*h.model, recording.id);

    const fs::path fresh = files / "fresh.m4a";
    const fs::path existing = files / "existing.m4a";
    writeBytes(existing, "the old export");
    for (const fs::path& destination : {fresh, existing}) {
        SCOPED_TRACE(destination.filename().string());
        addQueuedLater(h);
        auto wakeup = wakeupNow(h);
        h.model->exportAudio(destination);
        EXPECT_TRUE(h.model->busy());
        h.queue.drain();

        EXPECT_EQ(h.model->message(), exportedText);
        EXPECT_FALSE(h.model->busy());
        expectWakeupArmed(h, wakeup, "export");
        auto fields = probe(destination);
        EXPECT_EQ(fields["codec_name"], "aac");
        EXPECT_NEAR(probedDuration(destination), 7.0, 0.2);
        EXPECT_EQ(modeOf(destination), 0600u);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
    }
    EXPECT_NE(contentsOf(existing), "the old export");
    // Nothing but the two exports in the destination folder: no temporary file left over.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(files.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"existing.m4a", "fresh.m4a"}));
    EXPECT_EQ(store->loadRecording(recording.id), recording) << "the recording is not changed";
}

TEST_F(ExportTest, AnImpossibleDestinationOrARecordingWithoutAudioFailsAndLeavesNoWorkingFile) {
    LocalRecording withAudio = Harness::savedRecording(*store, 3, "With audio");
    LocalRecording silent = sampleRecording("No audio");
    silent.capture = CaptureState::saved;
    store->saveManifest(silent);

    struct Case {
        std::string what;
        LocalRecording recording;
        fs::path destination;
    };
    const std::vector<Case> cases = {
        {"a folder that does not exist", withAudio, files / "no such folder" / "out.m4a"},
        {"a destination that is a folder", withAudio, files.path()},
        {"a recording without audio", silent, files / "silent.m4a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppModelTestAccess::setRecordings(*h.model, {c.recording});
        AppModelTestAccess::setSelectedID(*h.model, c.recording.id);
        addQueuedLater(h);
        auto wakeup = wakeupNow(h);
        h.model->exportAudio(c.destination);
        h.queue.drain();
        EXPECT_EQ(h.model->message(), exportFailedText);
        EXPECT_FALSE(h.model->busy());
        expectWakeupArmed(h, wakeup, c.what);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
        EXPECT_EQ(store->loadRecording(c.recording.id), c.recording);
    }
    EXPECT_FALSE(fs::exists(files / "silent.m4a"));
    EXPECT_TRUE(fs::is_directory(files.path()));
}

// ---- Playback ----

TEST_F(PlaybackTest, PlaybackStartsAtTheBookmarkOrAtTheBeginningFromAClearM4a) {
    LocalRecording recording = Harness::savedRecording(*store, 20, "Long");
    recording.bookmarks.push_back(Bookmark::make(12500, "", Date{700000000}));
    AppModelTestAccess::setRecordings(*h.model, {recording});
    AppModelTestAccess::setSelectedID(*h.model, recording.id);
    addQueuedLater(h);

    auto wakeup = wakeupNow(h);
    h.model->togglePlayback(double(recording.bookmarks[0].mediaMilliseconds) / 1000);
    EXPECT_TRUE(h.model->busy());
    h.queue.drain();
    EXPECT_FALSE(h.model->busy());
    EXPECT_EQ(h.model->message(), "");
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"seek 12.500000", "play"}));
    EXPECT_EQ(h.model->playbackID(), recording.id);
    EXPECT_TRUE(AppModelTestAccess::hasPlayer(*h.model));
    expectWakeupArmed(h, wakeup, "playback");

    // The player got one clear M4A of the whole recording, in the recording's own folder.
    ASSERT_EQ(h.playerFiles.size(), 1u);
    const fs::path played = h.playerFiles[0];
    EXPECT_EQ(played.parent_path(), folderOf(*store, recording.id));
    EXPECT_EQ(probe(played)["codec_name"], "aac");
    EXPECT_NEAR(probedDuration(played), 20.0, 0.2);

    // Stopping removes the clear file; a second start without a time begins at zero.
    h.model->stopPlayback();
    h.queue.drain();
    EXPECT_FALSE(fs::exists(played));
    h.playerLog.clear();
    h.model->togglePlayback();
    h.queue.drain();
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"seek 0.000000", "play"}));
    EXPECT_EQ(h.model->playbackID(), recording.id);
    ASSERT_EQ(h.playerFiles.size(), 2u);
    EXPECT_NE(h.playerFiles[1], played) << "a new file is composed after a stop";
    EXPECT_TRUE(fs::exists(h.playerFiles[1]));
}

TEST_F(PlaybackTest, AFailedStartSaysSoAndRemovesTheClearFile) {
    LocalRecording recording = Harness::savedRecording(*store, 3, "Short");
    LocalRecording silent = sampleRecording("No audio");
    silent.capture = CaptureState::saved;
    store->saveManifest(silent);

    struct Case {
        std::string what;
        LocalRecording recording;
        bool failPlayer, refuses;
        std::size_t playersMade;
    };
    const std::vector<Case> cases = {
        {"the player cannot be made", recording, true, false, 1},
        {"the player refuses to play", recording, false, true, 1},
        {"no audio to compose", silent, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppModelTestAccess::setRecordings(*h.model, {c.recording});
        AppModelTestAccess::setSelectedID(*h.model, c.recording.id);
        addQueuedLater(h);
        h.failPlayer = c.failPlayer;
        h.playerRefusesToPlay = c.refuses;
        h.playerFiles.clear();
        auto wakeup = wakeupNow(h);
        h.model->togglePlayback(1.0);
        h.queue.drain();

        EXPECT_EQ(h.model->message(), playFailedText);
        EXPECT_FALSE(h.model->busy());
        EXPECT_EQ(h.model->playbackID(), std::nullopt);
        EXPECT_FALSE(AppModelTestAccess::hasPlayer(*h.model));
        expectWakeupArmed(h, wakeup, c.what);
        ASSERT_EQ(h.playerFiles.size(), c.playersMade);
        for (const fs::path& file : h.playerFiles)
            EXPECT_FALSE(fs::exists(file)) << "the clear working file stayed";
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
    }
}

TEST_F(PlaybackTest, PlayingASecondRecordingStopsTheFirstAndRemovesItsClearFile) {
    LocalRecording first = Harness::savedRecording(*store, 2, "First");
    LocalRecording second = Harness::savedRecording(*store, 3, "Second");
    AppModelTestAccess::setRecordings(*h.model, {first, second});
    AppModelTestAccess::setSelectedID(*h.model, first.id);

    h.model->togglePlayback();
    h.queue.drain();
    ASSERT_EQ(h.model->playbackID(), first.id);
    ASSERT_EQ(h.playerFiles.size(), 1u);

    h.model->select(second.id);
    h.model->togglePlayback();
    h.queue.drain();
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"seek 0.000000", "play", "stop", "seek 0.000000", "play"}));
    EXPECT_EQ(h.model->playbackID(), second.id);
    ASSERT_EQ(h.playerFiles.size(), 2u);
    EXPECT_FALSE(fs::exists(h.playerFiles[0]));
    EXPECT_EQ(h.playerFiles[1].parent_path(), folderOf(*store, second.id));
    EXPECT_NEAR(probedDuration(h.playerFiles[1]), 3.0, 0.2);
    EXPECT_EQ(workingFilesUnder(folderOf(*store, first.id)), std::vector<std::string>{});
}

// ---- Removing a local copy ----

TEST(AppModelLocalCopy, RemovingOneOfThreeSelectsTheFirstOfTheOthersAndDeletesItsFolder) {
    Harness h;
    std::vector<LocalRecording> list = {sampleRecording("A"), sampleRecording("B"), sampleRecording("C")};
    auto store = h.signedInWithRealStore(list);
    LocalRecording withAudio = Harness::savedRecording(*store, 2, "D");
    list.push_back(withAudio);
    AppModelTestAccess::setRecordings(*h.model, list);
    addQueuedLater(h);

    // Removing the one with audio while it plays: the folder goes with its sealed asset.
    AppModelTestAccess::setSelectedID(*h.model, withAudio.id);
    h.model->togglePlayback();
    h.queue.drain();
    ASSERT_EQ(h.model->playbackID(), withAudio.id);
    h.model->discardRecording();
    EXPECT_TRUE(h.model->busy());
    h.queue.drain();
    EXPECT_EQ(h.model->playbackID(), std::nullopt);
    EXPECT_FALSE(fs::exists(folderOf(*store, withAudio.id)));

    AppModelTestAccess::setSelectedID(*h.model, list[1].id);
    auto wakeup = wakeupNow(h);
    h.model->discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.model->message(), removedText);
    EXPECT_FALSE(h.model->busy());
    expectWakeupArmed(h, wakeup, "removal");
    ASSERT_EQ(h.model->recordings().size(), 3u);
    EXPECT_EQ(h.model->recordings()[0].id, list[0].id);
    EXPECT_EQ(h.model->recordings()[1].id, list[2].id);
    EXPECT_EQ(h.model->recordings()[2].title, "Queued");
    EXPECT_EQ(h.model->selectedID(), list[0].id);
    EXPECT_FALSE(fs::exists(folderOf(*store, list[1].id)));
    EXPECT_TRUE(fs::exists(folderOf(*store, list[0].id) / "manifest.nuvel"));
    EXPECT_TRUE(fs::exists(folderOf(*store, list[2].id) / "manifest.nuvel"));
}

TEST(AppModelLocalCopy, RemovingTheOnlyRecordingLeavesNoSelection) {
    Harness h;
    auto store = h.signedInWithRealStore({sampleRecording("Only")});
    const Uuid id = h.model->recordings()[0].id;
    h.model->discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.model->message(), removedText);
    EXPECT_TRUE(h.model->recordings().empty());
    EXPECT_EQ(h.model->selectedID(), std::nullopt);
    EXPECT_FALSE(h.model->busy());
    EXPECT_FALSE(fs::exists(folderOf(*store, id)));
}

TEST(AppModelLocalCopy, AnotherAccountsRecordingIsNotRemoved) {
    Harness h;
    LocalRecording mine = sampleRecording("Mine");
    LocalRecording theirs = sampleRecording("Theirs", "acc_2");
    auto store = h.signedInWithRealStore({mine, theirs});
    addQueuedLater(h);
    AppModelTestAccess::setSelectedID(*h.model, theirs.id);
    auto before = h.model->recordings();

    auto wakeup = wakeupNow(h);
    h.model->discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.model->message(), removeFailedText);
    EXPECT_FALSE(h.model->busy());
    expectWakeupArmed(h, wakeup, "failed removal");
    EXPECT_EQ(h.model->recordings(), before);
    EXPECT_EQ(h.model->selectedID(), theirs.id);
    EXPECT_TRUE(fs::exists(folderOf(*store, theirs.id) / "manifest.nuvel"));
}
