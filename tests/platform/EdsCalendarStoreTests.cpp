// The calendar store and the calendar service against a real Evolution Data Server, started on
// a private session bus of this test program.
#include "Nuvel/model/CalendarService.hpp"
#include "Nuvel/platform/EdsCalendarStore.hpp"
#include "NuvelKit/calendar/CalendarMeetings.hpp"
#include "tests/platform/CalendarServerSession.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>

using namespace nuvel;

namespace {

const std::optional<CalendarStoreEvent> titled(const std::vector<CalendarStoreEvent>& events,
                                               const std::string& title) {
    std::optional<CalendarStoreEvent> found;
    for (const auto& e : events)
        if (e.title == title) {
            EXPECT_FALSE(found) << "two events titled " << title;
            found = e;
        }
    return found;
}

double unix(time_t t) {
    return static_cast<double>(t);
}

// "20261209T111500" in the zone, for a moment in seconds since 1970: a wall time built by
// converting a UTC time, not by reading a time_t "with a zone" (that comes out as UTC).
std::string wallTime(time_t t, const char* zoneName) {
    ICalTime* time = i_cal_time_new_from_timet_with_zone(t, FALSE, i_cal_timezone_get_utc_timezone());
    i_cal_time_convert_to_zone_inplace(time, i_cal_timezone_get_builtin_timezone(zoneName));
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d", i_cal_time_get_year(time),
                  i_cal_time_get_month(time), i_cal_time_get_day(time), i_cal_time_get_hour(time),
                  i_cal_time_get_minute(time), i_cal_time_get_second(time));
    g_object_unref(time);
    return text;
}

std::string vevent(const std::string& body) {
    return "BEGIN:VEVENT\r\n" + body + "END:VEVENT\r\n";
}

// One bus and one calendar server for the whole program: GLib keeps the first session bus it
// reached for the life of the process.
class CalendarServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::writeCalendarSources("me@example.org");
        bus = new test::PrivateBus;
        calendar = new test::TestCalendar;
    }
    static void TearDownTestSuite() {
        delete calendar;
        delete bus;
    }

    const time_t now = std::time(nullptr);
    static inline test::PrivateBus* bus = nullptr;
    static inline test::TestCalendar* calendar = nullptr;
};

TEST_F(CalendarServer, ReadsTheOccurrencesOfTheWindowAndReportsChanges) {
    const time_t zoned = now + 7200;
    calendar->add(
        vevent("UID:zoned\r\nSUMMARY:Zoned\r\nDTSTART;TZID=Europe/Paris:" + wallTime(zoned, "Europe/Paris") +
               "\r\nDURATION:PT45M\r\nLOCATION:Room 4\r\nDESCRIPTION:Agenda\\nhttps://zoom.us/j/42\r\n"));
    calendar->add(vevent("UID:daily\r\nSUMMARY:Daily\r\nDTSTART:" + test::icalUtc(now + 10800 - 86400) +
                         "\r\nDTEND:" + test::icalUtc(now + 10800 - 86400 + 900) +
                         "\r\nRRULE:FREQ=DAILY;COUNT=5\r\n"));
    char today[16];
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(today, sizeof today, "%Y%m%d", &tm);
    calendar->add(
        vevent(std::string("UID:allday\r\nSUMMARY:All day\r\nDTSTART;VALUE=DATE:") + today + "\r\n"));
    calendar->add(vevent("UID:cancelled\r\nSUMMARY:Cancelled\r\nSTATUS:CANCELLED\r\nDTSTART:" +
                         test::icalUtc(now + 600) + "\r\nDTEND:" + test::icalUtc(now + 1200) + "\r\n"));
    const std::string invitation =
        calendar->add(vevent("UID:invite\r\nSUMMARY:Invitation\r\nDTSTART:" + test::icalUtc(now + 3600) +
                             "\r\nDTEND:" + test::icalUtc(now + 5400) +
                             "\r\nURL:https://meet.google.com/abc-defg-hij\r\n"
                             "ORGANIZER;CN=Olga:mailto:olga@example.org\r\n"
                             "ATTENDEE;CN=Me;PARTSTAT=DECLINED:MAILTO:ME@example.org\r\n"
                             "ATTENDEE;CN=Bob;PARTSTAT=ACCEPTED:mailto:bob@example.org\r\n"
                             "ATTENDEE:urn:uuid:room-4\r\n"));
    calendar->add(vevent("UID:outside\r\nSUMMARY:Outside\r\nDTSTART:" + test::icalUtc(now + 90000) +
                         "\r\nDTEND:" + test::icalUtc(now + 91000) + "\r\n"));

    EdsCalendarStore store;
    EXPECT_EQ(store.authorizationStatus(), CalendarAuthorization::fullAccess);
    const Date from = Date::fromUnix(unix(now) - 21600), to = Date::fromUnix(unix(now) + 86400);
    const auto events = store.events(from, to);
    EXPECT_FALSE(titled(events, "Outside"));

    auto z = titled(events, "Zoned");
    ASSERT_TRUE(z);
    EXPECT_EQ(z->start.unixSeconds(), unix(zoned));
    EXPECT_EQ(z->end.unixSeconds(), unix(zoned + 2700));
    EXPECT_EQ(z->location, "Room 4");
    EXPECT_EQ(z->notes, "Agenda\nhttps://zoom.us/j/42");
    EXPECT_FALSE(z->isAllDay);
    EXPECT_FALSE(z->url);

    auto daily = titled(events, "Daily");
    ASSERT_TRUE(daily);
    EXPECT_EQ(daily->start.unixSeconds(), unix(now + 10800));
    ASSERT_TRUE(daily->eventIdentifier);
    EXPECT_EQ(*daily->eventIdentifier, "nuvel-test/daily");

    auto allDay = titled(events, "All day");
    ASSERT_TRUE(allDay);
    EXPECT_TRUE(allDay->isAllDay);
    auto cancelled = titled(events, "Cancelled");
    ASSERT_TRUE(cancelled);
    EXPECT_TRUE(cancelled->isCanceled);

    auto invite = titled(events, "Invitation");
    ASSERT_TRUE(invite);
    EXPECT_EQ(invite->url, "https://meet.google.com/abc-defg-hij");
    ASSERT_TRUE(invite->organizer);
    EXPECT_EQ(invite->organizer->url, "mailto:olga@example.org");
    EXPECT_EQ(invite->organizer->name, "Olga");
    ASSERT_EQ(invite->attendees.size(), 3u);
    EXPECT_TRUE(invite->attendees[0].isCurrentUser); // the mail identity's address, in other case
    EXPECT_TRUE(invite->attendees[0].declined);
    EXPECT_FALSE(invite->attendees[1].isCurrentUser);
    EXPECT_FALSE(invite->attendees[1].declined);
    EXPECT_EQ(invite->attendees[2].url, "urn:uuid:room-4");
    EXPECT_FALSE(invite->attendees[2].name);

    // A change in the calendar is reported, and the next read sees it.
    std::mutex lock;
    std::condition_variable reported;
    int reports = 0;
    store.observeChanges([&] {
        std::lock_guard guard(lock);
        ++reports;
        reported.notify_all();
    });
    store.events(from, to); // the change views start with the first read after observing
    calendar->move(invitation, now + 4000);
    {
        std::unique_lock guard(lock);
        EXPECT_TRUE(reported.wait_for(guard, std::chrono::seconds(20), [&] { return reports > 0; }));
    }
    store.observeChanges({});
    auto moved = titled(store.events(from, to), "Invitation");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->start.unixSeconds(), unix(now + 4000));
    EXPECT_EQ(moved->end.unixSeconds(), unix(now + 5800));
}

