#include "Nuvel/platform/CalendarModule.hpp"

#include "Nuvel/platform/ProgramModule.hpp"

namespace nuvel {

std::shared_ptr<CalendarStore> makeProgramCalendarStore() {
    ProgramModuleEntry entry = loadProgramModule("nuvel-calendar.so", "nuvel_calendar_store");
    if (entry.symbol == nullptr)
        return nullptr;
    CalendarStore* store = reinterpret_cast<CalendarStore* (*)(int)>(entry.symbol)(calendarModuleInterface);
    return std::shared_ptr<CalendarStore>(store);
}

} // namespace nuvel
