// The live segment writer, and the small manifest updates the capture and the coordinator make.
#include "NuvelKit/store/CaptureSpoolError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/FileRemoval.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

[[noreturn]] void fail(RecordingError::Code code) {
    throw RecordingError(code);
}

std::int64_t segmentLimit(double sampleRate) {
    return static_cast<std::int64_t>(RecordingStore::liveSegmentSeconds * sampleRate);
}

} // namespace

void RecordingStore::appendLiveAudio(std::span<const float> samples, double sampleRate,
                                     const Uuid& recordingID) {
    Lock lock(mutex_);
    if (!std::isfinite(sampleRate) || sampleRate < minLiveSampleRate || sampleRate > maxLiveSampleRate ||
        samples.empty() || samples.size() > maxLiveSamples)
        fail(RecordingError::Code::invalidTransport);
    requireLiveOwner(recordingID);
    if (liveWriter_ && sampleRate != liveRate_)
        throw CaptureSpoolError::unsupportedFormat();

    const std::int64_t limit = segmentLimit(sampleRate);
    std::size_t written = 0;
    while (written < samples.size()) {
        if (!liveWriter_)
            openLiveFile(recordingID, sampleRate);
        const std::size_t n = std::min(std::size_t(limit - liveFrames_), samples.size() - written);
        // A failed write leaves the count where it was: the frames counted are those in the file.
        liveWriter_->append(samples.subspan(written, n));
        at(Moment::liveFramesWritten);
        liveFrames_ += std::int64_t(n);
        // A kill loses nothing (the header is current after every write); a power cut would lose
        // what the kernel had not written yet, so push the file to disk once a second of audio.
        // (Closing the file syncs it too, before the manifest lists it.)
        if (liveFrames_ - liveSyncedFrames_ >= std::int64_t(liveSyncSeconds * sampleRate)) {
            liveWriter_->sync();
            liveSyncedFrames_ = liveFrames_;
        }
        if (liveFrames_ == limit)
            finishLiveSegmentUnlocked(recordingID);
        written += n;
    }
}

LocalRecording RecordingStore::finishLiveSegment(const Uuid& recordingID) {
    Lock lock(mutex_);
    return finishLiveSegmentUnlocked(recordingID);
}

void RecordingStore::setSourceTimeline(const CaptureTimeline& timeline, const Uuid& recordingID) {
    Lock lock(mutex_);
    LocalRecording recording = loadRecordingUnlocked(recordingID);
    recording.sourceTimeline = timeline;
    saveManifestUnlocked(recording);
}

LocalRecording RecordingStore::setCaptureState(CaptureState state, const Uuid& recordingID) {
    Lock lock(mutex_);
    LocalRecording recording = loadRecordingUnlocked(recordingID);
    recording.capture = state;
    saveManifestUnlocked(recording);
    return recording;
}

void RecordingStore::deleteRecording(const Uuid& id, std::string_view accountID) {
    Lock lock(mutex_);
    loadRecordingUnlocked(id).requireAccount(accountID);
    // Removing the folder under an open live file would lose the audio being captured, and the
    // writer would go on into a folder it re-creates without a manifest.
    if (liveRecordingID_ == id)
        fail(RecordingError::Code::invalidTransport);
    files::removeTree(root_ / id.uppercase());
    // Otherwise a power cut could bring the deleted recording back.
    files::fsyncDirectory(root_);
}

std::int64_t RecordingStore::storageUsage() {
    Lock lock(mutex_);
    std::error_code missing;
    if (!fs::is_directory(root_, missing))
        return 0;
    std::int64_t total = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
        if (!fs::is_regular_file(entry.symlink_status()))
            continue;
        total += std::int64_t(entry.file_size());
    }
    return total;
}

LocalRecording RecordingStore::finishLiveSegmentUnlocked(const Uuid& recordingID) {
    requireLiveOwner(recordingID);
    if (!liveURL_ || !liveAssetID_)
        return loadRecordingUnlocked(recordingID);
    try {
        if (liveWriter_) {
            CafWriter writer = std::move(*liveWriter_);
            liveWriter_.reset();
            writer.close();
        }
        LocalRecording recording = loadRecordingUnlocked(recordingID);
        if (liveFrames_ <= 0)
            fail(RecordingError::Code::invalidTransport);
        std::int64_t end = 0;
        if (__builtin_add_overflow(liveFrameStart_, liveFrames_, &end))
            fail(RecordingError::Code::invalidTransport);

        const RecordingSegment segment = RecordingSegment::make(
            *liveAssetID_, recording.createdAt.adding(double(liveFrameStart_) / liveRate_), "caf",
            liveFrameStart_, "live", double(liveFrames_) / liveRate_);
        const bool listed = std::any_of(recording.segments.begin(), recording.segments.end(),
                                        [&](const RecordingSegment& s) { return s.id == segment.id; });
        if (!listed) {
            recording.segments.reserve(recording.segments.size() + 1); // not twice the list
            recording.segments.push_back(segment);
        }
        recording.capturedFrames = end;

        // Listed before it is sealed: an interruption in between leaves a known segment whose
        // clear file recovery seals, never audio that no manifest mentions.
        saveManifestUnlocked(recording);
        at(Moment::segmentSaved);
        sealClearMediaUnlocked(*liveURL_, recordingID, *liveAssetID_);
        forgetLiveFile();
        return recording;
    } catch (...) {
        forgetLiveFile();
        throw;
    }
}

void RecordingStore::requireLiveOwner(const Uuid& recordingID) const {
    if (liveRecordingID_ && *liveRecordingID_ != recordingID)
        fail(RecordingError::Code::invalidTransport);
}

void RecordingStore::openLiveFile(const Uuid& recordingID, double sampleRate) {
    const LocalRecording recording = loadRecordingUnlocked(recordingID);
    const std::optional<std::int64_t> available = options_.availableCapacity(root_);
    if (!available || *available < minLiveFreeBytes)
        fail(RecordingError::Code::missingMedia);

    const std::int64_t frameStart = recording.capturedFrames.value_or(0);
    const Uuid assetID = Uuid::random();
    const fs::path folder = recordingDirectoryUnlocked(recordingID);
    const fs::path file = folder / RecordingSegment{assetID, 0, {}, "caf", frameStart, "live"}.fileName();
    // Created exclusively with mode 0600; the header is rewritten after every append.
    CafWriter writer = CafWriter::create(file, sampleRate, 1);

    liveWriter_ = std::move(writer);
    liveURL_ = file;
    liveAssetID_ = assetID;
    liveRecordingID_ = recordingID;
    liveFrameStart_ = frameStart;
    liveFrames_ = 0;
    liveSyncedFrames_ = 0;
    liveRate_ = sampleRate;
    // Set again so the mode never rests on how the file was created; a failure here keeps the
    // writer open, as the file is already in use.
    if (::chmod(file.c_str(), 0600) != 0)
        files::throwErrno("chmod", file, errno);
    // The file's name is durable from the start, so each second of audio synced below survives
    // a power cut, not only the segments already listed in the manifest.
    files::fsyncDirectory(folder);
}

void RecordingStore::forgetLiveFile() {
    liveWriter_.reset();
    liveURL_.reset();
    liveAssetID_.reset();
    liveRecordingID_.reset();
    liveFrames_ = 0;
    liveSyncedFrames_ = 0;
}

} // namespace nuvel
