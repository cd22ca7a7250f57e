// The status item's popover over the real model: what it shows in each state, where its
// buttons go, and how it looks left to right and in Arabic (with the library window and its
// menu), saved to the test artifacts folder.
#include "Nuvel/ui/library/LibraryController.hpp"
#include "Nuvel/ui/widgets/LevelIndicator.hpp"
#include "tests/ui/SheetFakes.hpp"
#include "tests/ui/ShellFakes.hpp"

#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

const QColor red(0xFF, 0x3B, 0x30);

struct Popover {
    QWidget* root;
    template <class T> T* find(const char* name) const {
        T* found = root->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) const { return find<QLabel>(name)->text(); }
    bool shown(const char* name) const { return !find<QWidget>(name)->isHidden(); }
    QColor stateColor() const {
        return find<QLabel>("companion-state")->palette().color(QPalette::WindowText);
    }
};

// What the popover shows, as one comparable line per control.
struct Seen {
    QString state;
    bool stateRed = false;
    bool timer = false, sources = false, application = false, buttons = false, buttonsEnabled = false,
         separator = false, recent = false;
    QString pause, microphone, applicationName, queue, recentText;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << s.state.toStdString() << (s.stateRed ? " (red)" : "") << " timer=" << s.timer
               << " sources=" << s.sources << " app=" << s.application << " buttons=" << s.buttons << "/"
               << s.buttonsEnabled << " sep=" << s.separator << " pause=" << s.pause.toStdString()
               << " mic=" << s.microphone.toStdString() << " appName=" << s.applicationName.toStdString()
               << " queue=" << s.queue.toStdString() << " recent=" << s.recent << ":"
               << s.recentText.toStdString();
}

Seen look(const Popover& p, bool detailed) {
    Seen s;
    s.state = p.text("companion-state");
    s.stateRed = p.stateColor() == red;
    s.timer = p.shown("companion-timer");
    s.sources = p.shown("companion-sources");
    s.application = p.shown("companion-application-group");
    s.buttons = p.shown("companion-pause");
    s.buttonsEnabled = p.find<QPushButton>("companion-pause")->isEnabled() &&
                       p.find<QPushButton>("companion-stop")->isEnabled() &&
                       p.find<QPushButton>("companion-mark")->isEnabled();
    s.separator = p.shown("companion-separator");
    s.recent = p.shown("companion-recent");
    s.queue = p.text("companion-queue");
    if (detailed) {
        s.pause = p.find<QPushButton>("companion-pause")->text();
        s.microphone = toolTipAsRead(p.find<QLabel>("companion-microphone")->toolTip());
        s.applicationName = toolTipAsRead(p.find<QLabel>("companion-application")->toolTip());
        s.recentText = toolTipAsRead(p.find<QLabel>("companion-recent")->toolTip());
        // A screen reader reads each tooltip's text, not its markup.
        for (const char* name : {"companion-microphone", "companion-application", "companion-recent"}) {
            QLabel* label = p.find<QLabel>(name);
            EXPECT_EQ(descriptionAsRead(label), toolTipAsRead(label->toolTip())) << name;
        }
    }
    return s;
}

