#include "Nuvel/model/ModelState.hpp"

namespace nuvel {

void ModelState::writeMessage(std::string text) {
    message = std::move(text);
    messageAboutRecording = false;
    messageRecording.reset();
}

void ModelState::writeMessageAbout(std::string text, std::optional<Uuid> recording) {
    message = std::move(text);
    messageAboutRecording = true;
    messageRecording = recording;
}

bool ModelState::showingRecording(const std::optional<Uuid>& shown) {
    if (!messageAboutRecording || shown == messageRecording)
        return false;
    writeMessage({});
    return true;
}

bool ModelState::showingCloudLibrary() {
    if (!messageAboutRecording)
        return false;
    writeMessage({});
    return true;
}

bool ModelState::isCapturing() const {
    const LocalRecording* active = recordingMatching(activeID);
    return active && active->capture == CaptureState::recording;
}

bool ModelState::isPaused() const {
    const LocalRecording* active = recordingMatching(activeID);
    return active && active->capture == CaptureState::paused;
}

const LocalRecording* ModelState::recordingMatching(const std::optional<Uuid>& id) const {
    if (!id)
        return nullptr;
    for (const auto& recording : recordings)
        if (recording.id == *id)
            return &recording;
    return nullptr;
}

LocalRecording* ModelState::findRecording(const Uuid& id) {
    for (auto& recording : recordings)
        if (recording.id == id)
            return &recording;
    return nullptr;
}

std::optional<std::string> ModelState::selectedWorkspaceID() const {
    if (!bootstrap)
        return std::nullopt;
    return bootstrap->selectedWorkspaceID;
}

bool ModelState::canSend(const LocalRecording& recording) const {
    if (recording.transfer != TransferState::needsReview)
        return true;
    // A recording that needs review goes again only when the service can recognise the earlier
    // attempt: by the meeting it already made, or by the client's own recording id.
    if (recording.remoteID)
        return bootstrap && bootstrap->capabilities.uploadReconciliation;
    if (recording.creationRequest && recording.creationRequest->client_recording_id)
        return bootstrap && bootstrap->capabilities.createIdempotency;
    return false;
}

void ModelState::replaceRecording(const LocalRecording& recording) {
    LocalRecording* listed = findRecording(recording.id);
    if (!listed)
        return;
    LocalRecording copy = recording;
    copy.scratchpad = listed->scratchpad;
    copy.bookmarks = listed->bookmarks;
    copy.notepad = listed->notepad;
    copy.notepadRevision = listed->notepadRevision;
    copy.notepadBase = listed->notepadBase;
    *listed = std::move(copy);
}

} // namespace nuvel
