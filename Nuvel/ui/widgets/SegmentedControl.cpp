#include "Nuvel/ui/widgets/SegmentedControl.hpp"

#include "Nuvel/ui/widgets/AccessibleRoles.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QTimer>
#include <QToolButton>
#include <utility>

namespace nuvel {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_->setExclusive(true);
    // Each segment shows its own page: a screen reader hears a list of page tabs.
    markAsPageTabList(this);
    for (int i = 0; i < labels.size(); ++i) {
        auto* segment = new QToolButton(this);
        segment->setText(labels[i]);
        segment->setAccessibleName(labels[i]);
        segment->setCheckable(true);
        markAsPageTab(segment);
        segment->setAutoRaise(false);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_->addButton(segment, i);
        row->addWidget(segment);
    }
    // A segment reports itself as it turns on, however that came about (a click, a key, an
    // assistive tool's toggle); a click on the segment already selected reports it too. The
    // click that turned a segment on follows at once and is not reported twice.
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked || selecting_)
            return;
        justChecked_ = id;
        QTimer::singleShot(0, this, [this] { justChecked_ = -1; });
        Q_EMIT segmentChosen(id);
    });
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        if (std::exchange(justChecked_, -1) != id)
            Q_EMIT segmentChosen(id);
    });
}

int SegmentedControl::count() const {
    return int(group_->buttons().size());
}

QString SegmentedControl::label(int segment) const {
    QAbstractButton* button = group_->button(segment);
    return button != nullptr ? button->text() : QString();
}

int SegmentedControl::selectedSegment() const {
    return group_->checkedId();
}

void SegmentedControl::setSelectedSegment(int segment) {
    selecting_ = true;
    if (QAbstractButton* button = group_->button(segment))
        button->setChecked(true);
    selecting_ = false;
}

} // namespace nuvel
