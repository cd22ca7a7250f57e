// Exporting the open meeting as Markdown, plain text or subtitles to a file the user chooses.
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
    std::string text;
    try {
        text = MeetingExport::export_(chosen, format);
    } catch (...) {
        state_.message = localized(cloud_sentences::exportUnavailable);
        notify();
        return;
    }
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
    std::optional<std::filesystem::path> destination;
    try {
        ExportFileChooser choose = self->deps_.chooseExportFile;
        destination = co_await choose(proposedName);
    } catch (...) {
        destination.reset();
    }
    self = anchor->model;
    if (!self || !destination)
        co_return;
    // The panel may have stayed open past the lease or while another meeting was opened.
    if (!self->documentLeaseIsValid() || self->state_.selectedID != meetingID)
        co_return;
    const std::filesystem::path file = *destination;
    auto write = [file, text] { files::atomicWrite(file, viewOf(text)); };
    bool written = false;
    try {
        co_await runOn(self->actors(), write);
        written = true;
    } catch (...) {
        written = false;
    }
    self = anchor->model;
    if (written || !self || !self->isCurrentGeneration(generation))
        co_return;
    self->state_.message = self->localized(cloud_sentences::exportUnavailable);
    self->notify();
}

} // namespace nuvel
