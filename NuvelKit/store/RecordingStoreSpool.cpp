// The capture spool: one clear PCM file of a whole capture run, turned into sealed five-second
// checkpoint segments and removed once every frame of it is a segment.
#include "NuvelKit/store/CaptureSpoolError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <vector>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

constexpr std::int64_t readFrames = 16384;

std::uint32_t frameCount(std::int64_t frames) {
    return std::uint32_t(std::min<std::int64_t>(frames, std::numeric_limits<std::uint32_t>::max()));
}

// Copies `frames` frames from the spool's read position into a new checkpoint file.
void copyBlock(CafReader& spool, const fs::path& checkpoint, std::int64_t frames) {
    const CafFormat& format = spool.format();
    const auto channels = std::size_t(format.channels);
    CafWriter writer = CafWriter::create(checkpoint, format.sampleRate, format.channels);
    std::vector<float> buffer;
    std::int64_t missing = frames;
    while (missing > 0) {
        buffer.resize(std::size_t(std::min(missing, readFrames)) * channels);
        const std::size_t got = spool.read(buffer);
        if (got == 0)
            throw CaptureSpoolError::incompleteRead(frameCount(missing), 0);
        writer.append(std::span<const float>(buffer.data(), got * channels));
        missing -= std::int64_t(got);
    }
    writer.close(); // synced: the manifest lists it next
    if (::chmod(checkpoint.c_str(), 0600) != 0)
        files::throwErrno("chmod", checkpoint, errno);
    // Its name too is on disk before any manifest mentions it.
    files::fsyncDirectory(checkpoint.parent_path());
}

} // namespace

LocalRecording RecordingStore::recoverCaptureSpool(const Uuid& recordingID, bool includeShortTail) {
    Lock lock(mutex_);
    return recoverCaptureSpoolUnlocked(recordingID, includeShortTail);
}

LocalRecording RecordingStore::captureSpoolFile(const Uuid& recordingID) {
    Lock lock(mutex_);
    return captureSpoolFileUnlocked(recordingID);
}

LocalRecording RecordingStore::recoverCaptureSpoolUnlocked(const Uuid& recordingID,
                                                           bool includeShortTail) const {
    LocalRecording recording = loadRecordingUnlocked(recordingID);
    if (!recording.captureAssetID)
        return recording;

    CafReader spool =
        CafReader::open(workingFileURLUnlocked(recordingID, *recording.captureAssetID, "caf", "capture"));
    const CafFormat format = spool.format();
    if (!format.linearPcm)
        throw CaptureSpoolError::unsupportedFormat();
    const double rate = format.sampleRate;
    if (!std::isfinite(rate) || !(rate > 0))
        throw CaptureSpoolError::invalidSampleRate();
    const auto block = static_cast<std::int64_t>(liveSegmentSeconds * rate);
    if (block < 1)
        throw CaptureSpoolError::invalidSampleRate();

    std::int64_t position = recording.capturedFrames.value_or(0);
    const std::int64_t length = format.frames;
    if (position < 0 || length < position)
        throw CaptureSpoolError::truncatedCapture();

    while (length - position >= block || (includeShortTail && length - position > 0)) {
        const std::int64_t frames = std::min(length - position, block);
        spool.seek(position);
        const Uuid assetID = Uuid::random();
        const fs::path checkpoint = workingFileURLUnlocked(recordingID, assetID, "caf", "checkpoint");
        RecordingSegment segment;
        try {
            copyBlock(spool, checkpoint, frames);
            segment = RecordingSegment::make(assetID, recording.createdAt.adding(double(position) / rate),
                                             "caf", position, std::nullopt, double(frames) / rate);
        } catch (...) {
            // Not yet listed anywhere, and the spool still holds the same audio: a clear copy
            // would only linger until the next recovery.
            std::error_code ignored;
            fs::remove(checkpoint, ignored);
            throw;
        }
        recording.segments.push_back(segment);
        recording.capturedFrames = position + frames;
        position += frames;
        // Progress and segment are saved together before the seal, so a repeated run goes on
        // after the last saved block and a clear checkpoint left by an interruption is known.
        saveManifestUnlocked(recording);
        sealClearMediaUnlocked(checkpoint, recordingID, assetID);
    }
    return recording;
}

LocalRecording RecordingStore::captureSpoolFileUnlocked(const Uuid& recordingID) const {
    LocalRecording recording = loadRecordingUnlocked(recordingID);
    if (!recording.captureAssetID)
        return recording;

    const fs::path spool = workingFileURLUnlocked(recordingID, *recording.captureAssetID, "caf", "capture");
    const std::int64_t length = CafReader::open(spool).format().frames;
    if (length != recording.capturedFrames.value_or(0))
        throw RecordingError(RecordingError::Code::invalidTransport);
    files::removeFileIfPresent(spool);
    recording.captureAssetID.reset();
    saveManifestUnlocked(recording);
    return recording;
}

} // namespace nuvel
