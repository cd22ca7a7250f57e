#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;

namespace nuvel {

// A row of labelled segments of which exactly one is selected, as the detail screen's tabs and
// transcript layers use it. `segmentChosen` reports the user's choice only: a click, a key or an
// assistive tool's toggle, never setSelectedSegment.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int count() const;
    QString label(int segment) const;
    int selectedSegment() const;
    void setSelectedSegment(int segment);

Q_SIGNALS:
    void segmentChosen(int segment);

private:
    QButtonGroup* group_;
    int justChecked_ = -1;   // the segment that turned on in the event being handled
    bool selecting_ = false; // inside setSelectedSegment
};

} // namespace nuvel
