#include "Nuvel/model/CalendarService.hpp"
#include "NuvelKit/calendar/CalendarMeetings.hpp"
#include "tests/support/HoldingExecutor.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace nuvel;
using Access = CalendarService::Access;

namespace {

// Wall time at the queue's start; the service's clock moves with the queue's virtual clock.
const Date wallStart = Date::fromUnix(1'800'000'000);

using test::HoldingExecutor;

class FakeStore final : public CalendarStore {
public:
    CalendarAuthorization status = CalendarAuthorization::fullAccess;
    bool answer = true;
    std::function<void()> whileAsking; // the user acts while the question is open
    std::vector<CalendarStoreEvent> stored;
    bool unreadable = false;

    int statusReads = 0, requests = 0, reads = 0, observeCalls = 0;
    std::function<void()> handler;

    CalendarAuthorization authorizationStatus() override {
        ++statusReads;
        return status;
    }
    bool requestFullAccess() override {
        ++requests;
        if (whileAsking)
            whileAsking();
        if (answer)
            status = CalendarAuthorization::fullAccess;
        return answer;
    }
    std::vector<CalendarStoreEvent> events(Date, Date) override {
        ++reads;
        if (unreadable)
            throw CalendarStoreError("no calendar service");
        return stored;
    }
    void observeChanges(std::function<void()> h) override {
        ++observeCalls;
        handler = std::move(h);
    }
    void reportChange() {
        if (handler)
            handler();
    }
};

CalendarStoreEvent storeEvent(std::string id, double startOffset, std::optional<std::string> url = {},
                              double duration = 1800) {
    CalendarStoreEvent e;
    e.eventIdentifier = id;
    e.calendarItemIdentifier = "item-" + id;
    e.title = "Meeting " + id;
    e.start = wallStart.adding(startOffset);
    e.end = e.start.adding(duration);
    e.url = std::move(url);
    return e;
}

class CalendarServiceTest : public ::testing::Test {
protected:
    ManualMainQueue queue{0.0};
    HoldingExecutor executor;
    std::shared_ptr<MemoryDefaultsStore> defaults = std::make_shared<MemoryDefaultsStore>();
    std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>();
    int storesMade = 0;
    bool makeNoStore = false;
    std::shared_ptr<CalendarService> service;
    int changes = 0;
    std::vector<CalendarMeeting> reminders;

    void SetUp() override { makeService(); }
    // A fresh service over a fresh store, as at launch.
    void makeService() {
        service.reset();
        store = std::make_shared<FakeStore>();
        storesMade = 0;
        makeNoStore = false;
        changes = 0;
        reminders.clear();
        CalendarService::Dependencies d;
        d.mainQueue = &queue;
        d.storeExecutor = &executor;
        d.makeStore = [this]() -> std::shared_ptr<CalendarStore> {
            ++storesMade;
            if (makeNoStore)
                return nullptr;
            return store;
        };
        d.defaults = defaults;
        d.remindersEnabled = [this] { return defaults->boolean("meetings.reminders").value_or(true); };
        d.now = [this] { return wallStart.adding(queue.now()); };
        service = CalendarService::make(std::move(d));
        service->onChange = [this] { ++changes; };
        service->onReminder = [this](const CalendarMeeting& m) { reminders.push_back(m); };
    }
    void setCalendar(std::optional<bool> on) {
        if (on)
            defaults->set("meetings.calendar", *on);
        else
            defaults->remove("meetings.calendar");
    }
    void refresh(bool requestAccess = false) {
        service->refresh(requestAccess);
        queue.drain();
    }
    void grantedWith(std::vector<CalendarStoreEvent> events) {
        store->stored = std::move(events);
        setCalendar(true);
        refresh();
        ASSERT_EQ(service->access(), Access::granted);
    }
    std::vector<std::string> meetingIDs() const {
        std::vector<std::string> ids;
        for (const auto& m : service->meetings())
            ids.push_back(m.id);
        return ids;
    }
};

TEST_F(CalendarServiceTest, AccessFollowsTheSettingAndThePermission) {
    using Status = CalendarAuthorization;
    const struct {
        const char* name;
        std::optional<bool> setting;
        Status status;
        bool requestAccess;
        bool answer;
        bool noStore;
        bool unreadable;
        Access access;
        int changes, requests, reads, storesMade;
        bool running;
    } cases[] = {
        {"setting absent", std::nullopt, Status::fullAccess, true, true, false, false, Access::off, 1, 0, 0,
         0, false},
        {"setting off", false, Status::fullAccess, true, true, false, false, Access::off, 1, 0, 0, 0, false},
        {"never asked, at launch", true, Status::notDetermined, false, true, false, false,
         Access::needsPermission, 1, 0, 0, 1, false},
        {"never asked, the user refuses", true, Status::notDetermined, true, false, false, false,
         Access::denied, 2, 1, 0, 1, false},
        {"never asked, the user allows", true, Status::notDetermined, true, true, false, false,
         Access::granted, 2, 1, 1, 1, true},
        {"full access", true, Status::fullAccess, false, true, false, false, Access::granted, 1, 0, 1, 1,
         true},
        {"full access, asking changes nothing", true, Status::fullAccess, true, true, false, false,
         Access::granted, 1, 0, 1, 1, true},
        {"never asked, the user allows, the first read fails", true, Status::notDetermined, true, true, false,
         true, Access::granted, 2, 1, 1, 1, true},
        {"full access, the first read fails", true, Status::fullAccess, false, true, false, true,
         Access::granted, 1, 0, 1, 1, true},
        {"refused", true, Status::denied, true, true, false, false, Access::denied, 1, 0, 0, 1, false},
        {"no store to be had", true, Status::fullAccess, false, true, true, false, Access::denied, 1, 0, 0, 1,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        makeService();
        store->status = c.status;
        store->answer = c.answer;
        makeNoStore = c.noStore;
        store->unreadable = c.unreadable;
        setCalendar(c.setting);
        refresh(c.requestAccess);
        EXPECT_EQ(service->access(), c.access);
        EXPECT_EQ(changes, c.changes);
        EXPECT_EQ(store->requests, c.requests);
        EXPECT_EQ(store->reads, c.reads);
        EXPECT_EQ(storesMade, c.storesMade);
        EXPECT_EQ(service->isRunning(), c.running);
        EXPECT_EQ(queue.pendingTimers(), c.running ? 1u : 0u);
        EXPECT_EQ(static_cast<bool>(store->handler), c.running);
    }
}

TEST_F(CalendarServiceTest, AnAnswerAfterTheSettingWasTurnedOffStartsNothing) {
    store->status = CalendarAuthorization::notDetermined;
    store->whileAsking = [this] { setCalendar(false); };
    setCalendar(true);
    refresh(true);
    EXPECT_EQ(store->requests, 1);
    EXPECT_EQ(service->access(), Access::off);
    EXPECT_FALSE(service->isRunning());
    EXPECT_EQ(store->reads, 0);
    EXPECT_FALSE(store->handler);
}

TEST_F(CalendarServiceTest, StartingTwiceKeepsOneTimerAndObserverAndStoppingKeepsTheAnnouncements) {
    grantedWith({storeEvent("soon", 50, "https://zoom.us/j/1"), storeEvent("later", 3600)});
    refresh();
    refresh(true);
    EXPECT_EQ(queue.pendingTimers(), 1u);
    EXPECT_EQ(store->observeCalls, 1);
    EXPECT_EQ(storesMade, 1);
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"soon", "later"}));
    ASSERT_EQ(service->announced().size(), 1u);

