// Audio that stays on this machine, over a real encrypted workspace store and the real media
// assembler: importing a file as a saved recording, exporting a recording's audio, playing it
// with the fake player, and removing a local copy. Files are made and checked with ffmpeg and
// ffprobe.
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/model/ModelHarness.hpp"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

const std::string savedText = "Saved on this Mac. Send to Nuvel when you are ready.";
const std::string undecodableText = "This file could not be decoded. Try an audio export such as M4A or WAV.";
const std::string exportedText = "Audio exported. Private notes were not included.";
const std::string exportFailedText =
    "Audio could not be exported. Your saved segments are still on this Mac.";
const std::string playFailedText = "Audio could not be played. Your saved segments are still on this Mac.";
const std::string removedText = "Local copy removed. This does not delete a meeting on Nuvel.";
const std::string removeFailedText = "The local copy could not be removed. Please try again.";

fs::path folderOf(const WorkspaceStore& store, const Uuid& id) {
    return store.root() / id.uppercase();
}

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

// A saved recording whose manifest names no audio at all.
LocalRecording savedSilentRecording(WorkspaceStore& store) {
    LocalRecording silent = sampleRecording("No audio");
    silent.capture = CaptureState::saved;
    store.saveManifest(silent);
    return silent;
}

// A recording queued to be sent in ten minutes, added at the end of the list: whatever task
// ends next should arm the upload-queue wake-up for it.
void addQueuedLater(PartsHarness& h) {
    auto& list = h.state().recordings;
    LocalRecording queued = sampleRecording("Queued", "acc_1", 100);
    queued.capture = CaptureState::saved;
    queued.uploadQueued = true;
    queued.retryAt = Date{h.wallClockAtStart + h.queue.now() + 600};
    list.push_back(queued);
}

// The wake-up task as it is now, to tell a new one from it later.
std::shared_ptr<TaskState> wakeupNow(PartsHarness& h) {
    return h.parts->upload.queueWakeup().state();
}

void expectWakeupArmed(PartsHarness& h, const std::shared_ptr<TaskState>& before, const std::string& what) {
    const TaskHandle& wakeup = h.parts->upload.queueWakeup();
    EXPECT_TRUE(wakeup.isValid() && !wakeup.isFinished() && !wakeup.isCancelled() && wakeup.state() != before)
        << what << ": the upload-queue wake-up was not scheduled again";
}

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override { store = h.signedInWithRealStore({}, sampleContract()); }

    PartsHarness h;
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
    makeWithFfmpeg("-f lavfi -i sine=frequency=660:sample_rate=48000:duration=2 -c:a aac",
                   files / "tone.m4a");

    std::vector<Uuid> imported;
    for (const char* name : {"tone.wav", "tone.m4a"}) {
        SCOPED_TRACE(name);
        h.changes = 0;
        h.parts->files.importAudio(files / name, true);
        EXPECT_TRUE(h.state().busy);
        h.queue.drain();

        EXPECT_EQ(h.state().message, savedText);
        EXPECT_FALSE(h.state().busy);
        EXPECT_GE(h.changes, 2) << "at the start and at the end";
        ASSERT_EQ(h.state().recordings.size(), imported.size() + 1);
        const LocalRecording& recording = h.state().recordings.front();
        EXPECT_EQ(h.state().selectedID, recording.id);
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
    EXPECT_EQ(h.state().recordings[1].id, imported[1]) << "the earlier import moves down";

    // A fresh scan of the store finds both as they were saved.
    RecoveryReport report = store->recover("acc_1");
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(report.recordings.size(), 2u);
    for (const LocalRecording& listed : h.state().recordings) {
        auto found = std::find_if(report.recordings.begin(), report.recordings.end(),
                                  [&](const LocalRecording& r) { return r.id == listed.id; });
        ASSERT_NE(found, report.recordings.end());
        EXPECT_EQ(found->segments, listed.segments);
        EXPECT_EQ(found->capture, CaptureState::saved);
    }
}

