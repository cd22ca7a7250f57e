#include "NuvelKit/support/Files.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/store/LiveStoreSupport.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::clearNames;
using test::namesIn;
using test::signal;

struct Recovery : test::LiveStoreFixture {
    // A live file as the writer names it, holding frames [start, start + frames) of the signal.
    Uuid plantLive(std::int64_t start, std::int64_t frames, double rate = 48000) {
        const Uuid id = Uuid::random();
        test::writeCaf(folder() / RecordingSegment{id, 0, {}, "caf", start, "live"}.fileName(),
                       signal(start, frames), rate);
        return id;
    }

    void plant(const std::string& name, const std::string& bytes = "clear audio") {
        test::writeBytes(folder() / name, bytes);
    }

    LocalRecording recoverOne() {
        const RecoveryReport report = store.recover("acct");
        EXPECT_EQ(report.unreadable, 0);
        EXPECT_EQ(report.recordings.size(), 1u);
        return report.recordings.empty() ? LocalRecording{} : report.recordings[0];
    }
};

TEST_F(Recovery, CountsFoldersThatFailAndIgnoresWhatIsNoRecording) {
    fs::remove_all(folder());
    EXPECT_EQ(store.recover("acct"), RecoveryReport{});

    const LocalRecording good = makeRecording();
    const fs::path noManifest = root / Uuid::random().uppercase();
    fs::create_directory(noManifest);
    test::writeBytes(noManifest / (Uuid::random().uppercase() + ".nuvel"), "an asset, no manifest");
    test::writeBytes(root / Uuid::random().uppercase(), "a file, not a folder");
    test::writeBytes(root / ".hidden", "");
    fs::create_directory(root / "not-a-recording");
    fs::create_directory_symlink(folder(good), root / Uuid::random().uppercase());

    // A folder in lower case, which the store never makes: counted, and nothing made beside it.
    LocalRecording lower = makeRecording();
    const fs::path lowerFolder = root / lower.id.lowercase();
    fs::rename(folder(lower), lowerFolder);
    test::writeCaf(lowerFolder / RecordingSegment{Uuid::random(), 0, {}, "caf", 0, "live"}.fileName(),
                   signal(0, 100), 48000);
    test::writeBytes(lowerFolder / "clear-left.caf", "clear audio");
    const std::set<std::string> lowerFiles = namesIn(lowerFolder);

    const RecoveryReport report = store.recover("acct");
    EXPECT_EQ(report.unreadable, 3);
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].id, good.id);
    EXPECT_FALSE(fs::exists(folder(lower)));
    EXPECT_EQ(namesIn(lowerFolder), lowerFiles);

    fs::remove_all(root);
    EXPECT_THROW(store.recover("acct"), fs::filesystem_error);
}

// A folder with no audio to lose (empty, or holding only documents whose first save a kill
// cut short) is no unreadable recording: it goes, and nothing is counted, on this scan and the
// next. Inside a recording, the documents' leftover temporary files go; look-alikes stay.
TEST_F(Recovery, FoldersWithNothingToKeepGoAndLeftoverTemporaryDocumentsWithThem) {
    const std::string tag = "0123456789abcdef";
    const fs::path empty = root / Uuid::random().uppercase();
    fs::create_directory(empty);
    const fs::path firstSave = root / Uuid::random().uppercase();
    fs::create_directory(firstSave);
    test::writeBytes(firstSave / (".manifest.nuvel." + tag + ".tmp"), test::garbage(200));
    test::writeBytes(firstSave / (".annotations.nuvel.fedcba9876543210.tmp"), test::garbage(60));
    const fs::path linked = root / Uuid::random().uppercase(); // an empty folder behind a link stays
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", linked);

    const std::vector<std::string> leftovers = {".manifest.nuvel." + tag + ".tmp",
                                                ".manifest.nuvel.ffffffffffffffff.tmp",
                                                ".annotations.nuvel." + tag + ".tmp"};
    const std::vector<std::string> lookAlikes = {
        ".manifest.nuvel.0123456789ABCDEF.tmp", ".manifest.nuvel.0123456789abcde.tmp",
        ".manifest.nuvel." + tag + ".tmp.x", ".notes." + tag + ".tmp", "manifest.nuvel." + tag + ".tmp"};
    for (const std::string& name : leftovers)
        plant(name, test::garbage(100));
    for (const std::string& name : lookAlikes)
        plant(name);
    const std::int64_t usage = store.storageUsage();
    const auto manifestBefore = std::int64_t(fs::file_size(folder() / "manifest.nuvel"));

    for (int scan = 0; scan < 2; ++scan) {
        const RecoveryReport report = store.recover("acct");
        EXPECT_EQ(report.unreadable, 0);
        ASSERT_EQ(report.recordings.size(), 1u);
        EXPECT_EQ(report.recordings[0].id, recording.id);
    }
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_FALSE(fs::exists(firstSave));
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(clearNames(folder()), std::set<std::string>(lookAlikes.begin(), lookAlikes.end()));
    // They no longer count as stored bytes (the manifest itself was saved again meanwhile).
    const auto manifestAfter = std::int64_t(fs::file_size(folder() / "manifest.nuvel"));
    EXPECT_EQ(store.storageUsage(), usage - 3 * 100 - 200 - 60 + manifestAfter - manifestBefore);
}

