#pragma once

#include "Nuvel/ui/widgets/SymbolIcons.hpp"
#include "NuvelKit/calendar/CalendarMeeting.hpp"
#include "NuvelKit/support/Time.hpp"

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

class QLabel;

namespace nuvel {

class ElidingLabel;

// One calendar meeting in the library's "Coming up" list: an icon, the title and a line with
// the time and the video provider. The whole row is one button: a click released inside it, an
// accessibility press, or Space or Return while it has the keyboard, runs its action; a press
// dragged out before release does nothing.
// The row is built for one meeting at one moment and never changes its texts; the list is
// rebuilt when the calendar changes.
class UpcomingMeetingRow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int hoverCornerRadius = 6;

    UpcomingMeetingRow(const CalendarMeeting& meeting, Date now, std::function<void()> action,
                       QWidget* parent = nullptr);

    // The time part of the second line, in the user's time zone, its times as hours and minutes
    // in the user's short time format: "Now · until 10:30" for a meeting under way, the start
    // time for one later today, "Tomorrow 09:00" after midnight.
    static QString timeText(const CalendarMeeting& meeting, Date now);

    bool hovering() const { return hovering_; }
    QString titleText() const;
    QString detailText() const;
    Symbol iconSymbol() const { return symbol_; }
    // Red once the meeting has started, the secondary text colour before.
    QColor iconTint() const { return tint_; }

    // The accessibility press: runs the action as a click does.
    void press();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void()> action_;
    bool hovering_ = false;
    ElidingLabel* title_ = nullptr;
    QLabel* detail_ = nullptr;
    Symbol symbol_ = Symbol::calendar;
    QColor tint_;
};

} // namespace nuvel
