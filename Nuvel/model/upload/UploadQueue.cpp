#include "Nuvel/model/upload/UploadQueue.hpp"

#include <cmath>
#include <limits>

namespace nuvel {

void UploadQueue::startUploadIfAllowed(const Uuid& id, bool automatic) {
    ModelState& state = ctx_.state;
    const LocalRecording* recording = state.findRecording(id);
    if (!recording || !state.session || !state.store)
        return;
    if (state.isRecording() || state.busy || state.uploading || state.updateInProgress ||
        recording->transfer == TransferState::accepted)
        return;
    if (!state.canSend(*recording))
        return;
    if (state.bootstrap && !state.bootstrap->workspace.canUpload) {
        ctx_.setMessage(StatusText::uploadsNotAllowed);
        return;
    }
    // Fixed for the whole run, whatever happens to the contract meanwhile.
    std::optional<NativeCapabilities> capabilities;
    std::optional<std::int64_t> maxSourceBytes;
    if (state.bootstrap) {
        capabilities = state.bootstrap->capabilities;
        maxSourceBytes = state.bootstrap->limits.maxSourceBytes;
    }
    LocalRecording copy = *recording;
    state.uploading = true;
    heartbeatFailure_ = nullptr;
    ctx_.notifyChange();
    ctx_.tasks.start(upload(ctx_.hold(), std::move(copy), *state.session, state.store, automatic, maxSourceBytes,
                            capabilities));
}

Task<void> UploadQueue::upload([[maybe_unused]] ModelContext::Hold hold, LocalRecording, DeviceSession,
                               std::shared_ptr<WorkspaceStore>, bool, std::optional<std::int64_t>,
                               std::optional<NativeCapabilities>) {
    // Not rescheduling here: the recording is unchanged, so the queue would wake it at once again.
    ctx_.state.uploading = false;
    ctx_.notifyChange();
    co_return;
}

void UploadQueue::cancelQueueWakeup() {
    queueWakeup_.cancel();
    queueWakeup_ = {};
}

void UploadQueue::scheduleQueueWakeup() {
    cancelQueueWakeup();
    const ModelState& state = ctx_.state;
    if (!state.networkAvailable || !state.session || state.isRecording() || state.busy || state.uploading ||
        state.updateInProgress)
        return;

    // The queued recording due first; no retry time counts as due at once, and among equal
    // times the first in the list wins.
    const LocalRecording* chosen = nullptr;
    double chosenAt = 0;
    for (const auto& recording : state.recordings) {
        if (!recording.uploadQueued.value_or(false) || recording.transfer == TransferState::accepted)
            continue;
        if (!state.canSend(recording))
            continue;
        double at = recording.retryAt ? recording.retryAt->sinceReferenceDate
                                      : -std::numeric_limits<double>::infinity();
        if (!chosen || at < chosenAt) {
            chosen = &recording;
            chosenAt = at;
        }
    }
    if (!chosen)
        return;
    double delay = chosen->retryAt ? chosen->retryAt->sinceReferenceDate - ctx_.now().sinceReferenceDate : 0;
    if (!(delay > 0))
        delay = 0;
    queueWakeup_ = ctx_.tasks.start(wakeUp(ctx_.weakOwner(), delay, chosen->id), ModelTasks::Scope::account);
}

Task<void> UploadQueue::wakeUp(std::weak_ptr<const void> model, double delay, Uuid recordingID) {
    const bool due = co_await sleepUnlessCancelled(delay);
    if (!due)
        co_return;
    if (auto alive = model.lock())
        startUploadIfAllowed(recordingID, true);
}

} // namespace nuvel