TEST_F(Recovery, NeverTouchesARecordingItCannotRead) {
    const LocalRecording other = makeRecording();
    plant("live-00000000000000000000-" + Uuid::random().uppercase() + ".caf");
    plant("clear-" + Uuid::random().uppercase() + ".caf");
    plant("checkpoint-" + Uuid::random().uppercase() + ".caf");
    plant("stage-" + Uuid::random().uppercase() + ".m4a");
    test::writeBytes(folder() / "manifest.nuvel", test::garbage(300));
    const std::set<std::string> before = namesIn(folder());

    const RecoveryReport report = store.recover("acct");
    EXPECT_EQ(report.unreadable, 1);
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].id, other.id);
    EXPECT_EQ(namesIn(folder()), before);
}

TEST_F(Recovery, OnlyTheAccountsRecordingsNewestFirst) {
    recording.createdAt = Date{36000}; // 10:00
    store.saveManifest(recording);
    LocalRecording noon = makeRecording("acct", Date{43200});
    noon.workspaceID = "another-workspace"; // only the account is compared
    store.saveManifest(noon);
    const LocalRecording eleven = makeRecording("acct", Date{39600});
    const LocalRecording foreign = makeRecording("Acct", Date{50000});
    test::writeBytes(folder(foreign) / "clear-x.caf", "clear audio");
    const Bytes foreignManifest = files::readFile(folder(foreign) / "manifest.nuvel");

    const RecoveryReport report = store.recover("acct");
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(report.recordings.size(), 3u);
    EXPECT_EQ(report.recordings[0].id, noon.id);
    EXPECT_EQ(report.recordings[1].id, eleven.id);
    EXPECT_EQ(report.recordings[2].id, recording.id);
    EXPECT_TRUE(fs::exists(folder(foreign) / "clear-x.caf"));
    EXPECT_EQ(files::readFile(folder(foreign) / "manifest.nuvel"), foreignManifest);
}

TEST_F(Recovery, AppliesTheInterruptionRuleAndSortsSegments) {
    recording.transfer = TransferState::committing;
    store.saveManifest(recording);
    LocalRecording expected = recording;
    expected.capture = CaptureState::interrupted;
    expected.transfer = TransferState::needsReview;
    expected.errorCode = "ambiguous_request";
    EXPECT_EQ(recoverOne(), expected);
    EXPECT_EQ(store.loadRecording(recording.id), expected);

    // A saved, accepted recording only has its segments put in time order (and is saved again).
    LocalRecording saved = recording;
    saved.capture = CaptureState::saved;
    saved.transfer = TransferState::accepted;
    saved.errorCode.reset();
    const RecordingSegment late{Uuid::random(), 1, Date{700000010}, "m4a", {}, {}};
    const RecordingSegment early{Uuid::random(), 1, Date{700000001}, "m4a", {}, {}};
    saved.segments = {late, early};
    store.saveManifest(saved);
    const Bytes before = files::readFile(folder() / "manifest.nuvel");
    saved.segments = {early, late};
    EXPECT_EQ(recoverOne(), saved);
    EXPECT_NE(files::readFile(folder() / "manifest.nuvel"), before);
}

