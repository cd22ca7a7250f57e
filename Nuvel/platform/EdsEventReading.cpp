// No Qt here: GLib's headers clash with Qt's keywords.
#include "Nuvel/platform/EdsEventReading.hpp"

#include "NuvelKit/support/Time.hpp"

#include <cctype>
#include <ctime>

namespace nuvel::eds {
namespace {

std::optional<std::string> text(const char* value) {
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

Date dateOf(ICalTime* time) {
    ICalTimezone* zone =
        i_cal_time_is_utc(time) ? i_cal_timezone_get_utc_timezone() : i_cal_time_get_timezone(time);
    if (zone == nullptr)
        zone = localTimezone(); // a floating time: the wall clock's
    return Date::fromUnix(static_cast<double>(i_cal_time_as_timet_with_zone(time, zone)));
}

std::optional<std::string> urlProperty(ICalComponent* component) {
    ICalProperty* property = i_cal_component_get_first_property(component, I_CAL_URL_PROPERTY);
    if (property == nullptr)
        return std::nullopt;
    std::optional<std::string> value = text(i_cal_property_get_url(property));
    g_object_unref(property);
    return value;
}

CalendarStoreParticipant participant(ICalProperty* property, const char* address,
                                     const std::set<std::string>& ownAddresses) {
    CalendarStoreParticipant p;
    p.url = text(address);
    if (gchar* name = i_cal_property_get_parameter_as_string(property, "CN")) {
        p.name = std::string(name);
        g_free(name);
    }
    if (ICalParameter* status = i_cal_property_get_first_parameter(property, I_CAL_PARTSTAT_PARAMETER)) {
        p.declined = i_cal_parameter_get_partstat(status) == I_CAL_PARTSTAT_DECLINED;
        g_object_unref(status);
    }
    p.isCurrentUser = address != nullptr && ownAddresses.contains(comparableAddress(address));
    return p;
}

} // namespace

ICalTimezone* localTimezone() {
    static ICalTimezone* zone = [] {
        const std::string name = systemTimeZoneName();
        ICalTimezone* found = name == "UTC" ? nullptr : i_cal_timezone_get_builtin_timezone(name.c_str());
        return found != nullptr ? found : i_cal_timezone_get_utc_timezone();
    }();
    return zone;
}

std::string comparableAddress(const char* calAddress) {
    std::string address(calAddress);
    if (address.size() >= 7 && g_ascii_strncasecmp(address.c_str(), "mailto:", 7) == 0)
        address.erase(0, 7);
    for (char& c : address)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return address;
}

CalendarStoreEvent readOccurrence(ICalComponent* component, ICalTime* start, ICalTime* end,
                                  const std::string& sourceUID, const std::set<std::string>& ownAddresses,
                                  std::size_t position) {
    CalendarStoreEvent event;
    const char* uid = i_cal_component_get_uid(component);
    if (uid != nullptr && *uid != '\0')
        event.eventIdentifier = sourceUID + "/" + uid;
    event.calendarItemIdentifier = sourceUID + "/#" + std::to_string(position);
    event.title = text(i_cal_component_get_summary(component));
    event.start = dateOf(start);
    event.end = dateOf(end);
    event.isAllDay = i_cal_time_is_date(start);
    event.isCanceled = i_cal_component_get_status(component) == I_CAL_STATUS_CANCELLED;
    event.location = text(i_cal_component_get_location(component));
    event.notes = text(i_cal_component_get_description(component));
    event.url = urlProperty(component);

    if (ICalProperty* organizer = i_cal_component_get_first_property(component, I_CAL_ORGANIZER_PROPERTY)) {
        event.organizer = participant(organizer, i_cal_property_get_organizer(organizer), ownAddresses);
        g_object_unref(organizer);
    }
    for (ICalProperty* attendee = i_cal_component_get_first_property(component, I_CAL_ATTENDEE_PROPERTY);
         attendee != nullptr;
         attendee = i_cal_component_get_next_property(component, I_CAL_ATTENDEE_PROPERTY)) {
        event.attendees.push_back(participant(attendee, i_cal_property_get_attendee(attendee), ownAddresses));
        g_object_unref(attendee);
    }
    return event;
}

} // namespace nuvel::eds
