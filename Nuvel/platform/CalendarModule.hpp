#pragma once

#include "Nuvel/model/CalendarStore.hpp"

#include <memory>

namespace nuvel {

// The user's calendars through the calendar module beside the executable (nuvel-calendar.so,
// Evolution Data Server's client), loaded when the calendar is first turned to. Null when the
// module cannot be loaded: the calendar service then reports its access as denied.
std::shared_ptr<CalendarStore> makeProgramCalendarStore();

// Raised whenever CalendarStore changes, so a module of another build is refused.
inline constexpr int calendarModuleInterface = 1;

} // namespace nuvel
