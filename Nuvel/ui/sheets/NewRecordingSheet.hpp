#pragma once

#include "Nuvel/model/RecordingSuggestion.hpp"
#include "Nuvel/model/capture/SourceChoices.hpp"
#include "NuvelKit/calendar/CalendarMeeting.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"
#include "NuvelKit/support/Task.hpp"

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace nuvel {

class AppModel;
class CapturePermission;
class DefaultsStore;
class Dialogs;
class Executor;
class MainQueue;
class RecordingSources;
class ShellCalendar;
class SourceCheckController;

// The road from the library window's "New recording" to a started recording: the sheet that
// asks for the sources, the microphone, a title, the calendar attendees, the AI-notes choice
// and the permission to record; then the screen-capture permission, the meeting application,
// the microphone permission and the source check; and only the source check's "Start
// recording" starts the recording in the model.
//
// Nothing in the model changes before "Start recording". Every refusal on the way is one status
// sentence through the model, or nothing at all.
//
// Main thread only.
class NewRecordingSheet final : public QObject {
    // No signals or slots of its own: a QObject so that its tasks and closures can hold it weakly.
public:
    // The source modes, in the order of the sheet's first pop-up.
    enum Mode { room = 0, application = 1, allSystem = 2 };

    struct Environment {
        AppModel* model = nullptr;
        MainQueue* queue = nullptr;
        Executor* executor = nullptr; // lists the microphones off the window thread
        Dialogs* dialogs = nullptr;
        DefaultsStore* defaults = nullptr; // "capture.aiNotesDefault", read only
        RecordingSources* sources = nullptr;
        CapturePermission* permission = nullptr;
        // Saves the notes editor's pending text before the sheet opens.
        std::function<void()> commitScratchpad;
        // The window the source check is a sheet of.
        std::function<QWidget*()> window;
    };

    // What the sheet gathered, carried unchanged to the start of the recording.
    struct Choice {
        int mode = room;
        std::optional<RecordingSuggestion> suggestion;
        std::optional<CalendarMeeting> attachedMeeting;
        std::optional<MicrophoneChoice> microphone; // none: the system default
        std::string title;                          // as typed
        bool aiNotes = false;
    };

    explicit NewRecordingSheet(Environment environment, QObject* parent = nullptr);
    ~NewRecordingSheet() override;

    // Set at launch; null while there is no calendar.
    ShellCalendar* calendar = nullptr;

    // Opens the sheet (once the microphones are listed) unless a recording exists, the model
    // is busy or an update installs; starts sign-in instead while signed out. Nothing happens
    // while an earlier opening is still on its way.
    void beginNewRecording(const RecordingSuggestion* suggestion);

    // The source check on screen, if any.
    SourceCheckController* sourceCheck() const { return sheet_.data(); }
    // Whether an opening is on its way (sheet, chooser, permissions or source check).
    bool isOpen() const;

    // The mode the sheet opens in: online meeting when the suggestion names an application or
    // its meeting has a video link; room otherwise.
    static int suggestedMode(const std::optional<RecordingSuggestion>& suggestion);
    // The application the chooser selects first: the exact identifier of the suggestion, then
    // the suggested meeting application, then the application of the attached meeting's
    // provider, else the first.
    static std::size_t preselectedApplication(const std::vector<ApplicationChoice>& applications,
                                              const std::optional<RecordingSuggestion>& suggestion,
                                              const std::optional<CalendarMeeting>& attachedMeeting);
    // The meeting that fills in the title and attendees: the suggestion's own, else the
    // calendar's current one.
    std::optional<CalendarMeeting> prefillMeeting(const std::optional<RecordingSuggestion>& suggestion) const;

private:
    static Task<void> open(QPointer<NewRecordingSheet> self, std::optional<RecordingSuggestion> suggestion);
    static Task<void> prepareRecordingSources(QPointer<NewRecordingSheet> self, Choice choice);
    bool mayOpen() const;
    // Runs the sheet; the choice when it was confirmed with the permission given.
    std::optional<Choice> runSheet(const std::optional<RecordingSuggestion>& suggestion,
                                   const std::vector<MicrophoneChoice>& microphones);
    // Runs the application chooser; the chosen index, none when cancelled.
    std::optional<std::size_t> chooseApplication(const std::vector<ApplicationChoice>& applications,
                                                 const Choice& choice);
    void presentSourceCheck(const Choice& choice, std::optional<SystemAudioSelection> source,
                            QString sourceName);
    void startCheckedRecording(const Choice& choice, std::optional<SystemAudioSelection> source,
                               const QString& sourceName);

    Environment env_;
    TaskHandle opening_;
    QPointer<SourceCheckController> sheet_;
};

} // namespace nuvel
