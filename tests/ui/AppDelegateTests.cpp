// The application delegate over the real model: its launch order, the closures it installs,
// the main menu, the status item, the quit's alerts and the library window's frame.
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/library/LibraryWindowFrame.hpp"
#include "Nuvel/ui/shell/TrayStatusItem.hpp"
#include "tests/model/FakeCloud.hpp"
#include "tests/ui/MeetingDetailWorld.hpp"
#include "tests/ui/SheetFakes.hpp"
#include "tests/ui/ShellFakes.hpp"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>
#include <thread>

using namespace nuvel;
using namespace nuvel::test;

namespace {

TEST(AppDelegate, LaunchBuildsEverythingInItsOrderThenStartsTheModelAndShowsTheWindow) {
    DelegateFixture f;
    AppDelegate& delegate = f.make();
    delegate.launch();
    const CallLog expected = {
        "updates.make",
        "library.make after the menu",
        "calendar.make",
        "monitor.make",
        "library.toolbar", // the library window
        "statusItem.make after the window and popover",
        // the model's start reports its busy state through the observer installed before it
        "library.render",
        "updates.startIfReady",
        "monitor.refresh",
        "calendar.refresh(false)",
        "library.renderUpcoming",
        "updates.restorationBegan",
        "updates.startIfReady",
        "activate",
    };
    EXPECT_EQ(f.log, expected);
    EXPECT_TRUE(f.world.model->busy()) << "the start-up task has begun";
    ASSERT_NE(delegate.libraryWindow(), nullptr);
    EXPECT_TRUE(delegate.libraryWindow()->isVisible());
    EXPECT_FALSE(delegate.popover().isShown());
    EXPECT_EQ(delegate.libraryWindow()->centralWidget(), f.library->view());
    EXPECT_EQ(delegate.libraryWindow()->menuBar(), delegate.mainMenu());
    auto* toolbar = delegate.libraryWindow()->findChild<QToolBar*>("NuvelLibraryToolbar");
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_FALSE(toolbar->isMovable());
    EXPECT_EQ(f.library->view()->minimumSize(), QSize(820, 540));

    f.world.queue.drain();
    EXPECT_FALSE(f.world.model->busy());
    EXPECT_TRUE(f.world.model->session().has_value()) << "the stored session was restored";
    EXPECT_NE(f.world.model->store(), nullptr);

    // Launching again changes nothing; closing the window leaves the application running.
    f.log.clear();
    delegate.launch();
    EXPECT_TRUE(f.log.empty());
    delegate.libraryWindow()->close();
    EXPECT_FALSE(delegate.libraryWindow()->isVisible());
    EXPECT_EQ(f.terminations, 0);
    delegate.reopen();
    EXPECT_TRUE(delegate.libraryWindow()->isVisible()) << "the launcher's open again shows the library";
}

TEST(AppDelegate, TheInstalledClosuresFollowTheModelAndHoldTheDelegateWeakly) {
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    FakeUpdates* updates = f.updates;
    ShellMeetingMonitor* monitor = f.monitor;

    // updatesBusy and monitorIsCapturing: idle, then recording, then busy without a recording.
    EXPECT_FALSE(updates->isBusy());
    EXPECT_FALSE(monitor->isCapturing());
    f.world.record(3);
    EXPECT_TRUE(updates->isBusy());
    EXPECT_TRUE(monitor->isCapturing());

    // Any model change while recording takes a prompt down first.
    f.log.clear();
    f.world.model->setMessage("Anything");
    ASSERT_GE(f.log.size(), 2u);
    EXPECT_EQ(f.log[0], "prompts.dismiss");
    EXPECT_EQ(f.log[1], "library.render");

    // A call's end takes down only a microphone prompt.
    delegate.calendarReminder(CalendarMeeting{});
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::reminder);
    f.log.clear();
    monitor->onCallEnded();
    EXPECT_TRUE(f.log.empty()) << "a reminder stays on screen";
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::reminder);
    monitor->onPrompt(MeetingMonitorPrompt{});
    EXPECT_EQ(delegate.promptKind(), AppDelegate::PromptKind::call);
    monitor->onCallEnded();
    EXPECT_EQ(f.log.back(), "prompts.dismiss");
    EXPECT_FALSE(delegate.promptKind().has_value());

    // The update controller's state is mirrored into the model.
    updates->updating = true;
    updates->onChange();
    EXPECT_TRUE(f.world.model->updateInProgress());
    updates->updating = false;
    updates->onChange();
    EXPECT_FALSE(f.world.model->updateInProgress());

    // Ticks reach the library and the status item.
    f.log.clear();
    const int renders = f.statusItem->renders;
    f.world.queue.advance(0.1);
    EXPECT_NE(std::find(f.log.begin(), f.log.end(), "library.tick"), f.log.end());
    EXPECT_GT(f.statusItem->renders, renders);

    // Once the delegate is gone: busy for the updater, not capturing for detection, nothing else.
    std::function<bool()> isBusy = updates->isBusy;
    std::function<bool()> isCapturing = monitor->isCapturing;
    std::function<void()> callEnded = monitor->onCallEnded;
    f.world.model->stopRecording();
    f.world.queue.drain();
    EXPECT_FALSE(isBusy());
    f.delegate.reset();
    EXPECT_TRUE(isBusy());
    EXPECT_FALSE(isCapturing());
    callEnded();
    EXPECT_FALSE(f.world.model->onChange) << "the model's observers are taken back";

    // Settings' account is the session the device holds, also one the service has refused:
    // it names the account and offers to sign out.
    for (const std::optional<int> refusal : {std::optional<int>(), std::optional<int>(401)}) {
        SCOPED_TRACE(refusal ? "refused" : "known");
        DelegateFixture held;
        held.world.bootstrapRefusal = refusal;
        held.world.model = held.world.makeModel();
        held.launched().action("showSettings")->trigger();
        ASSERT_TRUE(held.settingsActions);
        EXPECT_EQ(held.world.model->sessionRefused(), refusal.has_value());
        EXPECT_TRUE(held.settingsActions->signedIn());
        EXPECT_EQ(held.settingsActions->accountSummary(), "ada@example.com");
    }
}