namespace {

// Media work that answers as a test says: conversion only.
class ScriptedMedia final : public MediaAssembler {
public:
    std::filesystem::path assemble(const LocalRecording&, WorkspaceStore&) override {
        throw RecordingError(RecordingError::Code::missingMedia);
    }
    FileDigest fileDigest(const std::filesystem::path&) override { return {}; }
    Bytes readPart(const std::filesystem::path&, std::int64_t, std::int64_t) override { return {}; }
    double convertImport(const std::filesystem::path&, const std::filesystem::path&) override {
        if (failConversion)
            throw RecordingError(RecordingError::Code::invalidTransport);
        return duration;
    }
    bool failConversion = false;
    double duration = 2;
};

// Recording folders (named by their UUID) under a store's root.
std::vector<std::string> recordingFolders(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(root))
        if (Uuid::parse(entry.path().filename().string()))
            found.push_back(entry.path().filename().string());
    return found;
}

} // namespace

TEST(ImportFailure, EveryFailedStepRemovesTheRecordingItHadSaved) {
    struct Case {
        std::string what;
        std::function<void(FakeStore&, ScriptedMedia&)> arrange;
        bool removesRecording;
        bool removesStagingFile;
    };
    const std::vector<Case> cases = {
        {"the first manifest", [](FakeStore& s, ScriptedMedia&) { s.failManifestSave = 1; }, false, false},
        {"the staging file", [](FakeStore& s, ScriptedMedia&) { s.stages = false; }, true, false},
        {"the conversion", [](FakeStore&, ScriptedMedia& m) { m.failConversion = true; }, true, false},
        {"the segment's duration", [](FakeStore&, ScriptedMedia& m) { m.duration = -1; }, true, false},
        {"the second manifest", [](FakeStore& s, ScriptedMedia&) { s.failManifestSave = 2; }, true, false},
        {"sealing", [](FakeStore& s, ScriptedMedia&) { s.failSeal = true; }, true, false},
        {"sealing, and then the removal",
         [](FakeStore& s, ScriptedMedia&) {
             s.failSeal = true;
             s.failDelete = true;
         },
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto media = std::make_shared<ScriptedMedia>();
        PartsHarness h([media](AppModelDependencies& d) { d.media = media; });
        auto store = h.signedInWith(0);
        store->stages = true;
        c.arrange(*store, *media);
        h.parts->files.importAudio("/tmp/meeting.wav", false);
        h.queue.drain();
        EXPECT_EQ(h.state().message, undecodableText);
        EXPECT_FALSE(h.state().busy);
        EXPECT_TRUE(h.state().recordings.empty());
        if (c.removesRecording) {
            ASSERT_FALSE(store->manifests.empty());
            EXPECT_EQ(store->deleted,
                      (std::vector<std::string>{store->manifests[0].id.uppercase() + " acc_1"}));
        } else {
            EXPECT_TRUE(store->deleted.empty());
        }
        EXPECT_EQ(store->removedFiles.size(), c.removesStagingFile ? 1u : 0u);
    }
}

TEST(ImportFailure, AFileThatCannotBeDecodedOrIsNotAPlainMediaFileLeavesNothingThatComesBackAfterARestart) {
    AppHarness h;
    TempDir files{"import-files"};
    auto store = h.signedInWithRealStore({}, sampleContract());
    // Another file of the user's that a hostile "recording" names, hoping to have it imported.
    makeWithFfmpeg("-f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame", files / "private.mp3");
    ASSERT_EQ(::mkfifo((files / "pipe.wav").c_str(), 0600), 0);
    fs::create_directory(files / "folder.wav");

    struct Row {
        std::string what;
        fs::path input;
        std::string contents; // written to `input` unless empty
        fs::path linkTo;      // `input` is made a symbolic link to it unless empty
    };
    const std::vector<Row> rows = {
        {"noise", files / "noise.m4a", garbage(64 * 1024), {}},
        {"an empty file", files / "empty.wav", "", {}},
        {"a missing file", files / "missing.wav", "", {}},
        {"a playlist naming another file",
         files / "meeting.wav",
         "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nprivate.mp3\n#EXT-X-ENDLIST\n",
         {}},
        {"a concatenation list",
         files / "list.wav",
         "ffconcat version 1.0\nfile private.mp3\nduration 2\n",
         {}},
        {"a named pipe", files / "pipe.wav", "", {}},
        {"a device", "/dev/zero", "", {}},
        {"a folder", files / "folder.wav", "", {}},
        {"a link to a device", files / "zero.wav", "", "/dev/zero"},
        {"a link to a named pipe", files / "to-pipe.wav", "", files / "pipe.wav"},
        {"a link to a folder", files / "to-folder.wav", "", files / "folder.wav"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.contents.empty() || row.what == "an empty file")
            writeBytes(row.input, row.contents);
        if (!row.linkTo.empty())
            fs::create_symlink(row.linkTo, row.input);
        h.model->importAudio(row.input, false);
        h.queue.drain();
        EXPECT_EQ(h.model->message(), undecodableText);
        EXPECT_FALSE(h.model->busy());
        EXPECT_TRUE(h.model->recordings().empty());
        EXPECT_EQ(h.model->selectedID(), std::nullopt);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
        EXPECT_EQ(recordingFolders(store->root()), std::vector<std::string>{});
    }
    store.reset();
    h.restart();
    EXPECT_TRUE(h.model->recordings().empty()) << "no empty recording comes back";
    EXPECT_EQ(h.model->message(), "") << "and nothing needs recovery";
}

TEST(ImportFailure, ASealThatFailsAfterTheConversionLeavesNoClearCopyAndNoSavedRecording) {
    AppHarness h;
    TempDir files{"import-files"};
    auto store = h.signedInWithRealStore({}, sampleContract());
    makeWithFfmpeg("-f lavfi -i sine=frequency=440:duration=2 -c:a pcm_s16le", files / "tone.wav");
    makeWithFfmpeg("-f lavfi -i sine=frequency=880:duration=1 -c:a aac", files / "other.m4a");

    // Step through the store and media work; once the file is converted, put a different sealed
    // asset under the segment's name so that sealing the staged copy is refused.
    h.executor.holding = true;
    h.model->importAudio(files / "tone.wav", false);
    h.queue.drain();
    for (int job = 0; job < 3; ++job) { // first manifest, staging path, conversion
        ASSERT_EQ(h.executor.held.size(), 1u) << "job " << job;
        h.executor.runNewest();
        h.queue.drain();
    }
    std::vector<std::string> working = workingFilesUnder(store->root());
    ASSERT_EQ(working.size(), 1u);
    const fs::path staged = working[0];
    std::string name = staged.filename().string();
    ASSERT_EQ(name.rfind("stage-", 0), 0u) << name;
    const Uuid recordingID = *Uuid::parse(staged.parent_path().filename().string());
    const Uuid segmentID = *Uuid::parse(name.substr(6, 36));
    fs::path decoy = store->workingFileURL(recordingID, Uuid::random(), "m4a", "stage");
    fs::copy_file(files / "other.m4a", decoy);
    store->sealClearMedia(decoy, recordingID, segmentID);

    h.releaseHeld();
    EXPECT_EQ(h.model->message(), undecodableText);
    EXPECT_FALSE(h.model->busy());
    EXPECT_TRUE(h.model->recordings().empty());
    EXPECT_FALSE(fs::exists(staged)) << "the clear copy of the user's file outlived the failed import";
    EXPECT_EQ(recordingFolders(store->root()), std::vector<std::string>{}) << "its recording went with it";

    store.reset();
    h.restart();
    EXPECT_TRUE(h.model->recordings().empty()) << "no saved recording without audio comes back";
    EXPECT_EQ(h.model->message(), "");
}

// ---- Export ----

TEST_F(ExportTest, ExportWritesAValidM4aToANewPathAndOverAnExistingFile) {
    LocalRecording recording = savedRecording(*store, 7, "Review");
    h.state().recordings = {recording};
    h.state().selectedID = recording.id;

    const fs::path fresh = files / "fresh.m4a";
    const fs::path existing = files / "existing.m4a";
    writeBytes(existing, "the old export");
    for (const fs::path& destination : {fresh, existing}) {
        SCOPED_TRACE(destination.filename().string());
        addQueuedLater(h);
        auto wakeup = wakeupNow(h);
        h.parts->files.exportAudio(destination);
        EXPECT_TRUE(h.state().busy);
        h.queue.drain();

        EXPECT_EQ(h.state().message, exportedText);
        EXPECT_FALSE(h.state().busy);
        expectWakeupArmed(h, wakeup, "export");
        auto fields = probe(destination);
        EXPECT_EQ(fields["codec_name"], "aac");
        EXPECT_NEAR(probedDuration(destination), 7.0, 0.2);
        EXPECT_EQ(modeOf(destination), 0600u);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
    }
    EXPECT_NE(contentsOf(existing), "the old export");
    // Nothing but the two exports in the destination folder: no temporary file left over.
    EXPECT_EQ(test::namesIn(files.path()), (std::set<std::string>{"existing.m4a", "fresh.m4a"}));
    EXPECT_EQ(store->loadRecording(recording.id), recording) << "the recording is not changed";
}

TEST_F(ExportTest, AnImpossibleDestinationOrARecordingWithoutAudioFailsAndLeavesNoWorkingFile) {
    LocalRecording withAudio = savedRecording(*store, 3, "With audio");
    const LocalRecording silent = savedSilentRecording(*store);

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
        h.state().recordings = {c.recording};
        h.state().selectedID = c.recording.id;
        addQueuedLater(h);
        auto wakeup = wakeupNow(h);
        h.parts->files.exportAudio(c.destination);
        h.queue.drain();
        EXPECT_EQ(h.state().message, exportFailedText);
        EXPECT_FALSE(h.state().busy);
        expectWakeupArmed(h, wakeup, c.what);
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
        EXPECT_EQ(store->loadRecording(c.recording.id), c.recording);
    }
    EXPECT_FALSE(fs::exists(files / "silent.m4a"));
    EXPECT_TRUE(fs::is_directory(files.path()));
}

