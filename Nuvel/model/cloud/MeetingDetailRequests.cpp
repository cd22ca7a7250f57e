#include "Nuvel/model/cloud/MeetingDetailRequests.hpp"

#include "NuvelKit/meetings/MeetingExport.hpp"
#include "NuvelKit/support/Task.hpp"

#include <utility>

namespace nuvel {

namespace {
Task<void> retryPending(CloudMeetingModel* cloud, std::string meetingID, MeetingRevisionRequest request,
                        CorrectionCompletion completion, DeviceSession session, Uuid generation) {
    co_await cloud->retryCorrection(std::move(meetingID), std::move(request), std::move(completion),
                                    std::move(session), generation);
}
} // namespace

MeetingDetailRequests::MeetingDetailRequests(CloudMeetingModel& cloud, MainQueue& queue,
                                             std::function<void()> stopLocalPlayback,
                                             CorrectionResult showCorrectionResult,
                                             InvitationResult showInvitationResult)
    : cloud_(cloud), queue_(queue), stopLocalPlayback_(std::move(stopLocalPlayback)),
      showCorrectionResult_(std::move(showCorrectionResult)),
      showInvitationResult_(std::move(showInvitationResult)), alive_(std::make_shared<Alive>(Alive{this})) {}

MeetingDetailRequests::~MeetingDetailRequests() {
    alive_->requests = nullptr;
}

CorrectionCompletion MeetingDetailRequests::completion() const {
    return [alive = alive_](bool saved, bool conflict) {
        MeetingDetailRequests* self = alive->requests;
        if (!self || !self->showCorrectionResult_)
            return;
        self->showCorrectionResult_(saved, conflict, self->cloud_.state().message);
    };
}

void MeetingDetailRequests::play(std::int64_t positionMilliseconds) {
    if (stopLocalPlayback_)
        stopLocalPlayback_();
    cloud_.play(positionMilliseconds);
}

void MeetingDetailRequests::togglePlayback() {
    if (stopLocalPlayback_)
        stopLocalPlayback_();
    cloud_.play(std::nullopt);
}

void MeetingDetailRequests::seek(std::int64_t positionMilliseconds) {
    cloud_.play(positionMilliseconds);
}

void MeetingDetailRequests::speed(float value) {
    cloud_.setSpeed(value);
}

void MeetingDetailRequests::correction(const MeetingCorrection& correction, std::string_view revision) {
    const std::optional<std::int64_t> base = parseMeetingRevision(revision);
    if (!base)
        return;
    cloud_.submitCorrection(correction.revisionOperations(), *base, completion());
}

void MeetingDetailRequests::retryCorrection() {
    const CloudMeetingState& state = cloud_.state();
    if (!cloud_.documentLeaseIsValid() || !state.selectedID || !state.pendingCorrection || !state.session) {
        completion()(false, false);
        return;
    }
    spawn(queue_, retryPending(&cloud_, *state.selectedID, *state.pendingCorrection, completion(),
                               *state.session, state.generation));
}

void MeetingDetailRequests::exportMeeting(std::string_view format, const std::string& variant) {
    if (const std::optional<MeetingExport::Format> chosen = MeetingExport::formatFromRawValue(format))
        cloud_.exportMeeting(*chosen, variant);
}

void MeetingDetailRequests::createShare(MeetingShareRequest request) {
    cloud_.updateSharing(std::move(request), [alive = alive_](bool invited) {
        MeetingDetailRequests* self = alive->requests;
        if (!self || !self->showInvitationResult_)
            return;
        self->showInvitationResult_(invited, self->cloud_.state().message);
    });
}

void MeetingDetailRequests::revokeShare(std::string shareID) {
    cloud_.revokeShare(std::move(shareID));
}

void MeetingDetailRequests::createLink(int days, bool includeAudio) {
    cloud_.createLink(days, includeAudio);
}

void MeetingDetailRequests::revokeLink(std::string linkID) {
    cloud_.revokeLink(std::move(linkID));
}

void MeetingDetailRequests::rename(std::string title) {
    cloud_.renameTitle(std::move(title));
}

void MeetingDetailRequests::deleteMeeting() {
    cloud_.confirmDelete();
}

void MeetingDetailRequests::refresh() {
    if (const std::optional<std::string>& id = cloud_.state().selectedID)
        cloud_.openMeeting(std::string(*id), false);
}

void MeetingDetailRequests::reloadCorrection() {
    if (const std::optional<std::string>& id = cloud_.state().selectedID)
        cloud_.openMeeting(std::string(*id), true);
}

} // namespace nuvel
