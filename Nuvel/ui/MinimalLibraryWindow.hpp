#pragma once

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
class DefaultsStore;
class Dialogs;

// The library window's content until the full library lands: the account, the status line,
// the running recording's time and the list of local recordings, with a room recording as the
// one way to start. The new recording asks for the permission to record, checks the
// microphone for three seconds and then starts; importing is not offered yet.
class MinimalLibraryWindow final : public QObject, public ShellLibrary {
    Q_OBJECT
public:
    MinimalLibraryWindow(AppModel& model, MainQueue& queue, SourceChecks checks, Dialogs& dialogs,
                         DefaultsStore& defaults);
    ~MinimalLibraryWindow() override;

    QWidget* view() override;
    void populateToolbar(QToolBar* toolbar) override;
    QWidget* initialFocus() override;
    void render() override;
    void renderUpcoming() override {}
    void tick() override;
    void commitScratchpad() override {}
    void beginNewRecording(const RecordingSuggestion* suggestion) override;
    void chooseAudioFile() override {}
    bool cloudVisible() const override { return false; }
    QWidget* searchField() override { return nullptr; }
    bool findInScratchpad() override { return false; }

    // The source check on screen, if any.
    SourceCheckController* sourceCheck() const { return sheet_; }

private:
    void startCheckedRecording();

    AppModel& model_;
    MainQueue& queue_;
    SourceChecks checks_;
    Dialogs& dialogs_;
    DefaultsStore& defaults_;
    QPointer<QWidget> root_;
    QLabel* account_ = nullptr;
    QPushButton* signIn_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* timer_ = nullptr;
    QListWidget* list_ = nullptr;
    QPointer<QAction> newRecording_;
    QPointer<QAction> importAudio_;
    QPointer<SourceCheckController> sheet_;
};

} // namespace nuvel