// ---- Playback ----

TEST_F(PlaybackTest, PlaybackStartsAtTheBookmarkOrAtTheBeginningFromAClearM4a) {
    LocalRecording recording = savedRecording(*store, 20, "Long");
    recording.bookmarks.push_back(Bookmark::make(12500, "", Date{700000000}));
    h.state().recordings = {recording};
    h.state().selectedID = recording.id;
    addQueuedLater(h);

    auto wakeup = wakeupNow(h);
    h.parts->playback.togglePlayback(double(recording.bookmarks[0].mediaMilliseconds) / 1000);
    EXPECT_TRUE(h.state().busy);
    h.queue.drain();
    EXPECT_FALSE(h.state().busy);
    EXPECT_EQ(h.state().message, "");
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"seek 12.500000", "play"}));
    EXPECT_EQ(h.state().playbackID, recording.id);
    EXPECT_TRUE(h.parts->playback.hasPlayer());
    expectWakeupArmed(h, wakeup, "playback");

    // The player got one clear M4A of the whole recording, in the recording's own folder.
    ASSERT_EQ(h.playerFiles.size(), 1u);
    const fs::path played = h.playerFiles[0];
    EXPECT_EQ(played.parent_path(), folderOf(*store, recording.id));
    EXPECT_EQ(probe(played)["codec_name"], "aac");
    EXPECT_NEAR(probedDuration(played), 20.0, 0.2);

    // Stopping removes the clear file; a second start without a time begins at zero.
    h.parts->playback.stopPlayback();
    h.queue.drain();
    EXPECT_FALSE(fs::exists(played));
    h.playerLog.clear();
    h.parts->playback.togglePlayback(std::nullopt);
    h.queue.drain();
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"seek 0.000000", "play"}));
    EXPECT_EQ(h.state().playbackID, recording.id);
    ASSERT_EQ(h.playerFiles.size(), 2u);
    EXPECT_NE(h.playerFiles[1], played) << "a new file is composed after a stop";
    EXPECT_TRUE(fs::exists(h.playerFiles[1]));
}

