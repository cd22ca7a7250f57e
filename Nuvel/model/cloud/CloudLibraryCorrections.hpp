#pragma once

#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nuvel {

class Failure;

// Transcript corrections of the open meeting: the sealed draft is written before the request
// goes out, a retry sends the same request key, and the outcome goes back to the detail screen.
// Also the shared answer to a rejected session or a meeting the user may no longer reach.
class CloudLibraryCorrections {
public:
    CloudLibraryCorrections(CloudLibraryContext& context, CloudLibrarySteps& steps);
    ~CloudLibraryCorrections();
    CloudLibraryCorrections(const CloudLibraryCorrections&) = delete;
    CloudLibraryCorrections& operator=(const CloudLibraryCorrections&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // See CloudMeetingModel::submitCorrection and retryCorrection.
    void submitCorrection(std::vector<MeetingRevisionOperation> operations, std::int64_t baseRevision,
                          CorrectionCompletion completion);
    Task<void> retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                               CorrectionCompletion completion, DeviceSession session, Uuid generation);
    // See CloudLibrarySteps::handleAccessError.
    Task<bool> handleAccessError(Failure failure, std::string meetingID);

private:
    using AnchorRef = PartAnchorRef<CloudLibraryCorrections>;

    // The part behind `anchor` while the library still shows `meetingID` in `generation`; null
    // once it is gone or has moved on. A task checks it after every await.
    static CloudLibraryCorrections* showing(const AnchorRef& anchor, const Uuid& generation,
                                            const std::string& meetingID) {
        CloudLibraryCorrections* self = anchor->part;
        return self && self->ctx_.isCurrentMeeting(generation, meetingID) ? self : nullptr;
    }
    static Task<void> saveAndSendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                            MeetingRevisionRequest request, CorrectionCompletion completion,
                                            DeviceSession session, std::shared_ptr<MeetingCache> cache);
    static Task<void> sendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     MeetingRevisionRequest request, CorrectionCompletion completion,
                                     DeviceSession session);
    static Task<bool> answerAccessError(AnchorRef anchor, Failure failure, std::string meetingID);

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;
};

} // namespace nuvel
