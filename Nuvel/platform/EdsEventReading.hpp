#pragma once

// No Qt here: GLib's headers clash with Qt's keywords.

#include "Nuvel/model/CalendarStore.hpp"

#include <libecal/libecal.h>
#include <set>
#include <string>

namespace nuvel::eds {

// The zone of the system's wall clock, for times written without one; UTC when unknown.
ICalTimezone* localTimezone();

// A participant address ("mailto:Jane@Example.com") as compared with the user's own addresses:
// without the mail scheme, lower-cased.
std::string comparableAddress(const char* calAddress);

// One occurrence of an event, read from its component and its start and end as the recurrence
// expansion gave them. `sourceUID` names the calendar; `ownAddresses` are the user's addresses
// in comparable form; `position` stands in for the id of an event that has none.
CalendarStoreEvent readOccurrence(ICalComponent* component, ICalTime* start, ICalTime* end,
                                  const std::string& sourceUID, const std::set<std::string>& ownAddresses,
                                  std::size_t position);

} // namespace nuvel::eds
