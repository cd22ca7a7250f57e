#include "Nuvel/ui/shell/StatusItem.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"

namespace nuvel {

StatusItemAppearance statusItemAppearance(const AppModel& model) {
    StatusItemAppearance look;
    const QString elapsed = formatDuration(model.elapsed());
    if (model.isRecording())
        look.title = QStringLiteral(" ") + elapsed;
    look.tinted = model.isCapturing();
    if (model.isCapturing()) {
        look.symbol = QStringLiteral("record.circle.fill");
        look.description = localized("Recording");
        look.accessibilityLabel = localized("Recording") + QStringLiteral(" ") + elapsed;
    } else {
        look.symbol = model.isPaused() ? QStringLiteral("pause.circle") : QStringLiteral("waveform");
        look.description = QStringLiteral("Nuvel");
        look.accessibilityLabel = QStringLiteral("Nuvel");
    }
    return look;
}

} // namespace nuvel
