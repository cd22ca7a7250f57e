// The library window's structure: the drop target, the toolbar's enabling, the list's rows and
// selection, the location switch and the search, the account row and the divider's first place.
#include "Nuvel/ui/library/AudioDropSplitter.hpp"
#include "Nuvel/ui/library/CloudLibraryDialogs.hpp"
#include "Nuvel/ui/library/LibrarySidebar.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "tests/ui/LibraryWorld.hpp"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

QStringList rowsOf(QListView* list) {
    QStringList rows;
    QAbstractItemModel* m = list->model();
    for (int i = 0; i < m->rowCount(); ++i)
        rows << m->index(i, 0).data().toString() + " | " +
                    m->index(i, 0).data(SidebarListModel::subtitleRole).toString();
    return rows;
}

int selectedRow(QListView* list) {
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

TEST(LibraryController, ADropOfExactlyOneLocalFileIsTakenAsACopyAndAnythingElseRefused) {
    struct Case {
        const char* name;
        QList<QUrl> urls;
        bool taken;
        Qt::DropActions offered = Qt::CopyAction;
        // Shift makes the source propose a move.
        Qt::KeyboardModifiers keys = Qt::NoModifier;
    };
    const QUrl audio = QUrl::fromLocalFile("/tmp/talk.m4a");
    const Case cases[] = {
        {"one file", {audio}, true},
        {"one file its source proposes to move",
         {audio},
         true,
         Qt::CopyAction | Qt::MoveAction,
         Qt::ShiftModifier},
        {"one file that may only be moved", {audio}, false, Qt::MoveAction},
        {"two files", {audio, QUrl::fromLocalFile("/tmp/other.m4a")}, false},
        {"a web address", {QUrl("https://example.com/talk.m4a")}, false},
        {"nothing", {}, false},
    };
    application();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AudioDropSplitter splitter;
        std::vector<std::filesystem::path> files;
        splitter.onFile = [&](const std::filesystem::path& path) { files.push_back(path); };
        QMimeData data;
        data.setUrls(c.urls);
        QDragEnterEvent enter(QPoint(5, 5), c.offered, &data, Qt::LeftButton, c.keys);
        QCoreApplication::sendEvent(&splitter, &enter);
        EXPECT_EQ(enter.isAccepted(), c.taken);
        QDragMoveEvent move(QPoint(6, 6), c.offered, &data, Qt::LeftButton, c.keys);
        QCoreApplication::sendEvent(&splitter, &move);
        EXPECT_EQ(move.isAccepted(), c.taken);
        QDropEvent drop(QPointF(6, 6), c.offered, &data, Qt::LeftButton, c.keys);
        QCoreApplication::sendEvent(&splitter, &drop);
        EXPECT_EQ(drop.isAccepted(), c.taken);
        if (c.taken) {
            EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
            EXPECT_EQ(move.dropAction(), Qt::CopyAction);
            EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        }
        EXPECT_EQ(files, c.taken ? std::vector<std::filesystem::path>{"/tmp/talk.m4a"}
                                 : std::vector<std::filesystem::path>{});
    }
}

