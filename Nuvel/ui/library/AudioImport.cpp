#include "Nuvel/ui/library/AudioImport.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/support/Defaults.hpp"

namespace nuvel {

AudioImport::AudioImport(AppModel& model, Dialogs& dialogs, DefaultsStore& defaults)
    : model_(model), dialogs_(dialogs), defaults_(defaults) {}

// Only the containers an import reads: a file the panel offers is never refused for its kind.
QStringList AudioImport::nameFilters() {
    QStringList patterns;
    for (std::string_view pattern : readableContainerPatterns)
        patterns.push_back(QString::fromLatin1(pattern.data(), qsizetype(pattern.size())));
    return {localized("Audio and movie files") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
            QStringLiteral(")")};
}

bool AudioImport::passesGate() {
    if (model_.activeID() || model_.busy() || model_.updateInProgress())
        return false;
    if (!model_.session()) {
        model_.signIn();
        return false;
    }
    return true;
}

void AudioImport::chooseAudioFile() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!passesGate())
        return;
    OpenPanel panel;
    panel.nameFilters = nameFilters();
    const std::optional<std::filesystem::path> chosen = dialogs_.runOpenPanel(panel);
    if (!chosen || chosen->empty())
        return;
    confirmImport(*chosen);
}

// The gate is applied again: the model may have changed while the open panel was shown.
void AudioImport::confirmImport(const std::filesystem::path& audioFile) {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!passesGate())
        return;
    Alert alert;
    alert.message = localized("Import this recording?");
    alert.informativeText = localized(
        "Confirm you have permission to process this audio. It is copied into Nuvel's encrypted local "
        "storage. Your original file is unchanged; upload is a separate step.");
    alert.checkbox = localized("Generate AI notes when I send this recording");
    alert.checked = defaults_.boolean("capture.aiNotesDefault").value_or(false);
    alert.buttons = {localized("Confirm and import"), localized("Cancel")};
    const AlertAnswer answer = dialogs_.runModal(alert);
    if (answer.button != 0)
        return;
    model_.importAudio(audioFile, answer.checked);
}

} // namespace nuvel
