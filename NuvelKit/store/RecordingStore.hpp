#pragma once

#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/capture/CaptureTimeline.hpp"
#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/store/RecoveryReport.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// Every local recording of one workspace, under one root folder:
//
//   root/<recording UUID>/manifest.nuvel        the sealed LocalRecording JSON
//   root/<recording UUID>/annotations.nuvel     the sealed Annotations JSON, once saved
//   root/<recording UUID>/<asset UUID>.nuvel    an audio asset in the EncryptedMedia container
//   root/<recording UUID>/<kind>-<UUID>.<ext>   a clear working file (kind stage, clear, transport,
//                                               capture or checkpoint; ext m4a or caf)
//   root/<recording UUID>/live-<frame start, 20 digits>-<UUID>.caf
//                                               the live file a running capture writes into
//
// UUIDs in names and in authenticated data are the upper-case 36-character form. A sealed
// document is the bare AES-GCM combined form; its authenticated data is the recording's UUID
// (manifest) or the UUID + "/annotations". Directories are 0700, files 0600. Every operation
// reads the folder afresh; only a manifest whose file still holds exactly the bytes this store
// wrote last is not opened and decoded again (see writtenManifest_).
//
// An actor: each public operation runs start to end under the store's one mutex, so operations
// never interleave. They block on the disk and are called from worker threads. Operations call
// each other only through the private *Unlocked versions, which expect the mutex to be held.
// File-system, JSON and crypto errors pass through as their own exception types.
class RecordingStore {
public:
    // The lower-case hexadecimal SHA-256 of a clear file's bytes and their count.
    struct MediaDigest {
        std::string sha256;
        std::int64_t size = 0;
        bool operator==(const MediaDigest&) const = default;
    };
    // The annotations of a recording, saved apart from the manifest and laid over it on loading.
    struct Annotations {
        std::string scratchpad;
        std::vector<Bookmark> bookmarks;
        std::optional<std::vector<NotepadLine>> notepad; // absent: the manifest's lines stay

        // Keys "scratchpad", "bookmarks" (always written) and "notepad" (only when present).
        json::Ordered toJson() const;
        // "scratchpad" and "bookmarks" are required; "notepad" may be missing or null.
        static Annotations fromJson(const json::Reader& reader);

        bool operator==(const Annotations&) const = default;
    };

    static constexpr std::string_view manifestFileName = "manifest.nuvel";
    static constexpr std::string_view annotationsFileName = "annotations.nuvel";
    static constexpr std::string_view assetExtension = ".nuvel";

    // Moments inside the live writer and the seal at which a test may stop the process, to show
    // that an interruption there loses no audio.
    enum class Moment {
        liveFramesWritten, // a piece of audio is in the live file; the writer has not counted it yet
        segmentSaved,      // a finished live file is listed in the saved manifest; not yet sealed
        sealEncrypted,     // the sealed copy is complete beside its final name, not yet moved there
        sealPlaced,        // the asset is in place; the clear file not yet removed
    };

    struct Options {
        // Free space for the live writer's check; the volume's own figure when empty.
        CapacityProbe availableCapacity;
        // Called at each Moment; nothing when empty. It runs under the store's mutex, so it must
        // not call the store; an exception it throws fails the operation as a disk error would.
        std::function<void(Moment)> atMoment;
    };

    // Creates `root` (createExcludedDirectory); its errors are thrown.
    RecordingStore(std::filesystem::path root, SymmetricKey key, Options options = {});
    RecordingStore(const RecordingStore&) = delete;
    RecordingStore& operator=(const RecordingStore&) = delete;

    const std::filesystem::path& root() const { return root_; }

    // True for the working-file kinds and media extensions the store names files with.
    static bool isWorkingFileKind(std::string_view kind);
    static bool isMediaExtension(std::string_view extension);

    // root/<UUID> of a recording the store holds. Looking up an unknown id makes nothing: a
    // missing folder throws the file system's not-found error.
    std::filesystem::path recordingDirectory(const Uuid& recordingID);