    setCalendar(false);
    refresh();
    EXPECT_EQ(service->access(), Access::off);
    EXPECT_TRUE(service->meetings().empty());
    EXPECT_EQ(queue.pendingTimers(), 0u);
    EXPECT_FALSE(store->handler);
    EXPECT_EQ(service->announced().size(), 1u);

    // On again: the same store, a fresh timer and observer; the meeting is not announced twice.
    setCalendar(true);
    refresh();
    EXPECT_EQ(storesMade, 1);
    EXPECT_EQ(queue.pendingTimers(), 1u);
    EXPECT_EQ(reminders.size(), 1u);
}

TEST_F(CalendarServiceTest, TheTickReadsTheStoreAtMostEveryTwoMinutes) {
    grantedWith({storeEvent("a", 3600)});
    ASSERT_EQ(store->reads, 1);
    const int before = changes;
    const struct {
        double advance;
        int reads;
    } steps[] = {{15, 1}, {15, 1}, {15, 1}, {60, 1}, {15, 2}, {15, 2}, {105, 3}};
    for (const auto& step : steps) {
        queue.advance(step.advance);
        EXPECT_EQ(store->reads, step.reads) << "at " << queue.now();
    }
    EXPECT_EQ(changes, before + 2); // every reload reports, changed or not
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"a"}));

    // A reported change reads at once, and restarts the two minutes.
    store->reportChange();
    queue.drain();
    EXPECT_EQ(store->reads, 4);
    queue.advance(105);
    EXPECT_EQ(store->reads, 4);
}

TEST_F(CalendarServiceTest, AMeetingIsAnnouncedOnceAndAgainAfterAMove) {
    grantedWith(
        {storeEvent("standup", 50, "https://meet.google.com/abc-defg-hij"), storeEvent("novideo", 40)});
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(reminders[0].id, "standup");
    EXPECT_EQ(service->announced(), (std::set<std::string>{CalendarMeetings::reminderKey(reminders[0])}));
    for (int i = 0; i < 3; ++i)
        queue.advance(15);
    EXPECT_EQ(reminders.size(), 1u);

    // Moved an hour on: announced again within its last minute, once.
    store->stored[0].start = wallStart.adding(3600);
    store->stored[0].end = wallStart.adding(5400);
    store->reportChange();
    queue.drain();
    EXPECT_EQ(reminders.size(), 1u);
    queue.advance((3600 - 65) - queue.now()); // to 65 s before the new start
    EXPECT_EQ(reminders.size(), 1u);
    for (int i = 0; i < 4; ++i)
        queue.advance(15);
    ASSERT_EQ(reminders.size(), 2u);
    EXPECT_EQ(reminders[1].start, wallStart.adding(3600));
    EXPECT_EQ(service->announced().size(), 2u);
}

