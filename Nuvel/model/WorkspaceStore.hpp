#pragma once

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingStates.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/RecoveryReport.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The operations the application model performs on the open workspace's recording store. Like
// the store itself they block on the disk: the model calls them on its actor executor, never
// on the main queue. Errors pass through as the store throws them.
class WorkspaceStore {
public:
    virtual ~WorkspaceStore() = default;

    virtual const std::filesystem::path& root() const = 0;

    // Scans the recording folders, repairs interrupted recordings and reports those of
    // `accountID`.
    virtual RecoveryReport recover(const std::string& accountID) = 0;
    virtual LocalRecording loadRecording(const Uuid& id) = 0;
    virtual void saveManifest(const LocalRecording& recording) = 0;
    // Saves the manifest but keeps the annotations and notepad fields as stored (see
    // RecordingStore::saveManifestKeepingAnnotations).
    virtual void saveManifestKeepingAnnotations(const LocalRecording& recording) = 0;
    // Saves only the notepad fields (see RecordingStore::saveNotepadSync).
    virtual void saveNotepadSync(const LocalRecording& recording) = 0;
    virtual void saveAnnotations(const Uuid& recordingID, const RecordingStore::Annotations& annotations) = 0;
    // Loads the manifest, sets its capture state, saves it and returns it.
    virtual LocalRecording setCaptureState(CaptureState state, const Uuid& recordingID) = 0;
    virtual std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                                 std::string_view extension, std::string_view kind) = 0;
    // `digest`, when given, receives the SHA-256 and size of the clear bytes, taken in the same
    // pass as the cipher (see RecordingStore).
    virtual void sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID,
                                const Uuid& assetID, RecordingStore::MediaDigest* digest = nullptr) = 0;
    // Seals a clear working file and keeps its bytes as a clear copy of the asset, whose path is
    // returned (see RecordingStore).
    virtual std::filesystem::path sealClearMediaKeepingCopy(const std::filesystem::path& source,
                                                            const Uuid& recordingID, const Uuid& assetID,
                                                            RecordingStore::MediaDigest& digest) = 0;
    virtual std::filesystem::path openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                                std::string_view extension,
                                                RecordingStore::MediaDigest* digest = nullptr) = 0;
    virtual void removeWorkingFiles(const std::filesystem::path& file) = 0;
    // Removes the recording's folder after checking that its manifest names `accountID`.
    virtual void deleteRecording(const Uuid& id, const std::string& accountID) = 0;

    // The store underneath, for the capture and media layers that write into it directly;
    // null for a store that is not backed by a RecordingStore.
    virtual RecordingStore* recordingStore() { return nullptr; }
};

// Opens (creating when missing) the store of one workspace folder under the media key.
using WorkspaceStoreFactory = std::function<std::shared_ptr<WorkspaceStore>(const std::filesystem::path& root,
                                                                            const SymmetricKey& key)>;

// A workspace store over the encrypted RecordingStore.
class RecordingWorkspaceStore final : public WorkspaceStore {
public:
    RecordingWorkspaceStore(std::filesystem::path root, const SymmetricKey& key);

    // The factory the application uses.
    static std::shared_ptr<WorkspaceStore> open(const std::filesystem::path& root, const SymmetricKey& key);

    const std::filesystem::path& root() const override { return store_.root(); }
    RecoveryReport recover(const std::string& accountID) override;
    LocalRecording loadRecording(const Uuid& id) override;
    void saveManifest(const LocalRecording& recording) override;
    void saveManifestKeepingAnnotations(const LocalRecording& recording) override;
    void saveNotepadSync(const LocalRecording& recording) override;
    void saveAnnotations(const Uuid& recordingID, const RecordingStore::Annotations& annotations) override;
    LocalRecording setCaptureState(CaptureState state, const Uuid& recordingID) override;
    std::filesystem::path workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                         std::string_view extension, std::string_view kind) override;
    void sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID, const Uuid& assetID,
                        RecordingStore::MediaDigest* digest = nullptr) override;
    std::filesystem::path sealClearMediaKeepingCopy(const std::filesystem::path& source,
                                                    const Uuid& recordingID, const Uuid& assetID,
                                                    RecordingStore::MediaDigest& digest) override;
    std::filesystem::path openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                        std::string_view extension,
                                        RecordingStore::MediaDigest* digest = nullptr) override;
    void removeWorkingFiles(const std::filesystem::path& file) override;
    void deleteRecording(const Uuid& id, const std::string& accountID) override;
    RecordingStore* recordingStore() override { return &store_; }

private:
    RecordingStore store_;
};

} // namespace nuvel
