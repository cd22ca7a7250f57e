#pragma once

// What stands in for the pieces of the shell that are not built yet. Each behaves as the real
// one does in its quietest state: updates not configured for this build, the calendar off,
// no meeting detection, and no prompts.

#include "Nuvel/model/shell/ShellParts.hpp"

namespace nuvel {

// A build without signed updates: nothing is ever checked or installed.
class UnconfiguredUpdates final : public ShellUpdates {
public:
    explicit UnconfiguredUpdates(std::function<void()> onChange) : onChange_(std::move(onChange)) {}
    bool isUpdating() const override { return false; }
    bool hasDeferredRelaunch() const override { return false; }
    void setStartupRestorationBegan(bool) override {}
    void startIfReady() override {}
    // Without an updater a check only tells its observer.
    void checkForUpdates() override {
        if (onChange_)
            onChange_();
    }

private:
    std::function<void()> onChange_;
};

// The calendar turned off: no meetings, no reminders.
class CalendarOff final : public ShellCalendar {
public:
    void refresh(bool) override {
        if (onChange)
            onChange();
    }
    std::optional<CalendarMeeting> currentMeeting() const override { return std::nullopt; }
};

// No meeting detection: nothing is ever noticed.
class NoMeetingMonitor final : public ShellMeetingMonitor {
public:
    void refresh() override {}
};

// No prompt panel: nothing is shown.
class NoMeetingPrompts final : public ShellPrompts {
public:
    bool showMicrophonePrompt(const MeetingMonitorPrompt&) override { return false; }
    bool showReminderPrompt(const CalendarMeeting&) override { return false; }
    void dismiss() override {}
};

} // namespace nuvel