TEST(LibraryController, ToolbarItemsWorkOnlyWhileNoRecordingRunsNothingIsBusyAndNoUpdateInstalls) {
    struct Case {
        const char* name;
        std::function<void(LibraryWorld&)> setUp;
        bool enabled;
    };
    const Case cases[] = {
        {"idle", {}, true},
        {"recording", [](LibraryWorld& w) { w.world.record(1); }, false},
        {"paused",
         [](LibraryWorld& w) {
             w.world.record(1);
             w.model().togglePause();
             w.world.queue.drain();
         },
         false},
        {"busy importing",
         [](LibraryWorld& w) {
             w.world.executor.holding = true;
             w.model().importAudio("/nonexistent/talk.m4a", false);
         },
         false},
        {"an update installs", [](LibraryWorld& w) { w.model().setUpdateInProgress(true); }, false},
        {"after a recording stopped",
         [](LibraryWorld& w) {
             w.world.record(1);
             w.model().stopRecording();
             w.world.queue.drain();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w;
        QToolBar toolbar;
        w.library->populateToolbar(&toolbar);
        if (c.setUp)
            c.setUp(w);
        w.library->tick();
        for (const char* name : {"new-recording", "import-audio"}) {
            QAction* item = toolbar.findChild<QAction*>(name);
            ASSERT_NE(item, nullptr) << name;
            EXPECT_EQ(item->isEnabled(), c.enabled) << name;
            EXPECT_EQ(item->toolTip(), item->text()) << name;
        }
        w.world.executor.release();
        w.world.queue.drain();
    }
}

TEST(LibraryController, RowsNameEachRecordingMeetingAndHit) {
    LocalRecording untitled = ShellWorld::recording("");
    untitled.segments.push_back(RecordingSegment{});
    const Uuid other = Uuid::random();
    const QString date = localRow(untitled, std::nullopt, false).subtitle.section(" · ", 0, 0);
    // Local dates in the locale's abbreviated date and short time, as the cloud side writes its own.
    LocalRecording dated = ShellWorld::recording("Standup");
    dated.createdAt = *parseIso8601("2026-12-09T13:13:00Z");
    SidebarRow american, british;
    {
        DateLocaleScope scope("en_US", "UTC");
        american = localRow(dated, other, false);
    }
    {
        DateLocaleScope scope("en_GB", "Europe/London");
        british = localRow(dated, other, false);
    }
    struct Case {
        const char* name;
        SidebarRow row;
        SidebarRow expected;
    };
    const Case cases[] = {
        {"untitled local recording",
         localRow(untitled, other, false),
         {"Untitled recording", date + " · 00:00"}},
        {"the running recording",
         localRow(untitled, untitled.id, false),
         {"Untitled recording", "Recording · " + date}},
        {"the paused recording",
         localRow(untitled, untitled.id, true),
         {"Untitled recording", "Paused · " + date}},
        {"dated, American English",
         american,
         {"Standup", QString::fromUtf8("Dec 9, 2026, 1:13\u202fPM · 00:00")}},
        {"dated, British English", british, {"Standup", "9 Dec 2026, 13:13 · 00:00"}},
        {"cloud meeting with an empty title",
         cloudRow(summary("m1", "", 3725.9, "ready")),
         {"", "1:02:05 · ready"}},
        {"cloud meeting",
         cloudRow(summary("m2", "Budget", 65, "processing")),
         {"Budget", "01:05 · processing"}},
        {"search hit",
         searchRow(hit("m3", "Budget", {"the ", "budget", " for May"})),
         {"Budget", "the budget for May"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.row, c.expected);
    }
    EXPECT_FALSE(date.isEmpty());
}

TEST(LibraryController, TheListShowsTheSideAndModeChosen) {
    LibraryWorld w(true, {ShellWorld::recording("Standup"), ShellWorld::recording("Retro")});
    w.cloud->shown.meetings = {summary("m1", "Planning"), summary("m2", "Review", 120)};
    w.cloud->shown.searchResults = {hit("m2", "Review", {"found ", "here"})};
    QListView* list = w.library->table();
    w.library->render();
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_TRUE(rowsOf(list)[0].contains(" · 00:02")) << rowsOf(list)[0].toStdString();
    EXPECT_EQ(toolTipAsRead(list->model()->index(0, 0).data(Qt::ToolTipRole).toString()),
              list->model()->index(0, 0).data().toString());

    w.library->locationChanged(1);
    EXPECT_EQ(rowsOf(list), (QStringList{"Planning | 01:05 · ready", "Review | 02:00 · ready"}));
    w.find<QLineEdit>("library-search")->setText("   ");
    EXPECT_FALSE(w.library->searchMode()) << "blank text is no search";
    EXPECT_EQ(rowsOf(list).size(), 2);
    w.find<QLineEdit>("library-search")->setText("here");
    EXPECT_TRUE(w.library->searchMode());
    EXPECT_EQ(rowsOf(list), (QStringList{"Review | found here"}));
    EXPECT_EQ(w.cloud->take(), (std::vector<std::string>{"loadLibrary", "search    ", "search here"}));

    w.library->locationChanged(0);
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_TRUE(w.cloud->take().empty()) << "the local side loads nothing";
    w.library->locationChanged(1);
    EXPECT_EQ(w.cloud->take(), (std::vector<std::string>{"loadLibrary"}))
        << "the first page again, every time";

    // The local pane's open-result button shows the meeting on the cloud side, loading no page.
    for (const std::optional<std::string>& remoteID :
         {std::optional<std::string>("r1"), std::optional<std::string>()}) {
        w.library->locationChanged(0);
        w.cloud->take();
        w.library->localPane().onOpenResult(remoteID);
        EXPECT_TRUE(w.library->cloudVisible());
        EXPECT_EQ(w.find<SegmentedControl>("library-location")->selectedSegment(), 1);
        EXPECT_EQ(w.cloud->take(),
                  remoteID ? std::vector<std::string>{"openMeeting r1"} : std::vector<std::string>{});
    }
}

// A sent recording's meeting, opened from its pane, is new to a list read before it was made: the
// list is read again once the meeting has loaded, unless it has the meeting by then.
TEST(LibraryController, TheMeetingOpenedFromASentRecordingsPaneComesIntoTheList) {
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed ? "listed" : "new to the list");
        LocalRecording sent = ShellWorld::recording("Standup", TransferState::accepted);
        sent.remoteID = "m9";
        sent.remoteState = "completed";
        sent.resultURL = Url::parse("https://app.nuvel.test/m/m9");
        LibraryWorld w(true, {sent});
        w.redrawOnChange();
        w.cloud->shown.meetings = {summary("m1", "Planning")};
        if (listed)
            w.cloud->shown.meetings.push_back(summary("m9", "Standup"));
        w.model().select(w.model().recordings()[0].id);
        w.world.queue.drain();
        w.showActive();
        LibraryWorld::settle();
        // The meeting loads as the cloud library loads it.
        w.cloud->onOpenMeeting = [&](const std::string& id) {
            w.cloud->shown.selectedID = id;
            w.cloud->shown.loading = true;
            w.cloud->onChange();
        };
        auto* open = w.find<QPushButton>("local-open-result");
        ASSERT_NE(open, nullptr);
        QTest::mouseClick(open, Qt::LeftButton);
        LibraryWorld::settle();
        EXPECT_EQ(w.cloud->take(), (std::vector<std::string>{"openMeeting m9"}));
        NativeMeetingDocument document = longMeeting(false, 6);
        document.summary = summary("m9", "Standup");
        w.cloud->shown.document = document;
        w.cloud->shown.loading = false;
        w.cloud->onChange();
        LibraryWorld::settle();
        EXPECT_EQ(w.cloud->take(),
                  listed ? std::vector<std::string>{} : std::vector<std::string>{"loadLibrary"});
        EXPECT_EQ(selectedRow(w.library->table()), listed ? 1 : -1) << "the open meeting's row, or none";
        w.cloud->onChange();
        LibraryWorld::settle();
        EXPECT_TRUE(w.cloud->take().empty()) << "read once";
        QApplication::setActiveWindow(nullptr);
    }
}

TEST(LibraryController, SelectionOpensMeetingsSelectsRecordingsAndRenderKeepsOrLeavesIt) {
    LibraryWorld w(true, {ShellWorld::recording("Standup"), ShellWorld::recording("Retro")});
    QListView* list = w.library->table();
    FakeCloud& cloud = *w.cloud;
    cloud.shown.meetings = {summary("m1", "Planning"), summary("m2", "Review")};
    cloud.shown.searchResults = {hit("m9", "Elsewhere", {"x"})};

    // Local side: a chosen row selects its recording in the model; render restores it.
    list->selectionModel()->select(list->model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
    ASSERT_TRUE(w.model().selectedID());
    EXPECT_EQ(*w.model().selectedID(), w.model().recordings()[1].id);
    w.library->render();
    EXPECT_EQ(selectedRow(list), 1);

    // Cloud side: the model's selected meeting is selected again by render, without reopening it.
    w.library->locationChanged(1);
    cloud.take();
    cloud.shown.selectedID = "m2";
    w.library->render();
    EXPECT_EQ(selectedRow(list), 1);
    EXPECT_TRUE(cloud.take().empty()) << "the redraw's selection opens nothing";
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(cloud.take(), (std::vector<std::string>{"openMeeting m1"}));
    EXPECT_EQ(w.library->selectedCloudID(), std::optional<std::string>("m1"));
    cloud.shown.selectedID = "m1"; // as the library opens it

    // Search mode: a hit opens its meeting, and render leaves the user's selection where it is,
    // not where the library's list has that meeting.
    cloud.shown.searchResults = {hit("m2", "Review", {"x"}), hit("m9", "Elsewhere", {"x"})};
    w.library->searchLibrary("x");
    cloud.take();
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(cloud.take(), (std::vector<std::string>{"openMeeting m2"}));
    cloud.shown.selectedID = "m2"; // the library's row 1: not looked up while searching
    w.library->render();
    EXPECT_EQ(selectedRow(list), 0);
    EXPECT_TRUE(cloud.take().empty());

    // Back on this computer's side the model's selected recording is selected again.
    w.library->locationChanged(0);
    EXPECT_EQ(selectedRow(list), 1);

    // Only while the list has the keyboard does a row say it has it; Tab back to the list finds
    // the selected row.
    QWidget* view = w.library->view();
    view->show();
    view->activateWindow();
    QApplication::setActiveWindow(view);
    const auto rowFocused = [&] {
        QAccessibleInterface* row = QAccessible::queryAccessibleInterface(list)->child(1);
        return row != nullptr && row->state().focused;
    };
    list->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_TRUE(rowFocused());
    w.find<QPushButton>("library-account-button")->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(rowFocused());
    list->setFocus(Qt::BacktabFocusReason);
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_TRUE(rowFocused());
    QApplication::setActiveWindow(nullptr);
}

// After a step that leaves no meeting open, no row is highlighted, and a click on any row opens
// its meeting; the cloud library answers each request as the service's would.
TEST(LibraryController, AStepThatLeavesNoMeetingOpenLeavesNoRowHighlighted) {
    const auto clickRow = [](QListView* list, int row) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualRect(list->model()->index(row, 0)).center());
    };
    const auto opened = [](FakeCloud& cloud, const std::string& id) {
        cloud.shown.selectedID = id;
        NativeMeetingDocument document = longMeeting(false, 6);
        document.summary = summary(id, "Meeting " + id);
        cloud.shown.document = document;
        cloud.onChange();
    };
    struct Case {
        const char* name;
        std::function<void(LibraryWorld&)> step;
        std::string clicked; // the meeting a click on the second row then opens
        const char* screenshot = nullptr;
    };
    const Case cases[] = {
        {"the open meeting deleted",
         [&](LibraryWorld& w) {
             w.library->locationChanged(1);
             clickRow(w.library->table(), 1);
             ASSERT_EQ(w.cloud->take(), (std::vector<std::string>{"loadLibrary", "openMeeting m2"}));
             opened(*w.cloud, "m2");
             ASSERT_EQ(selectedRow(w.library->table()), 1);
             auto* remove = w.library->view()->findChild<QAction*>("meeting-detail-delete");
             ASSERT_TRUE(remove && remove->isVisible());
             remove->trigger();
             ASSERT_EQ(w.cloud->take(), (std::vector<std::string>{"confirmDelete"}));
             // Deleted on the service: the meeting leaves the list and closes, the page is read again.
             std::erase_if(w.cloud->shown.meetings, [](const MeetingSummary& m) { return m.id == "m2"; });
             w.cloud->shown.selectedID.reset();
             w.cloud->shown.document.reset();
             w.cloud->onChange();
         },
         "m3", "library-after-delete.png"},
        {"this computer's list left for the Nuvel library",
         [&](LibraryWorld& w) {
             clickRow(w.library->table(), 0);
             ASSERT_EQ(selectedRow(w.library->table()), 0);
             auto* location = w.find<SegmentedControl>("library-location");
             QTest::mouseClick(location->findChildren<QToolButton*>().at(1), Qt::LeftButton);
             ASSERT_EQ(w.cloud->take(), (std::vector<std::string>{"loadLibrary"}));
         },
         "m2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w(true, {ShellWorld::recording("Standup"), ShellWorld::recording("Retro")});
        w.redrawOnChange();
        w.cloud->shown.meetings = {summary("m1", "Planning"), summary("m2", "Review"),
                                   summary("m3", "Retro")};
        w.showActive();
        LibraryWorld::settle();
        c.step(w);
        if (HasFatalFailure())
            return;
        LibraryWorld::settle();
        QListView* list = w.library->table();
        EXPECT_EQ(selectedRow(list), -1);
        EXPECT_TRUE(
            w.detailTexts().contains("Choose a meeting to review its notes, transcript and evidence."))
            << w.detailTexts().join(" | ").toStdString();
        if (c.screenshot) {
            EXPECT_TRUE(w.library->view()->grab().save(
                QString::fromStdString((artifactsFolder() / c.screenshot).string()), "PNG"));
        }
        clickRow(list, 1);
        EXPECT_EQ(w.cloud->take(), (std::vector<std::string>{"openMeeting " + c.clicked}));
        QApplication::setActiveWindow(nullptr);
    }
}

TEST(LibraryController, TheAccountRowSignsInOrAsksBeforeSigningOut) {
    struct Case {
        const char* name;
        bool signedIn;
        int answer;
        QString account;
        QString button;
        std::size_t alerts;
        bool signedInAfter;
        bool recording = false;
        std::optional<int> refusal; // the service's answer to the stored session's contract
        std::string email = "ada@example.com";
        const char* screenshot = nullptr;
    };
    const Case cases[] = {
        {"signed out: sign-in, no alert", false, 0, "Not signed in", "Sign in", 0, false},
        {"signed in, cancelled", true, 1, "ada@example.com", "Sign out…", 1, true, false, std::nullopt,
         "ada@example.com", "library-account-row-under.png"},
        {"a short address, beside the button", true, 1, "you@nuvel.test", "Sign out…", 1, true, false,
         std::nullopt, "you@nuvel.test", "library-account-row-beside.png"},
        {"signed in, signed out", true, 0, "ada@example.com", "Sign out…", 1, false},
        // The rule of the settings window's button: greyed while a recording runs.
        {"recording: greyed", true, 0, "ada@example.com", "Sign out…", 0, true, true},
        // A session the service no longer knows is still this device's: the user may leave it.
        {"refused by the service, signed out", true, 0, "ada@example.com", "Sign out…", 1, false, false, 401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w(c.signedIn, {}, c.refusal, c.email);
        if (c.recording) {
            w.world.record(1);
            w.library->render();
        }
        auto* account = w.find<ElidingLabel>("library-account");
        auto* button = w.find<QPushButton>("library-account-button");
        EXPECT_EQ(account->text(), c.account);
        // Whole in the sidebar as it first opens, with the button beside it or under it.
        w.showActive();
        QApplication::processEvents();
        EXPECT_EQ(account->displayedText().toStdString(), c.account.toStdString());
        EXPECT_FALSE(account->geometry().intersects(button->geometry()));
        EXPECT_LE(button->geometry().right(), account->parentWidget()->width());
        if (c.screenshot) {
            EXPECT_TRUE(account->parentWidget()->grab().save(
                QString::fromStdString((artifactsFolder() / c.screenshot).string())));
        }
        EXPECT_EQ(toolTipAsRead(account->toolTip()), c.account);
        EXPECT_EQ(descriptionAsRead(account), c.account);
        EXPECT_EQ(button->text(), c.button);
        EXPECT_EQ(button->isEnabled(), !c.recording);
        w.world.dialogs.answers.push_back({c.answer, false});
        QTest::mouseClick(button, Qt::LeftButton);
        w.world.queue.drain();
        ASSERT_EQ(w.world.dialogs.asked.size(), c.alerts);
        if (c.alerts) {
            const Alert& alert = w.world.dialogs.asked[0];
            EXPECT_EQ(alert.message, "Sign out of Nuvel?");
            EXPECT_EQ(alert.informativeText,
                      "Pending recordings stay encrypted on this computer and belong to this "
                      "account. Sign back into the same account to access them.");
            EXPECT_EQ(alert.buttons, (QStringList{"Sign out", "Cancel"}));
        }
        EXPECT_EQ(w.model().session().has_value(), c.signedInAfter);
    }
}

TEST(LibraryController, TheWorkspacePickerListsTheBootstrapsWorkspacesAndChoosesOne) {
    LibraryWorld w;
    w.library->render();
    auto* picker = w.find<QComboBox>("library-workspace");
    ASSERT_TRUE(w.model().bootstrap());
    EXPECT_FALSE(picker->isHidden());
    EXPECT_EQ(picker->count(), 1);
    EXPECT_EQ(picker->currentText(), "Field Team");
    EXPECT_EQ(picker->currentData().toString(), "ws_team");
    EXPECT_TRUE(picker->isEnabled());
    w.world.record(1);
    w.library->render();
    EXPECT_FALSE(picker->isEnabled()) << "not while recording";

    LibraryWorld signedOut(false);
    auto* outPicker = signedOut.find<QComboBox>("library-workspace");
    EXPECT_TRUE(outPicker->isHidden());
    EXPECT_EQ(outPicker->itemText(0), "Personal workspace");
    EXPECT_FALSE(outPicker->isEnabled());
}

TEST(LibraryController, TheDividerStartsTwoHundredFiftyFromTheSidebarsEdgeUntilTheUserMovesIt) {
    for (const QStringList& languages : {QStringList{"en-US"}, QStringList{"ar-EG"}}) {
        SCOPED_TRACE(languages.first().toStdString());
        PreferredLanguagesScope scope(languages);
        LibraryWorld w;
        QWidget* view = w.library->view();
        view->resize(1080, 700);
        view->show();
        AudioDropSplitter* splitter = w.library->splitter();
        EXPECT_EQ(splitter->sizes().first(), 250);
        const QWidget* sidebar = splitter->widget(0);
        if (languages.first() == "ar-EG")
            EXPECT_GT(sidebar->geometry().left(), splitter->widget(1)->geometry().right())
                << "the sidebar sits on the right";
        else
            EXPECT_EQ(sidebar->geometry().left(), 0);
        view->hide();

        // A drag moves the divider many times; its place is saved once, when the drag settles,
        // and the saved place wins at the next first appearance.
        for (int width = 281; width <= 300; ++width) {
            splitter->setSizes({width, 1079 - width});
            Q_EMIT splitter->splitterMoved(width, 1);
        }
        EXPECT_FALSE(w.world.defaults.value(LibraryController::splitDefaultsKey))
            << "not while the divider moves";
        QEventLoop settled;
        QTimer::singleShot(5000, &settled, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &settled, [&] {
            if (w.world.defaults.value(LibraryController::splitDefaultsKey))
                settled.quit();
        });
        poll.start(10);
        settled.exec();
        ASSERT_TRUE(w.world.defaults.string(LibraryController::splitDefaultsKey));
        LibraryController::Dependencies d = w.sheet.dependencies(w.world);
        LibraryController again(w.model(), d);
        again.view()->resize(1080, 700);
        again.view()->show();
        EXPECT_EQ(again.splitter()->sizes().first(), 300);
    }
}

Task<void> askBoth(ScriptedDialogs* dialogs, std::optional<std::filesystem::path>* file, bool* deleted) {
    *file = co_await chooseExportFile(dialogs, "Nuvel.vtt");
    *deleted = co_await confirmMeetingDelete(dialogs);
}

TEST(LibraryController, TheCloudLibrarysSavePanelDeleteQuestionAndWebHost) {
    EXPECT_EQ(webHostOf("https://app.example.com:8443"), "app.example.com");
    EXPECT_EQ(webHostOf("not an origin"), "");
    struct Case {
        const char* name;
        std::optional<std::filesystem::path> chosen;
        int answer;
        bool deleted;
    };
    const Case cases[] = {
        {"saved and confirmed", "/tmp/talk.vtt", 0, true},
        {"cancelled both", std::nullopt, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualMainQueue queue;
        ScriptedDialogs dialogs;
        if (c.chosen)
            dialogs.saveFiles.push_back(c.chosen);
        dialogs.answers.push_back({c.answer, false});
        std::optional<std::filesystem::path> file;
        bool deleted = !c.deleted;
        spawn(queue, askBoth(&dialogs, &file, &deleted));
        queue.drain();
        EXPECT_EQ(file, c.chosen);
        EXPECT_EQ(deleted, c.deleted);
        ASSERT_EQ(dialogs.savePanels.size(), 1u);
        EXPECT_EQ(dialogs.savePanels[0].proposedName, "Nuvel.vtt");
        EXPECT_EQ(dialogs.savePanels[0].nameFilters, QStringList{"*.vtt"});
        ASSERT_EQ(dialogs.asked.size(), 1u);
        EXPECT_EQ(dialogs.asked[0].message, "Delete this meeting from Nuvel?");
        EXPECT_EQ(dialogs.asked[0].buttons, (QStringList{"Delete meeting", "Cancel"}));
    }
}

} // namespace
