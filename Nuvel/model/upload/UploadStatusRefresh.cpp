// Around the upload road: the processing-status refresh of a sent recording, and the heartbeat
// that keeps an upload open on the service while its parts go up.
#include "Nuvel/model/annotations/AnnotationSync.hpp"
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "NuvelKit/store/NuvelLink.hpp"

#include <algorithm>
#include <array>

namespace nuvel {

namespace {

// The processing states of a meeting whose upload the service holds.
constexpr std::array<std::string_view, 4> acceptedStates = {"queued", "running", "completed", "failed"};

} // namespace

Task<void> UploadQueue::fetchRemoteStatus(Uuid id) {
    ModelState& state = ctx_.state;
    const LocalRecording* listed = state.findRecording(id);
    if (!listed || !listed->remoteID || !state.session || !state.store)
        co_return;
    const DeviceSession session = *state.session;
    std::shared_ptr<WorkspaceStore> store = state.store;
    if (listed->accountID != session.account.id) {
        ctx_.writeMessageAbout(upload_sentences::statusNotRefreshed, id);
        ctx_.notifyChange();
        co_return;
    }
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string meetingID = *listed->remoteID;
    const std::string token = session.token;
    auto read = [api, meetingID, token](std::stop_token stop) {
        return api->meeting(meetingID, token, stop);
    };
    Outcome<RemoteMeeting> fetched = co_await attemptOn(ctx_.actors(), read);
    if (!fetched.ok()) {
        fetched.drop("refreshing a meeting's status");
        ctx_.writeMessageAbout(upload_sentences::statusNotRefreshed, id);
        ctx_.notifyChange();
        co_return;
    }
    // The recording as it is now (an upload may have saved progress meanwhile), with only the
    // fields this refresh owns changed.
    const LocalRecording* current = state.findRecording(id);
    if (!current)
        co_return;
    LocalRecording refreshed = *current;
    const RemoteMeeting& meeting = fetched.value();
    refreshed.remoteState = meeting.state;
    refreshed.resultURL = NuvelLink::isMeetingLink(meeting.url);
    if (!meeting.title.empty())
        refreshed.title = meeting.title;
    if (std::find(acceptedStates.begin(), acceptedStates.end(), meeting.state) != acceptedStates.end())
        refreshed.transfer = TransferState::accepted;
    auto save = [store, refreshed] { store->saveManifestKeepingAnnotations(refreshed); };
    Outcome<void> written = co_await attemptOn(ctx_.actors(), save);
    if (!written.ok()) {
        written.drop("saving a refreshed status");
        ctx_.writeMessageAbout(upload_sentences::statusNotRefreshed, id);
        ctx_.notifyChange();
        co_return;
    }
    if (refreshed.transfer == TransferState::accepted)
        owedManifests_.erase(id);
    state.replaceRecording(refreshed);
    ctx_.notifyChange();
    co_await annotations_.syncNotepad(id);
}

void UploadQueue::startStatusRefresh(const Uuid& id) {
    ctx_.tasks.start(runStatusRefresh(ctx_.hold(), id));
}

Task<void> UploadQueue::runStatusRefresh([[maybe_unused]] ModelContext::Hold hold, Uuid id) {
    co_await fetchRemoteStatus(id);
}

void UploadQueue::forgetMeetings(const std::vector<std::string>& meetingIDs) {
    ModelState& state = ctx_.state;
    if (!state.store)
        return;
    for (const LocalRecording& recording : state.recordings) {
        const bool gone = recording.remoteID && std::find(meetingIDs.begin(), meetingIDs.end(),
                                                          *recording.remoteID) != meetingIDs.end();
        if (gone && (recording.remoteState || recording.resultURL))
            ctx_.tasks.start(forgetMeeting(ctx_.hold(), state.store, recording.id));
    }
}

Task<void> UploadQueue::forgetMeeting([[maybe_unused]] ModelContext::Hold hold,
                                      std::shared_ptr<WorkspaceStore> store, Uuid id) {
    const LocalRecording* listed = ctx_.state.findRecording(id);
    if (!listed)
        co_return;
    // Its transfer state and meeting id stay: the audio did reach the service, and is never
    // offered to be sent again.
    LocalRecording forgotten = *listed;
    forgotten.remoteState.reset();
    forgotten.resultURL.reset();
    auto save = [store, forgotten] { store->saveManifestKeepingAnnotations(forgotten); };
    Outcome<void> written = co_await attemptOn(ctx_.actors(), save);
    if (!written.ok()) {
        // The list keeps showing what the manifest holds.
        written.drop("saving a recording whose meeting is gone");
        co_return;
    }
    LocalRecording* current = ctx_.state.findRecording(id);
    if (ctx_.state.store != store || !current)
        co_return;
    LocalRecording shown = *current;
    shown.remoteState.reset();
    shown.resultURL.reset();
    ctx_.state.replaceRecording(shown);
    ctx_.notifyChange();
}

Task<void> UploadQueue::heartbeatLoop([[maybe_unused]] ModelContext::Hold hold, std::int64_t interval,
                                      std::string remoteID, DeviceSession session) {
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string token = session.token;
    for (;;) {
        // A suspend counts: the service measures the interval in real time.
        Task<void> sleep = sleepOnContinuousClock(double(interval), ctx_.deps.continuousNow);
        Outcome<void> slept = co_await attempt(sleep);
        if (slept.cancelled())
            co_return;
        if (!slept.ok()) {
            heartbeatFailure_ = slept.error();
            co_return;
        }
        if ((co_await currentStopToken()).stop_requested())
            co_return;
        auto beat = [api, remoteID, token](std::stop_token stop) {
            return api->heartbeat(remoteID, token, stop);
        };
        Outcome<NativeHeartbeat> answered = co_await attemptOn(ctx_.actors(), beat);
        if (answered.cancelled())
            co_return;
        if (!answered.ok()) {
            // The run fails with it at its next part, or before its commit.
            heartbeatFailure_ = answered.error();
            co_return;
        }
        // A cancellation that came with the answer ends the loop at the next sleep.
    }
}

} // namespace nuvel
