// The bodies of the long operations whose work this build does not carry yet: sign-out,
// workspace switching, the upload road and the notepad's service sync. Each ends its
// operation the way the finished one ends (guards cleared, observers told) with nothing done,
// so no entry point is left blocked.
#include "Nuvel/model/AppModel.hpp"

namespace nuvel {

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

} // namespace nuvel
