#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "Nuvel/ui/prompts/MeetingPromptPanel.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/SymbolIcons.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;
using nuvel::test::PreferredLanguagesScope;

namespace {

class MeetingPrompt : public ::testing::Test {
protected:
    void SetUp() override {
        test::application();
        prompt.onRecord = [this] { choose("record"); };
        prompt.onMute = [this] { choose("mute"); };
        prompt.onSettings = [this] { choose("settings"); };
        prompt.openURL = [this](const QUrl& url) { opened.push_back(url); };
        prompt.continuousNow = [this] { return queue.now() + suspended; };
    }
    void TearDown() override {
        queue.advance(1); // lets fading panels finish
        test::flushDeferredDeletes();
    }

    // Records a choice and what the panel looked like when its callback ran.
    void choose(const char* what) {
        choices.push_back(what);
        shownDuringCallback = prompt.panel() != nullptr;
        timerDuringCallback = prompt.dismissalPending();
    }

    MeetingPromptPanel::Content reminder(QString title = QStringLiteral("Design review")) {
        return {symbolIcon(Symbol::calendar, Qt::darkGray), std::move(title),
                QStringLiteral("Starts in a minute · Google Meet · 4 attendees\nRecord it with Nuvel?"),
                QStringLiteral("Turn off meeting reminders"),
                QUrl(QStringLiteral("https://meet.google.com/abc-defg-hij"))};
    }
    template <class T> T* find(const char* name) {
        return prompt.panel() ? prompt.panel()->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    void screenshot(const char* name) {
        ASSERT_TRUE(prompt.panel());
        EXPECT_TRUE(
            prompt.panel()->grab().save(QString::fromStdString((test::artifactsFolder() / name).string())));
    }

    ManualMainQueue queue{0.0};
    // Seconds the computer slept: the queue's timers did not count them.
    double suspended = 0;
    MeetingPromptPanel prompt{queue};
    std::vector<std::string> choices;
    std::vector<QUrl> opened;
    bool shownDuringCallback = true;
    bool timerDuringCallback = true;
};

TEST_F(MeetingPrompt, ClosesByItselfAndANewPromptReplacesTheOld) {
    prompt.dismiss(); // nothing shown: nothing happens
    EXPECT_FALSE(prompt.panel());

    prompt.show(reminder(), 60);
    QPointer<QWidget> first = prompt.panel();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowOpacity(), 0.0);
    queue.advance(MeetingPromptPanel::fadeInSeconds);
    EXPECT_EQ(first->windowOpacity(), 1.0);

    // A new prompt at 10 s: the old one fades out, and only the new timer counts.
    queue.advance(10 - queue.now());
    prompt.show(reminder(QStringLiteral("Standup")), 90);
    QPointer<QWidget> second = prompt.panel();
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isVisible());
    queue.advance(MeetingPromptPanel::fadeOutSeconds);
    EXPECT_FALSE(first && first->isVisible());
    test::flushDeferredDeletes();
    EXPECT_FALSE(first);

    queue.advance(65 - queue.now()); // past the old prompt's 60 s: the new one stays
    EXPECT_EQ(prompt.panel(), second);
    queue.advance(100 - queue.now()); // the new one's 90 s
    EXPECT_FALSE(prompt.panel());
    EXPECT_FALSE(prompt.dismissalPending());
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isVisible()); // fading out
    queue.advance(MeetingPromptPanel::fadeOutSeconds);
    EXPECT_FALSE(second && second->isVisible());

    // A prompt whose time ran out while the computer slept goes soon after it wakes, not a
    // whole minute later.
    prompt.show(reminder(), 60);
    queue.advance(5);
    suspended += 3600;
    queue.advance(continuousSleepStep - 5);
    EXPECT_FALSE(prompt.panel());
    EXPECT_FALSE(prompt.dismissalPending());
    test::flushDeferredDeletes();
    EXPECT_FALSE(second);
}

TEST_F(MeetingPrompt, EveryChoiceButJoinTakesThePromptDownFirst) {
    const struct {
        const char* choice;
        std::function<void()> act;
    } cases[] = {
        {"record", [this] { find<QPushButton>("meeting-prompt-record")->click(); }},
        {"dismiss", [this] { find<QPushButton>("meeting-prompt-dismiss")->click(); }},
        {"mute", [this] { find<QAction>("meeting-prompt-mute")->trigger(); }},
        {"settings", [this] { find<QAction>("meeting-prompt-settings")->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.choice);
        choices.clear();
        shownDuringCallback = timerDuringCallback = true;
        prompt.show(reminder(), 90);
        QPointer<QWidget> window = prompt.panel();
        c.act();
        EXPECT_FALSE(prompt.panel());
        EXPECT_FALSE(prompt.dismissalPending());
        if (std::string(c.choice) != "dismiss") {
            EXPECT_EQ(choices, std::vector<std::string>{c.choice});
            EXPECT_FALSE(shownDuringCallback);
            EXPECT_FALSE(timerDuringCallback);
        } else {
            EXPECT_TRUE(choices.empty());
        }
        queue.advance(MeetingPromptPanel::fadeOutSeconds);
        EXPECT_FALSE(window && window->isVisible());
    }

    // "Join" opens the link and leaves the prompt and its timer as they were.
    prompt.show(reminder(), 90);
    auto* join = find<QPushButton>("meeting-prompt-join");
    ASSERT_TRUE(join);
    EXPECT_EQ(test::toolTipAsRead(join->toolTip()), "meet.google.com");
    EXPECT_EQ(test::descriptionAsRead(join), "meet.google.com");
    join->click();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("https://meet.google.com/abc-defg-hij")});
    EXPECT_TRUE(prompt.panel());
    EXPECT_TRUE(prompt.dismissalPending());
    queue.advance(90);
    EXPECT_FALSE(prompt.panel());
}

