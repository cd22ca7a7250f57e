#include "tests/ui/DisplayKeyboard.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <sstream>

namespace nuvel::test {

namespace {

Display* raw(void* display) {
    return static_cast<Display*>(display);
}

// The window's title: its UTF-8 name, else its plain one.
std::string title(Display* display, Window window) {
    std::string result;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &left,
                           &data) == Success &&
        data != nullptr && format == 8)
        result.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr)
        XFree(data);
    if (!result.empty())
        return result;
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        result = name;
        XFree(name);
    }
    return result;
}

// A window may go between listing it and asking about it: the question then fails, where Xlib's
// own handler would end the test program.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

} // namespace

DisplayKeyboard::DisplayKeyboard(const std::string& display) {
    int event = 0, error = 0, major = 0, minor = 0;
    XSetErrorHandler(ignoreErrors);
    Display* opened = XOpenDisplay(display.c_str());
    if (opened == nullptr)
        return;
    if (!XTestQueryExtension(opened, &event, &error, &major, &minor)) {
        XCloseDisplay(opened);
        return;
    }
    display_ = opened;
}

DisplayKeyboard::~DisplayKeyboard() {
    if (display_ != nullptr)
        XCloseDisplay(raw(display_));
}

std::vector<unsigned long> DisplayKeyboard::windows(const std::string& wanted) const {
    std::vector<unsigned long> found;
    if (display_ == nullptr)
        return found;
    Display* display = raw(display_);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0)
        return found;
    // Without a window manager the program's windows are the root's own children.
    for (unsigned int i = 0; i < count; ++i)
        if (viewable(display, children[i])) {
            // Qt adds " — <program>" to a title that does not already hold the program's name.
            const std::string shown = title(display, children[i]);
            if (shown == wanted || shown.rfind(wanted + " \u2014 ", 0) == 0)
                found.push_back(children[i]);
        }
    if (children != nullptr)
        XFree(children);
    return found;
}

bool DisplayKeyboard::focus(unsigned long window) const {
    if (display_ == nullptr || !viewable(raw(display_), window))
        return false;
    XSetInputFocus(raw(display_), window, RevertToPointerRoot, CurrentTime);
    XSync(raw(display_), False);
    return focused() == window;
}

bool DisplayKeyboard::minimise(unsigned long window) const {
    if (display_ == nullptr || !viewable(raw(display_), window))
        return false;
    Display* display = raw(display_);
    // No window manager runs here to answer XIconifyWindow: the state it would set comes first,
    // then the unmap it would make.
    const Atom state = XInternAtom(display, "WM_STATE", False);
    const long iconic[2] = {IconicState, 0};
    XChangeProperty(display, window, state, state, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(iconic), 2);
    XUnmapWindow(display, window);
    XSync(display, False);
    return !viewable(display, window);
}

unsigned long DisplayKeyboard::focused() const {
    if (display_ == nullptr)
        return 0;
    Window window = 0;
    int revert = 0;
    XGetInputFocus(raw(display_), &window, &revert);
    return window;
}

bool DisplayKeyboard::type(const std::vector<std::string>& chords) const {
    if (display_ == nullptr)
        return false;
    Display* display = raw(display_);
    for (const std::string& chord : chords) {
        std::vector<KeyCode> keys;
        std::stringstream parts(chord);
        std::string part;
        while (std::getline(parts, part, '+')) {
            const char* name = part == "ctrl"    ? "Control_L"
                               : part == "shift" ? "Shift_L"
                               : part == "alt"   ? "Alt_L"
                                                 : part.c_str();
            const KeySym symbol = XStringToKeysym(name);
            const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
            if (code == 0)
                return false;
            keys.push_back(code);
        }
        // The modifiers down first and up last, as fingers do.
        for (const KeyCode key : keys)
            XTestFakeKeyEvent(display, key, True, CurrentTime);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            XTestFakeKeyEvent(display, *key, False, CurrentTime);
        XSync(display, False);
    }
    return true;
}

} // namespace nuvel::test