TEST(CompanionController, ShowsEachStateOfTheModel) {
    struct Case {
        const char* name;
        std::function<void(DelegateFixture&)> enter;
        Seen expected;
        bool detailed = true;
    };
    auto start = [](std::optional<SystemAudioSelection> source, std::string sourceName,
                    std::optional<std::string> microphoneUID) {
        return [=](DelegateFixture& f) {
            AppModel::NewRecording request;
            request.title = "Live";
            request.source = source;
            request.sourceName = sourceName;
            request.microphoneUID = microphoneUID;
            f.world.model->startNewRecording(request);
            f.world.queue.drain();
            f.world.capture->control->duration = 4;
            f.world.queue.advance(0.1);
        };
    };
    const QString noQueue = "No uploads queued";
    const Case cases[] = {
        {"no recording",
         [](DelegateFixture&) {},
         {"Not recording", false, false, false, false, false, false, false, true, "Pause",
          "System default microphone", "Application audio", noQueue, "Recent: Earlier"}},
        {"a room recording",
         start(std::nullopt, "Microphone", std::nullopt),
         {"Recording", true, true, true, false, true, true, true, true, "Pause", "System default microphone",
          "Microphone", noQueue, "Recent: Earlier"}},
        {"paused",
         [start](DelegateFixture& f) {
             start(std::nullopt, "Microphone", std::nullopt)(f);
             f.world.model->togglePause();
             f.world.queue.drain();
         },
         {"Paused — audio is not retained", false, true, true, false, true, true, true, true, "Resume",
          "System default microphone", "Microphone", noQueue, "Recent: Earlier"}},
        {"busy while recording: buttons stay, disabled",
         [start](DelegateFixture& f) {
             start(std::nullopt, "Microphone", std::nullopt)(f);
             f.world.model->stopRecording(); // saving, until the queue runs
             f.delegate->companion()->render();
         },
         {"Recording", true, true, true, false, true, false, true, true, "Pause", "System default microphone",
          "Microphone", noQueue, "Recent: Earlier"}},
        {"application audio without a stored name, on a chosen microphone",
         start(SystemAudioSelection::allSystem(), "", std::string("usb-mic")),
         {"Recording", true, true, true, true, true, true, true, true, "Pause", "USB Microphone",
          "Application audio", noQueue, "Recent: Earlier"}},
        {"a chosen microphone that is gone",
         start(SystemAudioSelection::application(42), "Zoom", std::string("gone-mic")),
         {"Recording", true, true, true, true, true, true, true, true, "Pause",
          "Selected microphone unavailable", "Zoom", noQueue, "Recent: Earlier"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DelegateFixture f;
        f.world.seed({ShellWorld::recording("Earlier")});
        AppDelegate& delegate = f.launched();
        c.enter(f);
        Popover p{delegate.companion()->view()};
        EXPECT_EQ(look(p, c.detailed), c.expected);
        EXPECT_EQ(p.text("companion-timer"), c.expected.timer ? "00:04" : "00:00");
        EXPECT_EQ(delegate.companion()->preferredContentSize().width(), 360);
    }
}

TEST(CompanionController, CountsQueuedUploadsAndNamesTheRecentRecording) {
    DelegateFixture f;
    // Offline, so the queue does not take up the queued recordings by itself meanwhile.
    f.world.online = false;
    f.world.seed({ShellWorld::recording("Queued local", TransferState::local, true),
                  ShellWorld::recording("", TransferState::failed, true),
                  ShellWorld::recording("Moving", TransferState::uploading, true),
                  ShellWorld::recording("Not queued", TransferState::local, std::nullopt)});
    AppDelegate& delegate = f.launched();
    Popover p{delegate.companion()->view()};
    EXPECT_EQ(p.text("companion-queue"), "2 uploads queued");
    // The list is in the store's order; whichever comes first is the recent one.
    const LocalRecording& first = f.world.model->recordings().front();
    const QString firstTitle = first.title.empty() ? "Untitled meeting" : QString::fromStdString(first.title);
    EXPECT_EQ(toolTipAsRead(p.find<QLabel>("companion-recent")->toolTip()), "Recent: " + firstTitle);

    const Uuid queued = [&] {
        for (const auto& r : f.world.model->recordings())
            if (r.title == "Queued local")
                return r.id;
        return Uuid::random();
    }();
    f.world.model->startUploadIfAllowed(queued, false);
    EXPECT_EQ(p.text("companion-queue"), "Uploading audio…\n2 uploads queued");
    f.world.queue.drain();

    // The active recording is never the recent one.
    DelegateFixture alone;
    AppDelegate& only = alone.launched();
    alone.world.record(1, "");
    Popover q{only.companion()->view()};
    EXPECT_FALSE(q.shown("companion-recent")) << "the only recording is the active one";
    alone.world.model->stopRecording();
    alone.world.queue.drain();
    EXPECT_TRUE(q.shown("companion-recent"));
    EXPECT_EQ(toolTipAsRead(q.find<QLabel>("companion-recent")->toolTip()), "Recent: Untitled meeting");
}

TEST(CompanionController, ButtonsGoStraightToTheModelAndTheOwner) {
    DelegateFixture f;
    AppDelegate& delegate = f.launched();
    f.world.record(2);
    Popover p{delegate.companion()->view()};
    delegate.libraryWindow()->close();

    p.find<QPushButton>("companion-mark")->click();
    f.world.queue.drain();
    EXPECT_EQ(f.world.model->activeRecording()->bookmarks.size(), 1u);
    p.find<QPushButton>("companion-pause")->click();
    f.world.queue.drain();
    EXPECT_TRUE(f.world.model->isPaused());
    p.find<QPushButton>("companion-pause")->click();
    f.world.queue.drain();
    EXPECT_TRUE(f.world.model->isCapturing());
    p.find<QPushButton>("companion-stop")->click();
    f.world.queue.drain();
    EXPECT_FALSE(f.world.model->isRecording());
    EXPECT_EQ(f.world.model->message(), "Saved on this Mac. Send to Nuvel when you are ready.");
    p.find<QPushButton>("companion-open-library")->click();
    EXPECT_TRUE(delegate.libraryWindow()->isVisible());
    EXPECT_FALSE(delegate.popover().isShown());
}

// The library window with its File menu open, as one picture.
QImage windowWithMenu(QMainWindow* window) {
    window->resize(1080, 720);
    window->show();
    QImage shot = window->grab().toImage();
    QMenuBar* bar = window->menuBar();
    QAction* file = bar->actions().at(1);
    QMenu* menu = file->menu();
    const QRect item = bar->actionGeometry(file);
    menu->popup(bar->mapTo(window, item.bottomLeft()));
    QImage menuShot = menu->grab().toImage();
    QPainter painter(&shot);
    const QPoint at = bar->mapTo(window, window->layoutDirection() == Qt::RightToLeft
                                             ? QPoint(item.right() - menuShot.width(), item.bottom())
                                             : item.bottomLeft());
    painter.drawImage(at, menuShot);
    painter.end();
    menu->hide();
    return shot;
}

TEST(CompanionController, ScreenshotsLeftToRightAndArabic) {
    for (const auto& [suffix, languages] : {std::pair{std::string("ltr"), QStringList{"en-US"}},
                                            std::pair{std::string("ar"), QStringList{"ar-EG"}}}) {
        PreferredLanguagesScope scope(languages);
        DelegateFixture f;
        f.world.seed({ShellWorld::recording("Weekly planning", TransferState::local, true)});
        ShellFactories factories = f.factories();
        SheetWorld sheet;
        factories.makeLibrary = [&f, &sheet](AppModel& model) -> std::unique_ptr<ShellLibrary> {
            return std::make_unique<LibraryController>(model, sheet.dependencies(f.world));
        };
        f.delegate = std::make_unique<AppDelegate>(f.world.model, factories, f.environment());
        AppDelegate& delegate = *f.delegate;
        delegate.launch();
        f.world.queue.drain();
        f.world.record(754, "Design review");
        f.world.capture->control->microphoneLevel = 0.62;
        f.world.queue.advance(0.1);

        QWidget* popover = delegate.companion()->view();
        EXPECT_EQ(popover->layoutDirection(), suffix == "ar" ? Qt::RightToLeft : Qt::LeftToRight);
        const auto folder = artifactsFolder();
        const QString popoverFile =
            QString::fromStdString((folder / ("shell-popover-" + suffix + ".png")).string());
        ASSERT_TRUE(popover->grab().save(popoverFile, "PNG")) << popoverFile.toStdString();
        const QString windowFile =
            QString::fromStdString((folder / ("shell-window-menu-" + suffix + ".png")).string());
        ASSERT_TRUE(windowWithMenu(delegate.libraryWindow()).save(windowFile, "PNG"))
            << windowFile.toStdString();
        f.world.model->stopRecording();
        f.world.queue.drain();
    }
}

TEST(LibraryController, ANewRecordingAsksForPermissionChecksTheMicrophoneThenStarts) {
    struct Case {
        const char* name;
        bool signedIn;
        int button;
        bool consent;
        bool started;
        std::string message;
    };
    const Case cases[] = {
        {"confirmed with permission", true, 0, true, true, ""},
        {"without the permission box", true, 0, false, false,
         "Confirm permission before starting a recording."},
        {"cancelled", true, 1, true, false, ""},
        {"signed out: sign-in (no browser here), no sheet", false, 0, true, false,
         "Sign-in could not finish. Please try again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShellWorld world(c.signedIn);
        world.model->start();
        world.queue.drain();
        SheetWorld sheet;
        LibraryController library(*world.model, sheet.dependencies(world));
        bool startedOff = true;
        world.dialogs.onAlert = [&](const Alert& alert) {
            SheetControls controls(alert.accessory);
            if (controls.consent) {
                startedOff = !controls.consent->isChecked();
                controls.consent->setChecked(c.consent);
            }
        };
        world.dialogs.answers.push_back({c.button, false});
        library.beginNewRecording(nullptr);
        world.queue.drain();
        EXPECT_EQ(world.dialogs.asked.size(), c.signedIn ? 1u : 0u);
        if (c.signedIn) {
            EXPECT_EQ(world.dialogs.asked[0].message, "Choose recording sources");
            EXPECT_TRUE(startedOff) << "the permission box starts off";
        }
        if (SourceCheckController* check = library.sourceCheck()) {
            EXPECT_TRUE(check->sourceChecked());
            check->startRecording();
        }
        world.queue.drain();
        flushDeferredDeletes();
        EXPECT_EQ(sheet.sources.checked.size(), c.started ? 1u : 0u);
        EXPECT_EQ(world.model->isCapturing(), c.started);
        EXPECT_EQ(world.model->message(), c.message);
        if (c.started) {
            EXPECT_EQ(world.model->activeRecording()->captureMode, "room");
            EXPECT_EQ(world.model->activeRecording()->captureSourceName, "Microphone");
            world.model->stopRecording();
            world.queue.drain();
        }
    }
}

} // namespace
