// The library window's redraw: the message panes and the empty list's texts, what a running
// recording forces, the meetings coming up for each calendar access, the cloud meeting pane, the
// detail screen's fourteen requests, and screenshots of the whole window.
#include "Nuvel/model/upload/UploadSentences.hpp"
#include "Nuvel/ui/library/AudioDropSplitter.hpp"
#include "Nuvel/ui/library/UpcomingMeetingRow.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "tests/ui/LibraryWorld.hpp"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <fstream>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

QString emptyListText(LibraryWorld& w) {
    auto* label = w.find<QLabel>("library-empty-list");
    return label->isHidden() ? QStringLiteral("<hidden>") : label->text();
}

TEST(LibraryRendering, MessagePanesAndTheEmptyListFollowTheModels) {
    struct Case {
        const char* name;
        bool signedIn;
        bool cloudSide;
        std::function<void(LibraryWorld&)> setUp;
        QString emptyList;
        QStringList detail;
        bool spins;
        bool defaultButton;
        bool signInGreyed = false; // a press would do nothing: the model takes no sign-in now
    };
    const QStringList noRecordings = {"No recordings", "Start a recording or import an audio file.",
                                      "For an online meeting, select the meeting app and your microphone. "
                                      "For a room recording, use your microphone.",
                                      "Audio is saved on this computer. Send a recording to Nuvel to create "
                                      "a transcript and optional AI notes."};
    const Case cases[] = {
        {"local, signed in, nothing selected",
         true,
         false,
         {},
         "",
         noRecordings + QStringList{"[New recording]"},
         false,
         true},
        {"local, signed out",
         false,
         false,
         {},
         "",
         noRecordings + QStringList{"[Sign in to Nuvel]"},
         false,
         true},
        {"cloud, signed out",
         false,
         true,
         {},
         "",
         {"Sign in to read your Nuvel meetings.", "[Sign in to Nuvel]"},
         false,
         true},
        {"cloud, loading",
         true,
         true,
         [](LibraryWorld& w) { w.cloud->shown.loading = true; },
         "Loading your meetings…",
         {"Loading your meetings…"},
         true,
         false},
        {"cloud, loaded",
         true,
         true,
         [](LibraryWorld& w) { w.cloud->shown.message = "You are offline."; },
         "",
         {"You are offline.", "Choose a meeting to review its notes, transcript and evidence.",
          "[Refresh library]"},
         false,
         false},
        {"cloud, search without hits",
         true,
         true,
         [](LibraryWorld& w) { w.library->searchLibrary("zebra"); },
         "No results",
         {"Choose a meeting to review its notes, transcript and evidence.", "[Refresh library]"},
         false,
         false},
        {"cloud, the service no longer knows the session",
         true,
         true,
         [](LibraryWorld& w) {
             w.cloud->shown.message = "Sign in again to refresh your meeting library.";
             w.cloud->shown.signInNeeded = true;
         },
         "",
         {"Sign in again to refresh your meeting library.", "Sign in to read your Nuvel meetings.",
          "[Sign in to Nuvel]"},
         false,
         true},
        {"cloud, the service no longer knows the session, while an import runs",
         true,
         true,
         [](LibraryWorld& w) {
             w.cloud->shown.message = "Sign in again to refresh your meeting library.";
             w.cloud->shown.signInNeeded = true;
             w.world.executor.holding = true;
             w.model().importAudio("/nonexistent/talk.m4a", false);
         },
         "",
         {"Sign in again to refresh your meeting library.", "Sign in to read your Nuvel meetings.",
          "[Sign in to Nuvel]"},
         true,
         true,
         true},
        {"local, a send refused for an unknown session", true, false,
         [](LibraryWorld& w) { w.model().setMessage("Sign in again to continue."); }, "",
         QStringList{"Sign in again to continue.", "[Sign in to Nuvel]"} + noRecordings +
             QStringList{"[New recording]"},
         false, true},
        {"cloud, with meetings",
         true,
         true,
         [](LibraryWorld& w) { w.cloud->shown.meetings = {summary("m1", "Planning")}; },
         "<hidden>",
         {"Choose a meeting to review its notes, transcript and evidence.", "[Refresh library]"},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The local row's session is one the service no longer knows.
        LibraryWorld w(c.signedIn, {},
                       std::string(c.name).starts_with("local, a send refused") ? std::optional(401)
                                                                                : std::nullopt);
        if (c.cloudSide)
            w.library->locationChanged(1);
        if (c.setUp)
            c.setUp(w);
        w.library->render();
        EXPECT_EQ(emptyListText(w), c.emptyList);
        EXPECT_EQ(w.detailTexts(), c.detail);
        EXPECT_EQ(w.detailSpins(), c.spins);
        auto* pane = w.find<QWidget>("library-message");
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(pane->findChildren<QShortcut*>().size(), c.defaultButton ? 2 : 0) << "Return and Enter";
        if (auto* button = w.find<QPushButton>("library-message-button")) {
            EXPECT_EQ(button->isDefault(), c.defaultButton);
        }
        for (auto* button : pane->window()->findChildren<QPushButton*>()) {
            if (button->text() == "Sign in to Nuvel") {
                EXPECT_EQ(button->isEnabled(), !c.signInGreyed);
            }
        }
        w.world.executor.release();
        w.world.queue.drain();
    }
}

// What a sentence says stops being true: it goes, and what shows in its place is true.
TEST(LibraryRendering, EachSentenceGoesWhenItStopsBeingTrue) {
    struct Case {
        const char* name;
        std::optional<int> refusal; // the service's answer to the stored session's contract
        std::function<void(LibraryWorld&)> before, act;
        std::vector<std::pair<const char*, QString>> shownBefore, shownAfter;
        bool recordings = false; // two saved recordings on this computer, the window on screen
    };
    const auto shown = [](LibraryWorld& w, const char* name) -> QString {
        if (auto* label = w.find<QLabel>(name))
            return label->isHidden() ? QStringLiteral("<hidden>") : label->text();
        if (auto* button = w.find<QPushButton>(name))
            return "[" + button->text() + "]";
        return QStringLiteral("<missing>");
    };
    const auto openMeeting = [](LibraryWorld& w) {
        w.cloud->shown.document = longMeeting(false, 6);
        w.cloud->shown.selectedID = w.cloud->shown.document->summary.id;
        w.library->locationChanged(1);
        auto* field = w.find<QLineEdit>("meeting-detail-search");
        QTest::keyClicks(field, "zebra");
        QTest::keyClick(field, Qt::Key_Return);
    };
    const auto clickRow = [](LibraryWorld& w, int row) {
        QListView* list = w.library->table();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualRect(list->model()->index(row, 0)).center());
    };
    const auto toNuvelLibrary = [](LibraryWorld& w) {
        auto* location = w.find<SegmentedControl>("library-location");
        QTest::mouseClick(location->findChildren<QToolButton*>().at(1), Qt::LeftButton);
    };
    const auto exported = [clickRow](LibraryWorld& w) {
        clickRow(w, 0);
        w.world.dialogs.saveFiles.push_back(w.world.data.path() / "out.m4a");
        QTest::mouseClick(w.find<QPushButton>("local-export"), Qt::LeftButton);
        w.world.queue.drain();
    };
    const auto undecodable = [clickRow](LibraryWorld& w) {
        clickRow(w, 0);
        const std::filesystem::path noise = w.world.data.path() / "noise.m4a";
        std::ofstream(noise) << std::string(4000, 'x');
        w.world.dialogs.files.push_back(noise);
        QToolBar toolbar;
        w.library->populateToolbar(&toolbar);
        toolbar.show();
        QTest::mouseClick(toolbar.widgetForAction(toolbar.findChild<QAction*>("import-audio")),
                          Qt::LeftButton);
        w.world.queue.drain();
    };
    const QString exportedText = "Audio exported. Private notes were not included.";
    const QString workspaceText =
        "This workspace could not be opened. Your recordings remain in their original workspace.";
    // The device stays signed in while the service refuses its session: the row names the
    // account and offers to sign out; the Nuvel library offers the sign-in.
    const std::vector<std::pair<const char*, QString>> signedIn = {{"library-account", "ada@example.com"},
                                                                   {"library-account-button", "[Sign out…]"}};
    std::vector<std::pair<const char*, QString>> signInOnTheCloudSide = signedIn;
    signInOnTheCloudSide.emplace_back("library-message-button", "[Sign in to Nuvel]");
    const Case cases[] = {
        {"no matches, then the find field emptied",
         std::nullopt,
         openMeeting,
         [](LibraryWorld& w) {
             auto* field = w.find<QLineEdit>("meeting-detail-search");
             QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
             QTest::keyClick(field, Qt::Key_Backspace);
         },
         {{"meeting-detail-status", "No matches in this meeting."}},
         {{"meeting-detail-status", "<hidden>"}}},
        {"no matches, then another query typed",
         std::nullopt,
         openMeeting,
         [](LibraryWorld& w) { QTest::keyClick(w.find<QLineEdit>("meeting-detail-search"), Qt::Key_S); },
         {{"meeting-detail-status", "No matches in this meeting."}},
         {{"meeting-detail-status", "<hidden>"}}},
        {"the account, once the meeting library found the session unknown",
         std::nullopt,
         {},
         [](LibraryWorld& w) {
             w.cloud->shown.message = "Sign in again to refresh your meeting library.";
             w.cloud->shown.signInNeeded = true;
             w.library->locationChanged(1);
         },
         signedIn,
         signInOnTheCloudSide},
        {"the account, when the contract was refused for an unknown session at launch",
         401,
         {},
         {},
         {},
         signedIn},
        {"an export's sentence, once another recording is chosen",
         std::nullopt,
         exported,
         [clickRow](LibraryWorld& w) { clickRow(w, 1); },
         {{"library-status", exportedText}},
         {{"library-status", "<missing>"}},
         true},
        {"an export's sentence, once the window turns to the Nuvel library",
         std::nullopt,
         exported,
         toNuvelLibrary,
         {{"library-status", exportedText}},
         {{"library-status", "<missing>"}},
         true},
        {"a file that could not be imported, once another recording is chosen",
         std::nullopt,
         undecodable,
         [clickRow](LibraryWorld& w) { clickRow(w, 1); },
         {{"library-status", "This file could not be decoded. Try an audio export such as M4A or WAV."}},
         {{"library-status", "<missing>"}},
         true},
        {"the workspace's sentence stays while recordings and the Nuvel library are chosen",
         std::nullopt,
         [workspaceText](LibraryWorld& w) { w.model().setMessage(workspaceText.toStdString()); },
         [clickRow, toNuvelLibrary](LibraryWorld& w) {
             clickRow(w, 1);
             toNuvelLibrary(w);
         },
         {{"library-status", workspaceText}},
         {{"library-status", workspaceText}},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w(true,
                       c.recordings ? std::vector<LocalRecording>{ShellWorld::recording("Standup"),
                                                                  ShellWorld::recording("Retro")}
                                    : std::vector<LocalRecording>{},
                       c.refusal);
        if (c.recordings) {
            w.redrawOnChange();
            w.showActive();
            LibraryWorld::settle();
        }
        // What the window shows once the redraws of a step are on screen.
        const auto step = [&c, &w](const std::function<void(LibraryWorld&)>& taken) {
            if (taken)
                taken(w);
            if (c.recordings)
                LibraryWorld::settle();
        };
        step(c.before);
        for (const auto& [name, text] : c.shownBefore)
            EXPECT_EQ(shown(w, name).toStdString(), text.toStdString()) << name;
        step(c.act);
        for (const auto& [name, text] : c.shownAfter)
            EXPECT_EQ(shown(w, name).toStdString(), text.toStdString()) << name;
        QApplication::setActiveWindow(nullptr);
    }
}

TEST(LibraryRendering, TheModelsStatusSentenceAndTheMessageButtonsAct) {
    LibraryWorld w;
    w.model().setMessage("Saved on this Mac. Send to Nuvel when you are ready.");
    w.library->render();
    EXPECT_EQ(w.detailTexts().first(), "Saved on this Mac. Send to Nuvel when you are ready.")
        << "as the model words it";
    w.library->locationChanged(1);
    w.cloud->take();
    w.find<QPushButton>("library-message-button")->click();
    EXPECT_EQ(w.cloud->take(), (std::vector<std::string>{"loadLibrary"})) << "Refresh library";
}

TEST(LibraryRendering, ARecordingForcesThisComputersListAndLocksTheSidebar) {
    LibraryWorld w;
    w.cloud->shown.meetings = {summary("m1", "Planning")};
    w.cloud->shown.hasMore = true;
    w.library->locationChanged(1);
    auto* location = w.find<SegmentedControl>("library-location");
    auto* more = w.find<QPushButton>("library-more");
    auto* search = w.find<QLineEdit>("library-search");
    auto* picker = w.find<QComboBox>("library-workspace");
    EXPECT_EQ(location->label(0), "On this computer");
    EXPECT_EQ(location->label(1), "Nuvel library");
    EXPECT_EQ(search->placeholderText(), "Search Nuvel library");
    EXPECT_EQ(location->selectedSegment(), 1);
    EXPECT_FALSE(more->isHidden());
    EXPECT_FALSE(search->isHidden());

    w.world.record(1);
    w.library->render();
    EXPECT_FALSE(w.library->cloudVisible());
    EXPECT_EQ(location->selectedSegment(), 0);
    EXPECT_FALSE(location->isEnabled());
    EXPECT_FALSE(picker->isEnabled());
    EXPECT_TRUE(more->isHidden());
    EXPECT_TRUE(search->isHidden());
    EXPECT_EQ(w.library->table()->model()->rowCount(), 1) << "the running recording";
}

TEST(LibraryRendering, ComingUpFollowsTheCalendarsAccess) {
    const Date now{800000000};
    auto meeting = [now](const char* id, double startsIn) {
        return CalendarMeeting{id,
                               std::string("Meeting ") + id,
                               now.adding(startsIn),
                               now.adding(startsIn + 1800),
                               {},
                               {},
                               "",
                               std::nullopt,
                               std::nullopt};
    };
    using Access = SettingsActions::CalendarAccess;
    struct Case {
        const char* name;
        bool calendar;
        Access access;
        std::vector<CalendarMeeting> meetings;
        QStringList shown; // "<hidden>" when the list is hidden
    };
    const Case cases[] = {
        {"no calendar", false, Access::granted, {}, {"<hidden>"}},
        {"off", true, Access::off, {}, {"<hidden>"}},
        {"needs permission",
         true,
         Access::needsPermission,
         {},
         {"Coming up", "Waiting for Calendar access."}},
        {"denied", true, Access::denied, {}, {"Coming up", "[Allow Calendar access…]"}},
        {"granted, none",
         true,
         Access::granted,
         {meeting("late", 50000)},
         {"Coming up", "No more meetings in the next 12 hours"}},
        {"granted, five",
         true,
         Access::granted,
         {meeting("e", 5000), meeting("a", 600), meeting("d", 4000), meeting("b", 1200), meeting("c", 3000)},
         {"Coming up", "Meeting a", "Meeting b", "Meeting c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w;
        w.calendar.state = c.access;
        w.calendar.held = c.meetings;
        w.calendar.clock = now;
        if (c.calendar)
            w.library->setCalendar(&w.calendar);
        w.library->renderUpcoming();
        auto* upcoming = w.find<QWidget>("library-upcoming");
        QStringList shown;
        if (upcoming->isHidden())
            shown << "<hidden>";
        for (QWidget* part : upcoming->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (auto* row = qobject_cast<UpcomingMeetingRow*>(part))
                shown << row->titleText();
            else if (auto* label = qobject_cast<QLabel*>(part))
                shown << label->text();
            else if (auto* button = qobject_cast<QPushButton*>(part))
                shown << "[" + button->text() + "]";
        }
        EXPECT_EQ(shown, c.shown);
        if (auto* allow = w.find<QPushButton>("library-calendar-access")) {
            allow->click();
            EXPECT_EQ(w.calendarSettingsOpened, 1);
        }
    }
}

TEST(LibraryRendering, TheOpenMeetingFillsTheCloudPaneAndGoesAwayWithTheDocument) {
    LibraryWorld w;
    FakeCloud& cloud = *w.cloud;
    NativeMeetingDocument meeting = longMeeting(false, 6);
    meeting.summary.access = accessAllowing({{"edit", true}});
    cloud.shown.document = meeting;
    cloud.shown.selectedID = meeting.summary.id;
    cloud.shown.pendingCorrection = MeetingRevisionRequest::make(Uuid::random(), 4, {});
    w.library->locationChanged(1);
    MeetingDetailController& detail = w.library->cloudDetail();
    ASSERT_NE(detail.snapshot(), nullptr);
    EXPECT_FALSE(detail.canDelete()) << "the access has no delete right";
    EXPECT_FALSE(detail.view()->isHidden());
    EXPECT_EQ(detail.view()->parentWidget(), w.library->detail()->parentWidget());
    const QStringList texts = w.detailTexts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts[texts.size() - 2],
              "A correction draft is saved on this computer. Review the current revision before retrying.");
    EXPECT_EQ(texts.last(), "[Retry saved correction]");

    // Without a lease the retry answers at once; with one it sends the saved correction.
    cloud.take();
    w.find<QPushButton>("library-retry-correction")->click();
    EXPECT_TRUE(cloud.take().empty());
    cloud.leaseValid = true;
    cloud.shown.session = DeviceSession{"token-1", DeviceAccount{"acc_1", "ada@example.com", std::nullopt}};
    w.library->retryCorrection();
    w.world.queue.drain();
    EXPECT_EQ(cloud.take(),
              (std::vector<std::string>{"retryCorrection " + meeting.summary.id + " " +
                                        cloud.shown.pendingCorrection->operation_id + " token-1 current"}));

    // Gone from the model: the screen is cleared, also while this computer's side shows.
    w.library->locationChanged(0);
    EXPECT_NE(detail.snapshot(), nullptr);
    EXPECT_TRUE(detail.view()->isHidden());
    cloud.shown.document.reset();
    w.library->render();
    EXPECT_EQ(detail.snapshot(), nullptr);
}

TEST(LibraryRendering, EachDetailScreenRequestReachesTheCloudLibrary) {
    struct Case {
        const char* name;
        std::function<void(MeetingDetailController&)> request;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"play", [](auto& d) { d.onPlay(1500); }, {"play 1500"}},
        {"toggle", [](auto& d) { d.onTogglePlayback(); }, {"play"}},
        {"seek", [](auto& d) { d.onSeek(700); }, {"play 700"}},
        {"speed", [](auto& d) { d.onSpeed(1.5f); }, {"setSpeed 1.5"}},
        {"word",
         [](auto& d) { d.onCorrection(MeetingCorrection::word("w1", "Hi"), "12"); },
         {"submitCorrection 12 word_text:w1::Hi"}},
        {"unreadable revision",
         [](auto& d) { d.onCorrection(MeetingCorrection::word("w1", "Hi"), "12a"); },
         {}},
        {"assignment",
         [](auto& d) {
             d.onCorrection(MeetingCorrection::assignSpeaker({"w2", "w1"}, "S2"), "3");
         },
         {"submitCorrection 3 word_speaker:w2:S2: word_speaker:w1:S2:"}},
        {"export vtt", [](auto& d) { d.onExport("vtt", "raw"); }, {"export 3 raw"}},
        {"export of another format", [](auto& d) { d.onExport("pdf", "raw"); }, {}},
        {"share",
         [](auto& d) {
             d.onCreateShare(MeetingShareRequest{"guest", "g@example.com", "viewer", {}});
         },
         {"updateSharing guest g@example.com"}},
        {"revoke share", [](auto& d) { d.onRevokeShare("s1"); }, {"revokeShare s1"}},
        {"refresh", [](auto& d) { d.onRefresh(); }, {"openMeeting m1"}},
        {"reload correction", [](auto& d) { d.onReloadCorrection(); }, {"openMeeting m1 refreshing"}},
        {"rename", [](auto& d) { d.onRename("New title"); }, {"renameTitle New title"}},
        {"create link", [](auto& d) { d.onCreateLink(7, true); }, {"createLink 7 audio"}},
        {"revoke link", [](auto& d) { d.onRevokeLink("l1"); }, {"revokeLink l1"}},
        {"delete", [](auto& d) { d.onDelete(); }, {"confirmDelete"}},
    };
    LibraryWorld w;
    w.cloud->shown.selectedID = "m1";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.request(w.library->cloudDetail());
        w.world.queue.drain();
        EXPECT_EQ(w.cloud->take(), c.calls);
    }
    // Without a selected meeting a refresh asks for nothing.
    w.cloud->shown.selectedID.reset();
    w.library->cloudDetail().onRefresh();
    w.library->cloudDetail().onReloadCorrection();
    EXPECT_TRUE(w.cloud->take().empty());
}

