#include "Nuvel/ui/sheets/NewRecordingSheet.hpp"

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/CalendarMeetingDetails.hpp"
#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/platform/CapturePermission.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/sheets/RecordingSources.hpp"
#include "Nuvel/ui/sheets/SourceCheckController.hpp"
#include "Nuvel/ui/widgets/AccessibleRoles.hpp"
#include "Nuvel/ui/widgets/InterfaceHelpers.hpp"
#include "Nuvel/ui/widgets/ViewFactories.hpp"
#include "NuvelKit/support/Defaults.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>
#include <cmath>
#include <memory>

namespace nuvel {

namespace {

constexpr int accessoryWidth = 510;
constexpr int chooserWidth = 420;
constexpr int chooserHeight = 28;

constexpr const char* roomSourceName = "Microphone";
constexpr const char* allSystemSourceName = "All system audio";
constexpr const char* consentMissing = "Confirm permission before starting a recording.";
constexpr const char* screenCaptureRefused = "Allow Screen & System Audio Recording in System Settings to "
                                             "capture an online meeting. Room recording and "
                                             "import are still available.";
constexpr const char* applicationsUnlisted =
    "Meeting applications could not be listed. Check audio-capture permission and try again.";
constexpr const char* noApplications =
    "No application is available for audio capture. Open the meeting app and try again.";
constexpr const char* microphoneRefused =
    "Microphone access is off. Enable Nuvel in System Settings, or import a recording.";

QString attendeesTitle(std::size_t count) {
    return localized("Add %d attendees from Calendar").replace(QStringLiteral("%d"), QString::number(count));
}

QString joined(const std::vector<std::string>& names, const char* separator) {
    QStringList parts;
    for (const std::string& name : names)
        parts.push_back(QString::fromStdString(name));
    return parts.join(QString::fromUtf8(separator));
}

} // namespace

NewRecordingSheet::NewRecordingSheet(Environment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {}

NewRecordingSheet::~NewRecordingSheet() {
    opening_.cancel();
    if (sheet_)
        sheet_->dismiss();
}

bool NewRecordingSheet::isOpen() const {
    return (opening_.isValid() && !opening_.isFinished()) || sheet_;
}

bool NewRecordingSheet::mayOpen() const {
    const AppModel& model = *env_.model;
    return !model.activeID() && !model.busy() && !model.updateInProgress();
}

int NewRecordingSheet::suggestedMode(const std::optional<RecordingSuggestion>& suggestion) {
    if (!suggestion)
        return room;
    if (suggestion->app || (suggestion->meeting && suggestion->meeting->videoURL))
        return application;
    return room;
}

std::size_t NewRecordingSheet::preselectedApplication(const std::vector<ApplicationChoice>& applications,
                                                      const std::optional<RecordingSuggestion>& suggestion,
                                                      const std::optional<CalendarMeeting>& attachedMeeting) {
    auto firstWhere = [&applications](auto matches) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < applications.size(); ++i)
            if (matches(applications[i]))
                return i;
        return std::nullopt;
    };
    auto byApp = [&firstWhere](MeetingApp app) {
        return firstWhere([app](const ApplicationChoice& candidate) {
            return meetingAppForBundleID(candidate.bundleIdentifier) == app;
        });
    };
    if (suggestion && suggestion->bundleID)
        if (auto index = firstWhere([&suggestion](const ApplicationChoice& candidate) {
                return candidate.bundleIdentifier == *suggestion->bundleID;
            }))
            return *index;
    if (suggestion && suggestion->app)
        if (auto index = byApp(*suggestion->app))
            return *index;
    if (attachedMeeting && attachedMeeting->provider)
        if (auto index = byApp(meetingAppForProvider(*attachedMeeting->provider)))
            return *index;
    return 0;
}

std::optional<CalendarMeeting>
NewRecordingSheet::prefillMeeting(const std::optional<RecordingSuggestion>& suggestion) const {
    if (suggestion && suggestion->meeting)
        return suggestion->meeting;
    if (calendar != nullptr)
        return calendar->currentMeeting();
    return std::nullopt;
}

void NewRecordingSheet::beginNewRecording(const RecordingSuggestion* suggestion) {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!mayOpen() || isOpen())
        return;
    if (!env_.model->session()) {
        env_.model->signIn();
        return;
    }
    if (env_.commitScratchpad)
        env_.commitScratchpad();
    std::optional<RecordingSuggestion> copy;
    if (suggestion != nullptr)
        copy = *suggestion;
    opening_ = spawn(*env_.queue, open(QPointer<NewRecordingSheet>(this), std::move(copy)));
}

