// The meeting detail screen on the offscreen platform: its named controls, the render rules, the
// playback bar, the correction sheet through conflict and lost permission, the rename and
// sharing sheets, links, find and copy, and screenshots in both directions.
#include "Nuvel/ui/detail/DetailTextDocument.hpp"
#include "Nuvel/ui/detail/MeetingDetailController.hpp"
#include "Nuvel/ui/detail/ReadableTextView.hpp"
#include "Nuvel/ui/shell/CompanionController.hpp"
#include "Nuvel/ui/widgets/SegmentedControl.hpp"
#include "tests/ui/LibraryWorld.hpp"
#include "tests/ui/MeetingDetailWorld.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace nuvel;
using namespace nuvel::test;

namespace {

class DetailScreen : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        makeScreen();
    }
    void makeScreen() {
        controller.reset();
        window.reset();
        flushDeferredDeletes();
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(16, 16, 16, 16);
        controller = std::make_unique<MeetingDetailController>();
        spy.wire(*controller);
        layout->addWidget(controller->view());
        window->resize(1000, 720);
        window->show();
    }
    void TearDown() override {
        controller.reset();
        window.reset();
        flushDeferredDeletes();
    }

    template <typename T = QWidget> T* named(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return named<QLabel>(name)->text(); }
    ReadableTextView* transcript() const { return named<ReadableTextView>("meeting-detail-transcript"); }

    void renderMeeting(const NativeMeetingDocument& document, bool sharing = true,
                       const MeetingTranscriptDocument* original = nullptr,
                       std::optional<std::string> link = std::nullopt) {
        shownSharing = sharingOf(true);
        controller->render(document, sharing ? &shownSharing : nullptr, original, link);
    }
    // Selects the transcript from the first of the words to the end of the last.
    void selectWords(const std::string& first, const std::string& last) {
        const auto& ranges = controller->wordRanges();
        QTextCursor cursor(transcript()->document());
        cursor.setPosition(int(ranges.at(first).location));
        cursor.setPosition(int(ranges.at(last).end()), QTextCursor::KeepAnchor);
        transcript()->setTextCursor(cursor);
    }
    void openCorrection(const std::string& first, const std::string& last) {
        selectWords(first, last);
        controller->correctSelection();
        ASSERT_NE(controller->correctionSheet(), nullptr);
    }
    QPushButton* button(const char* name) const { return named<QPushButton>(name); }

    std::unique_ptr<QWidget> window;
    std::unique_ptr<MeetingDetailController> controller;
    DetailSpy spy;
    MeetingSharingDocument shownSharing;
};

TEST_F(DetailScreen, EveryIdentifierIsPresentAndTheUnplacedViewsAreHiddenChildren) {
    // Before any meeting: the empty screen.
    EXPECT_EQ(text("meeting-detail-title"), "Select a meeting");
    EXPECT_FALSE(named("meeting-detail-stale-notes")->isVisible());
    EXPECT_FALSE(named("meeting-detail-transcript")->isVisible());
    EXPECT_FALSE(named("meeting-detail-layer-popup")->isVisible());
    EXPECT_EQ(named<SegmentedControl>("meeting-detail-tabs")->selectedSegment(), 0);
    EXPECT_EQ(named<QComboBox>("meeting-detail-speed")->currentText(), QString::fromUtf8("1×"));
    EXPECT_FALSE(named<QAction>("meeting-detail-delete")->isVisible());
    EXPECT_FALSE(controller->canDelete());
    for (const char* action : {"meeting-detail-correction", "meeting-detail-rename"})
        EXPECT_FALSE(named<QAction>(action)->isEnabled()) << action;

    const NativeMeetingDocument meeting = longMeeting(false);
    renderMeeting(meeting, true, &meeting.transcript, "https://app.getnuvel.com/s/abc");
    for (const char* id :
         {"meeting-detail-title", "meeting-detail-search", "meeting-detail-tabs",
          "meeting-detail-layer-popup", "meeting-detail-notes", "meeting-detail-transcript",
          "meeting-detail-stale-notes", "meeting-detail-playback", "meeting-detail-audio-status",
          "meeting-detail-export", "meeting-detail-share", "meeting-sharing-copy-link"})
        EXPECT_NE(named(id), nullptr) << id;
    for (const char* id : {"meeting-detail-correction", "meeting-detail-rename"})
        EXPECT_NE(named<QAction>(id), nullptr) << id;
    EXPECT_TRUE(named("meeting-sharing-copy-link")->isVisible());
    EXPECT_TRUE(named("meeting-detail-stale-notes")->isVisible());

    openCorrection("w0", "w0");
    for (const char* id : {"meeting-correction-draft", "meeting-correction-status",
                           "meeting-correction-reload", "meeting-correction-rebase"})
        EXPECT_NE(named(id), nullptr) << id;
    EXPECT_EQ(named("meeting-correction-mode")->accessibleName(), "Correction type");
    controller->cancelCorrection();
    controller->showRename();
    ASSERT_NE(controller->renameSheet(), nullptr);
    for (const char* id : {"meeting-rename-title", "meeting-rename-save"})
        EXPECT_NE(named(id), nullptr) << id;
    button("meeting-rename-cancel")->click();
    EXPECT_EQ(controller->renameSheet(), nullptr);
    controller->showSharing();
    ASSERT_NE(controller->sharingSheet(), nullptr);
    for (const char* id :
         {"meeting-sharing-link-expiry", "meeting-sharing-link-audio", "meeting-sharing-create-link",
          "meeting-sharing-revoke-link-l1", "meeting-sharing-revoke-link-l2"})
        EXPECT_NE(controller->sharingSheet()->findChild<QWidget*>(id), nullptr) << id;
    // Each share's button is named for whose access it takes away.
    for (const auto& [id, name] :
         {std::pair{"meeting-sharing-revoke-s1", "Revoke access for guest@example.com"},
          std::pair{"meeting-sharing-revoke-s2", "Revoke access for Workspace member"}}) {
        const auto* revoke = controller->sharingSheet()->findChild<QPushButton*>(id);
        ASSERT_NE(revoke, nullptr) << id;
        EXPECT_EQ(revoke->text(), "Revoke");
        EXPECT_EQ(revoke->accessibleName(), name);
    }
}

