#pragma once

#include "NuvelKit/calendar/CalendarMeeting.hpp"
#include "NuvelKit/detection/MeetingApp.hpp"

#include <optional>
#include <string>

namespace nuvel {

// What a meeting prompt hands to the new-recording sheet: the meeting application in use and
// the identifier of the application that uses the microphone (from the microphone prompt), and
// the calendar meeting the recording is for (from either prompt or a "Coming up" row).
struct RecordingSuggestion {
    std::optional<MeetingApp> app;
    std::optional<std::string> bundleID;
    std::optional<CalendarMeeting> meeting;

    bool operator==(const RecordingSuggestion&) const = default;
};

// The meeting application that serves a calendar meeting's video provider: Google Meet runs in
// a web browser, the others in their own applications.
constexpr MeetingApp meetingAppForProvider(CalendarMeeting::Provider provider) {
    switch (provider) {
    case CalendarMeeting::Provider::zoom:
        return MeetingApp::zoom;
    case CalendarMeeting::Provider::teams:
        return MeetingApp::teams;
    case CalendarMeeting::Provider::meet:
        return MeetingApp::browser;
    case CalendarMeeting::Provider::webex:
        return MeetingApp::webex;
    case CalendarMeeting::Provider::facetime:
        break;
    }
    return MeetingApp::facetime;
}

} // namespace nuvel