struct MenuRow {
    std::string menu, title, action, key;
    bool operator==(const MenuRow&) const = default;
};

std::ostream& operator<<(std::ostream& out, const MenuRow& row) {
    return out << row.menu << " | " << row.title << " | " << row.action << " | " << row.key;
}

TEST(AppDelegate, TheMainMenuHoldsItsItemsInOrderWithTheirShortcuts) {
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    std::vector<MenuRow> rows;
    for (QAction* top : delegate.mainMenu()->actions()) {
        for (QAction* item : top->menu()->actions()) {
            if (item->isSeparator())
                rows.push_back({top->text().toStdString(), "-", "", ""});
            else
                rows.push_back({top->text().toStdString(), item->text().toStdString(),
                                item->objectName().toStdString(),
                                item->shortcut().toString(QKeySequence::PortableText).toStdString()});
        }
    }
    const std::vector<MenuRow> expected = {
        {"Nuvel", "About Nuvel", "orderFrontStandardAboutPanel", ""},
        {"Nuvel", "Check for Updates…", "checkForUpdates", ""},
        {"Nuvel", "Settings…", "showSettings", "Ctrl+,"},
        {"Nuvel", "-", "", ""},
        {"Nuvel", "Hide Nuvel", "hide", "Ctrl+H"},
        {"Nuvel", "Quit Nuvel", "terminate", "Ctrl+Q"},
        {"File", "New recording", "newRecording", "Ctrl+N"},
        {"File", "Import audio…", "importAudio", "Ctrl+O"},
        {"Edit", "Undo", "undo", "Ctrl+Z"},
        {"Edit", "Redo", "redo", "Ctrl+Shift+Z"},
        {"Edit", "-", "", ""},
        {"Edit", "Cut", "cut", "Ctrl+X"},
        {"Edit", "Copy", "copy", "Ctrl+C"},
        {"Edit", "Paste", "paste", "Ctrl+V"},
        {"Edit", "Select all", "selectAll", "Ctrl+A"},
        {"Edit", "Find…", "findMeeting", "Ctrl+F"},
        {"Window", "Open library", "showLibrary", "Ctrl+1"},
    };
    EXPECT_EQ(rows, expected);
}

