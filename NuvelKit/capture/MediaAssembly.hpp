#pragma once

#include "NuvelKit/capture/AudioComposition.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace nuvel {

class RecordingStore;

// The one place where stored audio becomes an ordinary audio file again, and where audio from
// outside becomes a file the store can seal: a recording's segments joined into one M4A file for
// playback, export and upload; the digest and numbered parts of the file an upload sends; an
// imported file converted to M4A.
//
// An actor holding no state of its own beyond the free-space probe: each public operation runs
// start to end under the instance's mutex. Store steps go through the store's own (locked)
// operations, so they are serialised with all other store work.
//
// How failures of the audio-file layer are reported: a segment without an audio track is
// RecordingError::missingMedia; an import without one, or any duration that is not finite and
// above zero, is RecordingError::invalidDuration; every other MediaError, file-system, crypto and
// store error passes through unchanged.
class MediaAssembly {
public:
    static constexpr std::int64_t smallestPartBytes = 1;
    static constexpr std::int64_t largestPartBytes = 64 << 20;
    static constexpr std::int64_t estimateBitRate = 128000;
    static constexpr std::int64_t estimateReserveBytes = 256 << 20;

    struct FileDigest {
        std::string sha256; // 64 lower-case hexadecimal digits
        std::int64_t size = 0;
        bool operator==(const FileDigest&) const = default;
    };

    // `availableCapacity` gives the free space that assembly compares its estimate with;
    // the volume's own figure when none is given.
    explicit MediaAssembly(CapacityProbe availableCapacity = {});
    MediaAssembly(const MediaAssembly&) = delete;
    MediaAssembly& operator=(const MediaAssembly&) = delete;

    // The file's SHA-256 and its size (0 for something that is not a regular file). A missing or
    // unreadable file throws the file system's error.
    FileDigest fileDigest(const std::filesystem::path& file);

    // Part `index` of the file cut into parts of `partBytes`: the bytes from index × partBytes,
    // exactly partBytes of them or fewer for the last part. RecordingError::invalidTransport for a
    // part size outside 1...64 MiB, a negative index, an offset beyond 64 bits, or a part at or
    // past the end of the file. File-system errors of opening and reading are thrown.
    Bytes readPart(const std::filesystem::path& file, std::int64_t index, std::int64_t partBytes);

    // Joins every segment of `recording`, in order and without gaps, into a new "transport"
    // working file (M4A, 0600) in the recording's folder and returns its path; the caller owns
    // it. Free space is checked before any audio is touched (StorageBudgetError); the result must
    // last the segments' total duration within max(1 %, 1 s) (else invalidDuration). Clear
    // copies of the segments are removed on every path; on failure no transport file is left.
    std::filesystem::path assemble(const LocalRecording& recording, RecordingStore& store);

    // Converts the first audio track of any file FFmpeg opens (audio or movie) into an M4A file
    // at `destination`, which must not exist, and returns the written file's duration in
    // seconds. The caller owns the destination on both paths.
    double convertImport(const std::filesystem::path& source, const std::filesystem::path& destination);

private:
    // The last step of both: one composition exported to one new M4A file, mode 0600; an existing
    // destination is never replaced.
    void exportUnlocked(const AudioComposition& asset, const std::filesystem::path& destination) const;

    const CapacityProbe availableCapacity_;
    std::mutex mutex_;
};

} // namespace nuvel
