#pragma once

#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/ui/prompts/MeetingPromptPanel.hpp"
#include "Nuvel/ui/widgets/SymbolIcons.hpp"

#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

class AppModel;
class Executor;
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

    // A running application as the desktop shows it.
    struct Running {
        QString name;       // empty when its desktop entry names none
        std::string iconID; // the id whose icon stands for it
    };
    // What the desktop knows of applications.
    struct Applications {
        // The running application with this identifier; none when none runs. Reads the user's
        // processes: called on the executor, never on the window thread.
        std::function<std::optional<Running>(const std::string& bundleID)> running;
        // The icon of the application with this id; a null icon when it has none.
        std::function<QIcon(const std::string& id)> icon;
    };

    // `executor` runs the look-up of the running application a microphone prompt names; without
    // one the prompt names no running application.
    MeetingPrompts(AppModel& model, MainQueue& queue, std::shared_ptr<MeetingPreferences> preferences,
                   Applications applications, Executor* executor);
    ~MeetingPrompts() override;

    // True when the prompt will show: at once, or, when it names an application, once the
    // executor has looked for it running (unless another prompt or a dismissal came first, or
    // prompting is no longer allowed).
    bool showMicrophonePrompt(const MeetingMonitorPrompt& prompt) override;
    bool showReminderPrompt(const CalendarMeeting& meeting) override;
    void dismiss() override;

    MeetingPromptPanel& panel() { return panel_; }

    // The prompts' contents, as shown.
    MeetingPromptPanel::Content microphoneContent(const MeetingMonitorPrompt& prompt,
                                                  const std::optional<CalendarMeeting>& meeting,
                                                  const std::optional<Running>& running = std::nullopt) const;
    MeetingPromptPanel::Content reminderContent(const CalendarMeeting& meeting) const;

private:
    bool mayPrompt() const;
    QIcon iconFor(const std::optional<std::string>& bundleID, Symbol fallback) const;
    void presentMicrophonePrompt(const MeetingMonitorPrompt& prompt, const std::optional<Running>& running);

    AppModel& model_;
    MainQueue& queue_;
    std::shared_ptr<MeetingPreferences> preferences_;
    Applications applications_;
    Executor* executor_;
    MeetingPromptPanel panel_;
    // Counts prompts and dismissals: a look-up that returns after either shows nothing.
    std::uint64_t generation_ = 0;
    // Held while this object lives, for look-ups that return later.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// A meeting's title between first-strong and pop-directional isolates, so that a title in
// another script keeps its own direction in the sentence; "Untitled meeting" for an empty one.
QString isolatedMeetingTitle(const CalendarMeeting& meeting);

} // namespace nuvel
