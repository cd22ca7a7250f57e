#pragma once

#include "Nuvel/model/CapturePreferences.hpp"
#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/model/shell/SettingsActions.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/platform/LoginItem.hpp"

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QAbstractButton;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;

class QPushButton;
class QEvent;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QWidget;

namespace nuvel {

class Dialogs;

// The settings window: a toolbar of six sections, each a page of controls in one centred
// column. The toolbar is a row of page tabs for the keyboard too: Tab reaches the selected one,
// the arrows (Home, End) choose another, Ctrl+Tab and Ctrl+Page Down (with Shift, Page Up) go
// from section to section anywhere in the window, and Escape closes it. It shows what the rest of the
// application holds and reports the user's choices through its SettingsActions, or writes the user defaults
// itself. Made once, on the first request to show settings, and kept for the life of the process. Main thread
// only.
class SettingsController final : public QObject, public ShellSettings {
    Q_OBJECT
public:
    // The section titles, in toolbar order; a title's index is its page's.
    static const QStringList& sections();
    static constexpr int meetingsSection = 3;

    // What the window reaches of the desktop.
    struct Platform {
        Dialogs* dialogs = nullptr;
        // Launch at login.
        std::shared_ptr<LoginItem> loginItem;
        // Opens a folder or a web page with the desktop's handler.
        std::function<void(const QUrl& url)> open;
        // The maker's public web site.
        QUrl website;
    };

    SettingsController(CapturePreferences preferences, std::shared_ptr<MeetingPreferences> meetings,
                       SettingsActions actions, Platform platform);
    ~SettingsController() override;

    // ---- ShellSettings ----
    void show() override;
    void showMeetingsSection() override { showSection(meetingsSection); }
    void refresh() override;

    void showSection(int index);
    void select(int index, bool animate);
    int selectedSection() const;
    QMainWindow* window() const { return window_; }

    // ---- The control actions ----
    void toggleLogin();
    void openLoginSettings();
    void accountAction();
    void toggleNotes();
    void toggleDetection();
    void toggleApp(QAbstractButton* sender);
    void toggleCalendar();
    void toggleReminders();
    void clearCache();
    void changeRetention();
    void refreshRetention();
    void diagnostics();
    void checkForUpdates();
    void openWebsite();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    // Selects a section chosen with the keyboard and gives its tab the keyboard.
    void chooseFromKeyboard(int index);
    void addSection(const QString& title, const std::vector<std::vector<QWidget*>>& groups);
    QWidget* descriptionView(QLabel* field, int inset);
    QWidget* indented(QWidget* view, int inset);
    QPushButton* makeButton(const char* title, void (SettingsController::*action)());
    QCheckBox* makeCheckbox(const char* name, const char* title, void (SettingsController::*action)());
    QLabel* makeDescriptionLabel(const char* name, const QString& text);

    CapturePreferences preferences_;
    std::shared_ptr<MeetingPreferences> meetings_;
    SettingsActions actions_;
    Platform platform_;

    QPointer<QMainWindow> window_;
    QStackedWidget* tabs_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QActionGroup* sectionActions_ = nullptr;
    std::vector<QToolButton*> sectionTabs_;
    std::map<const QWidget*, int> descriptionInsets_;
    QLabel* account_ = nullptr;
    QPushButton* signInButton_ = nullptr;
    QCheckBox* login_ = nullptr;
    QLabel* loginStatus_ = nullptr;
    QLabel* updateStatus_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QCheckBox* notes_ = nullptr;
    QComboBox* retention_ = nullptr;
    std::vector<std::int64_t> retentionChoices_;
    QLabel* retentionStatus_ = nullptr;
    QCheckBox* detection_ = nullptr;
    std::vector<std::pair<MeetingApp, QCheckBox*>> appToggles_;
    QCheckBox* calendar_ = nullptr;
    QCheckBox* reminders_ = nullptr;
    QLabel* calendarStatus_ = nullptr;
};

} // namespace nuvel
