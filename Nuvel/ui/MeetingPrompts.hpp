#pragma once

#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/ui/MeetingPromptPanel.hpp"
#include "Nuvel/ui/ShellParts.hpp"
#include "Nuvel/ui/SymbolIcons.hpp"

#include <QIcon>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

class AppModel;
class MainQueue;

// The two prompts that invite the user to record, on one floating panel: the microphone prompt
// when a meeting application starts using the microphone, and the reminder a minute before a
// calendar meeting with a video link. Each is shown only while the user is signed in, nothing is
// recording and no update installs; the microphone prompt also not while the model is busy.
// A new prompt replaces the one on screen.
//
// Main thread only.
class MeetingPrompts final : public ShellPrompts {
public:
    // How long each prompt stays unless the user acts.
    static constexpr double microphoneSeconds = 60;
    static constexpr double reminderSeconds = 90;
    // The desktop's calendar application, whose icon the reminder shows.
    static constexpr const char* calendarApplicationID = "org.gnome.Calendar";

    // What the desktop knows of applications.
    struct Applications {
        // The name of the running application with this identifier; none when none runs.
        std::function<std::optional<QString>(const std::string& bundleID)> runningName;
        // The icon of the application with this identifier; a null icon when it has none.
        std::function<QIcon(const std::string& bundleID)> icon;
    };

    MeetingPrompts(AppModel& model, MainQueue& queue, std::shared_ptr<MeetingPreferences> preferences,
                   Applications applications);
    ~MeetingPrompts() override;

    bool showMicrophonePrompt(const MeetingMonitorPrompt& prompt) override;
    bool showReminderPrompt(const CalendarMeeting& meeting) override;
    void dismiss() override;

    MeetingPromptPanel& panel() { return panel_; }

    // The prompts' contents, as shown.
    MeetingPromptPanel::Content microphoneContent(const MeetingMonitorPrompt& prompt,
                                                  const std::optional<CalendarMeeting>& meeting) const;
    MeetingPromptPanel::Content reminderContent(const CalendarMeeting& meeting) const;

private:
    bool mayPrompt() const;
    QIcon iconFor(const std::optional<std::string>& bundleID, Symbol fallback) const;

    AppModel& model_;
    std::shared_ptr<MeetingPreferences> preferences_;
    Applications applications_;
    MeetingPromptPanel panel_;
};

// A meeting's title between first-strong and pop-directional isolates, so that a title in
// another script keeps its own direction in the sentence; "Untitled meeting" for an empty one.
QString isolatedMeetingTitle(const CalendarMeeting& meeting);

} // namespace nuvel
