// The detail screen's intents, each led to the cloud library's request of the same name.
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/cloud/MeetingDetailRequests.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"

namespace nuvel {

void LibraryController::wireDetailRequests() {
    QPointer<LibraryController> self(this);
    requests_ = std::make_unique<MeetingDetailRequests>(
        model_.cloud(), *deps_.queue,
        [self] {
            if (self)
                self->model_.stopPlayback();
        },
        [self](bool saved, bool conflict, const std::string& message) {
            if (self)
                self->cloudDetail_.finishCorrection(saved, conflict, message);
        },
        [self](bool invited, const std::string& message) {
            if (self)
                self->cloudDetail_.finishInvitation(invited, message);
        });
    // Each closure finds the requests through the controller, so none outlives it.
    auto requests = [self]() -> MeetingDetailRequests* { return self ? self->requests_.get() : nullptr; };
    MeetingDetailController& d = cloudDetail_;
    d.onPlay = [requests](std::int64_t position) {
        if (auto* r = requests())
            r->play(position);
    };
    d.onTogglePlayback = [requests] {
        if (auto* r = requests())
            r->togglePlayback();
    };
    d.onSeek = [requests](std::int64_t position) {
        if (auto* r = requests())
            r->seek(position);
    };
    d.onSpeed = [requests](float rate) {
        if (auto* r = requests())
            r->speed(rate);
    };
    d.onCorrection = [requests](const MeetingCorrection& correction, const std::string& revision) {
        if (auto* r = requests())
            r->correction(correction, revision);
    };
    d.onExport = [requests](const std::string& format, const std::string& variant) {
        if (auto* r = requests())
            r->exportMeeting(format, variant);
    };
    d.onCreateShare = [requests](const MeetingShareRequest& request) {
        if (auto* r = requests())
            r->createShare(request);
    };
    d.onRevokeShare = [requests](const std::string& id) {
        if (auto* r = requests())
            r->revokeShare(id);
    };
    d.onRefresh = [requests] {
        if (auto* r = requests())
            r->refresh();
    };
    d.onReloadCorrection = [requests] {
        if (auto* r = requests())
            r->reloadCorrection();
    };
    d.onRename = [requests](const std::string& title) {
        if (auto* r = requests())
            r->rename(title);
    };
    d.onCreateLink = [requests](int days, bool includeAudio) {
        if (auto* r = requests())
            r->createLink(days, includeAudio);
    };
    d.onRevokeLink = [requests](const std::string& id) {
        if (auto* r = requests())
            r->revokeLink(id);
    };
    d.onDelete = [requests] {
        if (auto* r = requests())
            r->deleteMeeting();
    };
}

} // namespace nuvel
