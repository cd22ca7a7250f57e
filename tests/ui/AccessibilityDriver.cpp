#include "tests/ui/AccessibilityDriver.hpp"

#include <algorithm>
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <sstream>

namespace nuvel::test {

namespace {

AtspiAccessible* raw(const std::shared_ptr<void>& object) {
    return static_cast<AtspiAccessible*>(object.get());
}

std::shared_ptr<void> adopt(AtspiAccessible* accessible) {
    return std::shared_ptr<void>(accessible, [](void* p) {
        if (p != nullptr)
            g_object_unref(p);
    });
}

// Takes a GLib string, frees it, and drops any error.
std::string taken(gchar* text, GError*& error) {
    std::string result = text != nullptr ? text : "";
    g_free(text);
    g_clear_error(&error);
    return result;
}

bool hasState(AtspiAccessible* accessible, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (states == nullptr)
        return false;
    const bool has = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return has;
}

bool matches(const AccessibleElement& element, const AccessibleQuery& query) {
    if (!query.role.empty() && element.role() != query.role)
        return false;
    if (!query.name.empty()) {
        const std::string name = element.name();
        if (query.prefix ? name.rfind(query.name, 0) != 0 : name != query.name)
            return false;
    }
    return query.hiddenToo || element.showing();
}

void collect(const AccessibleElement& element, const AccessibleQuery& query, bool firstOnly, int depth,
             std::vector<AccessibleElement>& found) {
    if (depth > 40)
        return;
    // A hidden element hides its whole subtree.
    if (!query.hiddenToo && depth > 0 && !element.showing())
        return;
    if (matches(element, query)) {
        found.push_back(element);
        if (firstOnly)
            return;
    }
    for (const AccessibleElement& child : element.children()) {
        collect(child, query, firstOnly, depth + 1, found);
        if (firstOnly && !found.empty())
            return;
    }
}

void describeInto(const AccessibleElement& element, int depth, std::ostringstream& out) {
    if (depth > 40)
        return;
    out << std::string(std::size_t(depth) * 2, ' ') << '[' << element.role() << "] \"" << element.name()
        << '"';
    if (!element.showing())
        out << " (hidden)";
    if (!element.enabled())
        out << " (disabled)";
    for (const std::string& action : element.actions())
        out << " " << action;
    out << '\n';
    for (const AccessibleElement& child : element.children())
        describeInto(child, depth + 1, out);
}

} // namespace

std::string AccessibleElement::name() const {
    GError* error = nullptr;
    return taken(atspi_accessible_get_name(raw(object_), &error), error);
}

std::string AccessibleElement::description() const {
    GError* error = nullptr;
    return taken(atspi_accessible_get_description(raw(object_), &error), error);
}

std::string AccessibleElement::role() const {
    GError* error = nullptr;
    return taken(atspi_accessible_get_role_name(raw(object_), &error), error);
}

std::string AccessibleElement::text() const {
    AtspiText* text = atspi_accessible_get_text_iface(raw(object_));
    if (text == nullptr)
        return name();
    GError* error = nullptr;
    std::string result = taken(atspi_text_get_text(text, 0, -1, &error), error);
    g_object_unref(text);
    return result;
}

std::string AccessibleElement::selectedText() const {
    AtspiText* text = atspi_accessible_get_text_iface(raw(object_));
    if (text == nullptr)
        return {};
    GError* error = nullptr;
    std::string result;
    if (atspi_text_get_n_selections(text, &error) > 0) {
        AtspiRange* range = atspi_text_get_selection(text, 0, &error);
        if (range != nullptr) {
            result = taken(atspi_text_get_text(text, range->start_offset, range->end_offset, &error), error);
            g_free(range);
        }
    }
    g_clear_error(&error);
    g_object_unref(text);
    return result;
}

bool AccessibleElement::showing() const {
    return hasState(raw(object_), ATSPI_STATE_SHOWING);
}

bool AccessibleElement::enabled() const {
    return hasState(raw(object_), ATSPI_STATE_ENABLED);
}

bool AccessibleElement::pressed() const {
    return hasState(raw(object_), ATSPI_STATE_PRESSED);
}

bool AccessibleElement::focused() const {
    return hasState(raw(object_), ATSPI_STATE_FOCUSED);
}

bool AccessibleElement::focusable() const {
    return hasState(raw(object_), ATSPI_STATE_FOCUSABLE);
}

bool AccessibleElement::checked() const {
    return hasState(raw(object_), ATSPI_STATE_CHECKED);
}

bool AccessibleElement::selected() const {
    return hasState(raw(object_), ATSPI_STATE_SELECTED);
}

bool AccessibleElement::readOnly() const {
    return hasState(raw(object_), ATSPI_STATE_READ_ONLY);
}

bool AccessibleElement::hasText() const {
    AtspiText* text = atspi_accessible_get_text_iface(raw(object_));
    if (text == nullptr)
        return false;
    g_object_unref(text);
    return true;
}

std::optional<std::array<int, 4>> AccessibleElement::box() const {
    AtspiComponent* component = atspi_accessible_get_component_iface(raw(object_));
    if (component == nullptr)
        return std::nullopt;
    GError* error = nullptr;
    AtspiRect* extents = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    const bool failed = error != nullptr || extents == nullptr || extents->width <= 0 || extents->height <= 0;
    g_clear_error(&error);
    std::optional<std::array<int, 4>> found;
    if (!failed)
        found = std::array<int, 4>{extents->x, extents->y, extents->width, extents->height};
    g_free(extents);
    return found;
}

std::optional<std::pair<int, int>> AccessibleElement::centre() const {
    const std::optional<std::array<int, 4>> extents = box();
    if (!extents)
        return std::nullopt;
    return std::pair{(*extents)[0] + (*extents)[2] / 2, (*extents)[1] + (*extents)[3] / 2};
}

int AccessibleElement::processID() const {
    GError* error = nullptr;
    const guint pid = atspi_accessible_get_process_id(raw(object_), &error);
    const bool failed = error != nullptr;
    g_clear_error(&error);
    return failed ? -1 : int(pid);
}

std::vector<AccessibleElement> AccessibleElement::children() const {
    std::vector<AccessibleElement> result;
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(raw(object_), &error);
    g_clear_error(&error);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(raw(object_), i, &error);
        g_clear_error(&error);
        if (child != nullptr)
            result.emplace_back(adopt(child));
    }
    return result;
}

