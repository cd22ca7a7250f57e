#pragma once

#include "Nuvel/model/ModelContext.hpp"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

namespace nuvel {

// The way into the upload road: the send gate (one upload at a time), and the upload-queue
// wake-up that sends a queued recording again once its retry is due. The road itself is not
// built yet: a run ends as it starts, with the recording unchanged.
class UploadQueue {
public:
    explicit UploadQueue(ModelContext& context) : ctx_(context) {}

    // The send gate. Refuses silently while the model cannot send the recording, and with one
    // sentence in a workspace that allows no uploads; otherwise marks the model uploading and
    // starts a run with the contract's capabilities and limits as they are now.
    void startUploadIfAllowed(const Uuid& id, bool automatic);

    // Cancels the waiting wake-up and, while the model could send (online, signed in, idle, no
    // update installing), arms one for the queued recording due first.
    void scheduleQueueWakeup();
    void cancelQueueWakeup();

    // The last wake-up armed (it may have fired or been cancelled since); none when disarmed.
    const TaskHandle& queueWakeup() const { return queueWakeup_; }
    // What the running upload's heartbeat failed with; none while it beats.
    const std::exception_ptr& heartbeatFailure() const { return heartbeatFailure_; }

private:
    Task<void> upload(ModelContext::Hold hold, LocalRecording recording, DeviceSession session,
                      std::shared_ptr<WorkspaceStore> store, bool automatic, std::optional<std::int64_t> maxSourceBytes,
                      std::optional<NativeCapabilities> capabilities);
    Task<void> wakeUp(std::weak_ptr<const void> model, double delay, Uuid recordingID);

    ModelContext& ctx_;
    TaskHandle queueWakeup_;
    std::exception_ptr heartbeatFailure_;
};

} // namespace nuvel
