#pragma once

#include "Nuvel/model/shell/QuitCoordinator.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/ui/shell/CompanionController.hpp"
#include "Nuvel/ui/shell/Popover.hpp"
#include "Nuvel/ui/shell/StatusItem.hpp"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

class AppModel;
class DefaultsStore;
class DiagnosticsPanels;
class Dialogs;

// The one long-lived owner of the application: it holds the model and every window and
// service of the shell for the life of the process, builds them at launch in a fixed order,
// wires the callbacks between them, and routes every quit through its quit coordinator.
//
// Main thread only; every entry the window system calls checks it.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    enum class PromptKind { call, reminder };

    // What the delegate is given besides the model and the pieces' factories.
    struct Environment {
        MainQueue* queue = nullptr;
        Executor* executor = nullptr;
        Dialogs* dialogs = nullptr;
        DefaultsStore* defaults = nullptr;
        // The status item, null when the desktop has no tray; the menu is its context menu.
        std::function<std::unique_ptr<StatusItemView>(QMenu* contextMenu)> makeStatusItem;
        // The popover's microphone names.
        CompanionController::MicrophoneNameLookup microphoneName;
        // Ends the application's event loop.
        std::function<void()> terminate;
        // Brings the application to the front.
        std::function<void()> activate;
        // The diagnostics file's preview and save panel; null: the desktop's.
        DiagnosticsPanels* diagnosticsPanels = nullptr;
    };

    // The program's entry: the text direction, the single instance, the real model and the
    // event loop. Returns the process's exit status.
    static int main(int argc, char** argv);

    AppDelegate(std::shared_ptr<AppModel> model, ShellFactories factories, Environment environment);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Builds the shell, starts the model and shows the library window. Once.
    void launch();
    // The launcher's "open again": shows the library.
    void reopen();
    // A nuvel:// address from the desktop; only the sign-in callback (nuvel://auth) is taken.
    void openURL(const QString& url);
    // A message forwarded by a second launch: "reopen" or "open <url>".
    void handleInstanceMessage(const QString& message);
    // Where the sign-in callback goes: the model's sign-in completion unless replaced.
    std::function<void(const std::string& url)> onSignInCallback;

    // Every request to quit.
    QuitCoordinator::Reply requestQuit(QuitCoordinator::Origin origin);

    // ---- Actions of the menus and the status item ----
    void showLibrary();
    void togglePopover();
    void newRecording();
    void importAudio();
    void findMeeting();
    void showSettings();
    void checkForUpdates();

    // ---- The closures installed at launch ----
    bool updatesBusy() const;
    void updatesChanged();
    void calendarChanged();
    void calendarReminder(const CalendarMeeting& meeting);
    bool monitorIsCapturing() const;
    void monitorPrompt(const MeetingMonitorPrompt& prompt);
    void monitorCallEnded();
    void openLibraryFromPopover();
    void modelChanged();
    void modelTicked();
    void renderStatusItem();
    void presentSettings();
    // The prompts' buttons: the settings window at its meetings section; the library and the
    // new-recording sheet with the prompt's suggestion.
    void openMeetingSettings();
    void recordFromPrompt(const RecordingSuggestion& suggestion);
    // The closures the settings window reaches the application through, holding this weakly.
    SettingsActions makeSettingsActions();

    // ---- What the shell holds ----
    AppModel& model() const { return *model_; }
    QMainWindow* libraryWindow() const { return window_; }
    QMenuBar* mainMenu() const { return menuBar_; }
    // A menu item by its action's name ("newRecording", "showLibrary", "terminate", ...).
    QAction* action(std::string_view name) const;
    Popover& popover() const { return *popover_; }
    CompanionController* companion() const { return menuController_.get(); }
    ShellLibrary* library() const { return library_.get(); }
    StatusItemView* statusItem() const { return statusItem_.get(); }
    ShellSettings* settings() const { return settingsController_.get(); }
    ShellUpdates* updates() const { return updates_.get(); }
    std::optional<PromptKind> promptKind() const { return promptKind_; }
    QuitCoordinator& quitCoordinator() const { return *quit_; }
    // Saves the library window's frame in the defaults now (the quit path).
    void saveLibraryWindowFrame();

private:
    void buildMainMenu();
    QMainWindow* makeLibraryWindow();
    void placeLibraryWindow(QMainWindow* window);
    void showLibraryWindow();
    void hideApplication();
    void sendToFocus(const char* slot);
    // The frame to save; empty when it is saved already.
    std::optional<std::string> frameToSave() const;
    // Saves the frame on the executor: the window thread never waits on the disk for it.
    void saveLibraryWindowFrameLater();

    // The frame last asked to be saved and not written yet. Whoever writes takes the latest
    // under `writing`, so a slow write never lands after a newer one.
    struct PendingFrame {
        std::mutex writing;
        std::mutex lock;
        std::optional<std::string> text;
    };
    // Writes the pending frame, if any, into `defaults`.
    static void writePendingFrame(PendingFrame& pending, DefaultsStore* defaults);
    void fillWindowMenu();
    void refreshServerRetention();

    std::shared_ptr<AppModel> model_;
    ShellFactories factories_;
    Environment environment_;

    // In the order the shell relies on.
    QPointer<QMainWindow> window_;
    std::unique_ptr<ShellLibrary> library_;
    std::unique_ptr<StatusItemView> statusItem_;
    std::unique_ptr<Popover> popover_;
    std::unique_ptr<CompanionController> menuController_;
    std::unique_ptr<ShellSettings> settingsController_;
    std::unique_ptr<ShellUpdates> updates_;
    std::unique_ptr<ShellMeetingMonitor> monitor_;
    std::unique_ptr<ShellCalendar> calendar_;
    std::unique_ptr<ShellPrompts> prompt_;
    std::optional<PromptKind> promptKind_;

    std::unique_ptr<QuitCoordinator> quit_;
    QPointer<QMenuBar> menuBar_;
    QPointer<QMenu> windowMenu_;
    std::unique_ptr<QMenu> statusMenu_;
    std::map<std::string, QPointer<QAction>, std::less<>> actions_;
    QTimer frameSave_;
    std::shared_ptr<PendingFrame> pendingFrame_ = std::make_shared<PendingFrame>();
    bool launched_ = false;
};

} // namespace nuvel
