#include "Nuvel/ui/library/UpcomingMeetingRow.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QDateTime>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace nuvel;
using nuvel::test::PreferredLanguagesScope;

namespace {

// Noon, local time, on a day without a clock change: "today" and "tomorrow" hold in any zone.
Date localAt(int day, int hour, int minute, int second = 0) {
    return Date::fromUnix(
        double(QDateTime(QDate(2026, 3, day), QTime(hour, minute, second)).toSecsSinceEpoch()));
}
const Date noon = localAt(2, 12, 0);

CalendarMeeting meetingAt(Date start, Date end, std::string title = "Design review",
                          std::optional<CalendarMeeting::Provider> provider = std::nullopt) {
    CalendarMeeting m;
    m.id = "m";
    m.title = std::move(title);
    m.start = start;
    m.end = end;
    if (provider) {
        m.videoURL = Url::parse("https://meet.google.com/abc-defg-hij");
        m.provider = provider;
    }
    return m;
}

class UpcomingRow : public ::testing::Test {
protected:
    void SetUp() override {
        test::application();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); // 24-hour short times
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    void send(QWidget* row, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QMouseEvent event(type, QPointF(at), QPointF(row->mapToGlobal(at)), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(row, &event);
    }
};

TEST_F(UpcomingRow, TextsIconAndAccessibility) {
    const struct {
        const char* name;
        CalendarMeeting meeting;
        QString title, detail;
        Symbol symbol;
        bool red;
    } cases[] = {
        {"under way",
         meetingAt(localAt(2, 11, 30), localAt(2, 12, 45), "Standup", CalendarMeeting::Provider::zoom),
         "Standup", "Now · until 12:45 · Zoom", Symbol::video, true},
        {"starting exactly now", meetingAt(noon, localAt(2, 13, 0)), "Design review", "Now · until 13:00",
         Symbol::calendar, true},
        {"later today", meetingAt(localAt(2, 15, 0), localAt(2, 16, 0)), "Design review", "15:00",
         Symbol::calendar, false},
        {"with a Google Meet link",
         meetingAt(localAt(2, 23, 30), localAt(3, 0, 30), "Late sync", CalendarMeeting::Provider::meet),
         "Late sync", "23:30 · Google Meet", Symbol::video, false},
        {"after midnight", meetingAt(localAt(3, 9, 5), localAt(3, 10, 0), "Planning"), "Planning",
         "Tomorrow 09:05", Symbol::calendar, false},
        {"untitled", meetingAt(localAt(2, 14, 0), localAt(2, 15, 0), ""), "Untitled meeting", "14:00",
         Symbol::calendar, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpcomingMeetingRow row(c.meeting, noon, [] {});
        EXPECT_EQ(row.titleText(), c.title);
        EXPECT_EQ(row.detailText(), c.detail);
        EXPECT_EQ(row.iconSymbol(), c.symbol);
        EXPECT_EQ(row.iconTint() == QColor(255, 59, 48), c.red);
        EXPECT_EQ(row.toolTip(), "Record this meeting…");
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&row);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->role(), QAccessible::Button);
        EXPECT_EQ(a->text(QAccessible::Name), c.title + ", " + c.detail);
        EXPECT_EQ(a->text(QAccessible::Help), "Record this meeting…");
    }
}

TEST_F(UpcomingRow, TimesAreHoursAndMinutesInTheUsersShortFormat) {
    // Off the minute: no locale shows the seconds, the C locale's included.
    const CalendarMeeting under = meetingAt(localAt(2, 11, 30, 15), localAt(2, 12, 45, 40));
    const CalendarMeeting later = meetingAt(localAt(2, 15, 0, 20), localAt(2, 16, 0));
    const CalendarMeeting tomorrow = meetingAt(localAt(3, 9, 5, 59), localAt(3, 10, 0));
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const auto usTime = [&](int h, int m) { return us.toString(QTime(h, m), QLocale::ShortFormat); };
    const struct {
        QLocale locale;
        QString under, later, tomorrow;
    } cases[] = {
        {QLocale::c(), "Now · until 12:45", "15:00", "Tomorrow 09:05"},
        {QLocale(QLocale::English, QLocale::UnitedKingdom), "Now · until 12:45", "15:00", "Tomorrow 09:05"},
        {us, "Now · until " + usTime(12, 45), usTime(15, 0), "Tomorrow " + usTime(9, 5)},
        {QLocale(QLocale::Finnish), "Now · until 12.45", "15.00", "Tomorrow 9.05"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        EXPECT_EQ(UpcomingMeetingRow::timeText(under, noon), c.under);
        EXPECT_EQ(UpcomingMeetingRow::timeText(later, noon), c.later);
        EXPECT_EQ(UpcomingMeetingRow::timeText(tomorrow, noon), c.tomorrow);
        EXPECT_EQ(UpcomingMeetingRow(later, noon, [] {}).detailText(), c.later);
    }
    EXPECT_TRUE(usTime(15, 0).startsWith("3:00")); // the 12-hour form, as the user reads it
}

TEST_F(UpcomingRow, OnlyAReleaseInsideAnAccessibilityPressOrAKeyRunsTheAction) {
    int presses = 0;
    UpcomingMeetingRow row(meetingAt(localAt(2, 15, 0), localAt(2, 16, 0)), noon, [&] { ++presses; });
    row.resize(240, 40);
    const QPoint inside(120, 20), outside(300, 20);

    send(&row, QEvent::MouseButtonPress, inside);
    EXPECT_EQ(presses, 0); // a press alone does nothing
    send(&row, QEvent::MouseMove, outside);
    send(&row, QEvent::MouseButtonRelease, outside);
    EXPECT_EQ(presses, 0); // dragged out before release

    send(&row, QEvent::MouseButtonPress, inside);
    send(&row, QEvent::MouseButtonRelease, inside);
    EXPECT_EQ(presses, 1);

    send(&row, QEvent::MouseButtonPress, inside, Qt::RightButton);
    send(&row, QEvent::MouseButtonRelease, inside, Qt::RightButton);
    EXPECT_EQ(presses, 1);

    // The labels never take the click: the point inside a label is the row's.
    auto* title = row.findChild<QLabel*>("upcoming-meeting-title");
    ASSERT_TRUE(title);
    EXPECT_TRUE(title->testAttribute(Qt::WA_TransparentForMouseEvents));

    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&row);
    ASSERT_TRUE(a && a->actionInterface());
    a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(presses, 2);

    QEnterEvent enter{QPointF(inside), QPointF(inside), QPointF(row.mapToGlobal(inside))};
    QApplication::sendEvent(&row, &enter);
    EXPECT_TRUE(row.hovering());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&row, &leave);
    EXPECT_FALSE(row.hovering());

