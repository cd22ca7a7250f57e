#include "Nuvel/ui/library/UpcomingMeetingRow.hpp"

#include "Nuvel/ui/common/PreferredLanguages.hpp"
#include "Nuvel/ui/widgets/ElidingLabel.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <cmath>
#include <mutex>

namespace nuvel {

namespace {

QString text(const char* key) {
    return QCoreApplication::translate("UpcomingMeetingRow", key);
}

QString helpText() {
    return text("Record this meeting…");
}

QDateTime localTime(Date date) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(date.unixSeconds() * 1000.0)))
        .toLocalTime();
}

QString shortTime(Date date) {
    return shortTimeText(QLocale(), localTime(date).time());
}

// The row as accessibility sees it: a button whose press is the row's action.
class RowAccessible final : public QAccessibleWidget {
public:
    explicit RowAccessible(UpcomingMeetingRow* row) : QAccessibleWidget(row, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Help || kind == QAccessible::Description)
            return helpText();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction())
            static_cast<UpcomingMeetingRow*>(widget())->press();
    }
};

QAccessibleInterface* rowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("nuvel::UpcomingMeetingRow"))
        if (auto* row = qobject_cast<UpcomingMeetingRow*>(object))
            return new RowAccessible(row);
    return nullptr;
}

} // namespace

UpcomingMeetingRow::UpcomingMeetingRow(const CalendarMeeting& meeting, Date now, std::function<void()> action,
                                       QWidget* parent)
    : QWidget(parent), action_(std::move(action)) {
    static std::once_flag accessibility;
    std::call_once(accessibility, [] { QAccessible::installFactory(&rowAccessible); });
    setObjectName(QStringLiteral("upcoming-meeting"));

    const QString titleText =
        meeting.title.empty() ? text("Untitled meeting") : QString::fromStdString(meeting.title);
    QString second = timeText(meeting, now);
    if (meeting.provider)
        second += QStringLiteral(" · ") + QString::fromUtf8(displayName(*meeting.provider).data(),
                                                            qsizetype(displayName(*meeting.provider).size()));

    title_ = new ElidingLabel(titleText, 12, QFont::Medium);
    title_->setObjectName(QStringLiteral("upcoming-meeting-title"));
    // The time and the provider are shown whole: in a narrow sidebar, or with a longer time (an
    // Arabic one adds its own digits and the part of the day), the line wraps under the title.
    detail_ = makeWrappingLabel(second, 11, QFont::Normal);
    detail_->setTextInteractionFlags(Qt::NoTextInteraction);
    detail_->setObjectName(QStringLiteral("upcoming-meeting-detail"));
    QPalette secondary = detail_->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    detail_->setPalette(secondary);

    const bool started = meeting.start <= now;
    symbol_ = meeting.videoURL ? Symbol::video : Symbol::calendar;
    tint_ = started ? QColor(255, 59, 48) : palette().color(QPalette::PlaceholderText);
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("upcoming-meeting-icon"));
    const int symbolSize = QFontInfo(systemFont(12, QFont::Normal)).pixelSize();
    icon->setPixmap(symbolPixmap(symbol_, symbolSize, tint_, devicePixelRatioF()));
    icon->setFixedWidth(18);
    icon->setFixedHeight(title_->sizeHint().height());
    icon->setAlignment(Qt::AlignCenter);

    QWidget* texts = makeStack({title_, detail_}, 1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(7);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(texts, 1);

    // The row takes every click: its parts never do.
    for (QWidget* part : std::initializer_list<QWidget*>{icon, texts, title_, detail_})
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    setLayoutDirection(preferredLayoutDirection());
    setAttribute(Qt::WA_Hover);
    // A button to accessibility, and so one to the keyboard too: Tab reaches it, Space or Return
    // presses it. A click leaves the keyboard where it was, as a tool button's does.
    setFocusPolicy(Qt::TabFocus);
    setToolTip(helpText());
    setAccessibleName(titleText + QStringLiteral(", ") + second);
    setAccessibleDescription(helpText());
}

QString UpcomingMeetingRow::timeText(const CalendarMeeting& meeting, Date now) {
    if (meeting.start <= now)
        return text("Now · until %1").arg(shortTime(meeting.end));
    if (localTime(meeting.start).date() == localTime(now).date())
        return shortTime(meeting.start);
    return text("Tomorrow") + QLatin1Char(' ') + shortTime(meeting.start);
}

QString UpcomingMeetingRow::titleText() const {
    return title_->text();
}

QString UpcomingMeetingRow::detailText() const {
    return detail_->text();
}

void UpcomingMeetingRow::press() {
    if (action_)
        action_();
}

void UpcomingMeetingRow::enterEvent(QEnterEvent*) {
    hovering_ = true;
    update();
}

void UpcomingMeetingRow::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

void UpcomingMeetingRow::paintEvent(QPaintEvent*) {
    if (!hovering_ && !hasFocus())
        return;
    QPainter painter(this);
    if (hovering_) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.05); // a faint wash of the text colour
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(rect()), hoverCornerRadius, hoverCornerRadius);
        painter.restore();
    }
    // The keyboard's place, drawn as the style draws it on any control.
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void UpcomingMeetingRow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        if (!event->isAutoRepeat())
            press();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void UpcomingMeetingRow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void UpcomingMeetingRow::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        press();
}

} // namespace nuvel
