// The send gate and the upload-queue wake-up: one upload at a time, started by the user or
// again by the queue at the earliest due retry.
#include "Nuvel/model/AppModel.hpp"

#include <cmath>
#include <limits>

namespace nuvel {

namespace {
constexpr std::string_view uploadsNotAllowedText =
    "This workspace does not currently allow uploads. Your recording remains saved on this Mac.";
} // namespace

void AppModel::startUploadIfAllowed(const Uuid& id, bool automatic) {
    requireMain("AppModel::startUploadIfAllowed");
    const LocalRecording* recording = findRecording(id);
    if (!recording || !session_ || !store_)
        return;
    if (isRecording() || busy_ || uploading_ || updateInProgress_ ||
        recording->transfer == TransferState::accepted)
        return;
    if (!canSend(*recording))
        return;
    if (bootstrap_ && !bootstrap_->workspace.canUpload) {
        setMessage(uploadsNotAllowedText);
        return;
    }
    // Fixed for the whole run, whatever happens to the contract meanwhile.
    std::optional<NativeCapabilities> capabilities;
    std::optional<std::int64_t> maxSourceBytes;
    if (bootstrap_) {
        capabilities = bootstrap_->capabilities;
        maxSourceBytes = bootstrap_->limits.maxSourceBytes;
    }
    LocalRecording copy = *recording;
    uploading_ = true;
    heartbeatFailure_ = nullptr;
    notifyChange();
    spawn(queue(), upload(shared_from_this(), std::move(copy), *session_, store_, automatic, maxSourceBytes,
                          capabilities));
}

void AppModel::scheduleQueueWakeup() {
    queueWakeup_.cancel();
    queueWakeup_ = {};
    if (!networkAvailable_ || !session_ || isRecording() || busy_ || uploading_ || updateInProgress_)
        return;

    // The queued recording due first; no retry time counts as due at once, and among equal
    // times the first in the list wins.
    const LocalRecording* chosen = nullptr;
    double chosenAt = 0;
    for (const auto& recording : recordings_) {
        if (!recording.uploadQueued.value_or(false) || recording.transfer == TransferState::accepted)
            continue;
        if (!canSend(recording))
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
    double delay = chosen->retryAt ? chosen->retryAt->sinceReferenceDate - now().sinceReferenceDate : 0;
    if (!(delay > 0))
        delay = 0;
    queueWakeup_ = spawn(queue(), queueWakeupTask(weak_from_this(), delay, chosen->id));
}

Task<void> AppModel::queueWakeupTask(std::weak_ptr<AppModel> weak, double delay, Uuid recordingID) {
    bool cancelled = false;
    if (delay > 0) {
        try {
            co_await sleepFor(delay);
        } catch (...) {
            cancelled = true;
        }
    }
    if (!cancelled) {
        try {
            co_await checkCancellation();
        } catch (...) {
            cancelled = true;
        }
    }
    if (cancelled)
        co_return;
    if (auto self = weak.lock())
        self->startUploadIfAllowed(recordingID, true);
}

} // namespace nuvel
