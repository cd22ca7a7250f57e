#include "NuvelKit/calendar/CalendarMeetings.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace nuvel::CalendarMeetings {
namespace {

bool startsEarlier(const CalendarMeeting& a, const CalendarMeeting& b) {
    if (a.start != b.start)
        return a.start < b.start;
    return a.id < b.id;
}

double secondsBetween(Date from, Date to) {
    return to.sinceReferenceDate - from.sinceReferenceDate;
}

} // namespace

std::optional<CalendarMeeting> meeting(const CalendarEventInput& event) {
    if (event.isAllDay || event.isCanceled || !(event.end > event.start))
        return std::nullopt;

    std::vector<const CalendarEventInput::Person*> people;
    if (event.organizer)
        people.push_back(&*event.organizer);
    for (const auto& attendee : event.attendees)
        people.push_back(&attendee);
    for (const auto* person : people)
        if (person->isCurrentUser && person->declined)
            return std::nullopt;

    CalendarMeeting result;
    std::set<std::string> seenNames;
    std::set<std::string> seenEmails;
    for (const auto* person : people) {
        if (person->declined)
            continue;
        std::optional<std::string> email;
        if (person->email)
            email = normalizedEmail(*person->email);

        std::string name = cleanTitle(person->name, nameLimit);
        std::string lowerName = unicode::lowercased(name);
        if (email && (name.empty() || lowerName == *email)) {
            name = email->substr(0, email->find('@'));
            lowerName = unicode::lowercased(name);
        }
        if (!name.empty() && result.attendees.size() < attendeeLimit && seenNames.insert(lowerName).second)
            result.attendees.push_back(std::move(name));
        if (email && result.attendeeEmails.size() < attendeeLimit && seenEmails.insert(*email).second)
            result.attendeeEmails.push_back(std::move(*email));
    }

    std::optional<std::string> urlText;
    if (event.url)
        urlText = event.url->string();
    if (auto link = videoLink({urlText, event.location, event.notes})) {
        result.videoURL = std::move(link->first);
        result.provider = link->second;
    }
    result.id = event.id;
    result.start = event.start;
    result.end = event.end;
    result.title = cleanTitle(event.title, titleLimit);
    result.location = cleanTitle(event.location.value_or(std::string()), titleLimit);
    return result;
}

std::vector<CalendarMeeting> upcoming(const std::vector<CalendarMeeting>& meetings, Date now,
                                      std::size_t limit, double within) {
    std::vector<CalendarMeeting> kept;
    const Date horizon = now.adding(within);
    for (const auto& m : meetings)
        if (m.end > now && m.start < horizon)
            kept.push_back(m);
    std::sort(kept.begin(), kept.end(), startsEarlier);
    if (kept.size() > limit)
        kept.resize(limit);
    return kept;
}

std::optional<CalendarMeeting> current(const std::vector<CalendarMeeting>& meetings, Date now) {
    const CalendarMeeting* inProgress = nullptr;
    const CalendarMeeting* startingSoon = nullptr;
    for (const auto& m : meetings) {
        if (m.start <= now && m.end > now) {
            if (!inProgress || startsEarlier(*inProgress, m))
                inProgress = &m;
        } else if (m.start > now && secondsBetween(now, m.start) <= startingSoonWindow) {
            if (!startingSoon || startsEarlier(m, *startingSoon))
                startingSoon = &m;
        }
    }
    if (inProgress)
        return *inProgress;
    if (startingSoon)
        return *startingSoon;
    return std::nullopt;
}

std::vector<CalendarMeeting> dueReminders(const std::vector<CalendarMeeting>& meetings, Date now,
                                          const std::set<std::string>& announced, double lead) {
    std::vector<CalendarMeeting> due;
    for (const auto& m : meetings) {
        if (!m.videoURL || announced.contains(reminderKey(m)))
            continue;
        if (m.start > now && secondsBetween(now, m.start) <= lead)
            due.push_back(m);
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const CalendarMeeting& a, const CalendarMeeting& b) { return a.start < b.start; });
    return due;
}

std::string reminderKey(const CalendarMeeting& meeting) {
    const double seconds = std::trunc(meeting.start.unixSeconds());
    // Outside the 64-bit range (or not a number) the key still has to be one fixed text.
    constexpr double limit = 9223372036854775807.0;
    std::int64_t whole = 0;
    if (std::isnan(seconds))
        whole = 0;
    else if (seconds >= limit)
        whole = std::numeric_limits<std::int64_t>::max();
    else if (seconds <= -limit)
        whole = std::numeric_limits<std::int64_t>::min();
    else
        whole = static_cast<std::int64_t>(seconds);
    return meeting.id + "@" + std::to_string(whole);
}

} // namespace nuvel::CalendarMeetings
