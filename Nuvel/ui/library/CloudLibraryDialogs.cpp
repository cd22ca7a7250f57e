#include "Nuvel/ui/library/CloudLibraryDialogs.hpp"

#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "NuvelKit/support/Url.hpp"

namespace nuvel {

std::string webHostOf(std::string_view origin) {
    const std::optional<Url> url = Url::parse(origin);
    if (!url || !url->host())
        return {};
    return std::string(*url->host());
}

Task<std::optional<std::filesystem::path>> chooseExportFile(Dialogs* dialogs, std::string proposedName) {
    SavePanel panel;
    panel.proposedName = QString::fromStdString(proposedName);
    const std::string extension = std::filesystem::path(proposedName).extension().string();
    if (!extension.empty())
        panel.nameFilters = {QStringLiteral("*") + QString::fromStdString(extension)};
    co_return dialogs->runSavePanel(panel);
}

Task<bool> confirmMeetingDelete(Dialogs* dialogs) {
    co_return confirmed(
        *dialogs, "Delete this meeting from Nuvel?",
        "This removes the shared transcript, notes and server audio. Unsent local recordings and "
        "separately exported files are preserved.",
        "Delete meeting");
}

} // namespace nuvel
