#pragma once

class QWidget;

namespace nuvel {

// Makes `window` a transient panel: a frameless window above the others that takes the keyboard
// when it shows and closes when the user goes elsewhere (it loses the activation) or presses
// Escape. Unlike a toolkit popup, which the accessibility bus leaves out of the application's
// windows, it is a window of its own there, so a screen reader reaches what it shows.
void makeTransientWindow(QWidget* window);

} // namespace nuvel
