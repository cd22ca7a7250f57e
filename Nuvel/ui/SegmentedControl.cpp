#include "Nuvel/ui/SegmentedControl.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace nuvel {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    group_->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* segment = new QToolButton(this);
        segment->setText(labels[i]);
        segment->setAccessibleName(labels[i]);
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        group_->addButton(segment, i);
        row->addWidget(segment);
    }
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::segmentChosen);
}

int SegmentedControl::count() const { return int(group_->buttons().size()); }

QString SegmentedControl::label(int segment) const {
    QAbstractButton* button = group_->button(segment);
    return button != nullptr ? button->text() : QString();
}

int SegmentedControl::selectedSegment() const { return group_->checkedId(); }

void SegmentedControl::setSelectedSegment(int segment) {
    if (QAbstractButton* button = group_->button(segment)) button->setChecked(true);
}

} // namespace nuvel
