#pragma once

#include "Nuvel/model/CalendarStore.hpp"

#include <memory>

namespace nuvel {

// The user's calendars in Evolution Data Server: every enabled calendar source of the source
// registry, the occurrences of its events in a time window, and change reports from a view on
// each calendar and from the registry.
//
// Access: full when the source registry answers on the session bus; denied when there is no
// session bus or no registry service on it. The store never has to ask the user.
//
// All GLib and EDS work runs on one thread of the store's own; the blocking operations wait for
// it. The first operation connects to the registry.
class EdsCalendarStore final : public CalendarStore {
public:
    EdsCalendarStore();
    // Stops the change reports and the store's thread (waiting for the operation under way).
    ~EdsCalendarStore() override;
    EdsCalendarStore(const EdsCalendarStore&) = delete;
    EdsCalendarStore& operator=(const EdsCalendarStore&) = delete;

    CalendarAuthorization authorizationStatus() override;
    bool requestFullAccess() override;
    std::vector<CalendarStoreEvent> events(Date start, Date end) override;
    // The handler runs on the store's thread; once an empty handler has been set, the old one
    // is not running and is never called again. It must not call back into the store.
    void observeChanges(std::function<void()> handler) override;

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

} // namespace nuvel
