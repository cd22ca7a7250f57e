#pragma once

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QPlainTextEdit;
class QVBoxLayout;
class QWidget;

namespace nuvel {

class AppModel;
class Dialogs;
class LevelIndicator;

// The status line of a recording that is not being captured: where its audio stands.
QString transferStatusText(const LocalRecording& recording);
// " · " and the service's processing state as the interface shows it ("Status unavailable" for
// a word it does not know).
QString remoteStateSuffix(std::string_view state);

// What the line under the notes-mode switch depends on besides the recording.
struct NotesCaptionContext {
    bool editorIsPrivate = false;
    bool active = false;           // the recording is being captured (running or paused)
    bool notepadSync = false;      // the service keeps sent recordings' meeting notes
    bool notepadNeedsSync = false; // the meeting notes differ from what the service has
};
// The line under the notes-mode switch: where the notes in the editor go.
QString notesCaption(const LocalRecording& recording, const NotesCaptionContext& context);
// The name the export's save panel proposes: "Nuvel-" and the UTC calendar date of `createdAt`.
QString exportFileName(Date createdAt);

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
    // Set by the library window: its whole redraw, after the notes mode changed. Without it the
    // pane rebuilds itself in place.
    std::function<void()> onRenderNeeded;
    // Set by the library window: a local file pasted into the notes editor, as a drop would be.
    std::function<void(const std::filesystem::path&)> onFile;

    // Builds the pane of `recording` at the end of `detail`, which its owner emptied first, and
    // remembers `recording.id` as the recording shown. After `holdEditor`, and for the same
    // recording, the pane is built again around the editor it holds.
    void render(QVBoxLayout* detail, const LocalRecording& recording);
    // Called right before the owner empties the detail side: the editor is forgotten and the
    // long-lived timer and meters are taken back out of it.
    void detach();
    // Called instead of `detach` while the user types in the notes editor: everything of the
    // pane but the editor goes, and the next render builds the pane anew around it, so that the
    // editor keeps its text, caret, undo history and the keyboard. Answers the pane's view,
    // which the owner leaves on screen, out of its stack, until that render places it again.
    QWidget* holdEditor();
    // The running recording's time and levels, between renders.
    void tick();
    // Writes the editor's whole text into the private notes or the meeting notes of the
    // recording shown; nothing when no editor is shown.
    void commitScratchpad();

    // What the pane shows, for its owner and tests.
    const std::optional<Uuid>& renderedID() const { return renderedID_; }
    void setRenderedID(std::optional<Uuid> id) { renderedID_ = id; }
    QPlainTextEdit* scratchpad() const;
    bool editorIsPrivate() const { return editorIsPrivate_; }
    QLabel* timerLabel() const;
    LevelIndicator* meter() const;
    // The line under the notes-mode switch for `recording` in the mode and model state of now.
    QString notesCaption(const LocalRecording& recording) const;

private:
    // Sets the timer's text.
    void showElapsed(const QString& text);

    bool isActive(const LocalRecording& recording) const;
    // The pane's view: `held`, emptied around its notes editor by holdEditor, or a new one.
    QWidget* build(const LocalRecording& recording, QWidget* held = nullptr);
    void buildActive(const LocalRecording& recording);
    void buildSaved(const LocalRecording& recording);
    // The notes-mode switch, its caption and the editor: `kept`, or a new one with the notes.
    void buildNotes(const LocalRecording& recording, QPlainTextEdit* kept);
    void buildBookmarks(const LocalRecording& recording);
    void place(QWidget* view, int spacingAfter = 8);
    void addMeter(LevelIndicator* indicator, const QString& caption, const QString& accessibleName);
    void ensureLongLivedViews();

    // The controls' actions.
    void upload();
    void refresh();
    void openResult();
    void playAudio();
    void playBookmark(std::int64_t mediaMilliseconds);
    void exportAudio();
    void discard();
    void pause();
    void bookmark();
    void stop();
    void notesModeChanged(int segment);

    AppModel& model_;
    Dependencies dependencies_;
    std::optional<Uuid> renderedID_;
    bool showsPrivateNotes_ = false;
    bool editorIsPrivate_ = false;
    QPointer<QPlainTextEdit> scratchpad_;
    QPointer<QLabel> timerLabel_;
    double shownSecond_ = 0; // the whole second the timer shows; NaN when it shows none yet
    QPointer<LevelIndicator> meter_;
    QPointer<LevelIndicator> systemMeter_;
    // Where the pane sits, while it is shown: the owner's stack and the pane's own column.
    QPointer<QVBoxLayout> detail_;
    QPointer<QWidget> pane_;
    QVBoxLayout* column_ = nullptr;
    int pendingSpacing_ = -1;
    // Set by holdEditor until the next render.
    bool holdsEditor_ = false;
};

} // namespace nuvel