TEST(AppDelegate, MenuActionsReachTheirTargets) {
    struct Case {
        const char* name;
        std::function<void(DelegateFixture&)> before;
        const char* action;
        CallLog expected; // the library's, settings' and updater's calls that follow
        std::string message;
    };
    const std::vector<Case> cases = {
        {"new recording", {}, "newRecording", {"activate", "library.beginNewRecording"}, ""},
        {"new recording while an update installs",
         [](DelegateFixture& f) { f.updates->updating = true; },
         "newRecording",
         {},
         "Finish the update before starting a recording."},
        {"import", {}, "importAudio", {"activate", "library.chooseAudioFile"}, ""},
        {"import while an update installs",
         [](DelegateFixture& f) { f.updates->updating = true; },
         "importAudio",
         {},
         ""},
        {"find in the notes editor", {}, "findMeeting", {"library.findInScratchpad"}, ""},
        {"find on the cloud side",
         [](DelegateFixture& f) { f.library->cloud = true; },
         "findMeeting",
         {},
         ""},
        {"settings, made once", {}, "showSettings", {"settings.make", "settings.show"}, ""},
        {"check for updates", {}, "checkForUpdates", {"updates.check"}, ""},
        {"open library", {}, "showLibrary", {"activate"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DelegateFixture f;
        AppDelegate& delegate = f.launched();
        if (c.before)
            c.before(f);
        delegate.libraryWindow()->close();
        f.log.clear();
        delegate.action(c.action)->trigger();
        CallLog calls;
        for (const std::string& entry : f.log)
            if (entry != "library.render" && entry != "updates.startIfReady")
                calls.push_back(entry);
        EXPECT_EQ(calls, c.expected);
        EXPECT_EQ(f.world.model->message(), c.message);
        const bool shows = !c.expected.empty() && c.expected.front() == "activate";
        EXPECT_EQ(delegate.libraryWindow()->isVisible(), shows);
        if (std::string(c.name) == "find on the cloud side") {
            EXPECT_EQ(delegate.libraryWindow()->focusWidget(), f.library->search());
        }
        if (std::string(c.action) == "showSettings") {
            f.log.clear();
            delegate.action("showSettings")->trigger();
            EXPECT_EQ(f.log, CallLog{"settings.show"});
        }
    }

    // The standard items: the about panel, and editing that goes to the focused field.
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    delegate.action("orderFrontStandardAboutPanel")->trigger();
    EXPECT_EQ(f.world.dialogs.abouts, 1);
    QLineEdit* field = f.library->search();
    field->setText("kitchen");
    delegate.libraryWindow()->activateWindow();
    field->setFocus();
    QApplication::setActiveWindow(delegate.libraryWindow());
    if (QApplication::focusWidget() == field) {
        delegate.action("selectAll")->trigger();
        EXPECT_EQ(field->selectedText(), "kitchen");
        delegate.action("cut")->trigger();
        EXPECT_EQ(field->text(), "");
        delegate.action("undo")->trigger();
        EXPECT_EQ(field->text(), "kitchen");

        // On a button, which cannot select, the command passes without a word.
        auto* button = new QPushButton(QStringLiteral("Share…"), delegate.libraryWindow()->centralWidget());
        button->show();
        button->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), button);
        static QStringList said;
        said.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) { said << message; });
        for (const char* command : {"selectAll", "copy", "cut", "paste", "undo", "redo"})
            delegate.action(command)->trigger();
        qInstallMessageHandler(previous);
        EXPECT_EQ(said, QStringList()) << said.join('\n').toStdString();
        EXPECT_EQ(field->text(), "kitchen");
    }
    // Without a settings window the item is there but disabled.
    DelegateFixture bare;
    bare.withSettings = false;
    AppDelegate& noSettings = bare.launched();
    EXPECT_FALSE(noSettings.action("showSettings")->isEnabled());
}