TEST_F(DetailScreen, ASameMeetingKeepsTheScreenAndANewOneResetsIt) {
    const NativeMeetingDocument meeting = longMeeting(false, 12);
    NativeMeetingDocument other = meeting;
    other.summary.id = "m2";
    NativeMeetingDocument renamed = meeting;
    renamed.summary.title = "Renamed";
    const struct {
        const char* name;
        const NativeMeetingDocument* next;
        bool kept;
    } cases[] = {{"same id", &renamed, true}, {"new id", &other, false}};
    for (const auto& c : cases) {
        renderMeeting(meeting, true, &meeting.transcript, "https://app.getnuvel.com/s/abc");
        named<SegmentedControl>("meeting-detail-tabs")->setSelectedSegment(1);
        controller->changeTab();
        named<QComboBox>("meeting-detail-layer-popup")->setCurrentIndex(1);
        controller->chooseTranscriptLayer();
        ASSERT_TRUE(controller->showingOriginal()) << c.name;
        named<QLineEdit>("meeting-detail-search")->setText("budget");
        controller->showSharing();
        ASSERT_NE(controller->sharingSheet(), nullptr) << c.name;

        renderMeeting(*c.next, true, &meeting.transcript, "https://app.getnuvel.com/s/abc");
        EXPECT_EQ(controller->sharingSheet() != nullptr, c.kept) << c.name;
        EXPECT_EQ(controller->showingOriginal(), c.kept) << c.name;
        EXPECT_EQ(named<QComboBox>("meeting-detail-layer-popup")->currentIndex(), c.kept ? 1 : 0) << c.name;
        EXPECT_EQ(named<QLineEdit>("meeting-detail-search")->text(), c.kept ? "budget" : "") << c.name;
        EXPECT_EQ(named<SegmentedControl>("meeting-detail-tabs")->selectedSegment(), 1) << c.name;
        // The link given with this render is accepted again either way; a foreign one never is.
        EXPECT_TRUE(controller->pendingLinkURL().has_value()) << c.name;
        controller->clear();
        flushDeferredDeletes();
    }
    renderMeeting(meeting, true, nullptr, "https://evil.example.com/s/abc");
    EXPECT_FALSE(controller->pendingLinkURL());
    EXPECT_FALSE(named("meeting-sharing-copy-link")->isVisible());
    renderMeeting(meeting, true, nullptr, "https://user:pw@app.getnuvel.com/s/abc");
    EXPECT_FALSE(controller->pendingLinkURL());
    EXPECT_EQ(text("meeting-detail-title"), "Q3 budget review");
}

// Every model change redraws the open meeting: the documents it replaces must go, or memory grows
// with each upload part and tick.
TEST_F(DetailScreen, RedrawsLeaveOnlyTheShownDocumentsAlive) {
    const NativeMeetingDocument meeting = longMeeting(false, 12);
    std::vector<QPointer<QTextDocument>> made;
    for (int redraw = 0; redraw < 500; ++redraw) {
        renderMeeting(meeting);
        if (redraw % 50 == 49)
            controller->clear();
        made.emplace_back(transcript()->document());
        made.emplace_back(named<ReadableTextView>("meeting-detail-notes")->document());
    }
    flushDeferredDeletes();
    const auto live = std::count_if(made.begin(), made.end(), [](const auto& d) { return !d.isNull(); });
    EXPECT_EQ(live, 2);
    EXPECT_EQ(text("meeting-detail-title"), "Select a meeting");
}

TEST_F(DetailScreen, PlaybackBarAndItsActions) {
    renderMeeting(longMeeting(false, 6));
    controller->updatePlayback(true, 3725000, 0, true);
    auto* seek = named<QSlider>("meeting-detail-seek");
    EXPECT_EQ(named<QLabel>("meeting-detail-playback-time")->text(), "62:05 / 0:00");
    EXPECT_EQ(seek->maximum(), 1);
    EXPECT_EQ(named<QToolButton>("meeting-detail-playback")->toolTip(), "Pause");
    EXPECT_FALSE(named("meeting-detail-audio-status")->isVisible());
    controller->updatePlayback(false, 60000, 90500, true);
    EXPECT_EQ(seek->maximum(), 90500);
    EXPECT_EQ(seek->value(), 60000);
    named<QToolButton>("meeting-detail-playback")->click();
    seek->setValue(1234);
    controller->seekAudio();
    named<QComboBox>("meeting-detail-speed")->setCurrentIndex(2);
    controller->changeSpeed();
    controller->exportSelected(3);
    controller->exportSelected(0);
    EXPECT_EQ(spy.take(),
              (std::vector<std::string>{"toggle", "seek 1234", "speed 1.250000", "export srt corrected"}));

    controller->updatePlayback(false, 0, 0, false);
    EXPECT_FALSE(named("meeting-detail-playback")->isVisible());
    EXPECT_EQ(named<QLabel>("meeting-detail-audio-status")->text(),
              "Audio is unavailable. Transcript and notes remain available.");
}

