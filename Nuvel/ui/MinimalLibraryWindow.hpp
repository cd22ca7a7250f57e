#pragma once

#include "Nuvel/ui/AudioImport.hpp"
#include "Nuvel/ui/NewRecordingSheet.hpp"
#include "Nuvel/ui/ShellParts.hpp"
#include "Nuvel/ui/SourceCheckController.hpp"

#include <QObject>
#include <QPointer>

class QAction;
class QLabel;
class QListWidget;
class QPushButton;

namespace nuvel {

class AppModel;
class CapturePermission;
class DefaultsStore;
class Dialogs;
class RecordingSources;

// The library window's content until the full library lands: the account, the status line,
// the running recording's time and the list of local recordings. New recordings go through the
// new-recording sheet; audio files come in through the open panel or a drop on the window, and
// are confirmed before they are imported.
class MinimalLibraryWindow final : public QObject, public ShellLibrary {
    Q_OBJECT
public:
    struct Dependencies {
        MainQueue* queue = nullptr;
        Executor* executor = nullptr;
        Dialogs* dialogs = nullptr;
        DefaultsStore* defaults = nullptr;
        RecordingSources* sources = nullptr;
        CapturePermission* permission = nullptr;
    };

    MinimalLibraryWindow(AppModel& model, Dependencies dependencies);
    ~MinimalLibraryWindow() override;

    QWidget* view() override;
    void populateToolbar(QToolBar* toolbar) override;
    QWidget* initialFocus() override;
    void render() override;
    void renderUpcoming() override {}
    void tick() override;
    void commitScratchpad() override {}
    void beginNewRecording(const RecordingSuggestion* suggestion) override;
    void chooseAudioFile() override;
    void setCalendar(ShellCalendar* calendar) override;
    bool cloudVisible() const override { return false; }
    QWidget* searchField() override { return nullptr; }
    bool findInScratchpad() override { return false; }

    // The source check on screen, if any.
    SourceCheckController* sourceCheck() const { return sheet_.sourceCheck(); }
    NewRecordingSheet& newRecordingSheet() { return sheet_; }

protected:
    // Files dropped on the window are offered for import.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppModel& model_;
    NewRecordingSheet sheet_;
    AudioImport import_;
    QPointer<QWidget> root_;
    QLabel* account_ = nullptr;
    QPushButton* signIn_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* timer_ = nullptr;
    QListWidget* list_ = nullptr;
    QPointer<QAction> newRecording_;
    QPointer<QAction> importAudio_;
};

} // namespace nuvel