// The real library window with a cloud meeting open: the menu's find key is the only owner of
// Ctrl+F, and a real key press reaches the meeting's field or the library's search by where the
// window's focus is.
TEST(AppDelegate, TheFindKeyGoesToTheOpenMeetingOrTheLibrarySearch) {
    SheetWorld sheet; // outlives the library the delegate owns
    DelegateFixture f;
    FakeCloud* cloud = nullptr;
    f.world.makeCloud = [&cloud] {
        auto made = std::make_unique<FakeCloud>();
        cloud = made.get();
        return made;
    };
    f.world.model.reset();
    f.world.model = f.world.makeModel();
    LibraryController* library = nullptr;
    ShellFactories factories = f.factories();
    factories.makeLibrary = [&](AppModel& model) {
        auto made = std::make_unique<LibraryController>(model, sheet.dependencies(f.world));
        library = made.get();
        return made;
    };
    f.delegate = std::make_unique<AppDelegate>(f.world.model, std::move(factories), f.environment());
    f.delegate->launch();
    f.world.queue.drain();
    ASSERT_NE(library, nullptr);
    const NativeMeetingDocument meeting = longMeeting(false, 6);
    cloud->shown.document = meeting;
    cloud->shown.selectedID = meeting.summary.id;
    library->locationChanged(1);

    QMainWindow* window = f.delegate->libraryWindow();
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    if (QApplication::activeWindow() != window)
        GTEST_SKIP() << "this platform activates no window";
    auto* notes = window->findChild<QWidget*>("meeting-detail-notes");
    auto* meetingSearch = window->findChild<QLineEdit*>("meeting-detail-search");
    auto* librarySearch = window->findChild<QLineEdit*>("library-search");
    auto* list = window->findChild<QWidget*>("library-list");
    ASSERT_TRUE(notes && meetingSearch && librarySearch && list);
    const struct {
        const char* name;
        QWidget* from;
        QWidget* to;
    } presses[] = {{"reading the meeting's notes", notes, meetingSearch},
                   {"in the meeting list", list, librarySearch}};
    for (const auto& press : presses) {
        SCOPED_TRACE(press.name);
        press.from->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(window->focusWidget(), press.from);
        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
        EXPECT_EQ(window->focusWidget(), press.to);
    }
}

TEST(AppDelegate, TheStatusItemShowsTheRecordingState) {
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    FakeStatusItem& item = *f.statusItem;
    struct Row {
        const char* state;
        StatusItemAppearance look;
        QString toolTip;
    };
    std::vector<Row> rows;
    rows.push_back({"idle", item.shown, TrayStatusItem::toolTip(item.shown)});
    f.world.record(12);
    rows.push_back({"capturing", item.shown, TrayStatusItem::toolTip(item.shown)});
    f.world.model->togglePause();
    f.world.queue.drain();
    rows.push_back({"paused", item.shown, TrayStatusItem::toolTip(item.shown)});
    f.world.model->togglePause();
    f.world.queue.drain();
    f.world.capture->control->duration = 3725;
    f.world.queue.advance(0.1);
    rows.push_back({"an hour in", item.shown, TrayStatusItem::toolTip(item.shown)});

    const Row expected[] = {
        {"idle", {"", false, "waveform", "Nuvel", "Nuvel"}, "Nuvel"},
        {"capturing",
         {" 00:12", true, "record.circle.fill", "Recording", "Recording 00:12"},
         "Recording 00:12"},
        {"paused", {" 00:12", false, "pause.circle", "Nuvel", "Nuvel"}, "Nuvel 00:12"},
        {"an hour in",
         {" 1:02:05", true, "record.circle.fill", "Recording", "Recording 1:02:05"},
         "Recording 1:02:05"},
    };
    ASSERT_EQ(rows.size(), std::size(expected));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].state);
        EXPECT_EQ(rows[i].look.title, expected[i].look.title);
        EXPECT_EQ(rows[i].look.tinted, expected[i].look.tinted);
        EXPECT_EQ(rows[i].look.symbol, expected[i].look.symbol);
        EXPECT_EQ(rows[i].look.description, expected[i].look.description);
        EXPECT_EQ(rows[i].look.accessibilityLabel, expected[i].look.accessibilityLabel);
        EXPECT_EQ(rows[i].toolTip, expected[i].toolTip);
        EXPECT_FALSE(TrayStatusItem::icon(expected[i].look.symbol, false).isNull()) << "bundled";
    }

    // The item toggles the popover under itself.
    item.onActivate();
    EXPECT_TRUE(delegate.popover().isShown());
    EXPECT_GE(delegate.popover().geometry().top(), 24);
    item.onActivate();
    EXPECT_FALSE(delegate.popover().isShown());
    // Shown, it takes the keyboard; a click elsewhere takes it away and closes it. When that click
    // was on the item, the item's word that follows does not open it again.
    item.onActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&delegate.popover()));
    delegate.libraryWindow()->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !delegate.popover().isShown(); }));
    item.onActivate();
    EXPECT_FALSE(delegate.popover().isShown());

    // Without a tray there is no status item; the toggle does nothing.
    DelegateFixture bare(true, false);
    AppDelegate& plain = bare.launched();
    EXPECT_EQ(plain.statusItem(), nullptr);
    plain.togglePopover();
    EXPECT_FALSE(plain.popover().isShown());
}

