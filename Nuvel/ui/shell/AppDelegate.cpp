#include "Nuvel/ui/shell/AppDelegate.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QUrl>
#include <QWidget>

namespace nuvel {

namespace {

// The quit coordinator's alerts; true for the first button, which quits.
bool confirmQuit(Dialogs& dialogs, QuitCoordinator::Question question) {
    Alert alert;
    switch (question) {
    case QuitCoordinator::Question::stopAndSave:
        alert.message = localized("Stop and save before quitting?");
        alert.informativeText =
            localized("Closing the window keeps recording. Quitting will stop and save your audio.");
        alert.buttons = {localized("Stop, save and quit"), localized("Cancel")};
        break;
    case QuitCoordinator::Question::pauseUpload:
        alert.message = localized("Pause this upload and quit?");
        alert.informativeText = localized("Your recording is saved. Open Nuvel again to continue; an "
                                          "interrupted create or commit may need review.");
        alert.buttons = {localized("Quit"), localized("Cancel")};
        break;
    }
    return dialogs.runModal(alert).button == 0;
}

} // namespace

AppDelegate::AppDelegate(std::shared_ptr<AppModel> model, ShellFactories factories, Environment environment)
    : model_(std::move(model)), factories_(std::move(factories)), environment_(std::move(environment)),
      popover_(std::make_unique<Popover>()) {
    QPointer<AppDelegate> weak(this);
    if (factories_.makePrompts)
        prompt_ = factories_.makePrompts();
    if (prompt_) {
        prompt_->onRecord = [weak](const RecordingSuggestion& suggestion) {
            if (weak)
                weak->recordFromPrompt(suggestion);
        };
        prompt_->onSettingsChanged = [weak] {
            if (weak && weak->settingsController_)
                weak->settingsController_->refresh();
        };
        prompt_->onOpenSettings = [weak] {
            if (weak)
                weak->openMeetingSettings();
        };
    }
    QuitCoordinator::Hooks hooks;
    hooks.relaunchWaiting = [weak] {
        return weak && weak->updates_ && weak->updates_->hasDeferredRelaunch();
    };
    hooks.commitScratchpad = [weak] {
        if (weak && weak->library_)
            weak->library_->commitScratchpad();
    };
    hooks.terminate = [weak] {
        if (!weak)
            return;
        weak->saveLibraryWindowFrame();
        if (weak->environment_.terminate)
            weak->environment_.terminate();
    };
    hooks.ask = [dialogs = environment_.dialogs](QuitCoordinator::Question question) {
        return confirmQuit(*dialogs, question);
    };
    quit_ = std::make_unique<QuitCoordinator>(*model_, *environment_.queue, std::move(hooks));
    // The browser's sign-in callback, forwarded by the desktop, ends the model's sign-in.
    std::weak_ptr<AppModel> signingIn = model_;
    onSignInCallback = [signingIn](const std::string& url) {
        if (auto model = signingIn.lock())
            model->completeSignIn(url);
    };
    frameSave_.setSingleShot(true);
    frameSave_.setInterval(500);
    connect(&frameSave_, &QTimer::timeout, this, [this] { saveLibraryWindowFrameLater(); });
}

AppDelegate::~AppDelegate() {
    // A write still queued on the executor finds nothing left to do.
    if (environment_.defaults)
        writePendingFrame(*pendingFrame_, environment_.defaults);
    model_->onChange = nullptr;
    model_->onTick = nullptr;
    // The tray icon refers to its context menu: it goes before the menu does.
    statusItem_.reset();
    // The window's content belongs to the library controller, which goes first.
    menuController_.reset();
    popover_.reset();
    library_.reset();
    delete window_.data();
}

QAction* AppDelegate::action(std::string_view name) const {
    auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second.data();
}

void AppDelegate::launch() {
    environment_.queue->requireCurrent("AppDelegate::launch");
    if (launched_)
        return;
    launched_ = true;
    QPointer<AppDelegate> weak(this);

    // Updates.
    if (factories_.makeUpdates) {
        updates_ = factories_.makeUpdates([weak] { return !weak || weak->updatesBusy(); },
                                          [weak] {
                                              if (weak)
                                                  weak->updatesChanged();
                                          },
                                          [weak] {
                                              // Nobody is asked: the user chose to install.
                                              if (weak)
                                                  weak->requestQuit(QuitCoordinator::Origin::unattended);
                                          });
    }
    // The main menu.
    buildMainMenu();
    // The library.
    library_ = factories_.makeLibrary(*model_);
    // The calendar.
    if (factories_.makeCalendar) {
        calendar_ = factories_.makeCalendar();
        calendar_->onChange = [weak] {
            if (weak)
                weak->calendarChanged();
        };
        calendar_->onReminder = [weak](const CalendarMeeting& meeting) {
            if (weak)
                weak->calendarReminder(meeting);
        };
    }
    library_->setCalendar(calendar_.get());
    if (prompt_)
        prompt_->currentMeeting = [weak]() -> std::optional<CalendarMeeting> {
            if (!weak || !weak->calendar_)
                return std::nullopt;
            return weak->calendar_->currentMeeting();
        };
    // The meeting monitor.
    if (factories_.makeMonitor) {
        monitor_ = factories_.makeMonitor();
        monitor_->isCapturing = [weak] { return weak && weak->monitorIsCapturing(); };
        monitor_->onPrompt = [weak](const MeetingMonitorPrompt& prompt) {
            if (weak)
                weak->monitorPrompt(prompt);
        };
        monitor_->onCallEnded = [weak] {
            if (weak)
                weak->monitorCallEnded();
        };
    }
    // The library window.
    window_ = makeLibraryWindow();
    // The popover's content.
    menuController_ = std::make_unique<CompanionController>(
        *model_,
        [weak] {
            if (weak)
                weak->openLibraryFromPopover();
        },
        *environment_.queue, *environment_.executor, environment_.microphoneName);
    popover_->setContent(menuController_->view());
    // The status item.
    statusMenu_ = std::make_unique<QMenu>();
    statusMenu_->addAction(action("showLibrary"));
    statusMenu_->addSeparator();
    statusMenu_->addAction(action("terminate"));
    if (environment_.makeStatusItem)
        statusItem_ = environment_.makeStatusItem(statusMenu_.get());
    if (statusItem_) {
        statusItem_->onActivate = [weak] {
            if (weak)
                weak->togglePopover();
        };
        renderStatusItem();
    }
    // The model's observers.
    model_->onChange = [weak] {
        if (weak)
            weak->modelChanged();
    };
    model_->onTick = [weak] {
        if (weak)
            weak->modelTicked();
    };
    // The model, detection and the calendar (no permission prompt at launch).
    model_->start();
    if (monitor_)
        monitor_->refresh();
    if (calendar_)
        calendar_->refresh(false);
    // The updater, once start-up restoration has begun.
    if (updates_) {
        updates_->setStartupRestorationBegan(true);
        updates_->startIfReady();
    }
    // The window.
    popover_->performClose();
    showLibraryWindow();
}

void AppDelegate::showLibraryWindow() {
    if (!window_)
        return;
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
    if (environment_.activate)
        environment_.activate();
}

void AppDelegate::reopen() {
    NUVEL_MAIN_ACTOR_ENTRY();
    showLibrary();
}

void AppDelegate::openURL(const QString& text) {
    NUVEL_MAIN_ACTOR_ENTRY();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QStringLiteral("nuvel"), Qt::CaseInsensitive) != 0 ||
        url.host().compare(QStringLiteral("auth"), Qt::CaseInsensitive) != 0)
        return;
    if (onSignInCallback)
        onSignInCallback(text.toStdString());
}

