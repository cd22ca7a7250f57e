#include "Nuvel/model/upload/UploadQueue.hpp"

#include "Nuvel/model/upload/UploadFailure.hpp"
#include "Nuvel/model/upload/UploadRun.hpp"
#include "NuvelKit/service/APIError.hpp"

#include <limits>
#include <vector>

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
        ctx_.setMessageAbout(StatusText::uploadsNotAllowed, id);
        return;
    }
    auto run = std::make_shared<Run>();
    run->recording = *recording;
    run->session = *state.session;
    run->store = state.store;
    run->automatic = automatic;
    // Fixed for the whole run, whatever happens to the contract meanwhile.
    if (state.bootstrap) {
        run->capabilities = state.bootstrap->capabilities;
        run->maxSourceBytes = state.bootstrap->limits.maxSourceBytes;
    }
    state.uploading = true;
    heartbeatFailure_ = nullptr;
    ctx_.notifyChange();
    ctx_.tasks.start(upload(ctx_.hold(), std::move(run)));
}

Task<void> UploadQueue::upload([[maybe_unused]] ModelContext::Hold hold, std::shared_ptr<Run> run) {
    co_await settleOwedManifests(run->store);
    Task<void> steps = road(*run);
    Outcome<void> ran = co_await attempt(steps);
    if (ran.ok())
        co_return; // the road ended the run itself
    co_await handleUploadFailure(*run, std::move(ran));
}

Task<void> UploadQueue::handleUploadFailure(Run& run, Failure error) {
    applyUploadFailure(run.recording, error, run.capabilities, ctx_.now(), jitter_);
    const LocalRecording saved = run.recording;
    std::shared_ptr<WorkspaceStore> store = run.store;
    auto save = [store, saved] { store->saveManifestKeepingAnnotations(saved); };
    Outcome<void> written = co_await attemptOn(ctx_.actors(), save);
    // The list and the status line tell the outcome all the same; the manifest keeps its last state.
    written.drop("saving a failed upload");
    ctx_.state.replaceRecording(run.recording);
    error.drop("sending a recording");
    const std::string_view failure = uploadFailureMessage(error, run.recording);
    if (const APIError* refused = error.errorAs<APIError>(); refused && refused->status() == 401) {
        // The session's, not the recording's: it stays beside its way to sign in again.
        ctx_.state.writeMessage(ctx_.localized(failure));
        ctx_.state.sessionRefused = true;
    } else {
        ctx_.writeMessageAbout(failure, run.recording.id);
    }
    ctx_.notifyChange();
    finishUpload(run.heartbeat, run.transportFile, run.store);
}

void UploadQueue::finishUpload(TaskHandle heartbeat, std::optional<std::filesystem::path> transportFile,
                               std::shared_ptr<WorkspaceStore> store) {
    if (heartbeat.isValid())
        heartbeat.cancel();
    if (transportFile)
        ctx_.tasks.start(removeWorkingFile(ctx_.hold(), std::move(store), std::move(*transportFile)));
    ctx_.state.uploading = false;
    ctx_.notifyChange();
    scheduleQueueWakeup();
}

Task<void> UploadQueue::removeWorkingFile([[maybe_unused]] ModelContext::Hold hold,
                                          std::shared_ptr<WorkspaceStore> store, std::filesystem::path file) {
    auto remove = [store, file] { store->removeWorkingFiles(file); };
    Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
    // A clear copy left behind goes with its recording's folder.
    removed.drop("removing the transport working file");
}

Task<void> UploadQueue::settleOwedManifests(std::shared_ptr<WorkspaceStore> store) {
    std::vector<Uuid> owed;
    for (const auto& [id, where] : owedManifests_)
        if (where == store)
            owed.push_back(id);
    for (const Uuid& id : owed) {
        const LocalRecording* listed = ctx_.state.findRecording(id);
        if (!listed) {
            owedManifests_.erase(id); // removed, or another workspace opened
            continue;
        }
        const LocalRecording accepted = *listed;
        auto save = [store, accepted] { store->saveManifestKeepingAnnotations(accepted); };
        Outcome<void> written = co_await attemptOn(ctx_.actors(), save);
        if (!written.ok()) {
            written.drop("saving an accepted upload again");
            co_return; // the disk still refuses: the next write tries again
        }
        owedManifests_.erase(id);
    }
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
    delay = clampedDelaySeconds(delay);
    queueWakeup_ = ctx_.tasks.start(wakeUp(ctx_.weakOwner(), delay, chosen->id), ModelTasks::Scope::account);
}

Task<void> UploadQueue::wakeUp(std::weak_ptr<const void> model, double delay, Uuid recordingID) {
    const bool due = co_await ctx_.sleepUnlessCancelled(delay);
    if (!due)
        co_return;
    if (auto alive = model.lock())
        startUploadIfAllowed(recordingID, true);
}

} // namespace nuvel