TEST(AppDelegate, QuittingAsksWithItsAlertsAndEndsThroughTheLibraryAndTheWindow) {
    // The quit's questions are the delegate's alerts; only their first button goes on, and a
    // relaunch the updater holds refuses without one.
    struct Row {
        const char* name;
        bool uploading;
        bool relaunchWaiting;
        int answer; // the button the user chooses
        std::optional<Alert> asked;
        QuitCoordinator::Reply reply;
    };
    Alert stop;
    stop.message = "Stop and save before quitting?";
    stop.informativeText = "Closing the window keeps recording. Quitting will stop and save your audio.";
    stop.buttons = {"Stop, save and quit", "Cancel"};
    Alert upload;
    upload.message = "Pause this upload and quit?";
    upload.informativeText = "Your recording is saved. Open Nuvel again to continue; an interrupted create "
                             "or commit may need review.";
    upload.buttons = {"Quit", "Cancel"};
    const Row rows[] = {
        {"recording, alert closed", false, false, -1, stop, QuitCoordinator::Reply::cancel},
        {"uploading, cancelled", true, false, 1, upload, QuitCoordinator::Reply::cancel},
        {"uploading, quit", true, false, 0, upload, QuitCoordinator::Reply::later},
        {"a relaunch waits while recording", false, true, 0, std::nullopt, QuitCoordinator::Reply::cancel},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DelegateFixture f;
        f.world.seed({ShellWorld::recording("Earlier")});
        AppDelegate& delegate = f.launched();
        if (row.uploading)
            f.world.model->startUploadIfAllowed(f.world.model->recordings().front().id, false);
        else
            f.world.record(4);
        f.updates->relaunch = row.relaunchWaiting;
        f.world.dialogs.answers.push_back(AlertAnswer{row.answer, false});
        f.log.clear();

        EXPECT_EQ(delegate.requestQuit(QuitCoordinator::Origin::interactive), row.reply);
        ASSERT_EQ(f.world.dialogs.asked.size(), row.asked ? 1u : 0u);
        if (row.asked) {
            const Alert& alert = f.world.dialogs.asked[0];
            EXPECT_EQ(alert.message, row.asked->message);
            EXPECT_EQ(alert.informativeText, row.asked->informativeText);
            EXPECT_EQ(alert.buttons, row.asked->buttons);
        }
        const bool committed =
            std::find(f.log.begin(), f.log.end(), "library.commitScratchpad") != f.log.end();
        EXPECT_EQ(committed, row.reply == QuitCoordinator::Reply::later);
        f.world.queue.drain();
        EXPECT_EQ(f.terminations, row.reply == QuitCoordinator::Reply::later ? 1 : 0);
        EXPECT_EQ(f.world.model->isCapturing(), !row.uploading)
            << "a refused quit leaves the recording running";
    }
}

