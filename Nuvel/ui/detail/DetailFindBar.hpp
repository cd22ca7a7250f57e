#pragma once

// The detail screen's find field. Return asks the screen's controller for the next match, and
// every change of its text is reported to it; the window's find key lands here while the focus
// is inside the screen.

#include <string>

class QLineEdit;
class QWidget;

namespace nuvel {

class MeetingDetailController;

class DetailFindBar {
public:
    // Makes the field, unparented; the screen lays it out.
    QLineEdit* build(MeetingDetailController& owner);
    // The screen's view tree is gone with the field in it.
    void forget() { field_ = nullptr; }

    std::u16string query() const;
    // Empties the field, if it is made.
    void clear();
    // The field takes the focus with its text selected, when `root` is shown and holds the
    // window's focus; false otherwise.
    bool takeFocusWithin(QWidget* root);

private:
    QLineEdit* field_ = nullptr;
};

} // namespace nuvel