// A screen reader opens the pull-downs and presses their items through the accessibility
// interface alone: the open menu is the button's accessible child, and pressing an item closes it.
TEST_F(DetailScreen, ThePullDownsOpenAndActThroughTheAccessibilityInterface) {
    renderMeeting(longMeeting(false, 6));
    const QString showMenu = QAccessibleActionInterface::showMenuAction();
    for (const char* id : {"meeting-detail-export", "meeting-detail-more"}) {
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(named(id));
        ASSERT_TRUE(button && button->actionInterface()) << id;
        EXPECT_TRUE(button->actionInterface()->actionNames().contains(showMenu)) << id;
        EXPECT_FALSE(button->text(QAccessible::Name).isEmpty()) << id;
        EXPECT_EQ(button->childCount(), 0) << id;
    }

    QAccessibleInterface* exportButton =
        QAccessible::queryAccessibleInterface(named("meeting-detail-export"));
    QMenu* menu = named<QPushButton>("meeting-detail-export")->menu();
    QStringList items;
    bool closedByThePress = false;
    // Runs inside the open menu's event loop; whatever happens, the menu closes.
    const auto readAndPress = [&] {
        QAccessibleInterface* open = exportButton->childCount() == 1 ? exportButton->child(0) : nullptr;
        EXPECT_TRUE(open && open->object() == menu);
        EXPECT_TRUE(exportButton->state().pressed);
        for (int i = 0; open != nullptr && i < open->childCount(); ++i) {
            QAccessibleInterface* item = open->child(i);
            items << item->text(QAccessible::Name);
            if (item->text(QAccessible::Name) == "SRT")
                item->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }
        closedByThePress = !menu->isVisible();
        menu->hide();
    };
    QObject::connect(
        menu, &QMenu::aboutToShow, menu, [&] { QTimer::singleShot(0, menu, readAndPress); },
        Qt::SingleShotConnection);
    exportButton->actionInterface()->doAction(showMenu);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(items, (QStringList{"Markdown", "Plain text", "SRT", "VTT"}));
    EXPECT_TRUE(closedByThePress);
    EXPECT_EQ(exportButton->childCount(), 0);
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"export srt corrected"}));
}

// Turn 3 belongs to S3, a speaker without a name.
TEST_F(DetailScreen, CorrectionSheetAssignsThreeWordsWithTheUnnamedSpeakerLast) {
    const NativeMeetingDocument meeting = longMeeting(false, 6);
    renderMeeting(meeting);
    const std::size_t turn3 = englishTurns()[0].size() + englishTurns()[1].size();
    const auto id = [](std::size_t i) { return "w" + std::to_string(i); };
    openCorrection(id(turn3), id(turn3 + 2));
    auto* picker = named<QComboBox>("meeting-correction-speaker");
    ASSERT_EQ(picker->count(), 3);
    EXPECT_EQ(picker->itemText(2), "Unnamed speaker");
    EXPECT_EQ(picker->currentIndex(), 2);
    EXPECT_EQ(named<QLineEdit>("meeting-correction-draft")->text(), "Good.");
    EXPECT_FALSE(named<QAction>("meeting-detail-correction")->isEnabled() &&
                 controller->correctionDraft()->saving());

    controller->changeCorrectionMode(2);
    EXPECT_FALSE(named("meeting-correction-draft")->isVisible());
    EXPECT_TRUE(picker->isVisible());
    picker->setCurrentIndex(1);
    button("meeting-correction-save")->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"correct assign S2: " + id(turn3) + " " + id(turn3 + 1) +
                                                    " " + id(turn3 + 2) + " @4"}));
    EXPECT_EQ(named<QLabel>("meeting-correction-status")->text(), "Saving correction…");
    controller->cancelCorrection();
    EXPECT_NE(controller->correctionSheet(), nullptr) << "Cancel waits for the save";
    controller->finishCorrection(true, false, std::nullopt);
    EXPECT_EQ(controller->correctionSheet(), nullptr);
    EXPECT_EQ(text("meeting-detail-status"), "Correction saved. Notes retain their stated source revision.");

    // Without a selection the status line asks for one; on the original layer nothing opens.
    transcript()->setTextCursor(QTextCursor(transcript()->document()));
    transcript()->moveCursor(QTextCursor::End);
    controller->correctSelection();
    EXPECT_EQ(controller->correctionSheet(), nullptr);
    EXPECT_EQ(text("meeting-detail-status"), "Select transcript words to correct them.");
}