std::optional<AccessibleElement> AccessibleElement::parent() const {
    GError* error = nullptr;
    AtspiAccessible* parent = atspi_accessible_get_parent(raw(object_), &error);
    g_clear_error(&error);
    if (parent == nullptr)
        return std::nullopt;
    return AccessibleElement(adopt(parent));
}

std::optional<AccessibleElement> AccessibleElement::find(const AccessibleQuery& query) const {
    std::vector<AccessibleElement> found;
    collect(*this, query, true, 0, found);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

std::vector<AccessibleElement> AccessibleElement::findAll(const AccessibleQuery& query) const {
    std::vector<AccessibleElement> found;
    collect(*this, query, false, 0, found);
    return found;
}

std::vector<std::string> AccessibleElement::actions() const {
    std::vector<std::string> names;
    AtspiAction* actions = atspi_accessible_get_action_iface(raw(object_));
    if (actions == nullptr)
        return names;
    GError* error = nullptr;
    const gint count = atspi_action_get_n_actions(actions, &error);
    g_clear_error(&error);
    for (gint i = 0; i < count; ++i)
        names.push_back(taken(atspi_action_get_action_name(actions, i, &error), error));
    g_object_unref(actions);
    return names;
}

bool AccessibleElement::perform(const std::string& action) const {
    const std::vector<std::string> names = actions();
    const auto found = std::find(names.begin(), names.end(), action);
    if (found == names.end())
        return false;
    const auto index = dbus_int32_t(found - names.begin());
    // The call libatspi makes (Action.DoAction), sent without waiting for its reply.
    const AtspiObject* object = ATSPI_OBJECT(raw(object_));
    DBusMessage* message = dbus_message_new_method_call(object->app->bus_name, object->path,
                                                        "org.a11y.atspi.Action", "DoAction");
    if (message == nullptr)
        return false;
    dbus_message_append_args(message, DBUS_TYPE_INT32, &index, DBUS_TYPE_INVALID);
    dbus_message_set_no_reply(message, TRUE);
    const bool sent = dbus_connection_send(object->app->bus, message, nullptr);
    dbus_connection_flush(object->app->bus);
    dbus_message_unref(message);
    return sent;
}

bool AccessibleElement::setText(const std::string& text) const {
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(raw(object_));
    if (editable == nullptr)
        return false;
    GError* error = nullptr;
    const bool done =
        atspi_editable_text_set_text_contents(editable, text.c_str(), &error) && error == nullptr;
    g_clear_error(&error);
    g_object_unref(editable);
    return done;
}

std::string AccessibleElement::describe() const {
    std::ostringstream out;
    describeInto(*this, 0, out);
    return out.str();
}

AccessibilityBus::AccessibilityBus() {
    connected_ = atspi_init() <= 1; // 1: already initialised
}

AccessibilityBus::~AccessibilityBus() {
    if (connected_)
        atspi_exit();
}

namespace {

void noteShowing(AtspiEvent* event, void* data) {
    auto* shown = static_cast<std::vector<std::string>*>(data);
    if (event->detail1 == 1 && event->source != nullptr) {
        GError* error = nullptr;
        const std::string role = taken(atspi_accessible_get_role_name(event->source, &error), error);
        const std::string name = taken(atspi_accessible_get_name(event->source, &error), error);
        shown->push_back("[" + role + "] " + name);
    }
    g_boxed_free(ATSPI_TYPE_EVENT, event);
}

} // namespace

ShowingEvents::ShowingEvents() {
    AtspiEventListener* listener = atspi_event_listener_new(noteShowing, &shown_, nullptr);
    GError* error = nullptr;
    if (atspi_event_listener_register(listener, "object:state-changed:showing", &error) && error == nullptr)
        listener_ = listener;
    else
        g_object_unref(listener);
    g_clear_error(&error);
}

ShowingEvents::~ShowingEvents() {
    if (listener_ == nullptr)
        return;
    auto* listener = static_cast<AtspiEventListener*>(listener_);
    GError* error = nullptr;
    atspi_event_listener_deregister(listener, "object:state-changed:showing", &error);
    g_clear_error(&error);
    g_object_unref(listener);
}

std::optional<AccessibleElement> AccessibilityBus::application(int pid) const {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (desktop == nullptr)
        return std::nullopt;
    const AccessibleElement root(adopt(desktop));
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(desktop, &error);
    g_clear_error(&error);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, &error);
        g_clear_error(&error);
        if (application == nullptr)
            continue;
        AccessibleElement element(adopt(application));
        if (element.processID() != pid)
            continue;
        // Nothing cached: every question goes to the program, which changes under the test.
        atspi_accessible_set_cache_mask(application, ATSPI_CACHE_NONE);
        atspi_accessible_clear_cache(application);
        return element;
    }
    return std::nullopt;
}

} // namespace nuvel::test
