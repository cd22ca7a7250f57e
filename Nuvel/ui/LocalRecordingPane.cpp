#include "Nuvel/ui/LocalRecordingPane.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/LevelIndicator.hpp"

#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace nuvel {

QString transferStatusText(const LocalRecording&) { return {}; }

QString remoteStateSuffix(std::string_view) { return {}; }

LocalRecordingPane::LocalRecordingPane(AppModel& model, Dependencies dependencies, QObject* parent)
    : QObject(parent), model_(model), dependencies_(dependencies) {}

LocalRecordingPane::~LocalRecordingPane() = default;

void LocalRecordingPane::render(QVBoxLayout*, const LocalRecording& recording) { renderedID_ = recording.id; }

void LocalRecordingPane::detach() { scratchpad_ = nullptr; }

void LocalRecordingPane::tick() {}

void LocalRecordingPane::commitScratchpad() {}

QPlainTextEdit* LocalRecordingPane::scratchpad() const { return scratchpad_; }
QLabel* LocalRecordingPane::timerLabel() const { return timerLabel_; }
LevelIndicator* LocalRecordingPane::meter() const { return meter_; }
LevelIndicator* LocalRecordingPane::systemMeter() const { return systemMeter_; }

} // namespace nuvel