// The keyboard alone: the caret put before the second turn's first word, the word selected with
// Shift and the arrows, the correction command reached by Tab and the More button or by the
// transcript's own menu, the word retyped and saved with Return. The words saved are the ones
// selected, whatever the focus went through on the way; the keyboard is back in the transcript
// once the sheet has closed.
TEST_F(DetailScreen, TheKeyboardCorrectsTheWordsItSelected) {
    using Keys = std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier, wordwise = Qt::ControlModifier | Qt::ShiftModifier;
    // The focused control gets each key, as the window hands it on.
    const auto type = [](const Keys& keys) {
        for (const auto& [key, modifiers] : keys) {
            QWidget* focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            QTest::keyClick(focused, key, modifiers);
        }
    };
    // Presses `key`; the keys `inMenu` go to the menu it opens, from inside the menu's own loop.
    // The menu's item titles, none when no menu opened.
    const auto throughMenu = [&](const Keys& key, const Keys& inMenu) {
        QStringList titles;
        QTimer::singleShot(0, window.get(), [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr)
                return;
            for (QAction* item : menu->actions())
                if (item->isVisible() && !item->isSeparator())
                    titles << item->text();
            for (const auto& [k, modifiers] : inMenu)
                QTest::keyClick(menu, k, modifiers);
            if (menu->isVisible())
                menu->close();
        });
        type(key);
        QApplication::processEvents();
        return titles;
    };
    const auto tabToMore = [&] {
        for (int tabs = 0; tabs < 40 && !named("meeting-detail-more")->hasFocus(); ++tabs)
            type({{Qt::Key_Tab, Qt::NoModifier}});
        return named("meeting-detail-more")->hasFocus();
    };
    const QStringList moreMenu{"Correct selection…", "Rename…", "Copy", "Show Info", "Refresh"};
    const QStringList transcriptMenu{"Copy", "Play selection", "Correct selection…"};
    const auto times = [](int n, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return Keys(std::size_t(n), {key, modifiers});
    };
    const auto andReturn = [](Keys keys) {
        keys.emplace_back(Qt::Key_Return, Qt::NoModifier);
        return keys;
    };
    // The first item of the More menu, the third of the transcript's.
    const Keys firstItem = andReturn(times(1, Qt::Key_Down)), thirdItem = andReturn(times(3, Qt::Key_Down));
    const struct {
        const char* name;
        bool arabic;
        Keys select;
        bool byTab;
        Keys open;
        Keys inMenu;
        QStringList menu;
        QString shown;
        std::string saved;
    } cases[] = {
        {"the word and its space, Tab to More, Space", false, times(1, Qt::Key_Right, wordwise), true,
         times(1, Qt::Key_Space), firstItem, moreMenu, "Thanks", "correct word w11=Thank you @4"},
        {"exactly the word, Tab to More, Return", false, times(6, Qt::Key_Right, shift), true,
         times(1, Qt::Key_Return), firstItem, moreMenu, "Thanks", "correct word w11=Thank you @4"},
        {"the word, Shift+F10", false, times(1, Qt::Key_Right, wordwise), false, times(1, Qt::Key_F10, shift),
         thirdItem, transcriptMenu, "Thanks", "correct word w11=Thank you @4"},
        {"two words, the Menu key", false, times(2, Qt::Key_Right, wordwise), false, times(1, Qt::Key_Menu),
         thirdItem, transcriptMenu, "Thanks", "correct word w11=Thank you @4"},
        // Right to left, the next word is on the left.
        {"Arabic, the word and its space, Tab to More, Space", true, times(1, Qt::Key_Left, wordwise), true,
         times(1, Qt::Key_Space), firstItem, moreMenu, QString::fromUtf8("شكراً"),
         "correct word w7=Thank you @4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PreferredLanguagesScope languages(c.arabic ? QStringList{"ar-SA"} : QStringList{"en-US"});
        makeScreen();
        const NativeMeetingDocument meeting = longMeeting(c.arabic, 6);
        renderMeeting(meeting);
        QApplication::setActiveWindow(window.get());
        named<SegmentedControl>("meeting-detail-tabs")->setSelectedSegment(1);
        controller->changeTab();
        const std::string first = c.arabic ? "w7" : "w11";
        QTextCursor caret(transcript()->document());
        caret.setPosition(int(controller->wordRanges().at(first).location));
        transcript()->setTextCursor(caret);
        transcript()->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(transcript()->hasFocus());
        type(c.select);
        const QString selected = transcript()->textCursor().selectedText();
        if (c.byTab) {
            ASSERT_TRUE(tabToMore());
        }
        EXPECT_EQ(throughMenu(c.open, c.inMenu), c.menu);
        ASSERT_NE(controller->correctionSheet(), nullptr) << text("meeting-detail-status").toStdString();
        EXPECT_EQ(transcript()->textCursor().selectedText(), selected) << "the selection is kept";
        auto* field = named<QLineEdit>("meeting-correction-draft");
        EXPECT_EQ(field->text(), c.shown);
        if (c.byTab) {
            QApplication::processEvents();
            QPixmap shot = window->grab();
            QPainter(&shot).drawPixmap((window->width() - controller->correctionSheet()->width()) / 2, 80,
                                       controller->correctionSheet()->grab());
            const auto path = artifactsFolder() / (std::string("meeting-detail-correction-by-keyboard") +
                                                   (c.arabic ? "-arabic" : "-ltr") + ".png");
            EXPECT_TRUE(shot.save(QString::fromStdString(path.string()))) << path;
        }
        ASSERT_TRUE(field->hasFocus());
        type({{Qt::Key_A, Qt::ControlModifier}});
        QTest::keyClicks(field, "Thank you");
        type(times(1, Qt::Key_Return));
        EXPECT_EQ(spy.take(), (std::vector<std::string>{c.saved}));
        controller->finishCorrection(true, false, std::nullopt);
        QApplication::processEvents();
        EXPECT_EQ(controller->correctionSheet(), nullptr);
        // The window's keyboard, which it has again once it is active.
        QWidget* focused = window->focusWidget();
        EXPECT_EQ(focused, transcript())
            << (focused != nullptr ? focused->objectName().toStdString() : "none");
        // The model reopens the meeting: cleared, drawn from this computer's copy, then from the
        // service's new revision. Its transcript shows the corrected word selected, whichever tab
        // an ordinary opening shows.
        controller->clear();
        renderMeeting(meeting);
        EXPECT_EQ(named<SegmentedControl>("meeting-detail-tabs")->selectedSegment(), 1);
        EXPECT_EQ(transcript()->textCursor().selectedText(), c.shown);
        NativeMeetingDocument reloaded = meeting;
        reloaded.transcript.revision += 1;
        for (MeetingWord& word : reloaded.transcript.transcript.words)
            if (word.id == first)
                word.text = "Thank you";
        renderMeeting(reloaded);
        EXPECT_EQ(named<SegmentedControl>("meeting-detail-tabs")->selectedSegment(), 1);
        EXPECT_EQ(transcript()->textCursor().selectedText(), "Thank you");
        QApplication::setActiveWindow(nullptr);
    }
}

TEST_F(DetailScreen, CorrectionConflictReloadAndRebaseKeepTheDraft) {
    NativeMeetingDocument meeting = longMeeting(false, 6);
    renderMeeting(meeting);
    openCorrection("w1", "w1");
    auto* field = named<QLineEdit>("meeting-correction-draft");
    field->setText("  everybody. ");
    button("meeting-correction-save")->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"correct word w1=everybody. @4"}));

    controller->finishCorrection(false, true, std::nullopt);
    auto* reload = button("meeting-correction-reload");
    auto* rebase = button("meeting-correction-rebase");
    auto* save = button("meeting-correction-save");
    EXPECT_TRUE(reload->isVisible());
    EXPECT_FALSE(rebase->isVisible());
    EXPECT_FALSE(save->isEnabled());
    reload->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"reload"}));
    EXPECT_EQ(named<QLabel>("meeting-correction-status")->text(),
              "Reloading the transcript. Your draft is kept.");

    meeting.transcript.revision = 5;
    meeting.transcript.transcript.words[1].text = "all.";
    renderMeeting(meeting);
    ASSERT_NE(controller->correctionSheet(), nullptr);
    EXPECT_TRUE(rebase->isVisible());
    EXPECT_TRUE(named<QLabel>("meeting-correction-status")->text().endsWith("\nCurrent text: all."));
    EXPECT_EQ(field->text(), "  everybody. ");
    rebase->click();
    EXPECT_TRUE(save->isEnabled());
    EXPECT_FALSE(rebase->isVisible());
    save->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"correct word w1=everybody. @5"}));
    controller->finishCorrection(false, false, std::string("The service is busy."));
    EXPECT_EQ(named<QLabel>("meeting-correction-status")->text(), "The service is busy.");
    EXPECT_TRUE(save->isEnabled());
}

