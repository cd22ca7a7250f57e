// The settings window over a real defaults file and a real autostart folder in a temporary
// home: what a refresh shows, what each control writes and calls, and how each section looks.

#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/EnglishWording.hpp"
#include "Nuvel/ui/settings/SettingsController.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QToolBar>
#include <QWidget>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class AnsweringDialogs final : public Dialogs {
public:
    AlertAnswer runModal(const Alert& alert) override {
        asked.push_back(alert.message.toStdString());
        const int button = answers.empty() ? 0 : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return {button, false};
    }
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanel&) override { return std::nullopt; }
    std::optional<std::filesystem::path> runSavePanel(const SavePanel&) override { return std::nullopt; }
    void showAbout() override {}
    std::deque<int> answers;
    std::vector<std::string> asked;
};

// What the application would answer, and what the window asked of it.
struct Application {
    bool signedIn = true;
    bool capturing = false;
    std::optional<std::int64_t> days;
    std::vector<std::int64_t> choices;
    SettingsActions::CalendarAccess access = SettingsActions::CalendarAccess::off;
    std::vector<std::string> calls;

    SettingsActions actions() {
        SettingsActions a;
        a.signedIn = [this] { return signedIn; };
        a.accountSummary = [this] {
            return signedIn ? std::string("ada@example.com") : std::string("Not signed in");
        };
        a.signIn = [this] { calls.push_back("signIn"); };
        a.signOut = [this] { calls.push_back("signOut"); };
        a.clearCompletedCache = [this] { calls.push_back("clearCache"); };
        a.exportDiagnostics = [this] { calls.push_back("diagnostics"); };
        a.checkForUpdates = [this] { calls.push_back("checkForUpdates"); };
        a.updateStatus = [] { return std::string("Signed updates are not configured for this build."); };
        a.canCheckForUpdates = [this] { return !capturing; };
        a.isCapturing = [this] { return capturing; };
        a.serverRetentionDays = [this] { return days; };
        a.serverRetentionChoices = [this] { return choices; };
        a.refreshRetention = [this] { calls.push_back("refreshRetention"); };
        a.setServerRetentionDays = [this](std::int64_t d) {
            calls.push_back("setRetention " + std::to_string(d));
        };
        a.calendarAccess = [this] { return access; };
        a.meetingSettingsChanged = [this](bool ask) { calls.push_back(ask ? "meetings ask" : "meetings"); };
        return a;
    }
};

struct SettingsWorld {
    TempDir home{"settings"};
    fs::path defaultsFile = home / "config/Nuvel/defaults.json";
    fs::path autostart = home / "config/autostart";
    fs::path program = home / "lib/nuvel/nuvel";
    std::shared_ptr<FileDefaultsStore> defaults;
    AnsweringDialogs dialogs;
    Application app;
    std::vector<QUrl> opened;
    std::unique_ptr<SettingsController> controller;