void AppDelegate::handleInstanceMessage(const QString& message) {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (message == QStringLiteral("reopen"))
        reopen();
    else if (message.startsWith(QStringLiteral("open ")))
        openURL(message.mid(5));
}

QuitCoordinator::Reply AppDelegate::requestQuit(QuitCoordinator::Origin origin) {
    NUVEL_MAIN_ACTOR_ENTRY();
    return quit_->confirmTermination(origin);
}

// ---- Actions ----

void AppDelegate::showLibrary() {
    NUVEL_MAIN_ACTOR_ENTRY();
    popover_->performClose();
    showLibraryWindow();
}

void AppDelegate::togglePopover() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!statusItem_)
        return;
    if (popover_->isShown() || popover_->closedJustNow()) {
        popover_->performClose();
        return;
    }
    if (menuController_)
        menuController_->render();
    popover_->showRelativeTo(statusItem_->buttonGeometry());
}

void AppDelegate::newRecording() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (updates_ && updates_->isUpdating()) {
        model_->setMessage("Finish the update before starting a recording.");
        return;
    }
    showLibrary();
    library_->beginNewRecording(nullptr);
}

void AppDelegate::importAudio() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (updates_ && updates_->isUpdating())
        return;
    showLibrary();
    library_->chooseAudioFile();
}

