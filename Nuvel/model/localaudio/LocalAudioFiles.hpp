#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/localaudio/LocalPlayback.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace nuvel {

// Audio files that stay on this machine: importing a file as a new saved recording, exporting a
// recording's audio as one M4A file, and removing a recording's local copy. Each holds the model
// busy from its entry point (whose checks the caller made) until its task ends, and reports its
// outcome as one status sentence.
class LocalAudioFiles {
public:
    LocalAudioFiles(ModelContext& context, UploadQueue& upload, LocalPlayback& playback)
        : ctx_(context), upload_(upload), playback_(playback) {}

    // Converts the file into one sealed M4A segment of a new recording, listed first and
    // selected. A failed import leaves nothing behind: its recording is removed from the store,
    // so no empty recording comes back after the next launch.
    void importAudio(std::filesystem::path file, bool aiNotes);
    // Writes the selected recording's audio to `destination`, replacing a file there in one step.
    void exportAudio(std::filesystem::path destination);
    // Stops playback and removes the selected recording's folder from the store (never a cloud
    // meeting).
    void discardRecording();

private:
    // How far an import got, so its failure can undo it.
    struct ImportProgress {
        std::optional<Uuid> savedRecording; // its first manifest was written
        std::optional<std::filesystem::path> staging;
    };

    Task<void> importFile(ModelContext::Hold hold, std::filesystem::path file, DeviceSession session,
                          bool aiNotes, std::shared_ptr<WorkspaceStore> store);
    Task<LocalRecording> convert(std::filesystem::path file, DeviceSession session, bool aiNotes,
                                 std::shared_ptr<WorkspaceStore> store, ImportProgress* progress);
    Task<void> undoImport(std::shared_ptr<WorkspaceStore> store, ImportProgress progress,
                          std::string accountID);
    Task<void> exportFile(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store,
                          LocalRecording recording, std::filesystem::path destination);
    Task<void> removeWorkingFile(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store,
                                 std::filesystem::path file);
    Task<void> removeLocalCopy(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store,
                               DeviceSession session, LocalRecording recording);

    ModelContext& ctx_;
    UploadQueue& upload_;
    LocalPlayback& playback_;
};

} // namespace nuvel