TEST_F(DetailScreen, LostPermissionsKeepTheDraftAndCloseRenameAndSharing) {
    NativeMeetingDocument meeting = longMeeting(false, 6);
    renderMeeting(meeting);
    openCorrection("w2", "w2");
    named<QLineEdit>("meeting-correction-draft")->setText("begin");
    meeting.transcript.access.can["edit"] = false;
    renderMeeting(meeting);
    ASSERT_NE(controller->correctionSheet(), nullptr);
    EXPECT_EQ(named<QLabel>("meeting-correction-status")->text(),
              "Editing permission has changed. Your draft is kept, but it cannot be saved.");
    EXPECT_FALSE(button("meeting-correction-save")->isEnabled());
    EXPECT_EQ(named<QLineEdit>("meeting-correction-draft")->text(), "begin");
    controller->saveCorrection();
    EXPECT_TRUE(spy.take().empty());
    controller->cancelCorrection();

    // Rename follows the transcript's edit permission; sharing the summary's share permission.
    meeting.transcript.access.can["edit"] = true;
    renderMeeting(meeting);
    controller->showRename();
    ASSERT_NE(controller->renameSheet(), nullptr);
    meeting.transcript.access.can["edit"] = false;
    renderMeeting(meeting);
    EXPECT_EQ(controller->renameSheet(), nullptr);
    controller->showSharing();
    ASSERT_NE(controller->sharingSheet(), nullptr);
    meeting.summary.access.can["share"] = false;
    renderMeeting(meeting, true, nullptr, "https://app.getnuvel.com/s/abc");
    EXPECT_EQ(controller->sharingSheet(), nullptr);
    EXPECT_FALSE(controller->pendingLinkURL());
}

// The window goes, taking the open sheet and the screen with it: the controller carries on.
TEST_F(DetailScreen, AWindowThatGoesUnderAnOpenSheetLeavesAWorkingController) {
    const NativeMeetingDocument meeting = longMeeting(false, 6);
    renderMeeting(meeting);
    openCorrection("w0", "w1");
    window.reset();
    EXPECT_FALSE(controller->isViewLoaded());
    EXPECT_EQ(controller->correctionSheet(), nullptr);
    controller->changeCorrectionMode(1);
    controller->saveCorrection();
    controller->finishCorrection(false, true, std::nullopt);
    controller->clear();
    renderMeeting(meeting);
    window = std::make_unique<QWidget>();
    (new QVBoxLayout(window.get()))->addWidget(controller->view());
    window->show();
    EXPECT_EQ(text("meeting-detail-title"), "Q3 budget review");
    openCorrection("w2", "w2");
    button("meeting-correction-save")->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"correct word w2=Let's @4"}));
}