TEST_F(Recovery, SealsKnownClearFilesAndDeletesLeftoverWorkingFiles) {
    // A staged segment whose seal was interrupted: its file is sealed under the segment's id.
    const Uuid staged = Uuid::random();
    recording.segments = {RecordingSegment{staged, 1.0, recording.createdAt, "m4a", {}, {}}};
    recording.captureAssetID = Uuid::random(); // a spool that is not there
    store.saveManifest(recording);
    plant("stage-" + staged.uppercase() + ".m4a", "staged audio");

    for (const char* prefix : {"clear-", "transport-", "checkpoint-"})
        plant(prefix + Uuid::random().uppercase() + ".caf");
    plant("cipher-" + Uuid::random().uppercase() + ".partial");
    plant("clear-" + Uuid::random().uppercase() + ".partial");
    const std::string otherSpool = "capture-" + Uuid::random().uppercase() + ".caf";
    plant(otherSpool);
    plant("notes.txt");

    const LocalRecording repaired = recoverOne();
    EXPECT_EQ(repaired.segments, recording.segments);
    EXPECT_EQ(repaired.capture, CaptureState::interrupted);
    EXPECT_EQ(repaired.captureAssetID, recording.captureAssetID);
    EXPECT_EQ(clearNames(folder()), (std::set<std::string>{otherSpool, "notes.txt"}));
    EXPECT_TRUE(fs::exists(folder() / (staged.uppercase() + ".nuvel")));
    const fs::path copy = store.openClearCopy(recording.id, staged, "m4a");
    EXPECT_EQ(stringOf(files::readFile(copy)), "staged audio");
}

TEST_F(Recovery, ContiguousLiveFilesBecomeSegments) {
    const Uuid first = plantLive(0, 48000);
    const Uuid second = plantLive(48000, 24000);
    const LocalRecording repaired = recoverOne();
    ASSERT_EQ(repaired.segments.size(), 2u);
    EXPECT_EQ(repaired.segments[0], (RecordingSegment{first, 1.0, recording.createdAt, "caf", 0, "live"}));
    EXPECT_EQ(repaired.segments[1],
              (RecordingSegment{second, 0.5, recording.createdAt.adding(1.0), "caf", 48000, "live"}));
    EXPECT_EQ(repaired.capturedFrames, 72000);
    EXPECT_EQ(repaired.capture, CaptureState::interrupted);
    EXPECT_EQ(repaired.recoveryAssetIDs, std::nullopt);
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});
    EXPECT_EQ(test::timelineAudio(store, repaired), signal(0, 72000));

    // A second scan changes nothing.
    EXPECT_EQ(recoverOne(), repaired);
}

TEST_F(Recovery, LiveFilesThatCannotJoinTheTimelineAreKeptAsRecoveryAssets) {
    // An empty first file breaks the chain: the next one does not continue capturedFrames.
    const Uuid empty = plantLive(0, 0);
    const Uuid after = plantLive(48000, 24000);
    LocalRecording repaired = recoverOne();
    EXPECT_TRUE(repaired.segments.empty());
    EXPECT_EQ(repaired.capturedFrames, std::nullopt);
    EXPECT_EQ(repaired.recoveryAssetIDs, (std::vector<Uuid>{empty, after}));
    EXPECT_EQ(test::sealedAudio(store, recording.id, after), signal(48000, 24000));
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});

    // With capturedFrames 96000, only the file that starts there joins.
    repaired.capturedFrames = 96000;
    store.saveManifest(repaired);
    const Uuid behind = plantLive(48000, 100);
    const Uuid next = plantLive(96000, 100);
    repaired = recoverOne();
    ASSERT_EQ(repaired.segments.size(), 1u);
    EXPECT_EQ(repaired.segments[0].id, next);
    EXPECT_EQ(repaired.capturedFrames, 96100);
    EXPECT_EQ(repaired.recoveryAssetIDs, (std::vector<Uuid>{empty, after, behind}));

    // A file whose frames would take the count beyond 64 bits never joins.
    const std::int64_t nearEnd = std::numeric_limits<std::int64_t>::max() - 10;
    repaired.capturedFrames = nearEnd;
    store.saveManifest(repaired);
    const Uuid atEnd = plantLive(nearEnd, 100);
    repaired = recoverOne();
    EXPECT_EQ(repaired.segments.size(), 1u);
    EXPECT_EQ(repaired.capturedFrames, nearEnd);
    EXPECT_EQ(repaired.recoveryAssetIDs->back(), atEnd);
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});
}