// The microphones are listed off the window thread, which never waits for the sound server; the
// model may have moved on meanwhile, so the opening checks it again before the sheet shows.
// The sheet may be gone at any step: before the task's first step runs, across an await, and
// across an alert's own event loop; `self` is checked before every use that follows one.
Task<void> NewRecordingSheet::open(QPointer<NewRecordingSheet> self,
                                   std::optional<RecordingSuggestion> suggestion) {
    if (!self)
        co_return;
    RecordingSources* sources = self->env_.sources;
    auto listing = [sources]() -> std::vector<MicrophoneChoice> {
        try {
            return sources->inputDevices();
        } catch (const std::exception&) {
            return {}; // only the system default is offered
        }
    };
    std::vector<MicrophoneChoice> microphones = co_await runOn(*self->env_.executor, listing);
    if (!self || !self->mayOpen() || !self->env_.model->session())
        co_return;
    std::optional<Choice> choice = self->runSheet(suggestion, microphones);
    if (!self || !choice)
        co_return;
    co_await prepareRecordingSources(self, std::move(*choice));
}

std::optional<NewRecordingSheet::Choice>
NewRecordingSheet::runSheet(const std::optional<RecordingSuggestion>& suggestion,
                            const std::vector<MicrophoneChoice>& microphones) {
    auto* mode = new QComboBox;
    mode->setObjectName(QStringLiteral("new-recording-mode"));
    mode->addItems({localized("Room · microphone only"),
                    localized("Online meeting · selected app + microphone"),
                    localized("All system audio + microphone")});
    mode->setCurrentIndex(suggestedMode(suggestion));
    nameChoice(mode, localized("Recording mode"));

    const std::optional<CalendarMeeting> prefill = prefillMeeting(suggestion);

    auto* microphone = new QComboBox;
    microphone->setObjectName(QStringLiteral("new-recording-microphone"));
    microphone->addItem(localized("System default microphone"));
    for (const auto& device : microphones)
        microphone->addItem(QString::fromStdString(device.name));
    microphone->setCurrentIndex(0);
    nameChoice(microphone, localized("Microphone"));

    auto* title = new QLineEdit;
    title->setObjectName(QStringLiteral("new-recording-title"));
    title->setPlaceholderText(localized("Title (optional)"));
    // A screen reader does not read the placeholder as the field's name.
    title->setAccessibleName(title->placeholderText());
    if (prefill)
        title->setText(QString::fromStdString(prefill->title));

    QCheckBox* attendees = nullptr;
    if (prefill && !prefill->attendees.empty()) {
        attendees = new QCheckBox(attendeesTitle(prefill->attendees.size()));
        attendees->setObjectName(QStringLiteral("new-recording-attendees"));
        attendees->setChecked(true);
        setPlainToolTip(attendees, joined(prefill->attendees, ", "));
        // A long title gives way rather than widening the sheet.
        attendees->setMinimumWidth(0);
        attendees->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    auto* aiNotes = new QCheckBox(localized("Generate AI notes when I send this recording"));
    aiNotes->setObjectName(QStringLiteral("new-recording-ai-notes"));
    aiNotes->setChecked(env_.defaults->boolean("capture.aiNotesDefault").value_or(false));

    auto* consent = new QCheckBox(localized("I have permission to record and process this conversation."));
    consent->setObjectName(QStringLiteral("new-recording-consent"));
    consent->setChecked(false);

    std::unique_ptr<QWidget> accessory(makeStack({mode, microphone, title, attendees, aiNotes, consent}, 14));
    accessory->setObjectName(QStringLiteral("new-recording-sheet"));
    // The permission is the one question every recording must answer: it has the focus first.
    accessory->setFocusProxy(consent);
    accessory->setGeometry(0, 0, accessoryWidth, 10);
    accessory->adjustSize();
    accessory->setFixedSize(accessoryWidth, int(std::ceil(double(accessory->sizeHint().height()))));

    Alert alert;
    alert.message = localized("Choose recording sources");
    alert.informativeText = localized(
        "Room mode records your microphone. Online meeting mode records your microphone and an "
        "application you choose. Use headphones to reduce echo. Audio is saved locally; Send uploads it "
        "for cloud transcription.");
    alert.buttons = {localized("Check sources"), localized("Cancel")};
    alert.accessory = accessory.get();
    const AlertAnswer answer = env_.dialogs->runModal(alert);
    if (answer.button != 0)
        return std::nullopt;
    if (!consent->isChecked()) {
        env_.model->setMessage(consentMissing);
        return std::nullopt;
    }

    Choice choice;
    choice.mode = mode->currentIndex();
    choice.suggestion = suggestion;
    if (attendees != nullptr && attendees->isChecked())
        choice.attachedMeeting = prefill;
    const int device = microphone->currentIndex();
    if (device > 0 && std::size_t(device) <= microphones.size())
        choice.microphone = microphones[std::size_t(device) - 1];
    choice.title = title->text().toStdString();
    choice.aiNotes = aiNotes->isChecked();
    return choice;
}

Task<void> NewRecordingSheet::prepareRecordingSources(QPointer<NewRecordingSheet> self, Choice choice) {
    QString sourceName = localized(roomSourceName);
    std::optional<SystemAudioSelection> source;
    if (!self)
        co_return;

    if (choice.mode >= application) {
        CapturePermission& permission = *self->env_.permission;
        const bool allowed = permission.preflightScreenCapture() || permission.requestScreenCapture();
        if (!self)
            co_return;
        if (!allowed) {
            self->env_.model->setMessage(screenCaptureRefused);
            co_return;
        }
    }
    if (choice.mode == application) {
        std::vector<ApplicationChoice> applications;
        bool listed = true;
        try {
            applications = co_await self->env_.sources->availableApplications();
        } catch (const Cancelled&) {
            throw;
        } catch (const std::exception&) {
            listed = false;
        }
        if (!self)
            co_return;
        if (!listed) {
            self->env_.model->setMessage(applicationsUnlisted);
            co_return;
        }
        if (applications.empty()) {
            self->env_.model->setMessage(noApplications);
            co_return;
        }
        const std::optional<std::size_t> chosen = self->chooseApplication(applications, choice);
        if (!self || !chosen)
            co_return;
        const ApplicationChoice& picked = applications[*chosen];
        source = SystemAudioSelection::application(picked.id);
        sourceName = QString::fromStdString(picked.name);
    } else if (choice.mode == allSystem) {
        source = SystemAudioSelection::allSystem();
        sourceName = localized(allSystemSourceName);
    }

    const bool granted = co_await self->env_.permission->requestMicrophoneAccess();
    if (!self)
        co_return;
    if (!granted) {
        self->env_.model->setMessage(microphoneRefused);
        co_return;
    }
    self->presentSourceCheck(choice, source, sourceName);
}

std::optional<std::size_t>
NewRecordingSheet::chooseApplication(const std::vector<ApplicationChoice>& applications,
                                     const Choice& choice) {
    auto popup = std::make_unique<QComboBox>();
    popup->setObjectName(QStringLiteral("new-recording-application"));
    for (const auto& application : applications)
        popup->addItem(QString::fromStdString(application.name));
    popup->setCurrentIndex(
        int(preselectedApplication(applications, choice.suggestion, choice.attachedMeeting)));
    popup->setFixedSize(chooserWidth, chooserHeight);

    Alert alert;
    alert.message = localized("Choose the meeting application");
    alert.informativeText =
        localized("This captures the application's audio, including all its browser tabs. It "
                  "never switches to another app automatically.");
    alert.buttons = {localized("Check sources"), localized("Cancel")};
    alert.accessory = popup.get();
    if (env_.dialogs->runModal(alert).button != 0)
        return std::nullopt;
    const int index = popup->currentIndex();
    if (index < 0 || std::size_t(index) >= applications.size())
        return std::nullopt;
    return std::size_t(index);
}

void NewRecordingSheet::presentSourceCheck(const Choice& choice, std::optional<SystemAudioSelection> source,
                                           QString sourceName) {
    std::optional<std::uint32_t> deviceID;
    if (choice.microphone)
        deviceID = choice.microphone->id;
    auto* sheet =
        new SourceCheckController(*env_.queue, env_.sources->checks(), source, sourceName, deviceID);
    sheet->onStart = [weak = QPointer<NewRecordingSheet>(this), choice, source, sourceName] {
        if (weak)
            weak->startCheckedRecording(choice, source, sourceName);
    };
    sheet_ = sheet;
    sheet->present(env_.window ? env_.window() : nullptr);
}

// The user may have acted since the sheet was confirmed: the model's checks are made again
// before anything changes.
void NewRecordingSheet::startCheckedRecording(const Choice& choice,
                                              std::optional<SystemAudioSelection> source,
                                              const QString& sourceName) {
    AppModel& model = *env_.model;
    if (!model.session() || !model.store() || model.isRecording() || model.busy() || model.updateInProgress())
        return;
    AppModel::NewRecording request;
    request.title = choice.title;
    request.aiNotes = choice.aiNotes;
    request.source = source;
    request.sourceName = sourceName.toStdString();
    if (choice.microphone) {
        request.microphoneDeviceID = choice.microphone->id;
        request.microphoneUID = choice.microphone->uid;
    }
    if (choice.attachedMeeting)
        request.meeting = calendarMeetingDetails(*choice.attachedMeeting);
    model.startNewRecording(std::move(request));
}

} // namespace nuvel