void AppDelegate::findMeeting() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!library_)
        return;
    // The one owner of the find key: the open meeting's field when the user is in that meeting,
    // otherwise the library's search or the notes editor's find bar.
    if (library_->findInOpenMeeting())
        return;
    if (library_->cloudVisible()) {
        QWidget* field = library_->searchField();
        if (field != nullptr && field->window() != nullptr && field->window() != field)
            field->setFocus(Qt::ShortcutFocusReason);
        return;
    }
    library_->findInScratchpad();
}

void AppDelegate::showSettings() {
    NUVEL_MAIN_ACTOR_ENTRY();
    presentSettings();
}

void AppDelegate::presentSettings() {
    if (!settingsController_ && factories_.makeSettings)
        settingsController_ = factories_.makeSettings(makeSettingsActions());
    if (!settingsController_)
        return;
    settingsController_->show();
    refreshServerRetention();
}

void AppDelegate::openMeetingSettings() {
    presentSettings();
    if (settingsController_)
        settingsController_->showMeetingsSection();
}

void AppDelegate::recordFromPrompt(const RecordingSuggestion& suggestion) {
    promptKind_.reset();
    showLibrary();
    if (library_)
        library_->beginNewRecording(&suggestion);
}

void AppDelegate::checkForUpdates() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (updates_)
        updates_->checkForUpdates();
}

// ---- Closures ----

bool AppDelegate::updatesBusy() const {
    return model_->isRecording() || model_->busy() || model_->uploading();
}

void AppDelegate::updatesChanged() {
    model_->setUpdateInProgress(updates_ ? updates_->isUpdating() : false);
    if (settingsController_)
        settingsController_->refresh();
}

void AppDelegate::calendarChanged() {
    if (library_)
        library_->renderUpcoming();
    if (settingsController_)
        settingsController_->refresh();
}

void AppDelegate::calendarReminder(const CalendarMeeting& meeting) {
    if (prompt_ && prompt_->showReminderPrompt(meeting))
        promptKind_ = PromptKind::reminder;
}

bool AppDelegate::monitorIsCapturing() const {
    return model_->isRecording();
}

void AppDelegate::monitorPrompt(const MeetingMonitorPrompt& prompt) {
    if (prompt_ && prompt_->showMicrophonePrompt(prompt))
        promptKind_ = PromptKind::call;
}

void AppDelegate::monitorCallEnded() {
    if (promptKind_ != PromptKind::call)
        return;
    if (prompt_)
        prompt_->dismiss();
    promptKind_.reset();
}

void AppDelegate::openLibraryFromPopover() {
    popover_->performClose();
    showLibraryWindow();
}

void AppDelegate::modelChanged() {
    if (model_->isRecording() && prompt_)
        prompt_->dismiss();
    if (library_)
        library_->render();
    if (menuController_)
        menuController_->render();
    if (settingsController_)
        settingsController_->refresh();
    if (updates_)
        updates_->startIfReady();
    renderStatusItem();
    quit_->modelChanged();
}

void AppDelegate::modelTicked() {
    if (library_)
        library_->tick();
    if (menuController_)
        menuController_->tick();
    renderStatusItem();
}

void AppDelegate::renderStatusItem() {
    if (statusItem_)
        statusItem_->render(statusItemAppearance(*model_));
}

} // namespace nuvel
