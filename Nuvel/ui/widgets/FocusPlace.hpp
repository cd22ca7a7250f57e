#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace nuvel {

// Where the keyboard is inside an area that a redraw rebuilds, so that the redraw can give it
// back: to the same control when it survives, else to the rebuilt control with the same kind,
// name and text, else to the control that now stands where it stood in the tab order. Without
// this, the focused control's removal sends the keyboard out of the area, to the sidebar.
//
// The keyboard never lands by its place alone on a field that takes typing, unless it was in
// one: a key pressed next would write into it. A control that is rebuilt greyed (the task it
// started runs) cannot hold the keyboard; its owner keeps it elsewhere meanwhile and gives it
// back once the control is enabled again.
class FocusPlace {
public:
    enum class Restored {
        given,  // the focus is in the area
        greyed, // the control is there again, greyed: nothing moved
        nowhere // the area has no control to take it: nothing moved
    };

    // Notes the window's focus when it lies inside `area`; nothing otherwise.
    static FocusPlace inside(QWidget* area);

    bool empty() const { return area_.isNull(); }
    // Gives the focus back within the area.
    Restored restore() const;

private:
    QPointer<QWidget> area_;
    QPointer<QWidget> widget_;
    QString key_;
    int occurrence_ = 0; // among the area's controls with the same key
    int index_ = 0;      // among the area's controls
    bool typing_ = false;
};

} // namespace nuvel
