#pragma once

#include "NuvelKit/calendar/CalendarMeeting.hpp"

#include <string>
#include <vector>

namespace nuvel {

// What a new recording copies from the calendar meeting it was started for.
struct CalendarMeetingDetails {
    std::vector<std::string> attendees;
    std::vector<std::string> attendeeEmails;
    std::string location;

    bool operator==(const CalendarMeetingDetails&) const = default;
};

// The parts of a calendar meeting that a recording started for it keeps.
inline CalendarMeetingDetails calendarMeetingDetails(const CalendarMeeting& meeting) {
    return {meeting.attendees, meeting.attendeeEmails, meeting.location};
}

} // namespace nuvel
