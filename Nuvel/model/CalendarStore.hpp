#pragma once

#include "NuvelKit/support/Error.hpp"
#include "NuvelKit/support/Time.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// Whether the calendar store lets this application read the user's events.
enum class CalendarAuthorization { notDetermined, fullAccess, denied };

// One participant of a stored event, as the store holds it.
struct CalendarStoreParticipant {
    std::optional<std::string> url; // the participant's address URL ("mailto:…"), as stored
    std::optional<std::string> name;
    bool isCurrentUser = false;
    bool declined = false;
};

// One event (or one occurrence of a recurring event) as the store reports it.
struct CalendarStoreEvent {
    std::optional<std::string> eventIdentifier; // shared by the occurrences of one event
    std::string calendarItemIdentifier;         // stands in when there is no event identifier
    std::optional<std::string> title;
    Date start;
    Date end;
    bool isAllDay = false;
    bool isCanceled = false;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    std::optional<std::string> url;
    std::optional<CalendarStoreParticipant> organizer;
    std::vector<CalendarStoreParticipant> attendees;
};

// A store that could not be read.
class CalendarStoreError : public Error {
public:
    using Error::Error;
};

// The system's calendars. Every operation but `observeChanges` may block (it may talk to a
// calendar service): call them on a worker, never on the main thread.
class CalendarStore {
public:
    virtual ~CalendarStore() = default;

    virtual CalendarAuthorization authorizationStatus() = 0;
    // Asks for full access; true when it was granted.
    virtual bool requestFullAccess() = 0;
    // The events and occurrences that overlap [start, end) in all calendars, in the store's
    // order. Throws CalendarStoreError when the store cannot be read at all; a calendar that
    // cannot be read is left out.
    virtual std::vector<CalendarStoreEvent> events(Date start, Date end) = 0;
    // Calls `handler` (on any thread) whenever the stored events or the set of calendars may
    // have changed; an empty handler stops the reports. Returns at once.
    virtual void observeChanges(std::function<void()> handler) = 0;
};

} // namespace nuvel
