// The upload road of one run: the sealed transport file, the meeting, the reconciliation with
// the service, the heartbeat, the missing parts and the commit.
#include "Nuvel/model/upload/UploadQueue.hpp"
#include "Nuvel/model/upload/UploadRun.hpp"
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/UploadReconciliation.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <set>

namespace nuvel {

namespace {

[[noreturn]] void invalidTransport() {
    throw RecordingError(RecordingError::Code::invalidTransport);
}

// The first index after `after` that the service does not hold yet; `count` when none is left.
std::int64_t nextUnsentPart(const std::set<std::int64_t>& acknowledged, std::int64_t after,
                            std::int64_t count) {
    std::int64_t index = after + 1;
    while (index < count && acknowledged.contains(index))
        ++index;
    return index;
}

// "ar" for any form of Arabic first among the preferred languages, "en" otherwise.
std::string creationLanguage(const std::optional<std::string>& preferred) {
    return preferred && preferred->starts_with("ar") ? "ar" : "en";
}

} // namespace

Task<void> UploadQueue::saveAndPublish(Run& run, bool notify) {
    const LocalRecording saved = run.recording;
    std::shared_ptr<WorkspaceStore> store = run.store;
    auto save = [store, saved] { store->saveManifestKeepingAnnotations(saved); };
    co_await runOn(ctx_.actors(), save);
    ctx_.state.replaceRecording(run.recording);
    if (notify)
        ctx_.notifyChange();
}

Task<void> UploadQueue::road(Run& run) {
    LocalRecording& r = run.recording;
    r.requireAccount(run.session.account.id);

    r.uploadQueued = true;
    r.retryAt.reset();
    if (!run.automatic)
        r.retryAttempts = 0;
    co_await saveAndPublish(run, false);

    if (!r.transportAssetID)
        co_await makeTransport(run);
    if (!r.transportAssetID || !r.transportSHA256 || !r.transportBytes)
        invalidTransport();

    // A transport sealed by this run is read from the clear bytes it was sealed from, whose
    // digest the seal took. One sealed by an earlier run is decrypted for reading the parts and
    // checked: the copy's digest is taken from the bytes as they are decrypted, not by reading
    // the copy again.
    if (!run.transportFile) {
        std::shared_ptr<WorkspaceStore> store = run.store;
        const Uuid recordingID = r.id;
        const Uuid assetID = *r.transportAssetID;
        auto open = [store, recordingID, assetID] {
            RecordingStore::MediaDigest digest;
            std::filesystem::path copy = store->openClearCopy(recordingID, assetID, "m4a", &digest);
            return std::make_pair(std::move(copy), std::move(digest));
        };
        const std::pair<std::filesystem::path, RecordingStore::MediaDigest> opened =
            co_await runOn(ctx_.actors(), open);
        run.transportFile = opened.first;
        if (opened.second.sha256 != *r.transportSHA256)
            invalidTransport();
    }
    if (!ctx_.deps.media)
        throw RecordingError(RecordingError::Code::missingMedia);

    if (run.maxSourceBytes && *r.transportBytes > *run.maxSourceBytes)
        throw APIError(413, "too_large");

    if (!r.remoteID)
        co_await createMeeting(run);
    if (!r.remoteID)
        invalidTransport();
    if (run.capability(&NativeCapabilities::uploadReconciliation)) {
        const bool accepted = co_await reconcile(run);
        if (accepted)
            co_return;
    }
    if (!r.partBytes || *r.partBytes <= 0)
        invalidTransport();

    if (run.capability(&NativeCapabilities::uploadHeartbeat))
        co_await startHeartbeat(run);

    r.transfer = TransferState::uploading;
    r.errorCode.reset();
    co_await saveAndPublish(run, true);
    co_await sendParts(run);
    co_await commit(run);
}

Task<void> UploadQueue::makeTransport(Run& run) {
    std::shared_ptr<WorkspaceStore> store = run.store;
    std::shared_ptr<MediaAssembler> media = ctx_.deps.media;
    const LocalRecording recording = run.recording;
    auto compose = [media, store, recording] {
        if (!media)
            throw RecordingError(RecordingError::Code::missingMedia);
        return media->assemble(recording, *store);
    };
    run.transportFile = co_await runOn(ctx_.actors(), compose);
    const std::filesystem::path composed = *run.transportFile;
    // The digest and size are those of the very bytes sealed, taken in the sealing pass. The
    // composed file stays as the run's clear working copy under a new name: decrypting the asset
    // again would only give back the bytes just digested.
    const Uuid assetID = Uuid::random();
    const Uuid recordingID = recording.id;
    auto seal = [store, composed, recordingID, assetID] {
        RecordingStore::MediaDigest digest;
        std::filesystem::path copy = store->sealClearMediaKeepingCopy(composed, recordingID, assetID, digest);
        return std::make_pair(std::move(copy), std::move(digest));
    };
    const std::pair<std::filesystem::path, RecordingStore::MediaDigest> sealed =
        co_await runOn(ctx_.actors(), seal);
    const RecordingStore::MediaDigest& made = sealed.second;
    run.transportFile = sealed.first;
    run.recording.transportAssetID = assetID;
    run.recording.transportSHA256 = made.sha256;
    run.recording.transportBytes = made.size;
    co_await saveAndPublish(run, false);
}

Task<void> UploadQueue::createMeeting(Run& run) {
    LocalRecording& r = run.recording;
    if (!r.creationRequest) {
        // Built once: every later run sends the same request, with the same client recording id.
        r.creationRequest = CreateMeetingRequest::make(
            r, run.session.account.id, creationLanguage(ctx_.deps.preferredLanguage()), ctx_.deps.timeZone(),
            run.capability(&NativeCapabilities::createIdempotency));
    }
    r.transfer = TransferState::creating;
    co_await saveAndPublish(run, true);
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const CreateMeetingRequest request = *r.creationRequest;
    const std::string token = run.session.token;
    auto create = [api, request, token](std::stop_token stop) {
        return api->createMeeting(request, token, stop);
    };
    const CreatedMeeting created = co_await runOn(ctx_.actors(), create);
    // Saved by the next step's save, or by the failure handling.
    r.remoteID = created.id;
    r.partBytes = created.partBytes;
    if (uploadPartCount(*r.transportBytes, created.partBytes) > created.maxParts)
        invalidTransport();
}

Task<bool> UploadQueue::reconcile(Run& run) {
    LocalRecording& r = run.recording;
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string meetingID = *r.remoteID;
    const std::string token = run.session.token;
    auto read = [api, meetingID, token](std::stop_token stop) {
        return api->uploadStatus(meetingID, token, stop);
    };
    const NativeUploadStatus status = co_await runOn(ctx_.actors(), read);
    const LocalUpload local{r.remoteID, r.workspaceID, *r.transportBytes, *r.transportSHA256};
    const UploadReconciliation reduced = reconcileUpload(status, local);
    if (const auto* resume = std::get_if<UploadResume>(&reduced)) {
        r.partBytes = resume->partBytes;
        r.acknowledgedParts = resume->acknowledged;
        co_return false;
    }
    co_await finishAccepted(run, false);
    co_return true;
}

Task<void> UploadQueue::startHeartbeat(Run& run) {
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string meetingID = *run.recording.remoteID;
    const std::string token = run.session.token;
    auto beat = [api, meetingID, token](std::stop_token stop) {
        return api->heartbeat(meetingID, token, stop);
    };
    const NativeHeartbeat first = co_await runOn(ctx_.actors(), beat);
    if (!first.ok)
        invalidTransport();
    const std::int64_t interval = std::clamp(first.heartbeatSeconds, shortestHeartbeat, longestHeartbeat);
    run.heartbeat = ctx_.tasks.start(heartbeatLoop(ctx_.hold(), interval, meetingID, run.session));
}

Task<void> UploadQueue::sendParts(Run& run) {
    LocalRecording& r = run.recording;
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    std::shared_ptr<MediaAssembler> media = ctx_.deps.media;
    const std::string meetingID = *r.remoteID;
    const std::string token = run.session.token;
    const std::filesystem::path file = *run.transportFile;
    const std::int64_t partBytes = *r.partBytes;
    const std::int64_t count = uploadPartCount(*r.transportBytes, partBytes);
    // The part after the one being sent is read meanwhile, so the connection does not wait for
    // the disk: two parts at most are held in memory, the one going and the next.
    std::shared_ptr<PartAhead> ahead;
    for (std::int64_t index = nextUnsentPart(r.acknowledgedParts, -1, count); index < count;
         index = nextUnsentPart(r.acknowledgedParts, index, count)) {
        if (heartbeatFailure_)
            std::rethrow_exception(heartbeatFailure_);
        co_await checkCancellation();
        Bytes part;
        if (ahead) {
            co_await ahead->reading.join();
            if (ahead->error)
                std::rethrow_exception(ahead->error);
            part = std::move(ahead->bytes);
            ahead.reset();
        } else {
            auto read = [media, file, index, partBytes] { return media->readPart(file, index, partBytes); };
            part = co_await runOn(ctx_.actors(), read);
        }
        const std::int64_t next = nextUnsentPart(r.acknowledgedParts, index, count);
        if (next < count) {
            ahead = std::make_shared<PartAhead>();
            ahead->index = next;
            ahead->reading = ctx_.tasks.start(readPartAhead(ctx_.hold(), media, file, partBytes, ahead));
        }
        auto send = [api, index, meetingID, token, part = std::move(part)](std::stop_token stop) {
            api->uploadPart(meetingID, index, part, token, stop);
        };
        co_await runOn(ctx_.actors(), send);
        r.acknowledgedParts.insert(index);
        // Saved before the next part goes: a run that stops sends again at most the part that
        // was in flight, and never counts an unsent one.
        co_await saveAndPublish(run, true);
    }
    if (heartbeatFailure_)
        std::rethrow_exception(heartbeatFailure_);
    if (run.heartbeat.isValid()) {
        run.heartbeat.cancel();
        co_await run.heartbeat.join();
    }
}

Task<void> UploadQueue::readPartAhead([[maybe_unused]] ModelContext::Hold hold,
                                      std::shared_ptr<MediaAssembler> media, std::filesystem::path file,
                                      std::int64_t partBytes, std::shared_ptr<PartAhead> ahead) {
    const std::int64_t index = ahead->index;
    auto read = [media, file, index, partBytes] { return media->readPart(file, index, partBytes); };
    try {
        ahead->bytes = co_await runOn(ctx_.actors(), read);
    } catch (...) {
        // Met by the road when it comes to this part, after the parts before it are sent.
        ahead->error = std::current_exception();
    }
}

Task<void> UploadQueue::commit(Run& run) {
    LocalRecording& r = run.recording;
    r.transfer = TransferState::committing;
    co_await saveAndPublish(run, true);
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string meetingID = *r.remoteID;
    const std::string token = run.session.token;
    const std::string sha256 = *r.transportSHA256;
    const std::int64_t parts = uploadPartCount(*r.transportBytes, *r.partBytes);
    auto send = [api, meetingID, parts, sha256, token](std::stop_token stop) {
        api->commitUpload(meetingID, parts, sha256, token, stop);
    };
    co_await runOn(ctx_.actors(), send);
    co_await finishAccepted(run, true);
}

Task<void> UploadQueue::finishAccepted(Run& run, bool sentNow) {
    LocalRecording& r = run.recording;
    r.transfer = TransferState::accepted;
    r.uploadQueued = false;
    r.retryAt.reset();
    r.retryAttempts = 0;
    const LocalRecording saved = r;
    std::shared_ptr<WorkspaceStore> store = run.store;
    auto save = [store, saved] { store->saveManifestKeepingAnnotations(saved); };
    Outcome<void> written = co_await attemptOn(ctx_.actors(), save);
    if (!written.ok()) {
        // The service holds the recording: it stays accepted here, and its manifest is written
        // again at the next save.
        written.drop("saving an accepted upload");
        owedManifests_[r.id] = store;
    } else {
        owedManifests_.erase(r.id);
    }
    ctx_.state.replaceRecording(r);
    if (sentNow)
        ctx_.writeMessageAbout(upload_sentences::sent, r.id);
    ctx_.notifyChange();
    const Uuid id = r.id;
    co_await fetchRemoteStatus(id);
    finishUpload(run.heartbeat, run.transportFile, run.store);
}

} // namespace nuvel
