#pragma once

#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

class Failure;

// Changes the user makes to the open meeting on the service: invitations and their removal,
// view-only links, the title and deleting the meeting. Each reloads what it changed and reports
// one sentence; an error of the session or of the meeting's access goes to the shared rule.
class CloudLibrarySharing {
public:
    CloudLibrarySharing(CloudLibraryContext& context, CloudLibrarySteps& steps);
    ~CloudLibrarySharing();
    CloudLibrarySharing(const CloudLibrarySharing&) = delete;
    CloudLibrarySharing& operator=(const CloudLibrarySharing&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // See CloudMeetingModel::updateSharing ... confirmDelete.
    void updateSharing(MeetingShareRequest request, InvitationCompletion completion);
    void revokeShare(std::string shareID);
    void createLink(int days, bool includeAudio);
    void revokeLink(std::string linkID);
    void renameTitle(std::string title);
    void confirmDelete();

private:
    using AnchorRef = PartAnchorRef<CloudLibrarySharing>;

    // The part behind `anchor` while the library still shows `meetingID` in `generation`; null
    // once it is gone or has moved on. A task checks it after every await.
    static CloudLibrarySharing* showing(const AnchorRef& anchor, const Uuid& generation,
                                        const std::string& meetingID) {
        CloudLibrarySharing* self = anchor->part;
        return self && self->ctx_.isCurrentMeeting(generation, meetingID) ? self : nullptr;
    }
    // The launch guard: the lease, the selection, the session, the document and the right.
    bool mayChange(std::string_view right) const;
    // The failure rule: an access error is handled; any other error writes `sentence`.
    static Task<void> changeFailed(AnchorRef anchor, std::string meetingID, Failure failure,
                                   std::string sentence);
    static Task<void> shareChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                  DeviceSession session, std::optional<MeetingShareRequest> invite,
                                  std::optional<std::string> shareID, InvitationCompletion completion);
    // After a change of the open meeting's links: loads its sharing again and shows it, with
    // `sentence` when given. A failed reload comes back; a meeting no longer shown takes nothing.
    static Task<Failure> reloadSharing(AnchorRef anchor, Uuid generation, std::string meetingID,
                                       std::string token, std::optional<std::string_view> sentence);
    static Task<void> linkCreation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                   DeviceSession session, int days, bool includeAudio);
    static Task<void> linkRevocation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     DeviceSession session, std::string linkID);
    static Task<void> titleChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                  DeviceSession session, std::string title);
    static Task<void> deletion(AnchorRef anchor, Uuid generation, std::string meetingID,
                               DeviceSession session);

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;
};

} // namespace nuvel
