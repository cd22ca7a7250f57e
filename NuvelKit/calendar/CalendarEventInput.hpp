#pragma once

#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Url.hpp"

#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// One calendar event as the calendar store reported it, before it is turned into a meeting.
// Texts are raw: nothing is trimmed, cut or checked yet.
struct CalendarEventInput {
    struct Person {
        std::string name;                 // empty when unknown
        std::optional<std::string> email; // the participant's mail URL text ("mailto:…"), if any
        bool isCurrentUser = false;
        bool declined = false;

        bool operator==(const Person&) const = default;
    };

    std::string id; // occurrences of a recurring event share it
    std::string title;
    Date start;
    Date end;
    bool isAllDay = false;
    bool isCanceled = false;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    std::optional<Url> url;
    std::optional<Person> organizer;
    std::vector<Person> attendees;

    bool operator==(const CalendarEventInput&) const = default;
};

} // namespace nuvel
