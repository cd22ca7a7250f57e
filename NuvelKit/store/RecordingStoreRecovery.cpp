// The recovery scan that runs when a workspace's store is opened: every recording of the account
// is brought back to a consistent state after whatever interrupted the last run.
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <set>
#include <system_error>
#include <vector>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Flags that cannot be read count as "not a link".
bool isSymlink(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    return !ec && fs::is_symlink(status);
}

bool existsAt(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// Every entry first, so that a listing that fails part-way changes nothing.
std::vector<fs::path> listing(const fs::path& folder) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path());
    return entries;
}

// Unfinished transcodes and working files that only ever copy audio kept elsewhere.
bool isDisposable(std::string_view name) {
    return startsWith(name, "clear-") || startsWith(name, "transport-") || startsWith(name, "checkpoint-") ||
           startsWith(name, "cipher-");
}

// A sealed manifest or annotations document that a kill left beside its final name before the
// rename: the document in place (or none, on a first save) is the one that counts.
bool isDocumentTemporary(std::string_view name) {
    return files::isAtomicWriteTemporary(name, RecordingStore::manifestFileName) ||
           files::isAtomicWriteTemporary(name, RecordingStore::annotationsFileName);
}

// A recording folder with no file in it but unsaved documents: made on the way to a first save
// that never completed (or by an older build for an id it only looked up). No audio can be in
// it, so it and those documents go. False, and nothing removed, for anything else.
bool removeIfNothingToKeep(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec)) || ec)
        return false;
    std::vector<fs::path> temporaries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!isDocumentTemporary(it->path().filename().string()) || isSymlink(it->path()))
            return false;
        temporaries.push_back(it->path());
    }
    if (ec)
        return false;
    for (const fs::path& file : temporaries)
        if (!fs::remove(file, ec) || ec)
            return false;
    // Removes only an empty folder: whatever appeared meanwhile keeps it.
    return fs::remove(folder, ec) && !ec;
}

// Every asset id the manifest names: its segments, the audio kept outside the timeline, the
// capture spool and the transport.
std::set<Uuid> listedAssets(const LocalRecording& recording) {
    std::set<Uuid> ids;
    for (const RecordingSegment& segment : recording.segments)
        ids.insert(segment.id);
    for (const Uuid& id : recording.recoveryAssetIDs.value_or(std::vector<Uuid>{}))
        ids.insert(id);
    if (recording.captureAssetID)
        ids.insert(*recording.captureAssetID);
    if (recording.transportAssetID)
        ids.insert(*recording.transportAssetID);
    return ids;
}

// Audio is listed in the manifest before it is sealed, with one exception: the upload's
// transport, whose digest comes from its seal, is listed by the save after it. A sealed asset the
// saved manifest does not name is therefore a transport whose run ended between the two, a copy
// of audio the segments hold that nothing will ever read again.
void removeUnlistedAssets(const fs::path& folder, const LocalRecording& saved) {
    const std::set<Uuid> listed = listedAssets(saved);
    const std::string_view extension = RecordingStore::assetExtension;
    for (const fs::path& entry : listing(folder)) {
        const std::string name = entry.filename().string();
        if (!name.ends_with(extension) || isSymlink(entry))
            continue;
        const std::string stem = name.substr(0, name.size() - extension.size());
        const std::optional<Uuid> id = Uuid::parse(stem);
        if (!id || stem != id->uppercase() || listed.contains(*id))
            continue;
        files::removeFileIfPresent(entry);
    }
}

} // namespace

RecoveryReport RecordingStore::recover(std::string_view accountID) {
    Lock lock(mutex_);
    RecoveryReport report;
    for (const fs::path& entry : listing(root_)) {
        const std::string name = entry.filename().string();
        const std::optional<Uuid> id = Uuid::parse(name);
        if (!id || isSymlink(entry))
            continue;
        // The store names folders in upper case only. Loading this one by its upper-case name
        // would miss it on a case-sensitive file system and make an empty twin beside it.
        if (name != id->uppercase()) {
            ++report.unreadable;
            continue;
        }
        if (removeIfNothingToKeep(entry))
            continue;
        try {
            if (std::optional<LocalRecording> recording = recoverRecording(*id, accountID))
                report.recordings.push_back(std::move(*recording));
        } catch (const std::exception&) {
            // Left as it is now, every file kept, for a later attempt or a closer look.
            ++report.unreadable;
        }
    }
    std::stable_sort(
        report.recordings.begin(), report.recordings.end(),
        [](const LocalRecording& a, const LocalRecording& b) { return a.createdAt > b.createdAt; });
    return report;
}

std::optional<LocalRecording> RecordingStore::recoverRecording(const Uuid& id,
                                                               std::string_view accountID) const {
    LocalRecording recording = loadRecordingUnlocked(id);
    if (recording.accountID != accountID)
        return std::nullopt;
    recording.markInterrupted();
    const fs::path folder = recordingDirectoryUnlocked(id);

    // Clear files of segments already in the manifest: interrupted between the save and the seal.
    for (const RecordingSegment& segment : recording.segments) {
        const fs::path clear = folder / segment.fileName();
        if (existsAt(clear))
            sealClearMediaUnlocked(clear, id, segment.id);
    }

    // Name order puts live files in frame order: their frame starts are zero-padded.
    std::vector<fs::path> entries = listing(folder);
    std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() < b.filename().string();
    });
    std::vector<RecordingSegment> segments = recording.segments;
    for (const fs::path& entry : entries) {
        if (isSymlink(entry))
            continue;
        const std::string name = entry.filename().string();
        if (isDisposable(name) || isDocumentTemporary(name))
            files::removeFileIfPresent(entry);
        else if (startsWith(name, "live-"))
            convertLiveFile(recording, segments, entry);
        else if (startsWith(name, "stage-"))
            convertStagedFile(recording, segments, entry);
    }

    if (recording.captureAssetID) {
        const Uuid spoolID = *recording.captureAssetID;
        const fs::path spool = folder / ("capture-" + spoolID.uppercase() + ".caf");
        if (existsAt(spool)) {
            try {
                saveManifestUnlocked(recording);
                recording = recoverCaptureSpoolUnlocked(id, true);
                recording = captureSpoolFileUnlocked(id);
            } catch (const std::exception&) {
                // The spool's audio is kept whole, sealed, outside the timeline.
                sealClearMediaUnlocked(spool, id, spoolID);
                recording = loadRecordingUnlocked(id);
                recording.addRecoveryAsset(spoolID);
                recording.captureAssetID.reset();
            }
        }
        recording.capture = CaptureState::interrupted;
    }

    std::stable_sort(
        recording.segments.begin(), recording.segments.end(),
        [](const RecordingSegment& a, const RecordingSegment& b) { return a.startedAt < b.startedAt; });
    saveManifestUnlocked(recording);
    removeUnlistedAssets(folder, recording);
    return recording;
}

} // namespace nuvel
