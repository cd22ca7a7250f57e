#include "Nuvel/model/shell/ShellServices.hpp"

#include "NuvelKit/calendar/CalendarMeetings.hpp"

namespace nuvel {

ServiceCalendar::ServiceCalendar(std::shared_ptr<CalendarService> service) : service_(std::move(service)) {
    service_->onChange = [this] {
        if (onChange)
            onChange();
    };
    service_->onReminder = [this](const CalendarMeeting& meeting) {
        if (onReminder)
            onReminder(meeting);
    };
}

ServiceCalendar::~ServiceCalendar() {
    service_->onChange = nullptr;
    service_->onReminder = nullptr;
}

void ServiceCalendar::refresh(bool requestAccess) {
    service_->refresh(requestAccess);
}

std::optional<CalendarMeeting> ServiceCalendar::currentMeeting() const {
    return CalendarMeetings::current(service_->meetings(), service_->now());
}

SettingsActions::CalendarAccess ServiceCalendar::access() const {
    switch (service_->access()) {
    case CalendarService::Access::off:
        return SettingsActions::CalendarAccess::off;
    case CalendarService::Access::needsPermission:
        return SettingsActions::CalendarAccess::needsPermission;
    case CalendarService::Access::denied:
        return SettingsActions::CalendarAccess::denied;
    case CalendarService::Access::granted:
        return SettingsActions::CalendarAccess::granted;
    }
    return SettingsActions::CalendarAccess::off;
}

DetectionMonitor::DetectionMonitor(std::unique_ptr<MeetingMonitor> monitor) : monitor_(std::move(monitor)) {
    monitor_->isCapturing = [this] { return isCapturing && isCapturing(); };
    monitor_->onPrompt = [this](const MeetingMonitor::Prompt& prompt) {
        if (onPrompt)
            onPrompt(prompt);
    };
    monitor_->onCallEnded = [this] {
        if (onCallEnded)
            onCallEnded();
    };
}

DetectionMonitor::~DetectionMonitor() {
    monitor_->onPrompt = nullptr;
    monitor_->onCallEnded = nullptr;
    monitor_->isCapturing = [] { return false; };
}

void DetectionMonitor::refresh() {
    monitor_->refresh();
}

} // namespace nuvel
