#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace nuvel {

// Where the keyboard is inside an area that a redraw rebuilds, so that the redraw can give it
// back: to the same control when it survives, else to the rebuilt control with the same kind,
// name and text, else to the control that now stands where it stood in the tab order. Without
// this, the focused control's removal sends the keyboard out of the area, to the sidebar.
class FocusPlace {
public:
    // Notes the window's focus when it lies inside `area`; nothing otherwise.
    static FocusPlace inside(QWidget* area);

    bool empty() const { return area_.isNull(); }
    // Gives the focus back within the area; false when the area has no control to take it.
    bool restore() const;

private:
    QPointer<QWidget> area_;
    QPointer<QWidget> widget_;
    QString key_;
    int occurrence_ = 0; // among the area's controls with the same key
    int index_ = 0;      // among the area's controls
};

} // namespace nuvel