    // Tab reaches the row, which shows that it has the keyboard; Space and Return press it,
    // another key does not.
    QWidget window;
    auto* before = new QPushButton("Before", &window);
    auto* tabbed = new UpcomingMeetingRow(
        meetingAt(localAt(2, 15, 0), localAt(2, 16, 0)), noon, [&] { ++presses; }, &window);
    tabbed->setGeometry(0, 40, 240, 40);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    before->setFocus();
    const QImage unfocused = tabbed->grab().toImage();
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(before, &tab);
    ASSERT_TRUE(tabbed->hasFocus());
    EXPECT_NE(tabbed->grab().toImage(), unfocused);
    for (const auto key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_A}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(tabbed, &press);
    }
    EXPECT_EQ(presses, 5);
    QApplication::setActiveWindow(nullptr);
}

TEST_F(UpcomingRow, NarrowRowsTruncateAndArabicMirrors) {
    for (const char* language : {"en-GB", "ar-EG"}) {
        SCOPED_TRACE(language);
        PreferredLanguagesScope scope({QString::fromLatin1(language)});
        const bool arabic = QString(language).startsWith("ar");
        // Arabic times: Arabic digits and the part of the day.
        if (arabic)
            QLocale::setDefault(QLocale(QLocale::Arabic, QLocale::Egypt));
        QWidget list;
        list.setLayoutDirection(arabic ? Qt::RightToLeft : Qt::LeftToRight);
        auto* column = new QVBoxLayout(&list);
        auto* under = new UpcomingMeetingRow(meetingAt(localAt(2, 11, 30), localAt(2, 12, 45),
                                                       arabic ? "مراجعة التصميم" : "Standup",
                                                       CalendarMeeting::Provider::teams),
                                             noon, [] {});
        auto* later =
            new UpcomingMeetingRow(meetingAt(localAt(2, 15, 0), localAt(2, 16, 0),
                                             "A very long meeting title that cannot fit the sidebar"),
                                   noon, [] {});
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(later, &enter); // shows the hover fill in the screenshot
        for (auto* row : {under, later})
            column->addWidget(row);
        list.resize(220, 160);
        list.show();

        EXPECT_LT(later->minimumSizeHint().width(), 100); // the texts give way, the row does not widen
        auto* title = later->findChild<ElidingLabel*>("upcoming-meeting-title");
        ASSERT_TRUE(title);
        EXPECT_TRUE(title->displayedText().endsWith(QChar(0x2026)));
        EXPECT_EQ(title->text(), "A very long meeting title that cannot fit the sidebar");

        // The time and the provider whole, on a second line of their own if need be.
        auto* detail = under->findChild<QLabel*>("upcoming-meeting-detail");
        ASSERT_TRUE(detail);
        const auto* eliding = qobject_cast<ElidingLabel*>(detail);
        EXPECT_TRUE(eliding == nullptr || eliding->displayedText() == eliding->text());
        EXPECT_GE(detail->height(), detail->heightForWidth(detail->width()));

        auto* icon = under->findChild<QLabel*>("upcoming-meeting-icon");
        ASSERT_TRUE(icon);
        EXPECT_EQ(under->layoutDirection(), arabic ? Qt::RightToLeft : Qt::LeftToRight);
        EXPECT_EQ(icon->x() > under->width() / 2, arabic); // the icon on the leading side
        const auto file =
            test::artifactsFolder() / (arabic ? "upcoming-rows-arabic.png" : "upcoming-rows.png");
        EXPECT_TRUE(list.grab().save(QString::fromStdString(file.string())));
    }
}

} // namespace