TEST_F(CalendarServiceTest, AFailedReadStillChecksTheRemindersOfTheMeetingsRead) {
    // Due from 118 s on: the first tick after that is the one that reads again, and fails.
    grantedWith({storeEvent("standup", 178, "https://zoom.us/j/7")});
    queue.advance(105);
    ASSERT_TRUE(reminders.empty());
    store->unreadable = true;
    const int before = changes;
    queue.advance(15);
    EXPECT_EQ(store->reads, 2);
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(reminders[0].id, "standup");
    EXPECT_EQ(changes, before + 1);
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"standup"})) << "what was read stays";
}

TEST_F(CalendarServiceTest, RemindersOffAnnounceNothing) {
    defaults->set("meetings.reminders", false);
    grantedWith({storeEvent("standup", 50, "https://zoom.us/j/9")});
    queue.advance(30);
    EXPECT_TRUE(reminders.empty());
    EXPECT_TRUE(service->announced().empty());
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"standup"}));
}

TEST_F(CalendarServiceTest, ReadsAreOneAtATimeAndAStopDropsTheOneUnderWay) {
    grantedWith({storeEvent("a", 3600)});
    executor.holding = true;
    store->stored.push_back(storeEvent("b", 7200));
    store->reportChange();
    queue.drain();
    store->reportChange();
    store->reportChange();
    queue.drain();
    EXPECT_EQ(executor.held.size(), 1u); // one read under way, the reports wait for it
    executor.runAll();
    queue.drain();
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(executor.held.size(), 1u); // the one read that follows
    executor.runAll();
    queue.drain();
    EXPECT_EQ(store->reads, 3);

    // Turned off while a read is under way: its result never comes back into the list.
    store->reportChange();
    queue.drain();
    setCalendar(false);
    refresh();
    executor.runAll();
    queue.drain();
    EXPECT_TRUE(service->meetings().empty());
    EXPECT_EQ(service->access(), Access::off);

    // A store that cannot be read keeps the list as it was, and the reload still reports.
    executor.holding = false;
    setCalendar(true);
    refresh();
    const int before = changes;
    store->unreadable = true;
    store->reportChange();
    queue.drain();
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(changes, before + 1);
}

TEST_F(CalendarServiceTest, StoreEventsBecomeMeetings) {
    CalendarStoreEvent noID = storeEvent("x", 600);
    noID.eventIdentifier.reset();
    noID.calendarItemIdentifier = "item-only";

    CalendarStoreEvent people = storeEvent("people", 700);
    people.organizer = CalendarStoreParticipant{"MAILTO:Olga%40Example.org", std::nullopt, false, false};
    people.attendees = {
        {"urn:uuid:1234", "Room 4", false, false},      // not a mail URL: no address
        {"mailto:me@example.org", "Me", true, false},   // the user, listed like anyone
        {"mailto:bob@example.org", "Bob", false, true}, // declined: left out
        {std::nullopt, std::nullopt, false, false},     // nothing to list
    };

    CalendarStoreEvent declined = storeEvent("declined", 800);
    declined.attendees = {{"mailto:me@example.org", "Me", true, true}};

    CalendarStoreEvent cancelled = storeEvent("cancelled", 900);
    cancelled.isCanceled = true;
    CalendarStoreEvent allDay = storeEvent("allday", 0, std::nullopt, 86400);
    allDay.isAllDay = true;

    CalendarStoreEvent untitled = storeEvent("untitled", 1000, "not a url");
    untitled.title.reset();
    untitled.location = "Room 1\nFloor 2";
    untitled.notes = "https://acme.webex.com/meet/x";

    // Two occurrences of one recurring event share the id but not the reminder key.
    CalendarStoreEvent first = storeEvent("daily", 30, "https://zoom.us/j/5");
    CalendarStoreEvent second = storeEvent("daily", 55, "https://zoom.us/j/5");

    grantedWith({noID, people, declined, cancelled, allDay, untitled, first, second});
    EXPECT_EQ(meetingIDs(), (std::vector<std::string>{"item-only", "people", "untitled", "daily", "daily"}));
    const auto& m = service->meetings();
    EXPECT_TRUE(m[0].attendees.empty());
    EXPECT_TRUE(m[0].attendeeEmails.empty());
    EXPECT_EQ(m[1].attendees, (std::vector<std::string>{"olga", "Room 4", "Me"}));
    EXPECT_EQ(m[1].attendeeEmails, (std::vector<std::string>{"olga@example.org", "me@example.org"}));
    EXPECT_EQ(m[2].title, "");
    EXPECT_EQ(m[2].location, "Room 1 Floor 2");
    EXPECT_EQ(m[2].provider, CalendarMeeting::Provider::webex);
    ASSERT_EQ(reminders.size(), 2u);
    EXPECT_EQ(reminders[0].start, first.start);
    EXPECT_EQ(reminders[1].start, second.start);
}

} // namespace