    // The path kind + "-" + fileID + "." + extension in the recording's folder (the folder is
    // created, the file is not). RecordingError::unsafePath for a kind or extension outside the
    // lists (exact, case-sensitive match).
    std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                         std::string_view extension, std::string_view kind);

    // Seals the manifest and replaces "manifest.nuvel" atomically and durably.
    // RecordingError::invalidManifest for a version other than 1; nothing is written then.
    void saveManifest(const LocalRecording& recording);

    // Saves `recording` as saveManifest does, but with the scratchpad, bookmarks, notepad,
    // notepad revision and notepad base the stored recording holds (as loadRecording reads
    // them), all in one step: for a writer that owns the other fields and holds a copy that
    // may be older than an annotation save. Fails as loadRecording does when nothing is stored.
    void saveManifestKeepingAnnotations(const LocalRecording& recording);
    // Writes only the notepad, its revision and its base of `recording` over the stored
    // recording, in one step: for the notepad's service sync, whose copy of the other fields may
    // be older than an upload's or a status refresh's save. Fails as loadRecording does when
    // nothing is stored.
    void saveNotepadSync(const LocalRecording& recording);

    // Opens the manifest, lays the annotations over it (scratchpad and bookmarks always, the
    // notepad only when the annotations hold one) and checks the result (LocalRecording::validate:
    // RecordingError::invalidManifest). A missing manifest throws the file system's not-found
    // error and creates nothing, so do the operations below that load first (setCaptureState,
    // setSourceTimeline, deleteRecording); a wrong key or a document sealed for another
    // recording throws CryptoError::authenticationFailure.
    LocalRecording loadRecording(const Uuid& id);

    // Seals the annotations and replaces "annotations.nuvel" atomically and durably. The manifest
    // is not read: annotations can be saved for any identifier.
    void saveAnnotations(const Uuid& recordingID, const Annotations& annotations);

    // Seals a clear file as the asset <assetID>.nuvel of the recording, then deletes the clear
    // file. When the asset exists already (a seal interrupted before the deletion) the asset's
    // audio must equal the file's: then only the file is deleted, else
    // RecordingError::invalidTransport and both stay. On any failure the clear file stays.
    // `digest`, when given, receives the SHA-256 and size of the clear bytes the asset holds,
    // taken in the pass that seals (or compares) them.
    void sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID, const Uuid& assetID,
                        MediaDigest* digest = nullptr);

    // Decrypts an asset into a new "clear-<UUID>.<extension>" working file of the recording and
    // returns its path; the caller removes it with removeWorkingFiles. RecordingError::unsafePath
    // for an extension other than m4a or caf; the file system's not-found error for a recording
    // without a folder, which is not made. On failure no clear copy is left. `digest`, when given,
    // receives the SHA-256 and size of the copy's bytes, taken in the pass that decrypts them.
    std::filesystem::path openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                        std::string_view extension, MediaDigest* digest = nullptr);

    // Seals a clear working file of the recording as sealClearMedia does, digest included, but
    // keeps its bytes as a clear copy of the asset instead of deleting them: once the asset is in
    // place the file moves to a new "clear-<UUID>.<its extension>" name in the recording's folder,
    // whose path is returned; the caller removes it with removeWorkingFiles, and recovery after a
    // crash does. The file must lie directly in the recording's folder, with a name that
    // removeWorkingFiles takes and an extension of m4a or caf; otherwise RecordingError::unsafePath
    // and nothing happens. On any failure the file stays under its own name.
    std::filesystem::path sealClearMediaKeepingCopy(const std::filesystem::path& source,
                                                    const Uuid& recordingID, const Uuid& assetID,
                                                    MediaDigest& digest);

    // Deletes one working file, only when it lies directly in a recording folder of this store
    // and its name begins with "stage-", "clear-" or "transport-"; otherwise
    // RecordingError::unsafePath and nothing is deleted. A file already gone is no error.
    void removeWorkingFiles(const std::filesystem::path& file);

    // ---- The live writer and the updates that go with it ----

    // Live-writer limits: the rates and run lengths a capture may append, the free space a new
    // live file needs, and the audio one live file holds.
    static constexpr double minLiveSampleRate = 8000;
    static constexpr double maxLiveSampleRate = 192000;
    static constexpr std::size_t maxLiveSamples = 32768;
    static constexpr std::int64_t minLiveFreeBytes = 100000001;
    static constexpr double liveSegmentSeconds = 5.0;
    // The live file is synced to disk each time this much new audio is in it, and when it is
    // closed; its name is synced as soon as it is made.
    static constexpr double liveSyncSeconds = 1.0;

    // Appends mono samples to the recording's live file: a CAF file of 32-bit floats, 0600,
    // whose header stays current, so that after a crash it reads back with every frame of every
    // append that returned. A live file is opened at the recording's capturedFrames when none is
    // open, and finished (see finishLiveSegment) as soon as it holds five seconds, so one call
    // may finish one file and go on in the next.
    // RecordingError::invalidTransport for a rate outside 8000...192000 Hz (or not finite), for
    // 0 or more than 32768 samples, or while another recording's live file is open;
    // CaptureSpoolError::unsupportedFormat for a rate other than the open file's;
    // RecordingError::missingMedia when a live file would be opened with 100000000 bytes or less
    // free (or no figure). File-system and audio-file errors pass through; after a failed write
    // the file stays open and its earlier frames stay readable.
    void appendLiveAudio(std::span<const float> samples, double sampleRate, const Uuid& recordingID);

    // Closes the open live file, adds it to the manifest as a segment (kind "live"), advances
    // capturedFrames, saves the manifest and then seals the file as the segment's asset. With no
    // live file open the stored recording is returned unchanged. Whatever fails, the writer is
    // closed and forgotten afterwards; the clear file then stays for recovery.
    // RecordingError::invalidTransport for another recording's call or a file with no frames.
    LocalRecording finishLiveSegment(const Uuid& recordingID);

    void setSourceTimeline(const CaptureTimeline& timeline, const Uuid& recordingID);
    LocalRecording setCaptureState(CaptureState state, const Uuid& recordingID);

    // Removes the recording's folder with everything in it. RecordingError::accountMismatch for
    // another account's recording and RecordingError::invalidTransport while its live file is
    // open; nothing is removed then.
    void deleteRecording(const Uuid& id, std::string_view accountID);

    // Bytes of the regular files under the root (links are not followed); 0 without a root.
    std::int64_t storageUsage();

    // ---- Capture spool and recovery ----

    // Turns the recording's capture spool ("capture-<captureAssetID>.caf", linear PCM) from
    // capturedFrames on into sealed five-second "checkpoint" segments, saving the manifest before
    // each seal; a last block shorter than five seconds too when `includeShortTail`. The spool is
    // not changed. Without captureAssetID the recording is returned unchanged.
    LocalRecording recoverCaptureSpool(const Uuid& recordingID, bool includeShortTail);

    // Removes the spool once every frame of it is a segment (capturedFrames equals its length,
    // else RecordingError::invalidTransport and nothing changes) and clears captureAssetID.
    LocalRecording captureSpoolFile(const Uuid& recordingID);

    // Brings every recording of `accountID` under the root back to a consistent state after an
    // interruption: marks it interrupted where its states say so, seals clear files of known
    // segments, deletes leftover working files, turns leftover live and staged files into
    // segments (or recovery assets), converts an unfinished capture spool and saves the
    // manifest, and removes the store's own temporary documents that a kill mid-save left, and
    // sealed assets the saved manifest does not name (a transport sealed but never listed).
    // Recordings of other accounts are not touched. A recording folder that holds nothing but
    // such temporary documents (or nothing at all) has no audio to lose: it is removed and not
    // counted. A recording folder whose repair fails is counted as unreadable and left as it is
    // at that moment; so is a folder named with a lower-case UUID, which the store never makes.
    // Throws only when the root cannot be listed.
    RecoveryReport recover(std::string_view accountID);