TEST_F(CalendarServer, TheServiceRemindsAMinuteAheadAndFollowsAMove) {
    const std::string uid = calendar->add(vevent(
        "UID:standup\r\nSUMMARY:Standup\r\nDTSTART:" + test::icalUtc(now + 50) +
        "\r\nDTEND:" + test::icalUtc(now + 950) + "\r\nLOCATION:https://meet.google.com/abc-defg-hij\r\n"));
    ManualMainQueue queue(0.0);
    ThreadPoolExecutor pool(2);
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    defaults->set(CalendarService::calendarSettingKey, true);
    CalendarService::Dependencies d;
    d.mainQueue = &queue;
    d.storeExecutor = &pool;
    d.makeStore = [] { return std::make_shared<EdsCalendarStore>(); };
    d.defaults = defaults;
    d.remindersEnabled = [] { return true; };
    d.now = [&] { return Date::fromUnix(unix(now) + queue.now()); };
    auto service = CalendarService::make(std::move(d));
    std::vector<CalendarMeeting> reminders;
    service->onReminder = [&](const CalendarMeeting& m) { reminders.push_back(m); };

    auto waitUntil = [&](const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!condition() && std::chrono::steady_clock::now() < deadline)
            queue.waitAndDrain(0.1);
        return condition();
    };

    service->refresh(false);
    ASSERT_TRUE(waitUntil([&] { return !reminders.empty(); }));
    EXPECT_EQ(service->access(), CalendarService::Access::granted);
    EXPECT_EQ(reminders[0].id, "nuvel-test/standup");
    EXPECT_EQ(reminders[0].provider, CalendarMeeting::Provider::meet);
    EXPECT_EQ(reminders[0].start.unixSeconds(), unix(now + 50));

    // Moved an hour on: the store's change report reloads the list.
    calendar->move(uid, now + 3600);
    auto standup = [&]() -> std::optional<CalendarMeeting> {
        for (const auto& m : service->meetings())
            if (m.id == "nuvel-test/standup")
                return m;
        return std::nullopt;
    };
    ASSERT_TRUE(waitUntil([&] { return standup() && standup()->start.unixSeconds() == unix(now + 3600); }));
    EXPECT_EQ(reminders.size(), 1u);

    // A minute before the new start it is announced again, once.
    queue.advance(3600 - 90);
    ASSERT_TRUE(waitUntil([&] { return standup().has_value(); }));
    EXPECT_EQ(reminders.size(), 1u);
    for (int i = 0; i < 6; ++i) {
        queue.advance(15);
        waitUntil([&] { return true; });
    }
    ASSERT_EQ(reminders.size(), 2u);
    EXPECT_EQ(reminders[1].start.unixSeconds(), unix(now + 3600));
    EXPECT_NE(CalendarMeetings::reminderKey(reminders[0]), CalendarMeetings::reminderKey(reminders[1]));
    service.reset();
}

} // namespace
