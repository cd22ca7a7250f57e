// The bodies of the long operations whose work this build does not carry yet: capture stop and
// pause, local playback and removal, import and export, sign-out, workspace switching, the
// upload road, the notepad's service sync, and the sleep and device notices. Each ends its
// operation the way the finished one ends (guards cleared, observers told) with nothing done,
// so no entry point is left blocked.
#include "Nuvel/model/AppModel.hpp"

namespace nuvel {

Task<void> AppModel::finishRecording(std::shared_ptr<AppModel> self, std::function<void()> completion,
                                     std::unique_ptr<CaptureSource>) {
    self->finishStop(std::move(completion));
    co_return;
}

Task<void> AppModel::setPaused(std::shared_ptr<AppModel> self) {
    self->finishTransition();
    co_return;
}

Task<void> AppModel::startPlayback(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore>,
                                   LocalRecording, std::optional<double>) {
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
    co_return;
}

Task<void> AppModel::removeLocalCopy(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore>,
                                     DeviceSession, LocalRecording) {
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
    co_return;
}

Task<void> AppModel::importFile(std::shared_ptr<AppModel> self, std::filesystem::path, DeviceSession, bool,
                                std::shared_ptr<WorkspaceStore>) {
    self->busy_ = false;
    self->notifyChange();
    co_return;
}

Task<void> AppModel::exportFile(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore>,
                                LocalRecording, std::filesystem::path) {
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
    co_return;
}

Task<void> AppModel::finishSignOut(std::shared_ptr<AppModel> self, DeviceSession) {
    self->busy_ = false;
    self->notifyChange();
    co_return;
}

Task<void> AppModel::switchWorkspace(std::shared_ptr<AppModel> self, DeviceSession, std::string) {
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
    co_return;
}

Task<void> AppModel::upload(std::shared_ptr<AppModel> self, LocalRecording, DeviceSession,
                            std::shared_ptr<WorkspaceStore>, bool, std::optional<std::int64_t>,
                            std::optional<NativeCapabilities>) {
    // Not rescheduling here: the recording is unchanged, so the queue would wake it at once again.
    self->uploading_ = false;
    self->notifyChange();
    co_return;
}

Task<void> AppModel::syncNotepad(Uuid) {
    co_return;
}

void AppModel::willSleep(std::function<void()> ready) {
    if (ready)
        ready();
}

void AppModel::deviceChanged() {}

} // namespace nuvel