TEST(AppDelegate, AnUpdatesRelaunchQuitsUnaskedWithTheLibrarysNotesAndKeepsTheWindowsFrame) {
    DelegateFixture f;
    f.world.seed({ShellWorld::recording("Earlier")});
    AppDelegate& delegate = f.launched();
    f.world.defaults.remove(LibraryWindowFrame::defaultsKey);
    f.log.clear();
    ASSERT_TRUE(f.updates->quit);
    f.updates->quit();
    EXPECT_TRUE(delegate.quitCoordinator().isTerminating());
    EXPECT_TRUE(f.world.dialogs.asked.empty()) << "nobody is asked: the user chose to install";
    EXPECT_NE(std::find(f.log.begin(), f.log.end(), "library.commitScratchpad"), f.log.end());
    f.world.queue.drain();
    EXPECT_EQ(f.terminations, 1);
    EXPECT_TRUE(f.world.defaults.string(LibraryWindowFrame::defaultsKey)) << "the window's frame is kept";
}

TEST(LibraryWindowFrame, SavedFramesAreParsedStrictlyAndKeptOnlyWhenUsable) {
    struct Case {
        std::optional<std::string_view> text;
        std::optional<QRect> parsed;
    };
    const Case parsing[] = {
        {"10 20 900 600", QRect(10, 20, 900, 600)},
        {"10 20 900 600 0 0 1920 1080", QRect(10, 20, 900, 600)},
        {"  10  x 20 900.4 599.6", QRect(10, 20, 900, 600)},
        {"-50 -40 1000 700", QRect(-50, -40, 1000, 700)},
        {"10 20 900", std::nullopt},
        {"nan 20 900 600 7", QRect(20, 900, 600, 7)},
        {"inf 1e400 12px 10 20 30", std::nullopt},
        {"1e7 0 900 600", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Case& c : parsing)
        EXPECT_EQ(LibraryWindowFrame::restored(c.text), c.parsed) << std::string(c.text.value_or("(none)"));

    const QRect usable(0, 25, 1920, 1055);
    struct Clamp {
        std::optional<QRect> saved;
        QRect expected;
    };
    const QRect centred(420, 192, 1080, 720);
    const Clamp clamps[] = {
        {QRect(100, 100, 900, 600), QRect(100, 100, 900, 600)},
        {QRect(1400, 100, 900, 600), QRect(1400, 100, 900, 600)}, // under half off the screen is fine
        {QRect(1600, 100, 900, 600), centred},                    // most of it off the screen
        {QRect(5000, 5000, 900, 600), centred},
        {QRect(100, 100, 819, 600), centred},
        {QRect(100, 100, 900, 539), centred},
        {std::nullopt, centred},
    };
    for (const Clamp& c : clamps)
        EXPECT_EQ(LibraryWindowFrame::clamped(usable, c.saved), c.expected);
    EXPECT_EQ(LibraryWindowFrame::clamped(QRect(0, 0, 800, 500), std::nullopt), QRect(0, 0, 800, 500));

    // At launch: a usable saved frame stays in the defaults; one off every screen is removed.
    for (const char* saved : {"100 100 900 600", "9000 9000 900 600"}) {
        DelegateFixture f;
        f.world.defaults.set(LibraryWindowFrame::defaultsKey, json::Value(saved));
        AppDelegate& delegate = f.launched();
        const bool usableFrame = std::string(saved).starts_with("100");
        EXPECT_EQ(f.world.defaults.string(LibraryWindowFrame::defaultsKey).has_value(), usableFrame) << saved;
        if (usableFrame) {
            EXPECT_EQ(delegate.libraryWindow()->geometry().size(), QSize(900, 600));
        }
        delegate.libraryWindow()->resize(1000, 700);
        delegate.saveLibraryWindowFrame();
        const std::string text = f.world.defaults.string(LibraryWindowFrame::defaultsKey).value_or("");
        EXPECT_TRUE(text.ends_with(" 1000 700")) << text;

        // Resized by the user, the frame is written on the executor once the window settles;
        // the window thread never waits on the disk for it.
        f.world.executor.holding = true;
        delegate.libraryWindow()->resize(1100, 750);
        QEventLoop settled;
        QTimer::singleShot(5000, &settled, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &settled, [&] {
            if (!f.world.executor.held.empty())
                settled.quit();
        });
        poll.start(10);
        settled.exec();
        ASSERT_EQ(f.world.executor.held.size(), 1u);
        EXPECT_TRUE(
            f.world.defaults.string(LibraryWindowFrame::defaultsKey).value_or("").ends_with(" 1000 700"));
        f.world.executor.release();
        EXPECT_TRUE(
            f.world.defaults.string(LibraryWindowFrame::defaultsKey).value_or("").ends_with(" 1100 750"));
    }
}

TEST(AppDelegate, UnderArabicTheWindowRunsRightToLeftWithAnArabicTitle) {
    for (const auto& [languages, title, direction] :
         {std::tuple{QStringList{"ar-SA", "en-US"}, QString("نوفل"), Qt::RightToLeft},
          std::tuple{QStringList{"en-US"}, QString("Nuvel"), Qt::LeftToRight},
          std::tuple{QStringList{}, QString("Nuvel"), Qt::LeftToRight}}) {
        PreferredLanguagesScope scope(languages);
        DelegateFixture f;
        AppDelegate& delegate = f.launched();
        EXPECT_EQ(delegate.libraryWindow()->windowTitle(), title);
        EXPECT_EQ(delegate.libraryWindow()->layoutDirection(), direction);
        EXPECT_EQ(delegate.mainMenu()->actions().first()->text(), "Nuvel")
            << "the application menu is not translated";
    }
}

TEST(AppDelegate, ForwardedMessagesReopenOrCarryOnlyTheSignInCallback) {
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    std::vector<std::string> callbacks;
    delegate.onSignInCallback = [&](const std::string& url) { callbacks.push_back(url); };
    delegate.libraryWindow()->close();
    delegate.handleInstanceMessage("reopen");
    EXPECT_TRUE(delegate.libraryWindow()->isVisible());
    for (const char* message :
         {"open nuvel://auth?code=0123abcd", "open NUVEL://AUTH?code=1", "open nuvel://other?x=1",
          "open https://auth/?code=2", "open nuvel:auth", "open not a url", "bogus"})
        delegate.handleInstanceMessage(message);
    EXPECT_EQ(callbacks, (std::vector<std::string>{"nuvel://auth?code=0123abcd", "NUVEL://AUTH?code=1"}));
}

TEST(AppDelegate, AForwardedSignInCallbackEndsTheModelsSignIn) {
    DelegateFixture f(false);
    AppDelegate& delegate = f.launched();
    // No attempt is pending in this model: its sign-in says it could not finish.
    delegate.handleInstanceMessage("open nuvel://auth?code=" + QString(64, 'a'));
    f.world.queue.drain();
    EXPECT_EQ(f.world.model->message(), "Sign-in could not finish. Please try again.");
    EXPECT_FALSE(f.world.model->session());
}

TEST(MainActorEntry, AnEntryOffTheGuiThreadIsReportedAndStillRuns) {
    test::application();
    std::vector<std::pair<std::string, int>> reports;
    setUnexpectedExecutorReport([&](std::string_view file, int line) { reports.emplace_back(file, line); });
    bool ran = false;
    int line = 0;
    auto entry = [&] {
        line = __LINE__ + 1;
        NUVEL_MAIN_ACTOR_ENTRY();
        ran = true;
    };
    entry();
    EXPECT_TRUE(reports.empty()) << "on the GUI thread";
    std::thread(entry).join();
    setUnexpectedExecutorReport({});
    EXPECT_TRUE(ran);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (std::pair<std::string, int>{__FILE__, line}));
}

} // namespace
