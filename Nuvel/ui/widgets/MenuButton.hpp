#pragma once

#include <QPushButton>

namespace nuvel {

// A flat button that opens its own menu, for the toolbar pull-downs (Export, More, Options).
// Unlike an instant pop-up tool button it can be opened by an assistive tool: its accessible
// interface offers "ShowMenu" (and "Press"), and while the menu is open the menu is the button's
// accessible child, so its items can be found and pressed; Qt otherwise leaves pop-up windows out
// of the application's accessible tree. A menu item pressed that way closes the menu, as a click
// on it would.
class MenuButton : public QPushButton {
    Q_OBJECT
public:
    explicit MenuButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace nuvel