TEST_F(PlaybackTest, AFailedStartSaysSoAndRemovesTheClearFile) {
    LocalRecording recording = savedRecording(*store, 3, "Short");
    const LocalRecording silent = savedSilentRecording(*store);

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
        h.state().recordings = {c.recording};
        h.state().selectedID = c.recording.id;
        addQueuedLater(h);
        h.failPlayer = c.failPlayer;
        h.playerRefusesToPlay = c.refuses;
        h.playerFiles.clear();
        auto wakeup = wakeupNow(h);
        h.parts->playback.togglePlayback(1.0);
        h.queue.drain();

        EXPECT_EQ(h.state().message, playFailedText);
        EXPECT_FALSE(h.state().busy);
        EXPECT_EQ(h.state().playbackID, std::nullopt);
        EXPECT_FALSE(h.parts->playback.hasPlayer());
        expectWakeupArmed(h, wakeup, c.what);
        ASSERT_EQ(h.playerFiles.size(), c.playersMade);
        for (const fs::path& file : h.playerFiles)
            EXPECT_FALSE(fs::exists(file)) << "the clear working file stayed";
        EXPECT_EQ(workingFilesUnder(store->root()), std::vector<std::string>{});
    }
}

TEST_F(PlaybackTest, ThePlayerIsMadeAndDrivenOnTheExecutorInTheOrderAskedWithoutNewWork) {
    LocalRecording recording = savedRecording(*store, 3, "Loaded");
    h.state().recordings = {recording};
    h.state().selectedID = recording.id;
    LocalPlayback& playback = h.parts->playback;

    h.executor.holding = true;
    playback.togglePlayback(std::nullopt);
    h.queue.drain();
    EXPECT_TRUE(h.playerFiles.empty()) << "the file is composed and the player made off the main queue";
    h.releaseHeld();
    ASSERT_EQ(h.state().playbackID, recording.id);
    ASSERT_EQ(h.playerFiles.size(), 1u);
    EXPECT_TRUE(h.state().playbackPlaying);
    h.playerLog.clear();
    h.changes = 0;

    // The windows see a pause as soon as the player has paused.
    playback.togglePlayback(std::nullopt);
    h.queue.drain();
    EXPECT_FALSE(h.state().playbackPlaying);
    playback.togglePlayback(std::nullopt);
    h.queue.drain();
    EXPECT_TRUE(h.state().playbackPlaying);
    h.playerLog.clear();
    h.changes = 0;

    h.executor.holding = true;
    playback.togglePlayback(std::nullopt);
    playback.togglePlayback(std::nullopt);
    playback.togglePlayback(12.5);
    h.queue.drain();
    EXPECT_TRUE(h.playerLog.empty()) << "no call to the player ran on the main queue";
    EXPECT_EQ(h.executor.held.size(), 1u) << "one call at a time";
    EXPECT_FALSE(h.state().busy);
    h.releaseHeld();
    EXPECT_EQ(h.playerLog, (std::vector<std::string>{"pause", "play", "seek 12.500000", "play"}));
    EXPECT_EQ(h.changes, 3) << "the windows hear of each";
    EXPECT_EQ(h.playerFiles.size(), 1u) << "the loaded recording plays the same file";

    // Stopping releases the player and removes the clear file, telling no observer.
    playback.stopPlayback();
    h.queue.drain();
    EXPECT_EQ(h.playerLog.back(), "stop");
    EXPECT_FALSE(playback.hasPlayer());
    EXPECT_EQ(h.state().playbackID, std::nullopt);
    EXPECT_FALSE(h.state().playbackPlaying);
    EXPECT_FALSE(fs::exists(h.playerFiles[0]));
    EXPECT_EQ(h.changes, 3);
    const std::size_t calls = h.playerLog.size();
    playback.stopPlayback(); // nothing loaded: nothing to do
    h.queue.drain();
    EXPECT_EQ(h.playerLog.size(), calls);
    EXPECT_EQ(h.context().tasks.running(), 0u);
}

