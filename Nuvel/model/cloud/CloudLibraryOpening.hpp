#pragma once

#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Task.hpp"

#include <memory>
#include <string>

namespace nuvel {

class Failure;

// Opening a cloud meeting: the offline copy while its lease holds, the saved correction draft,
// then the meeting from the service, and the fresh offline copy.
class CloudLibraryOpening {
public:
    CloudLibraryOpening(CloudLibraryContext& context, CloudLibrarySteps& steps);
    ~CloudLibraryOpening();
    CloudLibraryOpening(const CloudLibraryOpening&) = delete;
    CloudLibraryOpening& operator=(const CloudLibraryOpening&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // Opens a cloud meeting; `refreshing` keeps the open meeting on screen while it reloads.
    void openMeeting(const std::string& meetingID, bool refreshing);

private:
    using AnchorRef = PartAnchorRef<CloudLibraryOpening>;

    void finishDocumentLoad(const LoadTicket& ticket);
    static Task<void> meetingLoad(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                  std::shared_ptr<MeetingCache> cache, DeviceSession session);
    // The shared rule for a failed summary, transcript, restore, store or sharing request.
    static Task<void> meetingLoadFailed(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                        Failure failure);

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;
};

} // namespace nuvel
