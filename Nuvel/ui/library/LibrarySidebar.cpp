#include "Nuvel/ui/library/LibrarySidebar.hpp"

#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "NuvelKit/support/DateFormat.hpp"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QPainter>
#include <QStyle>
#include <cmath>

namespace nuvel {

namespace {

const QString separator = QStringLiteral(" · ");

// The creation time in the locale's abbreviated date and short time, in local time: written by
// the same formatter as the cloud side's dates, so both read alike in one window.
QString dateText(Date date) {
    return QString::fromStdString(formatDateTime(date.unixSeconds(), DateStyle::medium, DateStyle::short_));
}

} // namespace

SidebarRow localRow(const LocalRecording& recording, const std::optional<Uuid>& activeID, bool paused) {
    SidebarRow row;
    row.title =
        recording.title.empty() ? localized("Untitled recording") : QString::fromStdString(recording.title);
    const QString date = dateText(recording.createdAt);
    if (activeID && *activeID == recording.id)
        row.subtitle = localized(paused ? "Paused" : "Recording") + separator + date;
    else
        row.subtitle = date + separator + formatDuration(recording.totalDuration());
    return row;
}

SidebarRow cloudRow(const MeetingSummary& meeting) {
    return {QString::fromStdString(meeting.title),
            formatDuration(double(meeting.durationMilliseconds()) / 1000.0) + separator +
                localized(QString::fromStdString(meeting.state))};
}

SidebarRow searchRow(const MeetingSearchPage::Hit& hit) {
    return {QString::fromStdString(hit.title), QString::fromStdString(hit.snippetText())};
}

SidebarListModel::SidebarListModel(std::function<int()> count, std::function<SidebarRow(int)> row,
                                   QObject* parent)
    : QAbstractListModel(parent), count_(std::move(count)), row_(std::move(row)) {}

bool SidebarListModel::reload() {
    const int count = count_();
    if (count == shown_) {
        if (count > 0)
            Q_EMIT dataChanged(index(0), index(count - 1));
        return false;
    }
    beginResetModel();
    shown_ = count;
    endResetModel();
    return true;
}

int SidebarListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

QVariant SidebarListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= count_())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row_(index.row()).title;
    case Qt::ToolTipRole:
        return plainToolTip(row_(index.row()).title);
    case subtitleRole:
        return row_(index.row()).subtitle;
    default:
        return {};
    }
}

void SidebarList::focusInEvent(QFocusEvent* event) {
    if (const QModelIndexList selected = selectionModel()->selectedRows();
        !selected.isEmpty() && currentIndex() != selected.first())
        selectionModel()->setCurrentIndex(selected.first(), QItemSelectionModel::NoUpdate);
    QListView::focusInEvent(event);
}

void SidebarList::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    // A menu of the list's own keeps its place.
    if (event->reason() != Qt::PopupFocusReason)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

QColor SidebarRowDelegate::subtitleColor(const QStyleOptionViewItem& option) {
    if (option.state & QStyle::State_Selected)
        return option.palette.color(QPalette::HighlightedText);
    return option.palette.color(QPalette::PlaceholderText);
}

void SidebarRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QStyle* style = background.widget ? background.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, background.widget);

    const QRect area = option.rect.adjusted(6, 0, -6, 0);
    const QFont titleFont = systemFont(13, QFont::Medium);
    const QFont subtitleFont = systemFont(11, QFont::Normal);
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    const int spacing = 2;
    const int height = titleMetrics.height() + spacing + subtitleMetrics.height();
    const int top = area.top() + (area.height() - height) / 2;
    const Qt::Alignment alignment =
        Qt::AlignVCenter | (option.direction == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
    const bool selected = option.state & QStyle::State_Selected;

    painter->save();
    painter->setFont(titleFont);
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QRect titleRect(area.left(), top, area.width(), titleMetrics.height());
    // Through the style, which draws each text in its own direction; with the pen set here.
    style->drawItemText(
        painter, titleRect, int(alignment), option.palette, true,
        titleMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, area.width()),
        QPalette::NoRole);
    painter->setFont(subtitleFont);
    painter->setPen(subtitleColor(option));
    const QRect subtitleRect(area.left(), titleRect.bottom() + 1 + spacing, area.width(),
                             subtitleMetrics.height());
    style->drawItemText(painter, subtitleRect, int(alignment), option.palette, true,
                        subtitleMetrics.elidedText(index.data(SidebarListModel::subtitleRole).toString(),
                                                   Qt::ElideRight, area.width()),
                        QPalette::NoRole);
    painter->restore();
}

QSize SidebarRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return {QStyledItemDelegate::sizeHint(option, index).width(), 46};
}

} // namespace nuvel