TEST_F(PlaybackTest, PlayingASecondRecordingStopsTheFirstAndRemovesItsClearFile) {
    LocalRecording first = savedRecording(*store, 2, "First");
    LocalRecording second = savedRecording(*store, 3, "Second");
    h.state().recordings = {first, second};
    h.state().selectedID = first.id;

    h.parts->playback.togglePlayback(std::nullopt);
    h.queue.drain();
    ASSERT_EQ(h.state().playbackID, first.id);
    ASSERT_EQ(h.playerFiles.size(), 1u);

    h.state().selectedID = second.id;
    h.parts->playback.togglePlayback(std::nullopt);
    h.queue.drain();
    EXPECT_EQ(h.playerLog,
              (std::vector<std::string>{"seek 0.000000", "play", "stop", "seek 0.000000", "play"}));
    EXPECT_EQ(h.state().playbackID, second.id);
    ASSERT_EQ(h.playerFiles.size(), 2u);
    EXPECT_FALSE(fs::exists(h.playerFiles[0]));
    EXPECT_EQ(h.playerFiles[1].parent_path(), folderOf(*store, second.id));
    EXPECT_NEAR(probedDuration(h.playerFiles[1]), 3.0, 0.2);
    EXPECT_EQ(workingFilesUnder(folderOf(*store, first.id)), std::vector<std::string>{});
}

