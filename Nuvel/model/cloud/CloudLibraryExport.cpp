// Exporting the open meeting as Markdown, plain text or subtitles to a file the user chooses.
#include "Nuvel/model/cloud/CloudLibraryExport.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "NuvelKit/support/Files.hpp"

#include <utility>

namespace nuvel {

CloudLibraryExport::CloudLibraryExport(CloudLibraryContext& context)
    : ctx_(context),
      anchor_(std::make_shared<PartAnchor<CloudLibraryExport>>(PartAnchor<CloudLibraryExport>{this})) {}

CloudLibraryExport::~CloudLibraryExport() {
    anchor_->part = nullptr;
}

void CloudLibraryExport::exportMeeting(MeetingExport::Format format, const std::string& variant) {
    ctx_.requireMain("CloudLibrary::exportMeeting");
    if (!ctx_.documentLeaseIsValid() || !ctx_.state.document ||
        !ctx_.state.document->summary.access.allows("export"))
        return;
    NativeMeetingDocument chosen = *ctx_.state.document;
    if (variant == "raw") {
        if (!ctx_.state.originalTranscript)
            return;
        chosen.transcript = *ctx_.state.originalTranscript;
    }
    Outcome<std::string> exported =
        attemptNow([&chosen, format] { return MeetingExport::export_(chosen, format); });
    if (!exported.ok()) {
        ctx_.state.message = ctx_.localized(cloud_sentences::exportUnavailable);
        ctx_.notify();
        return;
    }
    std::string text = std::move(exported.value());
    if (!ctx_.deps.chooseExportFile)
        return;
    std::string proposedName = "Nuvel." + std::string(MeetingExport::rawValue(format));
    spawn(*ctx_.deps.mainQueue, saveExport(anchor_, ctx_.state.generation, chosen.summary.id, std::move(text),
                                           std::move(proposedName)));
}

Task<void> CloudLibraryExport::saveExport(AnchorRef anchor, Uuid generation, std::string meetingID,
                                          std::string text, std::string proposedName) {
    CloudLibraryExport* self = anchor->part;
    if (!self)
        co_return;
    ExportFileChooser choose = self->ctx_.deps.chooseExportFile;
    Task<std::optional<std::filesystem::path>> asked = choose(proposedName);
    Outcome<std::optional<std::filesystem::path>> chosen = co_await attempt(asked);
    chosen.drop("choosing the export file");
    std::optional<std::filesystem::path> destination;
    if (chosen.ok())
        destination = std::move(chosen.value());
    self = anchor->part;
    if (!self || !destination)
        co_return;
    // The panel may have stayed open past the lease or while another meeting was opened.
    if (!self->ctx_.documentLeaseIsValid() || self->ctx_.state.selectedID != meetingID)
        co_return;
    const std::filesystem::path file = *destination;
    auto write = [file, text] { files::atomicWrite(file, viewOf(text)); };
    Outcome<void> written = co_await attemptOn(self->ctx_.actors(), write);
    self = anchor->part;
    if (written.ok() || !self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    self->ctx_.state.message = self->ctx_.localized(cloud_sentences::exportUnavailable);
    self->ctx_.notify();
}

} // namespace nuvel
