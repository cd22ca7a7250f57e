// Exporting the open meeting as Markdown, plain text or subtitles to a file the user chooses.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "NuvelKit/support/Files.hpp"

#include <utility>

namespace nuvel {

void CloudLibrary::exportMeeting(MeetingExport::Format format, const std::string& variant) {
    requireMain("CloudLibrary::exportMeeting");
    if (!documentLeaseIsValid() || !state_.document || !state_.document->summary.access.allows("export"))
        return;
    NativeMeetingDocument chosen = *state_.document;
    if (variant == "raw") {
        if (!state_.originalTranscript)
            return;
        chosen.transcript = *state_.originalTranscript;
    }
    Outcome<std::string> exported =
        attemptNow([&chosen, format] { return MeetingExport::export_(chosen, format); });
    if (!exported.ok()) {
        state_.message = localized(cloud_sentences::exportUnavailable);
        notify();
        return;
    }
    std::string text = std::move(exported.value());
    if (!deps_.chooseExportFile)
        return;
    std::string proposedName = "Nuvel." + std::string(MeetingExport::rawValue(format));
    spawn(*deps_.mainQueue, saveExport(anchor_, state_.generation, chosen.summary.id, std::move(text),
                                       std::move(proposedName)));
}

Task<void> CloudLibrary::saveExport(AnchorRef anchor, Uuid generation, std::string meetingID,
                                    std::string text, std::string proposedName) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    ExportFileChooser choose = self->deps_.chooseExportFile;
    Task<std::optional<std::filesystem::path>> asked = choose(proposedName);
    Outcome<std::optional<std::filesystem::path>> chosen = co_await attempt(asked);
    chosen.drop("choosing the export file");
    std::optional<std::filesystem::path> destination;
    if (chosen.ok())
        destination = std::move(chosen.value());
    self = anchor->model;
    if (!self || !destination)
        co_return;
    // The panel may have stayed open past the lease or while another meeting was opened.
    if (!self->documentLeaseIsValid() || self->state_.selectedID != meetingID)
        co_return;
    const std::filesystem::path file = *destination;
    auto write = [file, text] { files::atomicWrite(file, viewOf(text)); };
    Outcome<void> written = co_await attemptOn(self->actors(), write);
    self = anchor->model;
    if (written.ok() || !self || !self->isCurrentGeneration(generation))
        co_return;
    self->state_.message = self->localized(cloud_sentences::exportUnavailable);
    self->notify();
}

} // namespace nuvel