    explicit SettingsWorld(const std::function<void(DefaultsStore&)>& seed = {}) {
        test::application();
        fs::create_directories(program.parent_path());
        std::ofstream(program) << "#!/bin/sh\n";
        fs::permissions(program, fs::perms(0755));
        defaults = std::make_shared<FileDefaultsStore>(defaultsFile);
        if (seed)
            seed(*defaults);
    }
    SettingsController& make() {
        SettingsController::Platform platform;
        platform.dialogs = &dialogs;
        platform.loginItem = std::make_shared<LoginItem>(autostart, program);
        platform.open = [this](const QUrl& url) { opened.push_back(url); };
        platform.website = QUrl(QStringLiteral("https://nuvel.example"));
        controller = std::make_unique<SettingsController>(CapturePreferences(*defaults),
                                                          std::make_shared<MeetingPreferences>(defaults),
                                                          app.actions(), platform);
        return *controller;
    }
    template <class T> T* find(const char* name) const {
        T* found = controller->window()->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // The defaults file as another process would read it.
    std::optional<json::Value> stored(const std::string& key) const {
        return FileDefaultsStore(defaultsFile).value(key);
    }
    QStringList retentionItems() const {
        QStringList items;
        auto* box = find<QComboBox>("retention");
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }
};

TEST(SettingsController, refreshShowsWhatTheApplicationAndTheDefaultsHold) {
    struct Case {
        const char* name;
        std::optional<std::int64_t> days;
        std::vector<std::int64_t> choices;
        bool capturing;
        std::function<void(DefaultsStore&)> seed;
        QStringList items;
        int selected;
        bool retentionEnabled;
        const char* retentionStatus;
        bool appsEnabled;
        bool zoomOn;
        bool remindersEnabled;
        bool remindersOn;
    };
    const QString first = QStringLiteral("Choose server audio retention…");
    const std::vector<Case> cases = {
        {"nothing loaded",
         std::nullopt,
         {30, 90},
         false,
         {},
         {first, "30 days", "90 days"},
         0,
         false,
         "Server retention is not loaded or unavailable.",
         true,
         true,
         false,
         true},
        {"only unusable choices",
         30,
         {0, -5},
         false,
         {},
         {first},
         0,
         false,
         "Server audio retention: 30 days",
         true,
         true,
         false,
         true},
        {"a value not offered",
         45,
         {30, 90},
         false,
         {},
         {first, "30 days", "90 days"},
         0,
         true,
         "Server audio retention: 45 days",
         true,
         true,
         false,
         true},
        {"an offered value",
         90,
         {30, 90},
         false,
         {},
         {first, "30 days", "90 days"},
         2,
         true,
         "Server audio retention: 90 days",
         true,
         true,
         false,
         true},
        {"while capturing",
         90,
         {30, 90},
         true,
         {},
         {first, "30 days", "90 days"},
         2,
         false,
         "Server audio retention: 90 days",
         true,
         true,
         false,
         true},
        {"detection off, zoom muted, calendar on, reminders off",
         30,
         {30},
         false,
         [](DefaultsStore& d) {
             d.set("meetings.detection", false);
             d.set("meetings.mutedApps", json::Value::array({"zoom"}));
             d.set("meetings.calendar", true);
             d.set("meetings.reminders", false);
         },
         {first, "30 days"},
         1,
         true,
         "Server audio retention: 30 days",
         false,
         false,
         true,
         false},
        {"detection not a boolean",
         30,
         {30},
         false,
         [](DefaultsStore& d) { d.set("meetings.detection", "no"); },
         {first, "30 days"},
         1,
         true,
         "Server audio retention: 30 days",
         true,
         true,
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsWorld w(c.seed);
        w.app.days = c.days;
        w.app.choices = c.choices;
        w.app.capturing = c.capturing;
        w.make();
        EXPECT_EQ(w.retentionItems(), c.items);
        EXPECT_EQ(w.find<QComboBox>("retention")->currentIndex(), c.selected);
        EXPECT_EQ(w.find<QComboBox>("retention")->isEnabled(), c.retentionEnabled);
        EXPECT_EQ(w.find<QLabel>("retentionStatus")->text().toStdString(), c.retentionStatus);
        EXPECT_EQ(w.find<QPushButton>("signInButton")->isEnabled(), !c.capturing);
        EXPECT_EQ(w.find<QPushButton>("signInButton")->text(), QStringLiteral("Sign out…"));
        for (const char* app : {"zoom", "teams", "webex", "slack", "facetime", "browser"})
            EXPECT_EQ(w.find<QCheckBox>(app)->isEnabled(), c.appsEnabled) << app;
        EXPECT_EQ(w.find<QCheckBox>("zoom")->isChecked(), c.zoomOn);
        EXPECT_TRUE(w.find<QCheckBox>("teams")->isChecked());
        EXPECT_EQ(w.find<QCheckBox>("reminders")->isEnabled(), c.remindersEnabled);
        EXPECT_EQ(w.find<QCheckBox>("reminders")->isChecked(), c.remindersOn);
        // Everything else stays enabled, capturing or not.
        for (const char* name : {"login", "notes", "detection", "calendar", "Open Login Items Settings",
                                 "Clear cached cloud meetings…", "Refresh server retention",
                                 "Preview diagnostics…", "Open Nuvel website"})
            EXPECT_TRUE(w.find<QWidget>(name)->isEnabled()) << name;
        EXPECT_EQ(w.find<QPushButton>("updateButton")->isEnabled(), !c.capturing);
    }
}

TEST(SettingsController, statusSentencesFollowTheLoginItemAndCalendarAccess) {
    SettingsWorld w;
    w.make();
    const std::vector<std::pair<SettingsActions::CalendarAccess, const char*>> access = {
        {SettingsActions::CalendarAccess::off, "Calendar access is requested only when you turn this on."},
        {SettingsActions::CalendarAccess::needsPermission, "Waiting for Calendar access."},
        {SettingsActions::CalendarAccess::denied,
         "Calendar access is off. Allow Nuvel in System Settings to show upcoming meetings."},
        {SettingsActions::CalendarAccess::granted, "Upcoming meetings appear in the library sidebar."},
    };
    for (const auto& [value, text] : access) {
        w.app.access = value;
        w.controller->refresh();
        EXPECT_EQ(w.find<QLabel>("calendarStatus")->text().toStdString(), text);
    }
    EXPECT_EQ(w.find<QLabel>("loginStatus")->text(), QStringLiteral("Launch at login is off."));
    fs::create_directories(w.autostart);
    std::ofstream(w.autostart / "nuvel.desktop") << "[Desktop Entry]\nType=Application\nExec=nuvel\n";
    w.controller->refresh();
    EXPECT_TRUE(w.find<QCheckBox>("login")->isChecked());
    EXPECT_EQ(w.find<QLabel>("loginStatus")->text(), QStringLiteral("Launch at login is enabled."));
    std::ofstream(w.autostart / "nuvel.desktop") << "[Desktop Entry]\nType=Application\nHidden = true\n";
    w.controller->refresh();
    EXPECT_FALSE(w.find<QCheckBox>("login")->isChecked());
    fs::remove(w.autostart / "nuvel.desktop");
    fs::remove(w.program);
    w.controller->refresh();
    EXPECT_EQ(w.find<QLabel>("loginStatus")->text(),
              QStringLiteral("Install Nuvel in Applications before enabling launch at login."));
}

TEST(SettingsController, eachControlWritesTheDefaultsFileOrCallsTheApplication) {
    SettingsWorld w;
    w.app.days = 30;
    w.app.choices = {30, 90};
    SettingsController& c = w.make();

    w.find<QCheckBox>("notes")->click();
    EXPECT_EQ(w.stored("capture.aiNotesDefault"), json::Value(true));
    EXPECT_EQ(w.app.calls, std::vector<std::string>{}) << "notes change nothing else";

    w.find<QCheckBox>("zoom")->click();
    w.find<QCheckBox>("browser")->click();
    EXPECT_EQ(w.stored("meetings.mutedApps"), json::Value::array({"browser", "zoom"})) << "sorted";
    w.find<QCheckBox>("zoom")->click();
    EXPECT_EQ(w.stored("meetings.mutedApps"), json::Value::array({"browser"}));
    QCheckBox stranger(QStringLiteral("Stranger"));
    stranger.setObjectName(QStringLiteral("skype"));
    c.toggleApp(&stranger);
    EXPECT_EQ(w.stored("meetings.mutedApps"), json::Value::array({"browser"}));

    w.find<QCheckBox>("detection")->click();
    EXPECT_EQ(w.stored("meetings.detection"), json::Value(false));
    EXPECT_FALSE(w.find<QCheckBox>("webex")->isEnabled());
    w.find<QCheckBox>("calendar")->click();
    EXPECT_EQ(w.stored("meetings.calendar"), json::Value(true));
    EXPECT_TRUE(w.find<QCheckBox>("reminders")->isEnabled());
    w.find<QCheckBox>("reminders")->click();
    EXPECT_EQ(w.stored("meetings.reminders"), json::Value(false));
    w.find<QCheckBox>("calendar")->click();
    EXPECT_EQ(w.app.calls, (std::vector<std::string>{"meetings", "meetings", "meetings", "meetings",
                                                     "meetings ask", "meetings", "meetings"}))
        << "only turning the calendar on asks for access";
    w.app.calls.clear();

    // Launch at login: an entry in the autostart folder, and gone again.
    w.find<QCheckBox>("login")->click();
    const fs::path entry = w.autostart / "nuvel.desktop";
    ASSERT_TRUE(fs::exists(entry));
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Exec=\"" + w.program.string() + "\"\n"), std::string::npos) << text;
    EXPECT_TRUE(w.find<QCheckBox>("login")->isChecked());
    w.find<QCheckBox>("login")->click();
    EXPECT_FALSE(fs::exists(entry));
    // A failed registration: the alert, and the real state afterwards.
    fs::remove(w.program);
    w.find<QCheckBox>("login")->click();
    EXPECT_EQ(w.dialogs.asked,
              std::vector<std::string>{"Login item could not be changed. Check Login Items Settings."});
    EXPECT_FALSE(w.find<QCheckBox>("login")->isChecked());
    w.dialogs.asked.clear();
    w.find<QPushButton>("Open Login Items Settings")->click();
    EXPECT_EQ(w.opened, std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(w.autostart.string()))});
    EXPECT_TRUE(fs::is_directory(w.autostart));

    // Confirmations: "Cancel" changes nothing, the first button acts.
    w.dialogs.answers = {1, 0};
    w.find<QPushButton>("Clear cached cloud meetings…")->click();
    w.find<QPushButton>("Clear cached cloud meetings…")->click();
    auto* retention = w.find<QComboBox>("retention");
    w.dialogs.answers = {1, 0};
    retention->setCurrentIndex(2);
    c.changeRetention();
    EXPECT_EQ(retention->currentIndex(), 1) << "after Cancel the current value shows again";
    retention->setCurrentIndex(2);
    c.changeRetention();
    retention->setCurrentIndex(0);
    c.changeRetention(); // the placeholder asks nothing
    w.find<QPushButton>("signInButton")->click();
    w.find<QPushButton>("Refresh server retention")->click();
    w.find<QPushButton>("Preview diagnostics…")->click();
    w.find<QPushButton>("updateButton")->click();
    w.find<QPushButton>("Open Nuvel website")->click();
    EXPECT_EQ(w.app.calls, (std::vector<std::string>{"clearCache", "setRetention 90", "signOut",
                                                     "refreshRetention", "diagnostics", "checkForUpdates"}));
    EXPECT_EQ(w.dialogs.asked.size(), 4u);
    EXPECT_EQ(w.opened.back(), QUrl(QStringLiteral("https://nuvel.example")));

    // While capturing, account, cache and retention refuse without asking.
    w.app.calls.clear();
    w.dialogs.asked.clear();
    w.app.capturing = true;
    c.accountAction();
    c.clearCache();
    retention->setCurrentIndex(1);
    c.changeRetention();
    EXPECT_EQ(w.app.calls, std::vector<std::string>{});
    EXPECT_EQ(w.dialogs.asked, std::vector<std::string>{});
}

