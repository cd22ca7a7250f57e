#pragma once

// What the application delegate needs of the long-lived objects it builds at launch, each
// behind the interface its own window or service implements.

#include "Nuvel/model/MeetingMonitor.hpp"
#include "Nuvel/model/RecordingSuggestion.hpp"
#include "Nuvel/model/shell/SettingsActions.hpp"
#include "NuvelKit/calendar/CalendarMeeting.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QToolBar;
class QWidget;

namespace nuvel {

class AppModel;
class ShellCalendar;
using MeetingMonitorPrompt = MeetingMonitor::Prompt;

// The library window's controller: the window's content, toolbar and sheets.
class ShellLibrary {
public:
    virtual ~ShellLibrary() = default;

    // The window's content; the window takes it over.
    virtual QWidget* view() = 0;
    // Puts the "new-recording" and "import-audio" items into the window's toolbar.
    virtual void populateToolbar(QToolBar* toolbar) = 0;
    // What has the keyboard focus when the window first shows (the sidebar).
    virtual QWidget* initialFocus() = 0;

    virtual void render() = 0;
    virtual void renderUpcoming() = 0;
    virtual void tick() = 0;
    // Writes the open notes editor's text into its recording before another action proceeds.
    virtual void commitScratchpad() = 0;
    // The new-recording sheet; `suggestion` null when none.
    virtual void beginNewRecording(const RecordingSuggestion* suggestion) = 0;
    // The open panel for an audio file to import.
    virtual void chooseAudioFile() = 0;
    // The calendar the new-recording sheet takes its meeting from; set at launch, null when
    // there is none.
    virtual void setCalendar(ShellCalendar* calendar) = 0;

    // Whether the cloud side of the library is shown.
    virtual bool cloudVisible() const = 0;
    // The library's search field; null when it has none.
    virtual QWidget* searchField() = 0;
    // Opens the find bar of the notes editor; false when no editor is shown.
    virtual bool findInScratchpad() = 0;
    // The find command while the window's focus is inside the open cloud meeting: that meeting's
    // find field takes it. False when the focus is elsewhere.
    virtual bool findInOpenMeeting() { return false; }
};

// Signed updates.
class ShellUpdates {
public:
    virtual ~ShellUpdates() = default;
    virtual bool isUpdating() const = 0;
    // An installed update waits to relaunch until running work ends.
    virtual bool hasDeferredRelaunch() const = 0;
    virtual void setStartupRestorationBegan(bool began) = 0;
    virtual void startIfReady() = 0;
    virtual void checkForUpdates() = 0;
    // The sentence the settings window shows.
    virtual std::string status() const { return {}; }
    // Whether the settings window's check button may be used now.
    virtual bool canCheckForUpdates() const { return false; }
};

// The settings window, made the first time it is shown.
class ShellSettings {
public:
    virtual ~ShellSettings() = default;
    virtual void show() = 0;
    virtual void showMeetingsSection() = 0;
    virtual void refresh() = 0;
};

// Calendar meetings and reminders.
class ShellCalendar {
public:
    virtual ~ShellCalendar() = default;
    // After every change of meetings or access.
    std::function<void()> onChange;
    // Once per meeting, a minute before it starts.
    std::function<void(const CalendarMeeting&)> onReminder;
    // Reads the calendar setting; asks for access only when `requestAccess`.
    virtual void refresh(bool requestAccess) = 0;
    // The meeting a recording started now is for: one under way, else one starting within
    // five minutes, at the calendar's own time; none when there is none or the calendar is off.
    virtual std::optional<CalendarMeeting> currentMeeting() const = 0;
    // The calendar access now (off until the first refresh).
    virtual SettingsActions::CalendarAccess access() const { return SettingsActions::CalendarAccess::off; }
    // The meetings the calendar holds now, and the time it judges them at.
    virtual std::vector<CalendarMeeting> meetings() const { return {}; }
    virtual Date now() const { return Date::now(); }
};

// Meeting detection: notices meeting applications that start using the microphone.
class ShellMeetingMonitor {
public:
    virtual ~ShellMeetingMonitor() = default;
    std::function<bool()> isCapturing;
    std::function<void(const MeetingMonitorPrompt&)> onPrompt;
    std::function<void()> onCallEnded;
    // Starts or stops the poll after the detection setting.
    virtual void refresh() = 0;
};

// The two meeting prompts on their one floating panel.
class ShellPrompts {
public:
    virtual ~ShellPrompts() = default;
    // Set by the delegate: what the prompts' buttons lead to. "Record…" opens the new-recording
    // sheet with the suggestion; muting changed the meeting settings; the options menu's
    // settings item opens the meeting settings.
    std::function<void(const RecordingSuggestion&)> onRecord;
    std::function<void()> onSettingsChanged;
    std::function<void()> onOpenSettings;
    // Set by the delegate at launch: the calendar meeting on now, as the calendar sees it.
    std::function<std::optional<CalendarMeeting>()> currentMeeting;

    // Each returns whether a prompt is now on screen.
    virtual bool showMicrophonePrompt(const MeetingMonitorPrompt& prompt) = 0;
    virtual bool showReminderPrompt(const CalendarMeeting& meeting) = 0;
    // Takes the panel down; harmless when none is shown.
    virtual void dismiss() = 0;
};

// Makes the pieces, in the order the delegate asks for them at launch.
struct ShellFactories {
    // `quit` ends the application through the one quit path; a relaunch after an install asks
    // for it once the new build waits for this process to end.
    std::function<std::unique_ptr<ShellUpdates>(std::function<bool()> isBusy, std::function<void()> onChange,
                                                std::function<void()> quit)>
        makeUpdates;
    std::function<std::unique_ptr<ShellLibrary>(AppModel& model)> makeLibrary;
    std::function<std::unique_ptr<ShellCalendar>()> makeCalendar;
    std::function<std::unique_ptr<ShellMeetingMonitor>()> makeMonitor;
    std::function<std::unique_ptr<ShellPrompts>()> makePrompts;
    // Empty while there is no settings window: its menu item is then disabled. Given the
    // closures the delegate binds for it.
    std::function<std::unique_ptr<ShellSettings>(SettingsActions actions)> makeSettings;
};

} // namespace nuvel