TEST(LibraryRendering, WhileTheNotesEditorHasTheFocusThePaneIsRedrawnAroundIt) {
    LibraryWorld w(true, {ShellWorld::recording("Standup")});
    w.model().select(w.model().recordings()[0].id);
    w.world.queue.drain();
    w.library->render();
    QPointer<QPlainTextEdit> editor = w.library->localPane().scratchpad();
    if (!editor)
        GTEST_SKIP() << "the local pane builds no notes editor in this build";
    QWidget* view = w.library->view();
    view->show();
    view->activateWindow();
    QApplication::setActiveWindow(view);
    // Where Tab goes from the account button on: the controls on screen that take it, by name.
    const auto tabChain = [&] {
        QStringList names;
        QWidget* start = w.find<QPushButton>("library-account-button");
        for (QWidget* at = start->nextInFocusChain(); at != start && names.size() < 40;
             at = at->nextInFocusChain())
            if ((at->focusPolicy() & Qt::TabFocus) && at->isVisibleTo(view) && at->isEnabled())
                names << (at->objectName().isEmpty() ? "[" + at->accessibleName() + "]" : at->objectName());
        return names.join(" > ").toStdString();
    };
    const QStringList paneChain{"local-send",      "local-play",      "local-export",      "local-remove",
                                "[Meeting notes]", "[Private notes]", "local-notes-editor"};
    const std::string ordinary = tabChain();
    EXPECT_TRUE(ordinary.starts_with(paneChain.join(" > ").toStdString())) << ordinary;
    editor->setFocus();
    if (QApplication::focusWidget() != editor)
        GTEST_SKIP() << "this platform gives no keyboard focus";
    editor->setPlainText("Agenda");
    QTextCursor caret = editor->textCursor();
    caret.setPosition(3);
    editor->setTextCursor(caret);

    // A model change under the editor redraws the window but not the editor: same editor, same
    // caret and keyboard, the new sentence above it.
    w.model().setMessage("Status changed");
    w.library->render();
    LibraryWorld::settle();
    ASSERT_TRUE(editor);
    EXPECT_EQ(w.library->localPane().scratchpad(), editor.data());
    EXPECT_EQ(editor->textCursor().position(), 3);
    EXPECT_EQ(QApplication::focusWidget(), editor.data());
    EXPECT_TRUE(w.detailTexts().contains("Status changed")) << w.detailTexts().join(" | ").toStdString();
    EXPECT_EQ(w.library->detail()->parentWidget()->findChildren<QPlainTextEdit*>().size(), 1);
    // Tab goes through the pane built around the kept editor as through one built anew.
    EXPECT_EQ(tabChain(), ordinary);

    // With another application in front the window keeps its focus in the editor: the caret and
    // undo history survive the redraw as well, and the window's focus stays in the editor.
    editor->insertPlainText("x");
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    w.model().setMessage("Upload part sent");
    w.library->render();
    LibraryWorld::settle();
    ASSERT_TRUE(editor);
    EXPECT_EQ(w.library->localPane().scratchpad(), editor.data());
    EXPECT_EQ(editor->textCursor().position(), 4);
    EXPECT_TRUE(editor->document()->isUndoAvailable());
    EXPECT_EQ(view->focusWidget(), editor.data());
    EXPECT_TRUE(w.detailTexts().contains("Upload part sent"));
    QApplication::setActiveWindow(view);

    // Once the editor lets the focus go, the next render builds the pane anew.
    w.find<QListView>("library-list")->setFocus();
    w.library->render();
    LibraryWorld::settle();
    EXPECT_FALSE(editor) << "the old editor is gone";
    EXPECT_EQ(w.library->localPane().scratchpad()->toPlainText(), "Agexnda") << "as typed";

    // A redraw that rebuilds the pane gives the keyboard back to the rebuilt button, or, when
    // that button is gone, to the one now in its place; never to the sidebar.
    const auto paneButton = [&](const QString& text) -> QPushButton* {
        for (QPushButton* button : w.library->detail()->parentWidget()->findChildren<QPushButton*>())
            if (button->text() == text && button->isVisibleTo(view))
                return button;
        return nullptr;
    };
    for (const char* text : {"Send to Nuvel", "Remove local copy…"}) {
        SCOPED_TRACE(text);
        QPointer<QPushButton> focused = paneButton(QString::fromUtf8(text));
        ASSERT_TRUE(focused);
        focused->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), focused.data());
        w.model().setMessage(text);
        w.library->render();
        QApplication::processEvents();
        flushDeferredDeletes();
        EXPECT_FALSE(focused);
        QWidget* now = QApplication::focusWidget();
        ASSERT_TRUE(now);
        EXPECT_EQ(now, paneButton(QString::fromUtf8(text)))
            << now->metaObject()->className() << " " << now->objectName().toStdString();
    }
    view->hide();
}