private:
    // The operations proper; the caller holds mutex_.
    std::filesystem::path recordingDirectoryUnlocked(const Uuid& recordingID) const; // made when missing
    std::filesystem::path existingRecordingDirectoryUnlocked(const Uuid& recordingID) const;
    std::filesystem::path workingFileURLUnlocked(const Uuid& recordingID, const Uuid& fileID,
                                                 std::string_view extension, std::string_view kind) const;
    void saveManifestUnlocked(const LocalRecording& recording) const;
    LocalRecording loadRecordingUnlocked(const Uuid& id) const;
    void saveAnnotationsUnlocked(const Uuid& recordingID, const Annotations& annotations) const;
    void sealClearMediaUnlocked(const std::filesystem::path& source, const Uuid& recordingID,
                                const Uuid& assetID, MediaDigest* digest = nullptr) const;
    // The asset placed (or found equal) and durable; the clear file not yet dealt with.
    void placeSealUnlocked(const std::filesystem::path& source, const Uuid& recordingID, const Uuid& assetID,
                           MediaDigest* digest) const;
    std::filesystem::path openClearCopyUnlocked(const Uuid& recordingID, const Uuid& assetID,
                                                std::string_view extension,
                                                MediaDigest* digest = nullptr) const;
    void removeWorkingFilesUnlocked(const std::filesystem::path& file) const;
    // `file` normalised, once it names a removable working file in a recording's folder;
    // RecordingError::unsafePath otherwise.
    std::filesystem::path workingFileUnlocked(const std::filesystem::path& file) const;
    LocalRecording finishLiveSegmentUnlocked(const Uuid& recordingID);
    LocalRecording recoverCaptureSpoolUnlocked(const Uuid& recordingID, bool includeShortTail) const;
    LocalRecording captureSpoolFileUnlocked(const Uuid& recordingID) const;

    // Pieces of the operations above; the caller holds mutex_ for these too.
    void requireLiveOwner(const Uuid& recordingID) const; // the operation guard
    void openLiveFile(const Uuid& recordingID, double sampleRate);
    void forgetLiveFile();

    // One recording of the recovery scan: the repaired recording, or none for another account's.
    std::optional<LocalRecording> recoverRecording(const Uuid& id, std::string_view accountID) const;
    // Leftover live and staged files of the scan: each becomes a segment (appended to `segments`,
    // which is then stored into the recording) or a recovery asset, and is sealed either way.
    void convertLiveFile(LocalRecording& recording, std::vector<RecordingSegment>& segments,
                         const std::filesystem::path& file) const;
    void convertStagedFile(LocalRecording& recording, std::vector<RecordingSegment>& segments,
                           const std::filesystem::path& file) const;
    void sealLeftover(LocalRecording& recording, const std::filesystem::path& file,
                      const Uuid& assetID) const;

    void at(Moment moment) const {
        if (options_.atMoment)
            options_.atMoment(moment);
    }

    // Seals `document` and writes it as `name` in the recording's folder, atomically, 0600; the
    // sealed bytes written.
    Bytes writeSealedDocument(const Uuid& recordingID, std::string_view name, std::string_view document,
                              std::string_view authenticatedData) const;
    // Opens the bytes of a sealed document; the JSON text inside.
    std::string openSealedDocument(ByteView contents, std::string_view authenticatedData) const;

    static std::filesystem::path assetPath(const std::filesystem::path& folder, const Uuid& assetID);
    // The authenticated-data prefix of an asset's records: recording UUID + "/" + asset UUID.
    static std::string assetContext(const Uuid& recordingID, const Uuid& assetID);

    const std::filesystem::path root_;
    const std::filesystem::path normalizedRoot_; // absolute, without "." / ".." or a trailing separator
    const SymmetricKey key_;
    const Options options_;
    std::mutex mutex_;

    // The live writer: all four of file, path, asset and owner are set, or none is.
    std::optional<CafWriter> liveWriter_;
    std::optional<std::filesystem::path> liveURL_;
    std::optional<Uuid> liveAssetID_;
    std::optional<Uuid> liveRecordingID_;
    std::int64_t liveFrameStart_ = 0;
    std::int64_t liveFrames_ = 0;
    std::int64_t liveSyncedFrames_ = 0;
    double liveRate_ = 0;

    // The manifest this store saved last: the recording and the SHA-256 of the sealed file. A load
    // that reads the very same bytes again takes the recording from here rather than opening and
    // decoding the document: a running capture saves its manifest and reads it back several
    // times every five seconds, and decoding needs many times the document's size in short-lived
    // memory on whichever worker thread loads it, which the allocator keeps as the manifest of a
    // long recording grows. Any other bytes in the file (another writer, a damaged or replaced
    // file) are opened and decoded as always. Guarded by mutex_.
    struct WrittenManifest {
        Uuid id;
        Sha256Digest sealedDigest;
        LocalRecording recording;
    };
    mutable std::optional<WrittenManifest> writtenManifest_;
};

} // namespace nuvel
