// No Qt here: GLib's headers clash with Qt's keywords.
#include "Nuvel/platform/EdsCalendarStore.hpp"

#include "Nuvel/platform/EdsEventReading.hpp"
#include "Nuvel/platform/GlibWorker.hpp"

#include <cmath>
#include <ctime>
#include <libecal/libecal.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace nuvel {
namespace {

constexpr const char* registryBusName = "org.gnome.evolution.dataserver.Sources5";
// How long a calendar's backend may take to come up before that calendar is left out.
constexpr guint32 calendarConnectSeconds = 5;
constexpr int busCallMilliseconds = 5000;

// The outcome of an asynchronous GLib call, filled in by its callback on the worker.
template <class T> struct Pending {
    T* value = nullptr;
    bool done = false;
};

std::string sourceUID(ESource* source) {
    return e_source_get_uid(source);
}

} // namespace

struct EdsCalendarStore::Connection {
    struct Calendar {
        ECalClient* client = nullptr;
        ECalClientView* view = nullptr;
        bool backendDied = false;
    };

    GlibWorker worker;
    // Worker thread only.
    ESourceRegistry* registry = nullptr;
    std::map<std::string, Calendar> calendars;
    bool watching = false;

    std::mutex handlerLock;
    std::function<void()> handler;

    ~Connection() {
        worker.stop([this] {
            for (auto& [uid, calendar] : calendars)
                release(calendar);
            calendars.clear();
            if (registry != nullptr) {
                g_signal_handlers_disconnect_by_data(registry, this);
                g_object_unref(registry);
                registry = nullptr;
            }
        });
    }

    void changed() {
        std::lock_guard guard(handlerLock);
        if (handler)
            handler();
    }