TEST_F(MeetingPrompt, TheOptionsMenuAndJoinFollowTheContent) {
    prompt.show(reminder(), 90);
    auto* options = find<QPushButton>("meeting-prompt-options");
    ASSERT_TRUE(options && options->menu());
    EXPECT_EQ(options->toolTip(), "Options");
    EXPECT_EQ(options->accessibleName(), "Options");
    // A screen reader can open it.
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(options)->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::showMenuAction()));
    QStringList items;
    for (QAction* a : options->menu()->actions())
        items << a->text();
    EXPECT_EQ(items, (QStringList{"Turn off meeting reminders", "Meeting detection settings…"}));
    screenshot("meeting-prompt-reminder.png");

    // A microphone prompt without a mute title or a link: settings only, no "Join".
    prompt.show({symbolIcon(Symbol::videoFill, Qt::darkGray), QStringLiteral("Record this meeting?"),
                 QStringLiteral("Zoom is using your microphone."), std::nullopt, std::nullopt},
                60);
    options = find<QPushButton>("meeting-prompt-options");
    ASSERT_TRUE(options && options->menu());
    ASSERT_EQ(options->menu()->actions().size(), 1);
    EXPECT_EQ(options->menu()->actions()[0]->text(), "Meeting detection settings…");
    EXPECT_FALSE(find<QPushButton>("meeting-prompt-join"));
    EXPECT_FALSE(prompt.joinURL());
}

TEST_F(MeetingPrompt, LongTextsAreCutAndThePanelSitsInTheTopCornerWithoutTakingFocus) {
    QWidget front;
    front.setWindowTitle("The meeting application");
    front.resize(300, 200);
    front.show();
    front.activateWindow();
    QApplication::setActiveWindow(&front);
    ASSERT_EQ(QApplication::activeWindow(), &front);

    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    const QString longTitle = QString("Quarterly planning with the regional sales leads ").repeated(3);
    const QString longDetail =
        QString("Starts in a minute · Microsoft Teams · 12 attendees, and more words ").repeated(4);
    for (const char* language : {"en-GB", "ar-EG"}) {
        SCOPED_TRACE(language);
        PreferredLanguagesScope scope({QString::fromLatin1(language)});
        const bool arabic = QString(language).startsWith("ar");
        auto content = reminder(longTitle);
        content.detail = longDetail;
        if (arabic)
            content.title =
                QString::fromUtf8("مراجعة التصميم الفصلية مع فريق المبيعات الإقليمي ").repeated(3);
        prompt.show(content, 90);
        QWidget* window = prompt.panel();
        ASSERT_TRUE(window);
        queue.advance(MeetingPromptPanel::fadeInSeconds);
        // A screen reader hears a notification, its title and its whole detail, though the
        // detail is shown cut.
        QAccessibleInterface* told = QAccessible::queryAccessibleInterface(window);
        ASSERT_TRUE(told);
        EXPECT_EQ(told->role(), QAccessible::Notification);
        EXPECT_EQ(told->text(QAccessible::Name), content.title);
        EXPECT_EQ(told->text(QAccessible::Description), content.detail);
        EXPECT_NE(find<QLabel>("meeting-prompt-detail")->text(), content.detail);

        EXPECT_EQ(QApplication::activeWindow(), &front);
        EXPECT_TRUE(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
        EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);

        EXPECT_EQ(window->width(), MeetingPromptPanel::width);
        EXPECT_EQ(window->y(), visible.top() + MeetingPromptPanel::screenMargin);
        if (arabic)
            EXPECT_EQ(window->x(), visible.left() + MeetingPromptPanel::screenMargin);
        else
            EXPECT_EQ(window->x() + window->width(),
                      visible.left() + visible.width() - MeetingPromptPanel::screenMargin);
        EXPECT_EQ(window->layoutDirection(), arabic ? Qt::RightToLeft : Qt::LeftToRight);
        auto* record = find<QPushButton>("meeting-prompt-record");
        auto* dismiss = find<QPushButton>("meeting-prompt-dismiss");
        auto* options = find<QPushButton>("meeting-prompt-options");
        const int recordX = record->mapTo(window, QPoint()).x(),
                  dismissX = dismiss->mapTo(window, QPoint()).x();
        const int optionsX = options->mapTo(window, QPoint()).x();
        EXPECT_EQ(recordX > dismissX, !arabic); // "Record…" at the trailing end
        EXPECT_EQ(optionsX < dismissX, !arabic);

        auto* title = find<ElidingLabel>("meeting-prompt-title");
        ASSERT_TRUE(title);
        EXPECT_TRUE(title->displayedText().endsWith(QChar(0x2026))) << title->displayedText().toStdString();
        EXPECT_LE(title->width(), 284);
        auto* detail = find<QLabel>("meeting-prompt-detail");
        ASSERT_TRUE(detail);
        EXPECT_TRUE(detail->text().endsWith(QChar(0x2026)));
        EXPECT_LE(detail->height(), 3 * detail->fontMetrics().lineSpacing() + 4);
        EXPECT_GE(detail->height(), 3 * detail->fontMetrics().lineSpacing() - 4);
        EXPECT_EQ(window->accessibleName(), content.title);
        screenshot(arabic ? "meeting-prompt-arabic.png" : "meeting-prompt-long.png");
        // Its Options button with the keyboard focus shows it, as the panel looks once made
        // active; then the meeting application is in front again.
        QApplication::setActiveWindow(window);
        options->setFocus(Qt::TabFocusReason);
        if (options->hasFocus())
            screenshot(arabic ? "meeting-prompt-focus-arabic.png" : "meeting-prompt-focus-ltr.png");
        QApplication::setActiveWindow(&front);
    }
}

} // namespace
