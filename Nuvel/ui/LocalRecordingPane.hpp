#pragma once

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QPlainTextEdit;
class QVBoxLayout;

namespace nuvel {

class AppModel;
class Dialogs;
class LevelIndicator;

// The status line of a recording that is not being captured: where its audio stands.
QString transferStatusText(const LocalRecording& recording);
// " · " and the service's processing state as the interface shows it ("Status unavailable" for
// a word it does not know).
QString remoteStateSuffix(std::string_view state);

// The library window's pane of one local recording: what it is, where it stands, the controls
// that fit, its notes editor and its marked moments. It keeps nothing of its own beyond the
// editor on screen and the notes mode chosen last; every control calls the application model,
// and every outcome comes back as a new render. Main thread only.
class LocalRecordingPane : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        Dialogs* dialogs = nullptr; // the export's save panel and the removal alert
    };

    LocalRecordingPane(AppModel& model, Dependencies dependencies, QObject* parent = nullptr);
    ~LocalRecordingPane() override;

    // Set by the library window: the open-result button shows the recording's meeting (its
    // remote id, when it has one) on the cloud side.
    std::function<void(const std::optional<std::string>& remoteID)> onOpenResult;

    // Builds the pane of `recording` at the end of `detail`, which its owner emptied first, and
    // remembers `recording.id` as the recording shown.
    void render(QVBoxLayout* detail, const LocalRecording& recording);
    // Called right before the owner empties the detail side: the editor is forgotten and the
    // long-lived timer and meters are taken back out of it.
    void detach();
    // The running recording's time and levels, between renders.
    void tick();
    // Writes the editor's whole text into the private notes or the meeting notes of the
    // recording shown; nothing when no editor is shown.
    void commitScratchpad();

    // What the pane shows, for its owner and tests.
    const std::optional<Uuid>& renderedID() const { return renderedID_; }
    void setRenderedID(std::optional<Uuid> id) { renderedID_ = std::move(id); }
    QPlainTextEdit* scratchpad() const;
    bool showsPrivateNotes() const { return showsPrivateNotes_; }
    bool editorIsPrivate() const { return editorIsPrivate_; }
    QLabel* timerLabel() const;
    LevelIndicator* meter() const;
    LevelIndicator* systemMeter() const;

private:
    AppModel& model_;
    Dependencies dependencies_;
    std::optional<Uuid> renderedID_;
    bool showsPrivateNotes_ = false;
    bool editorIsPrivate_ = false;
    QPointer<QPlainTextEdit> scratchpad_;
    QPointer<QLabel> timerLabel_;
    QPointer<LevelIndicator> meter_;
    QPointer<LevelIndicator> systemMeter_;
};

} // namespace nuvel
