#include "Nuvel/model/CalendarService.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/calendar/CalendarMeetings.hpp"

#include <cctype>
#include <stdexcept>
#include <utility>

namespace nuvel {
namespace {

bool isMailURL(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos)
        return false;
    constexpr std::string_view mailto = "mailto";
    if (colon != mailto.size())
        return false;
    for (std::size_t i = 0; i < colon; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != mailto[i])
            return false;
    return true;
}

CalendarEventInput::Person person(const CalendarStoreParticipant& participant) {
    CalendarEventInput::Person p;
    if (participant.url && isMailURL(*participant.url))
        p.email = participant.url;
    p.name = participant.name.value_or(std::string());
    p.isCurrentUser = participant.isCurrentUser;
    p.declined = participant.declined;
    return p;
}

CalendarEventInput eventInput(const CalendarStoreEvent& event) {
    CalendarEventInput input;
    input.id = event.eventIdentifier.value_or(event.calendarItemIdentifier);
    input.title = event.title.value_or(std::string());
    input.start = event.start;
    input.end = event.end;
    input.isAllDay = event.isAllDay;
    input.isCanceled = event.isCanceled;
    input.location = event.location;
    input.notes = event.notes;
    if (event.url)
        input.url = Url::parse(*event.url);
    if (event.organizer)
        input.organizer = person(*event.organizer);
    for (const auto& attendee : event.attendees)
        input.attendees.push_back(person(attendee));
    return input;
}

} // namespace

std::shared_ptr<CalendarService> CalendarService::make(Dependencies dependencies) {
    if (!dependencies.mainQueue || !dependencies.storeExecutor || !dependencies.makeStore ||
        !dependencies.defaults || !dependencies.remindersEnabled)
        throw std::invalid_argument("CalendarService needs a main queue, an executor, a store, defaults and "
                                    "the reminder setting");
    if (!dependencies.now)
        dependencies.now = [] { return Date::now(); };
    return std::shared_ptr<CalendarService>(new CalendarService(std::move(dependencies)));
}

CalendarService::CalendarService(Dependencies dependencies) : deps_(std::move(dependencies)) {}

CalendarService::~CalendarService() {
    if (timer_)
        deps_.mainQueue->cancelTimer(*timer_);
    if (observing_)
        store_->observeChanges({});
}

void CalendarService::requireMain(const char* where) const {
    deps_.mainQueue->requireCurrent(where);
}

bool CalendarService::calendarSettingOn() const {
    return deps_.defaults->boolean(calendarSettingKey).value_or(false);
}

void CalendarService::notify() {
    if (onChange)
        onChange();
}

void CalendarService::refresh(bool requestAccess) {
    requireMain("CalendarService::refresh");
    ++authorizationGeneration_;
    if (!calendarSettingOn()) {
        stop();
        access_ = Access::off;
        notify();
        return;
    }
    if (!store_)
        store_ = deps_.makeStore();
    if (!store_) {
        stop();
        access_ = Access::denied;
        notify();
        return;
    }
    spawn(*deps_.mainQueue, readAuthorization(weak_from_this(), store_, deps_.storeExecutor, requestAccess,
                                              authorizationGeneration_));
}

Task<void> CalendarService::readAuthorization(std::weak_ptr<CalendarService> weak,
                                              std::shared_ptr<CalendarStore> store, Executor* executor,
                                              bool requestAccess, std::uint64_t generation) {
    auto read = [store] { return store->authorizationStatus(); };
    Outcome<CalendarAuthorization> answered = co_await attemptOn(*executor, read);
    answered.drop("reading calendar access");
    const CalendarAuthorization status = answered.ok() ? answered.value() : CalendarAuthorization::denied;
    {
        auto self = weak.lock();
        if (!self || self->authorizationGeneration_ != generation)
            co_return;
        switch (status) {
        case CalendarAuthorization::fullAccess:
            self->access_ = Access::granted;
            self->start();
            co_return;
        case CalendarAuthorization::denied:
            self->stop();
            self->access_ = Access::denied;
            self->notify();
            co_return;
        case CalendarAuthorization::notDetermined:
            self->access_ = Access::needsPermission;
            self->notify();
            break;
        }
    }
    if (!requestAccess)
        co_return;

    // The answer counts even when a later refresh came meanwhile: that refresh saw the question
    // still open.
    auto ask = [store] { return store->requestFullAccess(); };
    Outcome<bool> answer = co_await attemptOn(*executor, ask);
    answer.drop("asking for calendar access");
    if (auto self = weak.lock())
        self->permissionAnswered(answer.ok() && answer.value());
}