TEST_F(Recovery, LeftoverNamesThatDoNotQualifyStayUntouched) {
    recording.capture = CaptureState::saved;
    const Uuid known = Uuid::random();
    recording.segments = {RecordingSegment{known, 1.0, recording.createdAt, "caf", 0, "live"}};
    recording.capturedFrames = 48000;
    store.saveManifest(recording);
    const std::string id = Uuid::random().uppercase();
    const std::vector<std::string> odd = {
        "live-00000000000000048000-" + id + ".CAF",
        "live-0000000000000048000-" + id + ".caf",   // 65 characters
        "live-000000000000000048000-" + id + ".caf", // 67
        "live-0000000000000004800x-" + id + ".caf",
        "live-00000000000000048000-" + known.uppercase() + ".caf", // already a segment's
        "stage-" + id + ".wav",
        "stage-" + id.substr(1) + ".m4a",
    };
    for (const std::string& name : odd)
        test::writeCaf(folder() / name, signal(0, 10), 48000);
    const std::set<std::string> before = clearNames(folder());

    const LocalRecording repaired = recoverOne();
    EXPECT_EQ(repaired, recording); // still saved: nothing was converted
    EXPECT_EQ(clearNames(folder()), before);
}

TEST_F(Recovery, StagedFilesBecomeSegmentsOrRecoveryAssets) {
    const Uuid good = Uuid::random();
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=48000:duration=2.5 -c:a aac",
                         folder() / ("stage-" + good.uppercase() + ".m4a"));
    const Uuid silent = Uuid::random();
    test::writeCaf(folder() / ("stage-" + silent.uppercase() + ".caf"), {}, 48000);
    const Uuid noise = Uuid::random();
    plant("stage-" + noise.uppercase() + ".m4a", test::garbage(5000));
    recording.recoveryAssetIDs = std::vector<Uuid>{noise};
    store.saveManifest(recording);

    const LocalRecording repaired = recoverOne();
    ASSERT_EQ(repaired.segments.size(), 1u);
    const RecordingSegment& segment = repaired.segments[0];
    EXPECT_EQ(segment.id, good);
    EXPECT_NEAR(segment.duration, 2.5, 0.05);
    EXPECT_EQ(segment.fileExtension, "m4a");
    EXPECT_EQ(segment.capturedFrameStart, std::nullopt);
    EXPECT_EQ(segment.captureFileKind, std::nullopt);
    // The file's birth time, or the recording's creation where the file system keeps none.
    if (segment.startedAt != recording.createdAt) {
        EXPECT_NEAR(segment.startedAt.sinceReferenceDate, Date::now().sinceReferenceDate, 600);
    }
    EXPECT_EQ(repaired.capture, CaptureState::interrupted);
    // Listed once each, whatever was there before.
    ASSERT_TRUE(repaired.recoveryAssetIDs);
    EXPECT_EQ(std::set<Uuid>(repaired.recoveryAssetIDs->begin(), repaired.recoveryAssetIDs->end()),
              (std::set<Uuid>{noise, silent}));
    EXPECT_EQ(repaired.recoveryAssetIDs->size(), 2u);
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});
    for (const Uuid& id : {good, silent, noise})
        EXPECT_TRUE(fs::exists(folder() / (id.uppercase() + ".nuvel")));
}

TEST_F(Recovery, ResumesTheCaptureSpoolOrKeepsItWhole) {
    const Uuid spool = Uuid::random();
    recording.captureAssetID = spool;
    store.saveManifest(recording);
    const fs::path spoolFile = folder() / ("capture-" + spool.uppercase() + ".caf");
    test::writeCaf(spoolFile, signal(0, 500000), 48000);

    LocalRecording repaired = recoverOne();
    EXPECT_EQ(repaired.segments.size(), 3u);
    EXPECT_EQ(repaired.captureAssetID, std::nullopt);
    EXPECT_EQ(repaired.capture, CaptureState::interrupted);
    EXPECT_EQ(test::timelineAudio(store, repaired), signal(0, 500000));
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});

    // A spool that cannot be converted is sealed whole as a recovery asset.
    const Uuid compressed = Uuid::random();
    repaired.captureAssetID = compressed;
    store.saveManifest(repaired);
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=8000:duration=1 -c:a pcm_mulaw -f caf",
                         folder() / ("capture-" + compressed.uppercase() + ".caf"));
    repaired = recoverOne();
    EXPECT_EQ(repaired.segments.size(), 3u);
    EXPECT_EQ(repaired.captureAssetID, std::nullopt);
    EXPECT_EQ(repaired.recoveryAssetIDs, std::vector<Uuid>{compressed});
    EXPECT_TRUE(fs::exists(folder() / (compressed.uppercase() + ".nuvel")));
    EXPECT_EQ(clearNames(folder()), std::set<std::string>{});
}

} // namespace
} // namespace nuvel