// The end of every task the recording's pane waits on shows in the pane, started as the user
// starts it: a click on the pane's button (whose redraw gives the keyboard to another control of
// the pane, the notes editor among them), or a file dropped on the window while typing notes.
TEST(LibraryRendering, ThePaneShowsTheEndOfEveryTaskItWaitsOn) {
    const auto click = [](LibraryWorld& w, const char* name) {
        auto* button = w.find<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    };
    const auto drop = [](LibraryWorld& w, const std::filesystem::path& file) {
        QPlainTextEdit* editor = w.library->localPane().scratchpad();
        ASSERT_NE(editor, nullptr);
        QTest::mouseClick(editor->viewport(), Qt::LeftButton);
        QTest::keyClicks(editor, "Agenda");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
        QDragEnterEvent enter(QPoint(8, 8), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.library->splitter(), &enter);
        QDropEvent event(QPointF(8, 8), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w.library->splitter(), &event);
    };
    // As a keyboard user does: Tab to the button, then Space, through the window.
    const auto press = [](LibraryWorld& w, const char* name) {
        auto* button = w.find<QPushButton>(name);
        ASSERT_NE(button, nullptr) << name;
        button->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), button);
        QTest::keyClick(w.library->view()->windowHandle(), Qt::Key_Space);
    };
    struct Case {
        const char* name;
        std::function<void(LibraryWorld&)> start;
        std::string_view sentence;
        const char* screenshot = nullptr;
        // The button pressed with the keyboard, which has it back once the task has ended.
        const char* pressed = nullptr;
        bool sidebarHidden = false;
    };
    const Case cases[] = {
        {"export",
         [&](LibraryWorld& w) {
             w.world.dialogs.saveFiles.push_back(w.world.data.path() / "Standup.m4a");
             click(w, "local-export");
         },
         sentence(StatusText::exported), "local-pane-after-export.png"},
        {"export into a folder that is gone",
         [&](LibraryWorld& w) {
             w.world.dialogs.saveFiles.push_back(w.world.data.path() / "gone" / "Standup.m4a");
             click(w, "local-export");
         },
         sentence(StatusText::exportFailed)},
        {"play without a sound output", [&](LibraryWorld& w) { click(w, "local-play"); },
         sentence(StatusText::playFailed)},
        {"import of a file that is not audio",
         [&](LibraryWorld& w) {
             const std::filesystem::path junk = w.world.data.path() / "notes.wav";
             std::ofstream(junk) << "not audio";
             drop(w, junk);
         },
         sentence(StatusText::undecodable)},
        {"send that cannot reach the service", [&](LibraryWorld& w) { click(w, "local-send"); },
         upload_sentences::paused},
        {"export by keyboard",
         [&](LibraryWorld& w) {
             w.world.dialogs.saveFiles.push_back(w.world.data.path() / "Standup.m4a");
             press(w, "local-export");
         },
         sentence(StatusText::exported), nullptr, "local-export"},
        {"play by keyboard", [&](LibraryWorld& w) { press(w, "local-play"); },
         sentence(StatusText::playFailed), nullptr, "local-play"},
        {"send by keyboard", [&](LibraryWorld& w) { press(w, "local-send"); }, upload_sentences::paused,
         nullptr, "local-send"},
        {"export by keyboard with the sidebar hidden",
         [&](LibraryWorld& w) {
             w.world.dialogs.saveFiles.push_back(w.world.data.path() / "Standup.m4a");
             press(w, "local-export");
         },
         sentence(StatusText::exported), nullptr, "local-export", true},
    };
    // Where the keyboard is: a control on screen with a name, which takes no typing, or the
    // window itself.
    const auto keyboardIsHarmless = [](LibraryWorld& w) {
        QWidget* now = QApplication::focusWidget();
        if (now == nullptr) {
            EXPECT_EQ(QApplication::activeWindow(), w.library->view()->window());
            return;
        }
        EXPECT_TRUE(now->isVisible()) << now->objectName().toStdString();
        EXPECT_FALSE(now->accessibleName().isEmpty()) << now->objectName().toStdString();
        EXPECT_EQ(qobject_cast<QPlainTextEdit*>(now), nullptr);
        EXPECT_EQ(qobject_cast<QLineEdit*>(now), nullptr);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryWorld w(true, {ShellWorld::recording("Standup")});
        w.redrawOnChange();
        w.model().select(w.model().recordings()[0].id);
        w.world.queue.drain();
        w.showActive();
        if (c.sidebarHidden)
            w.find<QWidget>("library-sidebar")->hide();
        if (QApplication::focusWidget() == nullptr)
            w.library->table()->setFocus();
        if (QApplication::focusWidget() == nullptr)
            GTEST_SKIP() << "this platform gives no keyboard focus";

        // The work waits on the executor while the pane shows it busy.
        w.world.executor.holding = true;
        c.start(w);
        LibraryWorld::settle();
        ASSERT_TRUE(w.model().busy() || w.model().uploading());
        EXPECT_TRUE(w.detailSpins());
        if (c.pressed) {
            // The greyed button lets the keyboard go to a control the user can see and hear
            // named, where a key pressed next writes nothing into the notes sent along.
            const auto notes = w.model().recordings()[0].notepad;
            const QString typed = w.library->localPane().scratchpad()->toPlainText();
            // The event loop turns between two key presses, as it does between a user's.
            QTest::keyClick(w.library->view()->windowHandle(), Qt::Key_Space);
            LibraryWorld::settle();
            QTest::keyClick(w.library->view()->windowHandle(), Qt::Key_X);
            LibraryWorld::settle();
            EXPECT_EQ(w.model().recordings()[0].notepad, notes);
            EXPECT_EQ(w.library->localPane().scratchpad()->toPlainText(), typed);
            keyboardIsHarmless(w);
            EXPECT_TRUE(w.model().busy() || w.model().uploading());
        }
        w.world.executor.release();
        w.world.queue.drain();
        LibraryWorld::settle();
        if (c.pressed) {
            QWidget* now = QApplication::focusWidget();
            ASSERT_TRUE(now);
            EXPECT_EQ(now, w.find<QPushButton>(c.pressed)) << now->objectName().toStdString();
        }

        ASSERT_FALSE(w.model().busy() || w.model().uploading());
        EXPECT_FALSE(w.detailSpins());
        // As the model words it.
        EXPECT_TRUE(
            w.detailTexts().contains(QString::fromUtf8(c.sentence.data(), qsizetype(c.sentence.size()))))
            << w.detailTexts().join(" | ").toStdString();
        for (const char* name : {"local-send", "local-play", "local-export", "local-remove"}) {
            auto* button = w.find<QPushButton>(name);
            EXPECT_TRUE(button && button->isEnabled()) << name;
        }
        EXPECT_TRUE(w.find<QComboBox>("library-workspace")->isEnabled());
        if (c.screenshot) {
            EXPECT_TRUE(w.library->view()->grab().save(
                QString::fromStdString((artifactsFolder() / c.screenshot).string()), "PNG"));
        }
        QApplication::setActiveWindow(nullptr);
    }
}

