#include "Nuvel/model/WorkspaceStore.hpp"

#include "NuvelKit/support/Error.hpp"

namespace nuvel {

namespace {
// The recovery scan, capture-state writes and deletion belong to the store itself (they must
// run under its one lock, beside the capture's own writes); this store does not offer them yet.
[[noreturn]] void unavailable(const char* operation) {
    throw Error(std::string("the recording store cannot ") + operation + " yet");
}
} // namespace

RecordingWorkspaceStore::RecordingWorkspaceStore(std::filesystem::path root, const SymmetricKey& key)
    : store_(std::move(root), key) {}

std::shared_ptr<WorkspaceStore> RecordingWorkspaceStore::open(const std::filesystem::path& root,
                                                              const SymmetricKey& key) {
    return std::make_shared<RecordingWorkspaceStore>(root, key);
}

StoreRecovery RecordingWorkspaceStore::recover(const std::string&) {
    unavailable("scan for recovery");
}

LocalRecording RecordingWorkspaceStore::loadRecording(const Uuid& id) {
    return store_.loadRecording(id);
}

void RecordingWorkspaceStore::saveManifest(const LocalRecording& recording) {
    store_.saveManifest(recording);
}

void RecordingWorkspaceStore::saveAnnotations(const Uuid& recordingID,
                                              const RecordingStore::Annotations& annotations) {
    store_.saveAnnotations(recordingID, annotations);
}

LocalRecording RecordingWorkspaceStore::setCaptureState(CaptureState, const Uuid&) {
    unavailable("set a capture state");
}

std::filesystem::path RecordingWorkspaceStore::workingFileURL(const Uuid& recordingID, const Uuid& fileID,
                                                              std::string_view extension,
                                                              std::string_view kind) {
    return store_.workingFileURL(recordingID, fileID, extension, kind);
}

void RecordingWorkspaceStore::sealClearMedia(const std::filesystem::path& source, const Uuid& recordingID,
                                             const Uuid& assetID) {
    store_.sealClearMedia(source, recordingID, assetID);
}

std::filesystem::path RecordingWorkspaceStore::openClearCopy(const Uuid& recordingID, const Uuid& assetID,
                                                             std::string_view extension) {
    return store_.openClearCopy(recordingID, assetID, extension);
}

void RecordingWorkspaceStore::removeWorkingFiles(const std::filesystem::path& file) {
    store_.removeWorkingFiles(file);
}

void RecordingWorkspaceStore::deleteRecording(const Uuid&, const std::string&) {
    unavailable("delete a recording");
}

} // namespace nuvel
