#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Uuid.hpp"

namespace nuvel {

// Every local recording of one workspace, under one root folder:
//
//   root/<recording UUID>/manifest.nuvel        the sealed LocalRecording JSON
//   root/<recording UUID>/annotations.nuvel     the sealed Annotations JSON, once saved
//   root/<recording UUID>/<asset UUID>.nuvel    an audio asset in the EncryptedMedia container
//   root/<recording UUID>/<kind>-<UUID>.<ext>   a clear working file (kind stage, clear, transport,
//                                               capture or checkpoint; ext m4a or caf)
//
// UUIDs in names and in authenticated data are the upper-case 36-character form. A sealed
// document is the bare AES-GCM combined form; its authenticated data is the recording's UUID
// (manifest) or the UUID + "/annotations". Directories are 0700, files 0600. Nothing is cached:
// every operation reads the folder afresh.
//
// An actor: each public operation runs start to end under the store's one mutex, so operations
// never interleave. They block on the disk and are called from worker threads. Operations call
// each other only through the private *Unlocked versions, which expect the mutex to be held.
// File-system, JSON and crypto errors pass through as their own exception types.
class RecordingStore {
public:
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

    // Creates `root` (createExcludedDirectory); its errors are thrown.
    RecordingStore(std::filesystem::path root, SymmetricKey key);
    RecordingStore(const RecordingStore&) = delete;
    RecordingStore& operator=(const RecordingStore&) = delete;

    const std::filesystem::path& root() const { return root_; }

    // True for the working-file kinds and media extensions the store names files with.
    static bool isWorkingFileKind(std::string_view kind);
    static bool isMediaExtension(std::string_view extension);

    // root/<UUID>, created when missing.
    std::filesystem::path recordingDirectory(const Uuid& recordingID);

    // The path kind + "-" + fileID + "." + extension in the recording's folder (the folder is
    // created, the file is not). RecordingError::unsafePath for a kind or extension outside the
    // lists (exact, case-sensitive match).
    std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid& fileID, std::string_view extension,
                                         std::string_view kind);

    // Seals the manifest and replaces "manifest.nuvel" atomically and durably.
    // RecordingError::invalidManifest for a version other than 1; nothing is written then.
    void saveManifest(const LocalRecording& recording);

    // Opens the manifest, lays the annotations over it (scratchpad and bookmarks always, the
    // notepad only when the annotations hold one) and checks the result (LocalRecording::validate:
    // RecordingError::invalidManifest). A missing manifest throws the file system's not-found
    // error; a wrong key or a document sealed for another recording throws
    // CryptoError::authenticationFailure.
    LocalRecording loadRecording(const Uuid& id);

    // Seals the annotations and replaces "annotations.nuvel" atomically and durably. The manifest
    // is not read: annotations can be saved for any identifier.
    void saveAnnotations(const Uuid& recordingID, const Annotations& annotations);

    // Seals a clear file as the asset <assetID>.nuvel of the recording, then deletes the clear
    // file. When the asset exists already (a seal interrupted before the deletion) the asset's
    // audio must equal the file's: then only the file is deleted, else
    // RecordingError::invalidTransport and both stay. On any failure the clear file stays.
    void sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID, const Uuid& assetID);

    // Decrypts an asset into a new "clear-<UUID>.<extension>" working file of the recording and
    // returns its path; the caller removes it with removeWorkingFiles. RecordingError::unsafePath
    // for an extension other than m4a or caf. On failure no clear copy is left.
    std::filesystem::path openClearCopy(const Uuid& recordingID, const Uuid& assetID, std::string_view extension);

    // Deletes one working file, only when it lies directly in a recording folder of this store
    // and its name begins with "stage-", "clear-" or "transport-"; otherwise
    // RecordingError::unsafePath and nothing is deleted. A file already gone is no error.
    void removeWorkingFiles(const std::filesystem::path& file);

private:
    // The operations proper; the caller holds mutex_.
    std::filesystem::path recordingDirectoryUnlocked(const Uuid& recordingID) const;
    std::filesystem::path workingFileURLUnlocked(const Uuid& recordingID, const Uuid& fileID,
                                                 std::string_view extension, std::string_view kind) const;
    void saveManifestUnlocked(const LocalRecording& recording) const;
    LocalRecording loadRecordingUnlocked(const Uuid& id) const;
    void saveAnnotationsUnlocked(const Uuid& recordingID, const Annotations& annotations) const;
    void sealClearMediaUnlocked(const std::filesystem::path& source, const Uuid& recordingID,
                                const Uuid& assetID) const;
    std::filesystem::path openClearCopyUnlocked(const Uuid& recordingID, const Uuid& assetID,
                                                std::string_view extension) const;
    void removeWorkingFilesUnlocked(const std::filesystem::path& file) const;

    // Seals `document` and writes it as `name` in the recording's folder, atomically, 0600.
    void writeSealedDocument(const Uuid& recordingID, std::string_view name, std::string_view document,
                             std::string_view authenticatedData) const;
    // Reads and opens a sealed document; the JSON text inside.
    std::string readSealedDocument(const std::filesystem::path& file, std::string_view authenticatedData) const;

    static std::filesystem::path assetPath(const std::filesystem::path& folder, const Uuid& assetID);
    // The authenticated-data prefix of an asset's records: recording UUID + "/" + asset UUID.
    static std::string assetContext(const Uuid& recordingID, const Uuid& assetID);

    const std::filesystem::path root_;
    const std::filesystem::path normalizedRoot_; // absolute, without "." / ".." or a trailing separator
    const SymmetricKey key_;
    std::mutex mutex_;
};

} // namespace nuvel