// The whole window as the shell builds it, over three recordings and fifty cloud meetings.
TEST(LibraryRendering, ScreenshotsLeftToRightAndArabic) {
    for (const auto& [suffix, languages] : {std::pair{std::string("ltr"), QStringList{"en-US"}},
                                            std::pair{std::string("ar"), QStringList{"ar-EG"}}}) {
        SCOPED_TRACE(suffix);
        PreferredLanguagesScope scope(languages);
        const bool arabic = suffix == "ar";
        LibraryWorld w(true, {ShellWorld::recording(arabic ? "اجتماع الفريق" : "Team sync"),
                              ShellWorld::recording(arabic ? "مراجعة التصميم" : "Design review"),
                              ShellWorld::recording("")});
        for (int i = 0; i < 50; ++i)
            w.cloud->shown.meetings.push_back(summary(
                "m" + std::to_string(i), (arabic ? "اجتماع رقم " : "Weekly meeting ") + std::to_string(i + 1),
                600 + 97 * i, i % 7 == 0 ? "processing" : "ready"));
        w.cloud->shown.hasMore = true;
        w.calendar.state = SettingsActions::CalendarAccess::granted;
        w.calendar.held = {CalendarMeeting{"c1",
                                           arabic ? "مكالمة العميل" : "Customer call",
                                           w.calendar.clock.adding(900),
                                           w.calendar.clock.adding(2700),
                                           {},
                                           {},
                                           "",
                                           std::nullopt,
                                           std::nullopt}};
        w.calendar.held[0].videoURL = Url::parse("https://zoom.us/j/5550100");
        w.calendar.held[0].provider = CalendarMeeting::Provider::zoom;
        w.library->setCalendar(&w.calendar);

        QMainWindow window;
        window.setLayoutDirection(preferredLayoutDirection());
        auto* toolbar = new QToolBar(&window);
        toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
        window.addToolBar(toolbar);
        w.library->populateToolbar(toolbar);
        window.setCentralWidget(w.library->view());
        window.resize(1080, 720);
        window.show();

        // This computer's side with nothing selected, then the cloud side with a meeting open.
        w.model().select(std::nullopt);
        w.world.queue.drain();
        w.library->render();
        const auto folder = artifactsFolder();
        QApplication::processEvents();
        const QString local =
            QString::fromStdString((folder / ("library-local-" + suffix + ".png")).string());
        ASSERT_TRUE(window.grab().save(local, "PNG"));
        w.model().select(w.model().recordings()[0].id);
        w.world.queue.drain();
        w.library->render();
        QApplication::processEvents();
        const QString chosen =
            QString::fromStdString((folder / ("library-recording-" + suffix + ".png")).string());
        ASSERT_TRUE(window.grab().save(chosen, "PNG"));

        NativeMeetingDocument meeting = longMeeting(arabic);
        meeting.summary.id = "m3";
        w.cloud->shown.document = meeting;
        w.cloud->shown.selectedID = "m3";
        w.library->locationChanged(1);
        QApplication::processEvents();
        const QString cloud = QString::fromStdString((folder / ("library-" + suffix + ".png")).string());
        ASSERT_TRUE(window.grab().save(cloud, "PNG"));
        window.takeCentralWidget();
        flushDeferredDeletes();
    }
}

} // namespace
