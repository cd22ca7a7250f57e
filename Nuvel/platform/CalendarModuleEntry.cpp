// The one symbol of the calendar module (nuvel-calendar.so), resolved when the program first
// turns to the calendar; Evolution Data Server's client libraries come in with it.
#include "Nuvel/platform/CalendarModule.hpp"
#include "Nuvel/platform/EdsCalendarStore.hpp"

extern "C" __attribute__((visibility("default"))) nuvel::CalendarStore*
nuvel_calendar_store(int interfaceVersion) {
    if (interfaceVersion != nuvel::calendarModuleInterface)
        return nullptr;
    return new nuvel::EdsCalendarStore();
}
