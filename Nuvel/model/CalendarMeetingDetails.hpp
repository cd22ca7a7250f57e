#pragma once

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

} // namespace nuvel
