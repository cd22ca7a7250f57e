#pragma once

#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Url.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// A calendar event that is worth showing as a meeting: cleaned texts, capped attendee lists and
// the video link found in it.
struct CalendarMeeting {
    enum class Provider { zoom, teams, meet, webex, facetime };

    std::string id;
    std::string title; // may be empty: the screens show "Untitled meeting" then
    Date start;
    Date end;
    std::vector<std::string> attendees;      // display names
    std::vector<std::string> attendeeEmails; // normalised addresses
    std::string location;
    std::optional<Url> videoURL;
    std::optional<Provider> provider; // present exactly when videoURL is

    bool operator==(const CalendarMeeting&) const = default;
};

// "zoom", "teams", "meet", "webex", "facetime".
std::string_view rawValue(CalendarMeeting::Provider provider);
// The provider with exactly that raw value; nothing for any other text.
std::optional<CalendarMeeting::Provider> providerFromRawValue(std::string_view raw);
// The provider's own name, the same in every language: "Zoom", "Microsoft Teams", "Google Meet",
// "Webex", "FaceTime".
std::string_view displayName(CalendarMeeting::Provider provider);

} // namespace nuvel