TEST_F(DetailScreen, SharingSheetRules) {
    NativeMeetingDocument meeting = longMeeting(false, 6);
    meeting.summary.access.can["audio"] = true;
    const QString refused = "Sharing could not be changed. Check your permission and connection.";
    const struct {
        bool ticked;
        const char* address;
        std::vector<std::string> sent;
        std::optional<bool> invited; // how the owner says the invitation ended
    } invites[] = {
        {false, "guest@example.com", {}, std::nullopt},
        {true, "guest.example.com", {}, std::nullopt},
        {true, "guest@exa\nmple.com", {}, std::nullopt},
        {true, "  guest@example.com \n", {"share guest guest@example.com viewer"}, true},
        // A failure keeps the sheet and what was typed, and says why; the next press sends again.
        {true, "guest@example.com", {"share guest guest@example.com viewer"}, false},
    };
    for (const auto& invite : invites) {
        renderMeeting(meeting);
        controller->showSharing();
        QDialog* sheet = controller->sharingSheet();
        ASSERT_NE(sheet, nullptr);
        sheet->findChild<QLineEdit*>("meeting-sharing-address")->setText(QString::fromUtf8(invite.address));
        auto* inviteButton = sheet->findChild<QPushButton*>("meeting-sharing-invite");
        EXPECT_FALSE(inviteButton->isEnabled()) << "waits for the acknowledgement";
        sheet->findChild<QCheckBox*>("meeting-sharing-acknowledge")->setChecked(invite.ticked);
        EXPECT_EQ(inviteButton->isEnabled(), invite.ticked);
        QTest::mouseClick(inviteButton, Qt::LeftButton);
        EXPECT_EQ(spy.take(), invite.sent) << invite.address;
        ASSERT_NE(controller->sharingSheet(), nullptr) << "the sheet waits for the outcome";
        if (invite.invited) {
            EXPECT_FALSE(inviteButton->isEnabled()) << "one invitation at a time";
            controller->finishInvitation(*invite.invited,
                                         *invite.invited ? std::string() : refused.toStdString());
        }
        EXPECT_EQ(controller->sharingSheet() == nullptr, invite.invited.value_or(false)) << invite.address;
        if (invite.invited == false) {
            auto* status = sheet->findChild<QLabel*>("meeting-sharing-status");
            EXPECT_FALSE(status->isHidden());
            EXPECT_EQ(status->text(), refused);
            EXPECT_EQ(sheet->findChild<QLineEdit*>("meeting-sharing-address")->text(),
                      QString::fromUtf8(invite.address));
            // The sentence fits in the sheet, which shows every control whole across.
            QApplication::processEvents();
            const QWidget* viewport = sheet->findChild<QScrollArea*>()->viewport();
            for (const char* name : {"meeting-sharing-address", "meeting-sharing-status",
                                     "meeting-sharing-link-expiry", "meeting-sharing-done"}) {
                const QWidget* control = sheet->findChild<QWidget*>(name);
                EXPECT_LE(control->mapTo(viewport, control->rect().topRight()).x(), viewport->width() - 1)
                    << name;
            }
            EXPECT_TRUE(sheet->grab().save(QString::fromStdString(
                (artifactsFolder() / "meeting-sharing-invitation-failed.png").string())));
            ASSERT_TRUE(inviteButton->isEnabled());
            QTest::mouseClick(inviteButton, Qt::LeftButton);
            EXPECT_EQ(spy.take(), invite.sent) << "sent again";
            controller->finishInvitation(true, "");
            EXPECT_EQ(controller->sharingSheet(), nullptr);
        }
        if (controller->sharingSheet() != nullptr)
            sheet->findChild<QPushButton*>("meeting-sharing-done")->click();
        EXPECT_EQ(controller->sharingSheet(), nullptr);
    }

    const struct {
        int expiry;
        bool audio, audioDeleted;
        const char* sent;
    } links[] = {{1, true, false, "link 30 audio"},
                 {0, false, false, "link 7 no audio"},
                 {1, true, true, "link 30 no audio"}};
    for (const auto& link : links) {
        NativeMeetingDocument shown = meeting;
        shown.summary.audio_deleted = link.audioDeleted;
        renderMeeting(shown);
        controller->showSharing();
        QDialog* sheet = controller->sharingSheet();
        auto* audio = sheet->findChild<QCheckBox*>("meeting-sharing-link-audio");
        EXPECT_EQ(audio->isEnabled(), !link.audioDeleted);
        audio->setChecked(link.audio);
        sheet->findChild<QComboBox*>("meeting-sharing-link-expiry")->setCurrentIndex(link.expiry);
        sheet->findChild<QPushButton*>("meeting-sharing-create-link")->click();
        EXPECT_EQ(spy.take(), (std::vector<std::string>{link.sent}));
        EXPECT_EQ(controller->sharingSheet(), nullptr);
    }

    renderMeeting(meeting);
    controller->showSharing();
    controller->sharingSheet()->findChild<QPushButton*>("meeting-sharing-revoke-link-l1")->click();
    controller->showSharing();
    controller->sharingSheet()->findChild<QPushButton*>("meeting-sharing-revoke-s2")->click();
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"revoke link l1", "revoke share s2"}));

    // Rename is refused while the sharing sheet is attached; then it renames with a trimmed title.
    controller->showSharing();
    controller->showRename();
    EXPECT_EQ(controller->renameSheet(), nullptr);
    controller->sharingSheet()->findChild<QPushButton*>("meeting-sharing-done")->click();
    controller->showRename();
    ASSERT_NE(controller->renameSheet(), nullptr);
    named<QLineEdit>("meeting-rename-title")->setText("  \n");
    button("meeting-rename-save")->click();
    EXPECT_NE(controller->renameSheet(), nullptr);
    named<QLineEdit>("meeting-rename-title")->setText(" Budget, third quarter ");
    button("meeting-rename-save")->click();
    EXPECT_EQ(controller->renameSheet(), nullptr);
    EXPECT_EQ(spy.take(), (std::vector<std::string>{"rename Budget, third quarter"}));
}