    static void onRegistryChange(ESourceRegistry*, ESource* source, gpointer self) {
        if (e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR))
            static_cast<Connection*>(self)->changed();
    }
    static void onViewChange(ECalClientView*, gpointer, gpointer self) {
        static_cast<Connection*>(self)->changed();
    }
    static void onBackendDied(EClient* client, gpointer self) {
        auto* connection = static_cast<Connection*>(self);
        for (auto& [uid, calendar] : connection->calendars)
            if (E_CLIENT(calendar.client) == client)
                calendar.backendDied = true;
        connection->changed();
    }

    // The registry, connected and with its service on the bus; null when there is none.
    ESourceRegistry* ensureRegistry() {
        if (registry != nullptr)
            return registry;
        Pending<ESourceRegistry> pending;
        e_source_registry_new(
            nullptr,
            [](GObject*, GAsyncResult* result, gpointer data) {
                auto* p = static_cast<Pending<ESourceRegistry>*>(data);
                p->value = e_source_registry_new_finish(result, nullptr);
                p->done = true;
            },
            &pending);
        worker.iterateUntil([&] { return pending.done; });
        if (pending.value == nullptr)
            return nullptr;
        // Without the registry service the connection still "succeeds": ask the bus itself.
        if (!registryServiceRuns()) {
            g_object_unref(pending.value);
            return nullptr;
        }
        registry = pending.value;
        for (const char* signal : {"source-added", "source-removed", "source-enabled", "source-disabled"})
            g_signal_connect(registry, signal, G_CALLBACK(&Connection::onRegistryChange), this);
        return registry;
    }

    static bool registryServiceRuns() {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (bus == nullptr)
            return false;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
            g_variant_new("(s)", registryBusName), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
            busCallMilliseconds, nullptr, nullptr);
        g_object_unref(bus);
        if (reply == nullptr)
            return false;
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
        return owned;
    }

    void release(Calendar& calendar) {
        if (calendar.view != nullptr) {
            g_signal_handlers_disconnect_by_data(calendar.view, this);
            e_cal_client_view_stop(calendar.view, nullptr);
            g_object_unref(calendar.view);
            calendar.view = nullptr;
        }
        if (calendar.client != nullptr) {
            g_signal_handlers_disconnect_by_data(calendar.client, this);
            g_object_unref(calendar.client);
            calendar.client = nullptr;
        }
    }

    // The enabled calendars, each connected when it can be; those that cannot are left out
    // this time. Calendars that went away are forgotten.
    std::vector<std::pair<std::string, Calendar*>> connectCalendars() {
        std::vector<std::pair<std::string, Calendar*>> connected;
        GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
        std::set<std::string> enabled;
        for (GList* item = sources; item != nullptr; item = item->next)
            enabled.insert(sourceUID(E_SOURCE(item->data)));
        for (auto it = calendars.begin(); it != calendars.end();) {
            if (!enabled.contains(it->first) || it->second.backendDied) {
                release(it->second);
                it = calendars.erase(it);
            } else {
                ++it;
            }
        }
        for (GList* item = sources; item != nullptr; item = item->next) {
            ESource* source = E_SOURCE(item->data);
            const std::string uid = sourceUID(source);
            Calendar& calendar = calendars[uid];
            if (calendar.client == nullptr)
                calendar.client = connect(source);
            if (calendar.client == nullptr) {
                calendars.erase(uid);
                continue;
            }
            if (watching)
                watch(calendar);
            connected.emplace_back(uid, &calendar);
        }
        g_list_free_full(sources, g_object_unref);
        return connected;
    }

    ECalClient* connect(ESource* source) {
        Pending<EClient> pending;
        e_cal_client_connect(
            source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, calendarConnectSeconds, nullptr,
            [](GObject*, GAsyncResult* result, gpointer data) {
                auto* p = static_cast<Pending<EClient>*>(data);
                p->value = e_cal_client_connect_finish(result, nullptr);
                p->done = true;
            },
            &pending);
        worker.iterateUntil([&] { return pending.done; });
        if (pending.value == nullptr)
            return nullptr;
        ECalClient* client = E_CAL_CLIENT(pending.value);
        e_cal_client_set_default_timezone(client, eds::localTimezone());
        g_signal_connect(client, "backend-died", G_CALLBACK(&Connection::onBackendDied), this);
        return client;
    }

    void watch(Calendar& calendar) {
        if (calendar.view != nullptr)
            return;
        ECalClientView* view = nullptr;
        if (!e_cal_client_get_view_sync(calendar.client, "#t", &view, nullptr, nullptr) || view == nullptr)
            return;
        // Only later changes: the objects already there were read with the events.
        e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
        GSList uidOnly = {const_cast<char*>("UID"), nullptr};
        e_cal_client_view_set_fields_of_interest(view, &uidOnly, nullptr);
        for (const char* signal : {"objects-added", "objects-modified", "objects-removed"})
            g_signal_connect(view, signal, G_CALLBACK(&Connection::onViewChange), this);
        e_cal_client_view_start(view, nullptr);
        calendar.view = view;
    }

    void setWatching(bool on) {
        watching = on;
        if (!on) {
            for (auto& [uid, calendar] : calendars)
                if (calendar.view != nullptr) {
                    g_signal_handlers_disconnect_by_data(calendar.view, this);
                    e_cal_client_view_stop(calendar.view, nullptr);
                    g_object_unref(calendar.view);
                    calendar.view = nullptr;
                }
            return;
        }
        if (ensureRegistry() != nullptr)
            connectCalendars();
    }

    // The user's own addresses: those of the mail identities and those the calendars name.
    std::set<std::string> ownAddresses(const std::vector<std::pair<std::string, Calendar*>>& connected) {
        std::set<std::string> addresses;
        GList* identities = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_MAIL_IDENTITY);
        for (GList* item = identities; item != nullptr; item = item->next) {
            auto* identity = static_cast<ESourceMailIdentity*>(
                e_source_get_extension(E_SOURCE(item->data), E_SOURCE_EXTENSION_MAIL_IDENTITY));
            if (const char* address = e_source_mail_identity_get_address(identity);
                address != nullptr && *address)
                addresses.insert(eds::comparableAddress(address));
        }
        g_list_free_full(identities, g_object_unref);
        for (const auto& [uid, calendar] : connected) {
            gchar* address = nullptr;
            if (e_client_get_backend_property_sync(E_CLIENT(calendar->client),
                                                   E_CAL_BACKEND_PROPERTY_CAL_EMAIL_ADDRESS, &address,
                                                   nullptr, nullptr) &&
                address != nullptr && *address != '\0')
                addresses.insert(eds::comparableAddress(address));
            g_free(address);
        }
        return addresses;
    }

    std::vector<CalendarStoreEvent> read(Date from, Date to) {
        if (ensureRegistry() == nullptr)
            throw CalendarStoreError("the calendar service is not running");
        const auto connected = connectCalendars();
        struct Collect {
            std::vector<CalendarStoreEvent> events;
            const std::string* sourceUID = nullptr;
            std::set<std::string> ownAddresses;
        } collect;
        collect.ownAddresses = ownAddresses(connected);
        const auto start = static_cast<time_t>(std::floor(from.unixSeconds()));
        const auto end = static_cast<time_t>(std::ceil(to.unixSeconds()));
        for (const auto& [uid, calendar] : connected) {
            collect.sourceUID = &uid;
            e_cal_client_generate_instances_sync(
                calendar->client, start, end, nullptr,
                [](ICalComponent* component, ICalTime* instanceStart, ICalTime* instanceEnd, gpointer data,
                   GCancellable*, GError**) -> gboolean {
                    auto* c = static_cast<Collect*>(data);
                    c->events.push_back(eds::readOccurrence(component, instanceStart, instanceEnd,
                                                            *c->sourceUID, c->ownAddresses,
                                                            c->events.size()));
                    return TRUE;
                },
                &collect);
        }
        return std::move(collect.events);
    }
};

EdsCalendarStore::EdsCalendarStore() : connection_(std::make_unique<Connection>()) {}

EdsCalendarStore::~EdsCalendarStore() {
    observeChanges({});
    connection_.reset();
}

CalendarAuthorization EdsCalendarStore::authorizationStatus() {
    try {
        return connection_->worker.call([this] {
            return connection_->ensureRegistry() != nullptr ? CalendarAuthorization::fullAccess
                                                            : CalendarAuthorization::denied;
        });
    } catch (const GlibWorker::Stopped&) {
        return CalendarAuthorization::denied;
    }
}

bool EdsCalendarStore::requestFullAccess() {
    return authorizationStatus() == CalendarAuthorization::fullAccess;
}

std::vector<CalendarStoreEvent> EdsCalendarStore::events(Date start, Date end) {
    try {
        return connection_->worker.call([this, start, end] { return connection_->read(start, end); });
    } catch (const GlibWorker::Stopped&) {
        throw CalendarStoreError("the calendar store is closed");
    }
}

void EdsCalendarStore::observeChanges(std::function<void()> handler) {
    const bool on = static_cast<bool>(handler);
    {
        std::lock_guard guard(connection_->handlerLock);
        connection_->handler = std::move(handler);
    }
    try {
        Connection* connection = connection_.get();
        connection_->worker.post([connection, on] { connection->setWatching(on); });
    } catch (const GlibWorker::Stopped&) {
        // Closing: nothing is watched any more.
    }
}

} // namespace nuvel
