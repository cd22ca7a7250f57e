#pragma once

#include "Nuvel/model/CalendarStore.hpp"
#include "NuvelKit/calendar/CalendarMeeting.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Time.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nuvel {

// The calendar feature's owner. While the user's setting and the calendar store allow it, it
// keeps the meetings from six hours ago to a day ahead, reloads them when the store reports a
// change and, from its 15 s tick, at most every two minutes, and announces each meeting with a
// video link once, a minute before it starts.
//
// Main queue only: every entry point checks it. The store's blocking calls run on the store
// executor; their results are taken back on the main queue, and a result that a later refresh
// or a stop has overtaken is dropped. One instance lives as long as the application.
class CalendarService : public std::enable_shared_from_this<CalendarService> {
public:
    enum class Access {
        off,             // the user's calendar setting is off
        needsPermission, // the store has not asked the user yet
        denied,          // the store refuses full access (or cannot be reached)
        granted,
    };

    // The user's calendar setting, a Bool in the user defaults; absent means off.
    static constexpr const char* calendarSettingKey = "meetings.calendar";
    // The meetings kept: from this long before now to this long after.
    static constexpr double windowBefore = 21600;
    static constexpr double windowAfter = 86400;
    static constexpr double tickInterval = 15;
    // The tick reads the store again only this long after the last read.
    static constexpr double reloadThrottle = 120;
    // How long before its start a meeting is announced.
    static constexpr double reminderLead = 60;

    struct Dependencies {
        // The main actor; it and the executor outlive the service.
        MainQueue* mainQueue = nullptr;
        // Where the store's blocking calls run.
        Executor* storeExecutor = nullptr;
        // Makes the calendar store, on first need (never while the setting is off).
        std::function<std::shared_ptr<CalendarStore>()> makeStore;
        // The meeting preferences' defaults, which hold the calendar setting.
        std::shared_ptr<DefaultsStore> defaults;
        // The meeting preferences' reminder setting ("meetings.reminders").
        std::function<bool()> remindersEnabled;
        // The wall clock. Default: Date::now.
        std::function<Date()> now;
    };

    // Touches neither the store nor the timer. Throws std::invalid_argument when the queue,
    // the executor, the store factory, the defaults or the reminder setting is missing.
    static std::shared_ptr<CalendarService> make(Dependencies dependencies);
    ~CalendarService();
    CalendarService(const CalendarService&) = delete;
    CalendarService& operator=(const CalendarService&) = delete;

    // After every reload and every change of `access`.
    std::function<void()> onChange;
    // Once per meeting reminder: show the reminder prompt.
    std::function<void(const CalendarMeeting&)> onReminder;

    // Reads the setting and the store's permission again and starts or stops the service. Asks
    // the user for access only when `requestAccess` is true and the store has never asked.
    void refresh(bool requestAccess);

    // The meetings of the current window, in the store's order.
    const std::vector<CalendarMeeting>& meetings() const { return meetings_; }
    Access access() const { return access_; }
    // The service's clock: the time its meetings are judged at.
    Date now() const { return deps_.now(); }
    // The reminder keys announced so far in this process.
    const std::set<std::string>& announced() const { return announced_; }
    // Whether the 15 s tick and the store's change reports are running.
    bool isRunning() const { return timer_.has_value(); }

private:
    explicit CalendarService(Dependencies dependencies);

    static Task<void> readAuthorization(std::weak_ptr<CalendarService> weak,
                                        std::shared_ptr<CalendarStore> store, Executor* executor,
                                        bool requestAccess, std::uint64_t generation);
    static Task<void> readMeetings(std::weak_ptr<CalendarService> weak, std::shared_ptr<CalendarStore> store,
                                   Executor* executor, Date from, Date to, std::uint64_t generation);

    void requireMain(const char* where) const;
    bool calendarSettingOn() const;
    void notify();
    void permissionAnswered(bool granted);
    void start();
    void stop();
    void reload();
    void reloadFinished(std::uint64_t generation, std::optional<std::vector<CalendarMeeting>> meetings);
    void tick();
    void checkReminders();

    Dependencies deps_;
    std::vector<CalendarMeeting> meetings_;
    Access access_ = Access::off;
    std::shared_ptr<CalendarStore> store_;
    std::optional<MainQueue::TimerId> timer_;
    std::set<std::string> announced_;
    bool observing_ = false;
    std::optional<Date> lastReload_; // none: never read

    // A newer refresh drops an older one's permission reading.
    std::uint64_t authorizationGeneration_ = 0;
    // One store read at a time; a reload asked for meanwhile runs after it. A stop drops the
    // read under way.
    std::uint64_t reloadGeneration_ = 0;
    bool reloading_ = false;
    bool reloadAgain_ = false;
};

} // namespace nuvel