// Titles, statuses and the service's words are shown as typed, never read as markup.
TEST_F(DetailScreen, ServiceAndUserTextIsNeverReadAsMarkup) {
    NativeMeetingDocument meeting = longMeeting(false, 6);
    meeting.summary.title = "Q3 <b>budget</b> review: a < b and c > d";
    shownSharing = MeetingSharingDocument::decode(
        R"({"can": {}, "workspace_id": "ws", "plan_required": false,
            "shares": [{"id": "s1", "kind": "guest", "email": "<i>guest</i>@example.com", "permission": "viewer"}],
            "links": [{"id": "l1", "expires_at": "<b>2030-05-01</b>", "include_audio": true}]})");
    controller->render(meeting, &shownSharing, nullptr, std::nullopt);
    const auto labelIn = [](QWidget* parent, const QString& part) -> QLabel* {
        for (QLabel* label : parent->findChildren<QLabel*>())
            if (label->text().contains(part))
                return label;
        return nullptr;
    };
    const struct {
        const char* name;
        std::function<QLabel*()> shown;
        QString markup;
    } rows[] = {
        {"title", [&] { return named<QLabel>("meeting-detail-title"); },
         "Q3 <b>budget</b> review: a < b and c > d"},
        {"status line",
         [&] {
             controller->copyDocument();
             return named<QLabel>("meeting-detail-status");
         },
         ""},
        {"correction status",
         [&] {
             openCorrection("w1", "w1");
             button("meeting-correction-save")->click();
             controller->finishCorrection(false, false, std::string("The <b>service</b> is busy."));
             return named<QLabel>("meeting-correction-status");
         },
         "The <b>service</b> is busy."},
        {"share row",
         [&] {
             controller->cancelCorrection();
             controller->showSharing();
             return labelIn(controller->sharingSheet(), "<i>guest</i>@example.com");
         },
         "<i>guest</i>@example.com"},
        {"link row", [&] { return labelIn(controller->sharingSheet(), "<b>2030-05-01</b>"); },
         "<b>2030-05-01</b>"},
        {"info popover",
         [&] {
             controller->sharingSheet()->findChild<QPushButton*>("meeting-sharing-done")->click();
             controller->showInfo();
             auto* popover = window->findChild<QWidget*>("meeting-detail-info-popover");
             return popover != nullptr ? popover->findChild<QLabel*>() : nullptr;
         },
         ""},
    };
    for (const auto& row : rows) {
        QLabel* label = row.shown();
        ASSERT_NE(label, nullptr) << row.name;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << row.name;
        EXPECT_FALSE(label->text().isEmpty()) << row.name;
        if (!row.markup.isEmpty()) {
            EXPECT_TRUE(label->text().contains(row.markup)) << row.name;
        }
    }
    spy.take();

    // A tooltip that looks like markup is read as rich text: the service's, the calendar's and
    // the user's words in one read as typed, and no local image is shown.
    const std::string typed = "Q3 <b>budget</b> <img src=\"file:///etc/hosts\"> a < b";
    const QString typedText = QString::fromStdString(typed);
    NativeMeetingDocument corrected = longMeeting(false, 6);
    corrected.transcript.corrections = MeetingJSON::array(
        {MeetingJSON::object({{"id", MeetingJSON::string("w1")}, {"from", MeetingJSON::string(typed)}})});
    const auto formatTip = [](ReadableTextView* view, const QString& starting) {
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
            for (auto part = block.begin(); !part.atEnd(); ++part)
                if (const QString tip = part.fragment().charFormat().toolTip();
                    toolTipAsRead(tip).startsWith(starting))
                    return tip;
        return QString();
    };
    LibraryWorld w(true, {ShellWorld::recording(typed)}, std::nullopt, typed + "@example.com");
    std::unique_ptr<CompanionController> companion;
    CalendarMeeting planned;
    planned.id = "evt-1";
    planned.title = "Weekly sync";
    planned.start = Date{800000000};
    planned.end = Date{800003600};
    planned.attendees = {typed, "Grace"};
    const struct {
        const char* name;
        std::function<QString()> tip;
        QString read;
    } tips[] = {
        {"a corrected word's original",
         [&] {
             renderMeeting(corrected);
             return formatTip(transcript(), "Corrected transcript");
         },
         "Corrected transcript: " + typedText},
        {"the library list's cloud meeting",
         [&] {
             w.cloud->shown.meetings = {summary("m1", typed)};
             w.library->locationChanged(1);
             return w.library->table()->model()->index(0, 0).data(Qt::ToolTipRole).toString();
         },
         typedText},
        {"the account's e-mail address", [&] { return w.find<QLabel>("library-account")->toolTip(); },
         typedText + "@example.com"},
        {"calendar attendees in the new-recording sheet",
         [&] {
             QString tip;
             w.world.dialogs.onAlert = [&tip](const Alert& alert) {
                 if (SheetControls controls(alert.accessory); controls.attendees != nullptr)
                     tip = controls.attendees->toolTip();
             };
             w.world.dialogs.answers.push_back({1, false});
             const RecordingSuggestion suggestion{std::nullopt, std::nullopt, planned};
             w.library->beginNewRecording(&suggestion);
             w.world.queue.drain();
             flushDeferredDeletes();
             return tip;
         },
         typedText + ", Grace"},
        {"the recent recording in the status panel",
         [&] {
             companion = std::make_unique<CompanionController>(
                 w.model(), [] {}, w.world.queue, w.world.executor,
                 [](const std::string&) { return std::optional<std::string>(); });
             QLabel* recent = companion->view()->findChild<QLabel*>("companion-recent");
             companion->render();
             return recent != nullptr ? recent->toolTip() : QString();
         },
         "Recent: " + typedText},
        {"the meter caption of the recorded application",
         [&] {
             AppModel::NewRecording request;
             request.title = "Live";
             request.source = SystemAudioSelection::application(42);
             request.sourceName = typed;
             w.model().startNewRecording(request);
             w.world.queue.drain();
             w.world.capture->control->duration = 1;
             w.world.queue.advance(0.1);
             w.library->render();
             for (QLabel* label : w.library->view()->findChildren<QLabel*>())
                 if (label->text().startsWith("Q3"))
                     return label->toolTip();
             return QString();
         },
         typedText},
    };
    for (const auto& tip : tips)
        EXPECT_EQ(toolTipAsRead(tip.tip()).toStdString(), tip.read.toStdString()) << tip.name;
    companion.reset();
}

// Each text in its own direction on the right-hand side: the address field and the interface's
// English words in Arabic notes left to right, the meeting's Arabic right to left.
TEST_F(DetailScreen, UnderAnArabicInterfaceEachTextRunsInItsOwnDirection) {
    PreferredLanguagesScope arabic({"ar-EG", "en-US"});
    renderMeeting(longMeeting(true, 6));
    const struct {
        QString starts;
        Qt::LayoutDirection direction;
    } paragraphs[] = {{"AI-generated notes. Check sources before sharing.", Qt::LeftToRight},
                      {"Summary", Qt::LeftToRight},
                      {QString::fromUtf8("أنفق الفريق"), Qt::RightToLeft}};
    const QTextDocument* notes = named<ReadableTextView>("meeting-detail-notes")->document();
    for (const auto& paragraph : paragraphs) {
        QTextBlock block = notes->begin();
        while (block.isValid() && !block.text().startsWith(paragraph.starts))
            block = block.next();
        ASSERT_TRUE(block.isValid()) << paragraph.starts.toStdString();
        EXPECT_EQ(block.textDirection(), paragraph.direction) << paragraph.starts.toStdString();
        EXPECT_TRUE(block.blockFormat().alignment() & Qt::AlignRight) << paragraph.starts.toStdString();
    }
    controller->showSharing();
    QDialog* sheet = controller->sharingSheet();
    ASSERT_NE(sheet, nullptr);
    auto* address = sheet->findChild<QLineEdit*>("meeting-sharing-address");
    EXPECT_EQ(address->layoutDirection(), Qt::LeftToRight);
    EXPECT_TRUE(address->alignment() & Qt::AlignLeft);
    EXPECT_EQ(sheet->findChild<QCheckBox*>("meeting-sharing-acknowledge")->layoutDirection(),
              Qt::RightToLeft);
    EXPECT_TRUE(transcript()->alignsTrailing());
}

