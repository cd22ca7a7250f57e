#pragma once

// Types on a test's X server as its keyboard would: the keys go through the server's XTEST
// extension to the window that has the keyboard, which the program sees as real key presses.
// A window is given the keyboard as a window manager would on a click.
//
// This header includes no Xlib: its macros (None, Bool, Status, KeyPress) clash with Qt.

#include <string>
#include <vector>

namespace nuvel::test {

class DisplayKeyboard {
public:
    // Connects to the X server `display` (":5").
    explicit DisplayKeyboard(const std::string& display);
    ~DisplayKeyboard();
    DisplayKeyboard(const DisplayKeyboard&) = delete;
    DisplayKeyboard& operator=(const DisplayKeyboard&) = delete;

    bool connected() const { return display_ != nullptr; }

    // The top-level windows on screen titled `title` (with or without the program's name that Qt
    // adds), bottom first.
    std::vector<unsigned long> windows(const std::string& title) const;
    // Gives the window the keyboard; false when it is not on screen.
    bool focus(unsigned long window) const;
    // Minimises the window as a window manager does: marks it iconic (WM_STATE) and takes it off
    // the screen, which the program sees as its window minimised; false when it is not on screen.
    bool minimise(unsigned long window) const;
    // The window that has the keyboard (0 for none).
    unsigned long focused() const;
    // Presses and lets go of each chord in turn, as the server has them before returning:
    // "ctrl+n", "shift+Tab", "Return", "space", "Down".
    bool type(const std::vector<std::string>& chords) const;

private:
    void* display_ = nullptr; // a Display
};

} // namespace nuvel::test
