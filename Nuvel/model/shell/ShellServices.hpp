#pragma once

#include "Nuvel/model/CalendarService.hpp"
#include "Nuvel/model/MeetingMonitor.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"

#include <memory>

namespace nuvel {

// The calendar service as the shell holds it: its change and reminder reports go to the
// shell's closures, and its current meeting is judged at the service's own time.
class ServiceCalendar final : public ShellCalendar {
public:
    explicit ServiceCalendar(std::shared_ptr<CalendarService> service);
    ~ServiceCalendar() override;

    void refresh(bool requestAccess) override;
    std::optional<CalendarMeeting> currentMeeting() const override;
    SettingsActions::CalendarAccess access() const override;
    std::vector<CalendarMeeting> meetings() const override { return service_->meetings(); }
    Date now() const override { return service_->now(); }
    CalendarService& service() const { return *service_; }

private:
    std::shared_ptr<CalendarService> service_;
};

// The meeting monitor as the shell holds it: the shell's closures are asked and told.
class DetectionMonitor final : public ShellMeetingMonitor {
public:
    explicit DetectionMonitor(std::unique_ptr<MeetingMonitor> monitor);
    ~DetectionMonitor() override;

    void refresh() override;
    MeetingMonitor& monitor() const { return *monitor_; }

private:
    std::unique_ptr<MeetingMonitor> monitor_;
};

} // namespace nuvel