TEST_F(DetailScreen, LinksFindAndCopy) {
    const NativeMeetingDocument meeting = longMeeting(false, 12);
    renderMeeting(meeting);
    // The notes' chips are images that carry their links and the text they stand for.
    QStringList chips;
    const QTextDocument* notes = named<ReadableTextView>("meeting-detail-notes")->document();
    for (QTextBlock block = notes->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (const QTextCharFormat format = it.fragment().charFormat(); format.isImageFormat())
                chips << format.anchorHref() + " " + format.property(evidenceStampProperty).toString();
    EXPECT_EQ(chips.join(" | ").toStdString(),
              "nuvel-evidence:0-0 [0:09] | nuvel-evidence:1-0 00:25 | nuvel-evidence:2-0 00:35");
    // A time link selects the word under that time on the transcript and plays from the time.
    controller->openLink("nuvel-time:9000");
    EXPECT_EQ(named<SegmentedControl>("meeting-detail-tabs")->selectedSegment(), 1);
    EXPECT_TRUE(transcript()->textCursor().hasSelection());
    // The decision cites word w60: played from 750 ms before it.
    controller->openLink("nuvel-evidence:2-0");
    controller->openLink("nuvel-evidence:9-9");
    const auto w60 = meeting.transcript.transcript.words[60];
    EXPECT_EQ(spy.take(),
              (std::vector<std::string>{"play 9000", "play " + std::to_string(w60.start_ms - 750)}));
    EXPECT_EQ(transcript()->textCursor().selectedText(), QString::fromStdString(w60.text));
    // A cited moment (the summary's 0:09) selects one continuous span on the shown layer: from the
    // first word that ends after it through every word starting in the next twelve seconds (two
    // turns here, the speaker line between them included).
    controller->openLink("nuvel-evidence:0-0");
    const QString span = transcript()->textCursor().selectedText();
    EXPECT_TRUE(span.startsWith("Thanks Ada.")) << span.toStdString();
    EXPECT_TRUE(span.endsWith("hiring line before May?")) << span.toStdString();
    EXPECT_FALSE(controller->showingOriginal());
    spy.take();

    named<QLineEdit>("meeting-detail-search")->setText("BUDGET");
    controller->findNext();
    const int first = transcript()->textCursor().selectionStart();
    EXPECT_EQ(transcript()->textCursor().selectedText(), "budget");
    for (int i = 0; i < 2; ++i)
        controller->findNext(); // two turns of twelve say "budget"
    EXPECT_EQ(transcript()->textCursor().selectionStart(), first) << "find wraps to the first match";
    named<QLineEdit>("meeting-detail-search")->setText(QString::fromUtf8("ـــ"));
    controller->findNext();
    EXPECT_EQ(text("meeting-detail-status"), "No matches in this meeting.");

    controller->copyDocument();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("Ada · 0:04\nMorning everyone."));
    named<SegmentedControl>("meeting-detail-tabs")->setSelectedSegment(0);
    controller->changeTab();
    controller->copyDocument();
    EXPECT_TRUE(QApplication::clipboard()->text().contains("under plan [0:09] and"))
        << "chips copy as their stamps";
    EXPECT_EQ(text("meeting-detail-status"), "Copied. Private notes are excluded.");
}

TEST_F(DetailScreen, ReadingColumn) {
    ReadableTextView view;
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setFrameShape(QFrame::NoFrame);
    view.show();
    const struct {
        int width;
        bool trailing;
        int column, origin;
    } cases[] = {{1000, false, 720, 0}, {1000, true, 720, 280}, {60, false, 80, 0}, {400, true, 400, 0}};
    for (const auto& c : cases) {
        view.resize(c.width, 300);
        view.setAlignsTrailing(c.trailing);
        EXPECT_EQ(view.columnWidth(), c.column) << c.width;
        EXPECT_EQ(view.columnOrigin(), c.origin) << c.width;
    }
}

// The screen and each sheet in both directions, with a long meeting.
TEST_F(DetailScreen, Screenshots) {
    for (const bool arabic : {false, true}) {
        PreferredLanguagesScope languages(arabic ? QStringList{"ar-SA"} : QStringList{"en-US"});
        makeScreen();
        NativeMeetingDocument meeting = longMeeting(arabic);
        meeting.summary.access.can["audio"] = true;
        renderMeeting(meeting, true, nullptr, "https://app.getnuvel.com/s/k3y");
        controller->updatePlayback(false, 154000, std::int64_t(meeting.summary.duration * 1000), true);
        const std::string suffix = arabic ? "-arabic" : "-ltr";
        const auto save = [&](QWidget* widget, const std::string& name) {
            QApplication::processEvents();
            const auto path = artifactsFolder() / ("meeting-detail-" + name + suffix + ".png");
            EXPECT_TRUE(widget->grab().save(QString::fromStdString(path.string()))) << path;
        };
        save(window.get(), "notes");
        // The Export menu opened from the keyboard, its first item chosen with the arrow key,
        // over the window whose button has the focus.
        window->show();
        QApplication::setActiveWindow(window.get());
        auto* exportButton = named<QPushButton>("meeting-detail-export");
        exportButton->setFocus(Qt::TabFocusReason);
        QMenu* menu = exportButton->menu();
        QObject::connect(
            menu, &QMenu::aboutToShow, menu,
            [&] {
                QTimer::singleShot(0, menu, [&] {
                    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
                    QApplication::sendEvent(menu, &down);
                    QApplication::processEvents();
                    QPixmap shot = window->grab();
                    QPainter(&shot).drawPixmap(menu->pos() - window->mapToGlobal(QPoint()), menu->grab());
                    const auto path = artifactsFolder() / ("meeting-detail-export-menu" + suffix + ".png");
                    EXPECT_TRUE(shot.save(QString::fromStdString(path.string()))) << path;
                    menu->close();
                });
            },
            Qt::SingleShotConnection);
        QTest::keyClick(exportButton, Qt::Key_Space);
        named<SegmentedControl>("meeting-detail-tabs")->setSelectedSegment(1);
        controller->changeTab();
        save(window.get(), "transcript");
        controller->openLink("nuvel-evidence:0-0");
        save(window.get(), "citation");
        openCorrection("w14", "w16");
        controller->finishCorrection(false, true, std::nullopt);
        save(controller->correctionSheet(), "correction");
        controller->cancelCorrection();
        controller->showRename();
        save(controller->renameSheet(), "rename");
        button("meeting-rename-cancel")->click();
        controller->showSharing();
        save(controller->sharingSheet(), "sharing");
        controller->sharingSheet()->findChild<QPushButton*>("meeting-sharing-done")->click();
    }
}

} // namespace