TEST(SettingsController, sectionsKeepTheWidthAndTopLeftAndFollowTheToolbar) {
    SettingsWorld w;
    SettingsController& c = w.make();
    c.show();
    const QPoint topLeft = c.window()->pos();
    for (int i = 0; i < SettingsController::sections().size(); ++i) {
        c.select(i, true);
        EXPECT_EQ(c.selectedSection(), i);
        EXPECT_EQ(c.window()->windowTitle(), SettingsController::sections()[i]);
        EXPECT_EQ(c.window()->width(), 600);
        EXPECT_EQ(c.window()->pos(), topLeft);
    }
    c.select(6, false);
    c.select(-1, false);
    EXPECT_EQ(c.selectedSection(), 5);
    c.showMeetingsSection();
    EXPECT_EQ(c.window()->windowTitle(), QStringLiteral("Meetings"));
    c.window()->close();
    c.show();
    EXPECT_EQ(c.selectedSection(), 3) << "a new showing keeps the section";

    // Each section's button has an icon of its own.
    std::vector<QImage> icons;
    for (QAction* item : c.window()->findChild<QToolBar*>("NuvelSettingsToolbar")->actions())
        icons.push_back(item->icon().pixmap(32, 32).toImage());
    ASSERT_EQ(icons.size(), std::size_t(SettingsController::sections().size()));
    for (std::size_t i = 0; i < icons.size(); ++i)
        for (std::size_t j = i + 1; j < icons.size(); ++j)
            EXPECT_NE(icons[i], icons[j]) << SettingsController::sections()[int(i)].toStdString() << " and "
                                          << SettingsController::sections()[int(j)].toStdString();

    // The retention box is named, on screen and to an assistive tool.
    auto* retention = w.find<QComboBox>("retention");
    EXPECT_EQ(retention->accessibleName(), QStringLiteral("Server audio retention"));
    const QLabel* named = nullptr;
    for (const QLabel* label : c.window()->findChildren<QLabel*>())
        if (label->buddy() == retention)
            named = label;
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->text(), QStringLiteral("Server audio retention"));
}

