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
        ctx_.state.message = ctx_.localized(upload_sentences::statusNotRefreshed);
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
        ctx_.state.message = ctx_.localized(upload_sentences::statusNotRefreshed);
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
        ctx_.state.message = ctx_.localized(upload_sentences::statusNotRefreshed);
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
