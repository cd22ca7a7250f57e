#include "Nuvel/model/WorkspaceStore.hpp"

namespace nuvel {

RecordingWorkspaceStore::RecordingWorkspaceStore(std::filesystem::path root, const SymmetricKey& key)
    : store_(std::move(root), key) {}

std::shared_ptr<WorkspaceStore> RecordingWorkspaceStore::open(const std::filesystem::path& root,
                                                              const SymmetricKey& key) {
    return std::make_shared<RecordingWorkspaceStore>(root, key);
}

RecoveryReport RecordingWorkspaceStore::recover(const std::string& accountID) {
    return store_.recover(accountID);
}

LocalRecording RecordingWorkspaceStore::loadRecording(const Uuid& id) {
    return store_.loadRecording(id);
}

void RecordingWorkspaceStore::saveManifest(const LocalRecording& recording) {
    store_.saveManifest(recording);
}

void RecordingWorkspaceStore::saveManifestKeepingAnnotations(const LocalRecording& recording) {
    store_.saveManifestKeepingAnnotations(recording);
}

void RecordingWorkspaceStore::saveNotepadSync(const LocalRecording& recording) {
    store_.saveNotepadSync(recording);
}

void RecordingWorkspaceStore::saveAnnotations(const Uuid& recordingID,
                                              const RecordingStore::Annotations& annotations) {
    store_.saveAnnotations(recordingID, annotations);
}

LocalRecording RecordingWorkspaceStore::setCaptureState(CaptureState state, const Uuid& recordingID) {
    return store_.setCaptureState(state, recordingID);
}

std::filesystem::path RecordingWorkspaceStore::workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                                              std::string_view extension,
                                                              std::string_view kind) {
    return store_.workingFileURL(recordingID, fileID, extension, kind);
}

void RecordingWorkspaceStore::sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID,
                                             const Uuid& assetID, RecordingStore::MediaDigest* digest) {
    store_.sealClearMedia(source, recordingID, assetID, digest);
}

std::filesystem::path
RecordingWorkspaceStore::sealClearMediaKeepingCopy(const std::filesystem::path& source,
                                                   const Uuid& recordingID, const Uuid& assetID,
                                                   RecordingStore::MediaDigest& digest) {
    return store_.sealClearMediaKeepingCopy(source, recordingID, assetID, digest);
}

std::filesystem::path RecordingWorkspaceStore::openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                                             std::string_view extension,
                                                             RecordingStore::MediaDigest* digest) {
    return store_.openClearCopy(recordingID, assetID, extension, digest);
}

void RecordingWorkspaceStore::removeWorkingFiles(const std::filesystem::path& file) {
    store_.removeWorkingFiles(file);
}

void RecordingWorkspaceStore::deleteRecording(const Uuid& id, const std::string& accountID) {
    store_.deleteRecording(id, accountID);
}

} // namespace nuvel
