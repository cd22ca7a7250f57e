#pragma once

#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/meetings/MeetingExport.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <string>

namespace nuvel {

// Exporting the open meeting as Markdown, plain text or subtitles to a file the user chooses.
class CloudLibraryExport {
public:
    explicit CloudLibraryExport(CloudLibraryContext& context);
    ~CloudLibraryExport();
    CloudLibraryExport(const CloudLibraryExport&) = delete;
    CloudLibraryExport& operator=(const CloudLibraryExport&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // See CloudMeetingModel::exportMeeting.
    void exportMeeting(MeetingExport::Format format, const std::string& variant);

private:
    using AnchorRef = PartAnchorRef<CloudLibraryExport>;

    static Task<void> saveExport(AnchorRef anchor, Uuid generation, std::string meetingID, std::string text,
                                 std::string proposedName);

    CloudLibraryContext& ctx_;
    AnchorRef anchor_;
};

} // namespace nuvel
