// The calendar and detection as the shell holds them.
#include "Nuvel/model/shell/ShellServices.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>

using namespace nuvel;

namespace {

// One meeting with a video link, starting 30 s after the service's clock.
class OneMeetingStore final : public CalendarStore {
public:
    explicit OneMeetingStore(Date start) : start_(start) {}
    CalendarAuthorization authorizationStatus() override { return CalendarAuthorization::fullAccess; }
    bool requestFullAccess() override { return true; }
    std::vector<CalendarStoreEvent> events(Date, Date) override {
        CalendarStoreEvent event;
        event.eventIdentifier = "evt-9";
        event.calendarItemIdentifier = "evt-9";
        event.title = "Design review";
        event.start = start_;
        event.end = start_.adding(1800);
        event.url = "https://meet.google.com/abc-defg-hij";
        return {event};
    }
    void observeChanges(std::function<void()>) override {}

private:
    Date start_;
};

class SilentSignals final : public MeetingSignalSource {
public:
    MeetingSignals currentSignals() override { return {}; }
};

TEST(ShellServices, TheCalendarReportsItsChangesRemindersAndCurrentMeetingToTheShell) {
    ManualMainQueue queue{0.0};
    InlineExecutor executor;
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    defaults->set("meetings.calendar", true);
    Date now{700000000};
    CalendarService::Dependencies d;
    d.mainQueue = &queue;
    d.storeExecutor = &executor;
    d.makeStore = [now] {
        return std::shared_ptr<CalendarStore>(std::make_shared<OneMeetingStore>(now.adding(30)));
    };
    d.defaults = defaults;
    d.remindersEnabled = [] { return true; };
    d.now = [&now] { return now; };
    ServiceCalendar calendar(CalendarService::make(std::move(d)));
    int changes = 0;
    std::vector<std::string> reminded;
    calendar.onChange = [&changes] { ++changes; };
    calendar.onReminder = [&reminded](const CalendarMeeting& m) { reminded.push_back(m.title); };
    EXPECT_FALSE(calendar.currentMeeting()) << "nothing before the first reading";
    EXPECT_EQ(calendar.access(), SettingsActions::CalendarAccess::off) << "off until the first refresh";
    calendar.refresh(false);
    queue.drain();
    EXPECT_GT(changes, 0);
    EXPECT_EQ(calendar.access(), SettingsActions::CalendarAccess::granted)
        << "what the settings window shows";
    ASSERT_TRUE(calendar.currentMeeting()) << "a meeting within five minutes is the current one";
    EXPECT_EQ(calendar.currentMeeting()->title, "Design review");
    queue.advance(CalendarService::tickInterval);
    EXPECT_EQ(reminded, (std::vector<std::string>{"Design review"}));
    now = now.adding(7200);
    EXPECT_FALSE(calendar.currentMeeting()) << "judged at the service's own time";
}

TEST(ShellServices, TheMonitorAsksTheShellWhetherItRecordsAndStopsWithDetection) {
    ManualMainQueue queue{0.0};
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    auto preferences = std::make_shared<MeetingPreferences>(defaults);
    DetectionMonitor monitor(
        std::make_unique<MeetingMonitor>(queue, preferences, std::make_shared<SilentSignals>()));
    int ended = 0;
    monitor.onCallEnded = [&ended] { ++ended; };
    EXPECT_FALSE(monitor.monitor().isCapturing()) << "unset: not capturing";
    monitor.isCapturing = [] { return true; };
    EXPECT_TRUE(monitor.monitor().isCapturing());
    monitor.refresh();
    EXPECT_TRUE(monitor.monitor().isPolling());
    preferences->setDetectionEnabled(false);
    monitor.refresh();
    EXPECT_FALSE(monitor.monitor().isPolling());
    EXPECT_EQ(ended, 1) << "turning detection off takes a call prompt down";
}

} // namespace
