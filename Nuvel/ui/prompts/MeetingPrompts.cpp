#include "Nuvel/ui/prompts/MeetingPrompts.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/MeetingAppNames.hpp"
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/widgets/SymbolIcons.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <QApplication>
#include <QPalette>
#include <QStringList>

namespace nuvel {

namespace {

QString appName(MeetingApp app) {
    return QString::fromStdString(displayName(app, [](std::string_view key) { return localize(key); }));
}

} // namespace

QString isolatedMeetingTitle(const CalendarMeeting& meeting) {
    const QString title =
        meeting.title.empty() ? localized("Untitled meeting") : QString::fromStdString(meeting.title);
    return QChar(0x2068) + title + QChar(0x2069);
}

MeetingPrompts::MeetingPrompts(AppModel& model, MainQueue& queue,
                               std::shared_ptr<MeetingPreferences> preferences, Applications applications,
                               Executor* executor)
    : model_(model), queue_(queue), preferences_(std::move(preferences)),
      applications_(std::move(applications)), executor_(executor), panel_(queue) {}

MeetingPrompts::~MeetingPrompts() = default;

bool MeetingPrompts::mayPrompt() const {
    return model_.session() && !model_.isRecording() && !model_.updateInProgress();
}

QIcon MeetingPrompts::iconFor(const std::optional<std::string>& bundleID, Symbol fallback) const {
    if (bundleID && applications_.icon) {
        QIcon icon = applications_.icon(*bundleID);
        if (!icon.isNull())
            return icon;
    }
    return symbolIcon(fallback, QApplication::palette().color(QPalette::WindowText));
}

MeetingPromptPanel::Content MeetingPrompts::microphoneContent(const MeetingMonitorPrompt& prompt,
                                                              const std::optional<CalendarMeeting>& meeting,
                                                              const std::optional<Running>& running) const {
    const bool named = running && !running->name.isEmpty();
    // "Web browsers" names a group of applications: the sentence speaks of one of them.
    QString message = !named && prompt.app == MeetingApp::browser
                          ? localized("A web browser is using your microphone.")
                          : localized("%@ is using your microphone.")
                                .replace(QStringLiteral("%@"), named ? running->name : appName(prompt.app));
    if (meeting)
        message = isolatedMeetingTitle(*meeting) + QLatin1Char('\n') + message;

    MeetingPromptPanel::Content content;
    content.icon =
        iconFor(running ? std::optional<std::string>(running->iconID) : prompt.bundleID, Symbol::videoFill);
    content.title = localized("Record this meeting?");
    content.detail = message;
    content.muteTitle =
        prompt.app == MeetingApp::browser
            ? localized("Don't ask for web browsers")
            : localized("Don't ask for %@").replace(QStringLiteral("%@"), appName(prompt.app));
    return content;
}

MeetingPromptPanel::Content MeetingPrompts::reminderContent(const CalendarMeeting& meeting) const {
    QStringList parts{localized("Starts in a minute")};
    if (meeting.provider)
        parts.push_back(QString::fromUtf8(displayName(*meeting.provider).data(),
                                          qsizetype(displayName(*meeting.provider).size())));
    if (!meeting.attendees.empty())
        parts.push_back(localized("%d attendees")
                            .replace(QStringLiteral("%d"), QString::number(meeting.attendees.size())));

    MeetingPromptPanel::Content content;
    content.icon = iconFor(std::string(calendarApplicationID), Symbol::calendar);
    content.title = isolatedMeetingTitle(meeting);
    content.detail =
        parts.join(QStringLiteral(" · ")) + QLatin1Char('\n') + localized("Record it with Nuvel?");
    content.muteTitle = localized("Turn off meeting reminders");
    if (meeting.videoURL)
        content.joinURL = QUrl(QString::fromStdString(meeting.videoURL->string()));
    return content;
}

bool MeetingPrompts::showMicrophonePrompt(const MeetingMonitorPrompt& prompt) {
    if (!mayPrompt() || model_.busy())
        return false;
    const std::uint64_t generation = ++generation_;
    if (!prompt.bundleID || !applications_.running || executor_ == nullptr) {
        presentMicrophonePrompt(prompt, std::nullopt);
        return true;
    }
    // Which application runs is read from the processes, off the window thread.
    std::weak_ptr<int> alive = alive_;
    executor_->execute([this, alive, generation, prompt, running = applications_.running, queue = &queue_] {
        // Unreadable processes: the prompt names the application by its kind.
        Outcome<std::optional<Running>> looked = attemptNow([&] { return running(*prompt.bundleID); });
        looked.drop("looking for the prompt's running application");
        std::optional<Running> found = looked.ok() ? looked.value() : std::nullopt;
        queue->post([this, alive, generation, prompt, found] {
            if (alive.expired() || generation != generation_ || !mayPrompt() || model_.busy())
                return;
            presentMicrophonePrompt(prompt, found);
        });
    });
    return true;
}

void MeetingPrompts::presentMicrophonePrompt(const MeetingMonitorPrompt& prompt,
                                             const std::optional<Running>& running) {
    std::optional<CalendarMeeting> meeting = currentMeeting ? currentMeeting() : std::nullopt;
    const MeetingPromptPanel::Content content = microphoneContent(prompt, meeting, running);

    RecordingSuggestion suggestion{prompt.app, prompt.bundleID, std::move(meeting)};
    panel_.onRecord = [this, suggestion] {
        if (onRecord)
            onRecord(suggestion);
    };
    const MeetingApp app = prompt.app;
    panel_.onMute = [this, app] {
        std::set<MeetingApp> muted = preferences_->mutedApps();
        muted.insert(app);
        preferences_->setMutedApps(muted);
        if (onSettingsChanged)
            onSettingsChanged();
    };
    panel_.onSettings = [this] {
        if (onOpenSettings)
            onOpenSettings();
    };
    panel_.show(content, microphoneSeconds);
}

bool MeetingPrompts::showReminderPrompt(const CalendarMeeting& meeting) {
    if (!mayPrompt())
        return false;
    ++generation_;
    const MeetingPromptPanel::Content content = reminderContent(meeting);

    RecordingSuggestion suggestion;
    if (meeting.provider)
        suggestion.app = meetingAppForProvider(*meeting.provider);
    suggestion.meeting = meeting;
    panel_.onRecord = [this, suggestion] {
        if (onRecord)
            onRecord(suggestion);
    };
    panel_.onMute = [this] {
        preferences_->setRemindersEnabled(false);
        if (onSettingsChanged)
            onSettingsChanged();
    };
    panel_.onSettings = [this] {
        if (onOpenSettings)
            onOpenSettings();
    };
    panel_.show(content, reminderSeconds);
    return true;
}

void MeetingPrompts::dismiss() {
    ++generation_;
    panel_.dismiss();
}

} // namespace nuvel