void CalendarService::permissionAnswered(bool granted) {
    if (!granted) {
        access_ = Access::denied;
        notify();
        return;
    }
    // The user may have turned the setting off while the question was open.
    if (!calendarSettingOn()) {
        stop();
        access_ = Access::off;
        notify();
        return;
    }
    access_ = Access::granted;
    start();
}

void CalendarService::start() {
    if (!observing_) {
        MainQueue* queue = deps_.mainQueue;
        std::weak_ptr<CalendarService> weak = weak_from_this();
        store_->observeChanges([queue, weak] {
            queue->post([weak] {
                if (auto self = weak.lock())
                    self->reload();
            });
        });
        observing_ = true;
    }
    if (!timer_) {
        std::weak_ptr<CalendarService> weak = weak_from_this();
        timer_ = deps_.mainQueue->startRepeatingTimer(tickInterval, [weak] {
            if (auto self = weak.lock())
                self->tick();
        });
    }
    reload();
}

void CalendarService::stop() {
    if (timer_) {
        deps_.mainQueue->cancelTimer(*timer_);
        timer_.reset();
    }
    if (observing_) {
        store_->observeChanges({});
        observing_ = false;
    }
    meetings_.clear();
    ++reloadGeneration_;
    reloadAgain_ = false;
}

void CalendarService::reload() {
    requireMain("CalendarService::reload");
    if (!store_ || access_ != Access::granted)
        return;
    const Date now = deps_.now();
    lastReload_ = now;
    if (reloading_) {
        reloadAgain_ = true;
        return;
    }
    reloading_ = true;
    spawn(*deps_.mainQueue,
          readMeetings(weak_from_this(), store_, deps_.storeExecutor, now.adding(-windowBefore),
                       now.adding(windowAfter), reloadGeneration_));
}

Task<void> CalendarService::readMeetings(std::weak_ptr<CalendarService> weak,
                                         std::shared_ptr<CalendarStore> store, Executor* executor, Date from,
                                         Date to, std::uint64_t generation) {
    auto read = [store, from, to] {
        std::vector<CalendarMeeting> meetings;
        for (const auto& event : store->events(from, to))
            if (auto meeting = CalendarMeetings::meeting(eventInput(event)))
                meetings.push_back(std::move(*meeting));
        return meetings;
    };
    // Unreadable: keep what is shown until the next read.
    Outcome<std::vector<CalendarMeeting>> readMeetings = co_await attemptOn(*executor, read);
    readMeetings.drop("reading calendar events");
    std::optional<std::vector<CalendarMeeting>> meetings;
    if (readMeetings.ok())
        meetings = std::move(readMeetings.value());
    if (auto self = weak.lock())
        self->reloadFinished(generation, std::move(meetings));
}

void CalendarService::reloadFinished(std::uint64_t generation,
                                     std::optional<std::vector<CalendarMeeting>> meetings) {
    reloading_ = false;
    // A failed read keeps the meetings shown, but still reports (access may just have turned to
    // granted) and still checks the reminders of the meetings already read.
    if (generation == reloadGeneration_ && access_ == Access::granted) {
        if (meetings && *meetings != meetings_)
            meetings_ = std::move(*meetings);
        notify();
        checkReminders();
    }
    if (reloadAgain_) {
        reloadAgain_ = false;
        reload();
    }
}

void CalendarService::tick() {
    requireMain("CalendarService::tick");
    const Date now = deps_.now();
    if (!lastReload_ || now.sinceReferenceDate - lastReload_->sinceReferenceDate >= reloadThrottle)
        reload();
    else
        checkReminders();
}

void CalendarService::checkReminders() {
    if (!deps_.remindersEnabled())
        return;
    for (const auto& meeting :
         CalendarMeetings::dueReminders(meetings_, deps_.now(), announced_, reminderLead)) {
        announced_.insert(CalendarMeetings::reminderKey(meeting));
        if (onReminder)
            onReminder(meeting);
    }
}

} // namespace nuvel
