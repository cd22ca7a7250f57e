#pragma once

// Drives a running program through the desktop's accessibility bus (AT-SPI), as a screen reader
// or a switch device would: it finds the program's windows and controls by role and name, reads
// their names, texts and states, presses them and types into them.
//
// This header includes neither GLib nor Qt: GLib's `signals` clashes with Qt's keyword, and the
// tests that use the driver are Qt programs.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace nuvel::test {

// Which element to find: an AT-SPI role name ("push button", "check box", "text", "list item",
// "dialog"; empty for any) and a name that is equal to, or with `prefix` starts with, `name`
// (empty for any). Only elements on screen count unless `hiddenToo`.
struct AccessibleQuery {
    std::string role;
    std::string name;
    bool prefix = false;
    bool hiddenToo = false;
};

// One element of a program's accessible tree. Every call asks the program afresh.
class AccessibleElement {
public:
    explicit AccessibleElement(std::shared_ptr<void> object) : object_(std::move(object)) {}

    std::string name() const;
    // What a screen reader says after the name ("" when none).
    std::string description() const;
    std::string role() const;
    // The text of a text field or label; the name when the element has no text.
    std::string text() const;
    // The part of its text that is selected; empty when none is.
    std::string selectedText() const;
    bool showing() const;
    bool enabled() const;
    bool checked() const;
    // Chosen among its siblings, as the page tab whose page shows.
    bool selected() const;
    bool readOnly() const;
    // Offers the text interface, through which a screen reader reads what it shows.
    bool hasText() const;
    // Has the keyboard focus.
    bool focused() const;
    // Can take the keyboard focus.
    bool focusable() const;
    // Held down, as a menu button is while its menu is open.
    bool pressed() const;
    int processID() const;
    // Its box on the screen: x, y, width, height.
    std::optional<std::array<int, 4>> box() const;
    // The middle of its box on the screen.
    std::optional<std::pair<int, int>> centre() const;

    std::vector<AccessibleElement> children() const;
    std::optional<AccessibleElement> parent() const;
    // The first element below this one (itself included) that matches, depth first.
    std::optional<AccessibleElement> find(const AccessibleQuery& query) const;
    std::vector<AccessibleElement> findAll(const AccessibleQuery& query) const;

    // The names of the actions it offers, in order.
    std::vector<std::string> actions() const;
    // Performs the named action ("Press", "Toggle", "ShowMenu", "SetFocus") without waiting
    // for the program's answer: an action that opens a modal window answers only once that
    // window closes. False when the element has no such action.
    bool perform(const std::string& action) const;
    // Replaces the text of an editable field.
    bool setText(const std::string& text) const;

    // The tree below this element, one element a line, for failure messages.
    std::string describe() const;

private:
    std::shared_ptr<void> object_; // an AtspiAccessible
};

// The connection to the accessibility bus of the session on DBUS_SESSION_BUS_ADDRESS (or
// AT_SPI_BUS_ADDRESS). Constructing it asks the session bus for the accessibility bus, which
// starts it when it is not running yet. One per test program.
class AccessibilityBus {
public:
    AccessibilityBus();
    ~AccessibilityBus();
    AccessibilityBus(const AccessibilityBus&) = delete;
    AccessibilityBus& operator=(const AccessibilityBus&) = delete;

    bool connected() const { return connected_; }
    // The accessible application of the process `pid`, if it has registered.
    std::optional<AccessibleElement> application(int pid) const;

private:
    bool connected_ = false;
};

// What the program tells a listening screen reader: the "showing" changes it reports, each as
// the role and name of the element that came to show, from the moment this listens on. The
// events arrive while this program runs its events.
class ShowingEvents {
public:
    ShowingEvents();
    ~ShowingEvents();
    ShowingEvents(const ShowingEvents&) = delete;
    ShowingEvents& operator=(const ShowingEvents&) = delete;

    bool listening() const { return listener_ != nullptr; }
    // "[role] name" of each element that came to show, oldest first.
    const std::vector<std::string>& shown() const { return shown_; }

private:
    void* listener_ = nullptr; // an AtspiEventListener
    std::vector<std::string> shown_;
};

} // namespace nuvel::test