TEST(SettingsController, everySectionLeftToRightAndInArabic) {
    test::application();
    EnglishWording wording; // this desktop's words, as the application shows them
    QCoreApplication::installTranslator(&wording);
    for (const char* language : {"en-US", "ar"}) {
        test::PreferredLanguagesScope languages({QString::fromLatin1(language)});
        SettingsWorld w;
        w.app.days = 30;
        w.app.choices = {7, 30, 90};
        SettingsController& c = w.make();
        c.show();
        const bool rtl = std::string(language) == "ar";
        EXPECT_EQ(w.find<QWidget>("appGrid")->layoutDirection(), rtl ? Qt::RightToLeft : Qt::LeftToRight);
        // A description inset by 22 points sits that far from the leading edge of its column.
        c.select(0, false);
        QLabel* status = w.find<QLabel>("loginStatus");
        QWidget* container = status->parentWidget();
        if (rtl)
            EXPECT_EQ(container->width() - (status->x() + status->width()), 22);
        else
            EXPECT_EQ(status->x(), 22);
        EXPECT_EQ(bool(status->alignment() & Qt::AlignRight), rtl);
        for (int i = 0; i < SettingsController::sections().size(); ++i) {
            c.select(i, false);
            QCoreApplication::processEvents();
            const QString file = QString::fromStdString(
                (test::artifactsFolder() / ("settings-" + std::to_string(i) + "-" + language + ".png"))
                    .string());
            EXPECT_TRUE(c.window()->grab().save(file, "PNG")) << file.toStdString();
        }
        EXPECT_EQ(w.find<QPushButton>("Open Login Items Settings")->text(),
                  QStringLiteral("Open Autostart Folder"));
    }
    QCoreApplication::removeTranslator(&wording);
}

} // namespace
} // namespace nuvel
