#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/service/RetryJitter.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

class AnnotationSync;

// Sending recordings to the service: the send gate (one upload at a time), the upload road of
// one run, its failure handling and heartbeat, the processing-status refresh, and the
// upload-queue wake-up that sends a queued recording again once its retry is due.
//
// A run resumes where the last one stopped: after every durable step it saves the recording's
// manifest, so the transport file is composed once, the meeting created once, and only the
// parts the service does not hold are sent (the manifest is saved after every accepted part: a
// run that dies sends again at most the part that was in flight).
class UploadQueue {
public:
    // The heartbeat interval the service may ask for is held to this range.
    static constexpr std::int64_t shortestHeartbeat = 5;
    static constexpr std::int64_t longestHeartbeat = 60;

    UploadQueue(ModelContext& context, AnnotationSync& annotations)
        : ctx_(context), annotations_(annotations) {}

    // The send gate. Refuses silently while the model cannot send the recording, and with one
    // sentence in a workspace that allows no uploads; otherwise marks the model uploading and
    // starts a run with the contract's capabilities and limits as they are now.
    void startUploadIfAllowed(const Uuid& id, bool automatic);

    // Cancels the waiting wake-up and, while the model could send (online, signed in, idle, no
    // update installing), arms one for the queued recording due first.
    void scheduleQueueWakeup();
    void cancelQueueWakeup();

    // Reads the processing state of a sent recording's meeting into it; never fails (a failure
    // is one status sentence).
    Task<void> fetchRemoteStatus(Uuid id);
    // The library's refresh of one recording, as a task of its own.
    void startStatusRefresh(const Uuid& id);
    // The meetings are gone for this user (deleted here or on the service, or no longer theirs
    // to read): the recordings sent as them stay sent, but no longer show a processing state or
    // a way to a meeting, in the list and in their manifests.
    void forgetMeetings(const std::vector<std::string>& meetingIDs);

    // The last wake-up armed (it may have fired or been cancelled since); none when disarmed.
    const TaskHandle& queueWakeup() const { return queueWakeup_; }

private:
    struct Run;
    struct PartAhead;

    Task<void> upload(ModelContext::Hold hold, std::shared_ptr<Run> run);
    // The steps of the road; throws what a step failed with.
    Task<void> road(Run& run);
    Task<void> makeTransport(Run& run);
    Task<void> createMeeting(Run& run);
    Task<bool> reconcile(Run& run);
    Task<void> startHeartbeat(Run& run);
    Task<void> sendParts(Run& run);
    // Reads the part `ahead` names from the decrypted copy while the road sends the one before.
    Task<void> readPartAhead(ModelContext::Hold hold, std::shared_ptr<MediaAssembler> media,
                             std::filesystem::path file, std::int64_t partBytes,
                             std::shared_ptr<PartAhead> ahead);
    Task<void> commit(Run& run);
    // Saves the working copy and puts it in the list.
    Task<void> saveAndPublish(Run& run, bool notify);
    // The end of an accepted run: a failed save is owed, never a failure of the upload.
    Task<void> finishAccepted(Run& run, bool sentNow);
    Task<void> handleUploadFailure(Run& run, Failure error);
    void finishUpload(TaskHandle heartbeat, std::optional<std::filesystem::path> transportFile,
                      std::shared_ptr<WorkspaceStore> store);
    Task<void> removeWorkingFile(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store,
                                 std::filesystem::path file);
    // Writes the manifests of accepted recordings whose last save failed.
    Task<void> settleOwedManifests(std::shared_ptr<WorkspaceStore> store);

    Task<void> heartbeatLoop(ModelContext::Hold hold, std::int64_t interval, std::string remoteID,
                             DeviceSession session);
    Task<void> runStatusRefresh(ModelContext::Hold hold, Uuid id);
    Task<void> forgetMeeting(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store, Uuid id);
    Task<void> wakeUp(std::weak_ptr<const void> model, double delay, Uuid recordingID);

    ModelContext& ctx_;
    AnnotationSync& annotations_;
    TaskHandle queueWakeup_;
    std::exception_ptr heartbeatFailure_;
    RetryJitter jitter_;
    // Accepted recordings whose manifest still says otherwise, by id, with the store they live in.
    std::map<Uuid, std::shared_ptr<WorkspaceStore>> owedManifests_;
};

} // namespace nuvel