// ---- Removing a local copy ----

TEST(LocalCopy, RemovingOneOfThreeSelectsTheFirstOfTheOthersAndDeletesItsFolder) {
    PartsHarness h;
    std::vector<LocalRecording> list = {sampleRecording("A"), sampleRecording("B", "acc_1", 1),
                                        sampleRecording("C", "acc_1", 2)};
    auto store = h.signedInWithRealStore(list);
    LocalRecording withAudio = savedRecording(*store, 2, "D");
    list.push_back(withAudio);
    h.state().recordings = list;
    addQueuedLater(h);

    // Removing the one with audio while it plays: the folder goes with its sealed asset.
    h.state().selectedID = withAudio.id;
    h.parts->playback.togglePlayback(std::nullopt);
    h.queue.drain();
    ASSERT_EQ(h.state().playbackID, withAudio.id);
    h.parts->files.discardRecording();
    EXPECT_TRUE(h.state().busy);
    h.queue.drain();
    EXPECT_EQ(h.state().playbackID, std::nullopt);
    EXPECT_FALSE(fs::exists(folderOf(*store, withAudio.id)));

    h.state().selectedID = list[1].id;
    auto wakeup = wakeupNow(h);
    h.parts->files.discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.state().message, removedText);
    EXPECT_FALSE(h.state().busy);
    expectWakeupArmed(h, wakeup, "removal");
    ASSERT_EQ(h.state().recordings.size(), 3u);
    EXPECT_EQ(h.state().recordings[0].id, list[0].id);
    EXPECT_EQ(h.state().recordings[1].id, list[2].id);
    EXPECT_EQ(h.state().recordings[2].title, "Queued");
    EXPECT_EQ(h.state().selectedID, list[0].id);
    EXPECT_FALSE(fs::exists(folderOf(*store, list[1].id)));
    EXPECT_TRUE(fs::exists(folderOf(*store, list[0].id) / "manifest.nuvel"));
    EXPECT_TRUE(fs::exists(folderOf(*store, list[2].id) / "manifest.nuvel"));
}

TEST(LocalCopy, RemovingTheOnlyRecordingLeavesNoSelection) {
    PartsHarness h;
    auto store = h.signedInWithRealStore({sampleRecording("Only")});
    const Uuid id = h.state().recordings[0].id;
    h.parts->files.discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.state().message, removedText);
    EXPECT_TRUE(h.state().recordings.empty());
    EXPECT_EQ(h.state().selectedID, std::nullopt);
    EXPECT_FALSE(h.state().busy);
    EXPECT_FALSE(fs::exists(folderOf(*store, id)));
}

TEST(LocalCopy, AnotherAccountsRecordingIsNotRemoved) {
    PartsHarness h;
    LocalRecording mine = sampleRecording("Mine");
    LocalRecording theirs = sampleRecording("Theirs", "acc_2");
    auto store = h.signedInWithRealStore({mine, theirs});
    h.state().recordings.push_back(theirs); // listed as a store of another account could list it
    addQueuedLater(h);
    h.state().selectedID = theirs.id;
    auto before = h.state().recordings;

    auto wakeup = wakeupNow(h);
    h.parts->files.discardRecording();
    h.queue.drain();
    EXPECT_EQ(h.state().message, removeFailedText);
    EXPECT_FALSE(h.state().busy);
    expectWakeupArmed(h, wakeup, "failed removal");
    EXPECT_EQ(h.state().recordings, before);
    EXPECT_EQ(h.state().selectedID, theirs.id);
    EXPECT_TRUE(fs::exists(folderOf(*store, theirs.id) / "manifest.nuvel"));
}
