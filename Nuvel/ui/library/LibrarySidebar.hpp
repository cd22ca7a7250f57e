#pragma once

#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <QAbstractListModel>
#include <QListView>
#include <QString>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>

namespace nuvel {

// The two lines of one row of the library's list.
struct SidebarRow {
    QString title;
    QString subtitle;
    bool operator==(const SidebarRow&) const = default;
};

// A recording on this computer: its title ("Untitled recording" when empty); under it the state
// of the running recording and the date, or the date and the length.
SidebarRow localRow(const LocalRecording& recording, const std::optional<Uuid>& activeID, bool paused);
// A meeting of the cloud library: its title as it is; its length and processing state.
SidebarRow cloudRow(const MeetingSummary& meeting);
// A search hit: the meeting's title and the passage's text.
SidebarRow searchRow(const MeetingSearchPage::Hit& hit);

// The list's rows, read from the models each time the view asks: the model keeps no copy, only
// the number of rows the view was last told. `reload` tells the view that everything may have
// changed: a list of the same length is redrawn in place (the view keeps its selection), one of
// another length is reset.
class SidebarListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int subtitleRole = Qt::UserRole + 1;

    SidebarListModel(std::function<int()> count, std::function<SidebarRow(int)> row,
                     QObject* parent = nullptr);

    // True when the list was reset (the view's selection is gone).
    bool reload();
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::function<int()> count_;
    std::function<SidebarRow(int)> row_;
    int shown_ = 0;
};

// The list itself. Its current row is the keyboard's place in it only while the list has the
// keyboard: accessibility reports the current row as focused whether or not the list is, so a
// screen reader would hear of two focused controls. The keyboard comes back to the selected row.
class SidebarList final : public QListView {
    Q_OBJECT
public:
    using QListView::QListView;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// Draws a row as a title (13 pt, medium) over a subtitle (11 pt, in the secondary colour, or in
// the selection's text colour on the selected row), 46 high, each line cut at its end.
class SidebarRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The subtitle's colour in a row drawn with these options.
    static QColor subtitleColor(const QStyleOptionViewItem& option);
};

} // namespace nuvel
