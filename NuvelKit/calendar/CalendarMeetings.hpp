#pragma once

// The questions the application asks of calendar events and meetings: which events are
// meetings, which meeting is on now, which to list as coming up and which to remind of. Pure
// functions of their arguments; none throws.

#include "NuvelKit/calendar/CalendarEventInput.hpp"
#include "NuvelKit/calendar/CalendarMeeting.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Url.hpp"

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel::CalendarMeetings {

// Names and addresses kept per meeting.
inline constexpr std::size_t attendeeLimit = 50;
// How far ahead a meeting counts as the one going on now.
inline constexpr double startingSoonWindow = 300;
// Character limits of the cleaned texts.
inline constexpr std::size_t titleLimit = 200;
inline constexpr std::size_t nameLimit = 80;
// The longest address kept, in characters.
inline constexpr std::size_t emailLimit = 254;

// The meeting an event stands for; nothing for an all-day, cancelled or empty event and for one
// the current user declined. Declined participants are left out of the attendee lists; the
// organizer comes first.
std::optional<CalendarMeeting> meeting(const CalendarEventInput& event);

// The first video link in the texts (absent ones skipped): earlier texts win, and within one
// text the provider table's order (Zoom, Teams, Meet, Webex, FaceTime) decides.
std::optional<std::pair<Url, CalendarMeeting::Provider>>
videoLink(const std::vector<std::optional<std::string>>& texts);

// The "Coming up" list: meetings not yet ended that start within `within` seconds of `now`,
// by start (then id), at most `limit` of them.
std::vector<CalendarMeeting> upcoming(const std::vector<CalendarMeeting>& meetings, Date now,
                                      std::size_t limit, double within);

// The meeting going on now (the one that began last), else the one starting soonest within
// `startingSoonWindow`; ties go to the greatest id in progress and the smallest id ahead.
std::optional<CalendarMeeting> current(const std::vector<CalendarMeeting>& meetings, Date now);

// Meetings with a video link, not yet announced, that start after `now` and at most `lead`
// seconds from it; earliest first.
std::vector<CalendarMeeting> dueReminders(const std::vector<CalendarMeeting>& meetings, Date now,
                                          const std::set<std::string>& announced, double lead);

// "<id>@<start as whole seconds since 1970>": a moved meeting gets a fresh key, and so does each
// occurrence of a recurring event.
std::string reminderKey(const CalendarMeeting& meeting);

// The clean, lower-case address in a participant's mail URL text, or nothing when it is not a
// plausible address (also when it holds control or format characters, decoded or not).
std::optional<std::string> normalizedEmail(std::string_view text);

// One line with single spaces (control and format characters count as spaces), cut to `limit`
// user-perceived characters.
std::string cleanTitle(std::string_view text, std::size_t limit);

} // namespace nuvel::CalendarMeetings
