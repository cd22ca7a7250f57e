#include "NuvelKit/capture/MediaAssembly.hpp"

#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/M4aExporter.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/StorageBudget.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nuvel {
namespace {

namespace fs = std::filesystem;

using Lock = std::lock_guard<std::mutex>;

[[noreturn]] void fail(RecordingError::Code code) {
    throw RecordingError(code);
}

struct stat statOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        files::throwErrno("stat", path, errno);
    return st;
}

// The size a file reports; only regular files have one.
std::int64_t fileSize(const fs::path& path) {
    const struct stat st = statOf(path);
    return S_ISREG(st.st_mode) ? std::int64_t(st.st_size) : 0;
}

bool usable(double seconds) {
    return std::isfinite(seconds) && seconds > 0;
}

// Runs `body`, reporting a missing audio track as `code`; every other error passes through.
template <class F> auto mappingNoAudioTrack(RecordingError::Code code, F&& body) {
    try {
        return body();
    } catch (const MediaError& e) {
        if (e.code() == MediaError::Code::noAudioTrack)
            fail(code);
        throw;
    }
}

} // namespace

MediaAssembly::MediaAssembly(CapacityProbe availableCapacity)
    : availableCapacity_(availableCapacity ? std::move(availableCapacity)
                                           : CapacityProbe(volumeAvailableCapacity)) {}

MediaAssembly::FileDigest MediaAssembly::fileDigest(const fs::path& file) {
    Lock lock(mutex_);
    FileDigest result;
    result.size = fileSize(file);
    result.sha256 = sha256OfFile(file);
    return result;
}

Bytes MediaAssembly::readPart(const fs::path& file, std::int64_t index, std::int64_t partBytes) {
    Lock lock(mutex_);
    if (partBytes < smallestPartBytes || partBytes > largestPartBytes || index < 0)
        fail(RecordingError::Code::invalidTransport);
    std::int64_t offset = 0;
    if (__builtin_mul_overflow(index, partBytes, &offset))
        fail(RecordingError::Code::invalidTransport);

    const files::FileDescriptor input = files::openForReading(file);
    if (::lseek(input.get(), off_t(offset), SEEK_SET) < 0)
        files::throwErrno("seek", file, errno);

    // The buffer is sized to what the file still holds, not to the largest part.
    std::int64_t capacity = partBytes;
    struct stat st {};
    if (::fstat(input.get(), &st) == 0 && S_ISREG(st.st_mode))
        capacity = std::clamp<std::int64_t>(std::int64_t(st.st_size) - offset, 0, partBytes);
    Bytes part(static_cast<std::size_t>(capacity));
    const std::size_t got = input.readUpTo(part.data(), part.size(), file);
    if (got == 0)
        fail(RecordingError::Code::invalidTransport);
    part.resize(got);
    return part; // the descriptor closes here; a failure to close is of no consequence to a read
}

fs::path MediaAssembly::assemble(const LocalRecording& recording, RecordingStore& store) {
    Lock lock(mutex_);
    const Uuid& id = recording.id;
    const fs::path folder = store.recordingDirectory(id);

    // Free space first, from file sizes alone: the sealed assets, the audio at the estimate's bit
    // rate counted twice (clear copies and the output), and a reserve.
    std::int64_t assetBytes = 0;
    for (const RecordingSegment& segment : recording.segments) {
        const std::int64_t size =
            fileSize(folder / (segment.id.uppercase() + std::string(RecordingStore::assetExtension)));
        if (__builtin_add_overflow(assetBytes, size, &assetBytes))
            throw StorageBudgetError::invalidEstimate();
    }
    const double expected = recording.totalDuration();
    const StorageBudget budget(assetBytes, estimateBitRate, estimateReserveBytes, expected);
    budget.check(availableCapacity_(folder).value_or(0));

    std::vector<fs::path> clearCopies;
    std::optional<fs::path> output;
    auto removeQuietly = [&store](const fs::path& file) {
        try {
            store.removeWorkingFiles(file);
        } catch (...) {
            // A copy that cannot be removed now is a leftover working file for recovery.
        }
    };
    try {
        AudioComposition composition;
        for (const RecordingSegment& segment : recording.segments) {
            clearCopies.push_back(store.openClearCopy(id, segment.id, segment.fileExtension.value_or("m4a")));
            const fs::path& copy = clearCopies.back();
            const AudioFileInfo info = AudioFileInfo::load(copy);
            const AudioTrackInfo* track = info.firstAudioTrack();
            if (track == nullptr)
                fail(RecordingError::Code::missingMedia);
            if (!usable(info.duration))
                fail(RecordingError::Code::invalidDuration);
            // Each segment contributes its whole file, measured from the file itself.
            composition.append(copy, *track, info.duration);
        }

        output = store.workingFileURL(id, Uuid::random(), "m4a", "transport");
        mappingNoAudioTrack(RecordingError::Code::missingMedia,
                            [&] { exportUnlocked(composition, *output); });

        const double written = AudioFileInfo::load(*output).duration;
        if (!usable(written) || !(std::abs(written - expected) < std::max(0.01 * expected, 1.0)))
            fail(RecordingError::Code::invalidDuration);
    } catch (...) {
        for (const fs::path& copy : clearCopies)
            removeQuietly(copy);
        // A transport file nobody will be told of would be a clear copy of the whole recording.
        if (output)
            removeQuietly(*output);
        throw;
    }
    for (const fs::path& copy : clearCopies)
        removeQuietly(copy);
    return *output;
}

double MediaAssembly::convertImport(const fs::path& source, const fs::path& destination) {
    Lock lock(mutex_);
    const AudioFileInfo info = AudioFileInfo::load(source);
    if (!usable(info.duration))
        fail(RecordingError::Code::invalidDuration);
    // A file without sound has no usable duration as a recording.
    if (info.audioTracks.empty())
        fail(RecordingError::Code::invalidDuration);

    AudioComposition whole;
    mappingNoAudioTrack(RecordingError::Code::invalidDuration, [&] {
        whole.appendWholeFile(source, info);
        exportUnlocked(whole, destination);
    });

    const double written = AudioFileInfo::load(destination).duration;
    if (!usable(written))
        fail(RecordingError::Code::invalidDuration);
    return written;
}

void MediaAssembly::exportUnlocked(const AudioComposition& asset, const fs::path& destination) const {
    exportM4a(asset, destination);
    // Created owner-only already; set again so the mode never rests on how the file was made.
    if (::chmod(destination.c_str(), 0600) != 0)
        files::throwErrno("chmod", destination, errno);
}

} // namespace nuvel
