// The library window's actions: the list's selection, the sidebar's and the window's controls,
// the per-tick refresh and the notes editor's commit.
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/cloud/MeetingDetailRequests.hpp"
#include "Nuvel/ui/common/Dialogs.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/common/MainActorEntry.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QListView>

namespace nuvel {

int LibraryController::rowCount() const {
    if (!cloudVisible_)
        return int(model_.recordings().size());
    const CloudMeetingState& cloud = model_.cloud().state();
    return int(searchMode_ ? cloud.searchResults.size() : cloud.meetings.size());
}

void LibraryController::selectionChanged() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (isRendering_)
        return;
    commitScratchpad();
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    const int row = rows.isEmpty() ? -1 : rows.first().row();
    if (row < 0)
        return;
    if (cloudVisible_) {
        const CloudMeetingState& cloud = model_.cloud().state();
        std::string id;
        if (searchMode_) {
            if (std::size_t(row) >= cloud.searchResults.size())
                return;
            id = cloud.searchResults[std::size_t(row)].meeting_id;
        } else {
            if (std::size_t(row) >= cloud.meetings.size())
                return;
            id = cloud.meetings[std::size_t(row)].id;
        }
        selectedCloudID_ = id;
        model_.showingCloudLibrary();
        model_.cloud().openMeeting(id, false);
        return;
    }
    const auto& recordings = model_.recordings();
    if (std::size_t(row) < recordings.size())
        model_.select(recordings[std::size_t(row)].id);
}

void LibraryController::tick() {
    pane_.tick();
    if (cloudVisible_) {
        const CloudMeetingState& cloud = model_.cloud().state();
        cloudDetail_.updatePlayback(cloud.isPlaying, cloud.playbackMilliseconds, cloud.durationMilliseconds,
                                    cloud.audioAvailable && !model_.isRecording());
    }
    validateToolbar();
}

void LibraryController::commitScratchpad() {
    pane_.commitScratchpad();
}

void LibraryController::locationChanged(int segment) {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    cloudVisible_ = segment == 1;
    if (cloudVisible_) {
        model_.showingCloudLibrary();
        model_.cloud().loadLibrary(false);
    }
    render();
}

void LibraryController::searchLibrary(const QString& text) {
    NUVEL_MAIN_ACTOR_ENTRY();
    searchMode_ = !text.trimmed().isEmpty();
    model_.cloud().search(text.toStdString());
    render();
}

void LibraryController::loadMore() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.cloud().loadLibrary(true);
}

void LibraryController::refreshCloud() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.cloud().loadLibrary(false);
}

void LibraryController::retryCorrection() {
    NUVEL_MAIN_ACTOR_ENTRY();
    requests_->retryCorrection();
}

void LibraryController::workspaceChanged(int index) {
    NUVEL_MAIN_ACTOR_ENTRY();
    commitScratchpad();
    const QVariant id = workspacePicker_->itemData(index);
    if (id.typeId() == QMetaType::QString)
        model_.selectWorkspace(id.toString().toStdString());
}

void LibraryController::accountAction() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (!model_.signedIn()) {
        model_.signIn();
        return;
    }
    if (confirmed(*deps_.dialogs, "Sign out of Nuvel?",
                  "Pending recordings stay encrypted on this Mac and belong to this account. Sign back into "
                  "the same "
                  "account to access them.",
                  "Sign out"))
        model_.signOut();
}

void LibraryController::signIn() {
    NUVEL_MAIN_ACTOR_ENTRY();
    model_.signIn();
}

void LibraryController::newRecordingAction() {
    NUVEL_MAIN_ACTOR_ENTRY();
    beginNewRecording(nullptr);
}

void LibraryController::importAudio() {
    NUVEL_MAIN_ACTOR_ENTRY();
    chooseAudioFile();
}

void LibraryController::openCalendarPrivacy() {
    NUVEL_MAIN_ACTOR_ENTRY();
    if (deps_.openCalendarSettings)
        deps_.openCalendarSettings();
}

void LibraryController::recordUpcoming(const CalendarMeeting& meeting) {
    RecordingSuggestion suggestion;
    suggestion.meeting = meeting;
    beginNewRecording(&suggestion);
}

void LibraryController::beginNewRecording(const RecordingSuggestion* suggestion) {
    NUVEL_MAIN_ACTOR_ENTRY();
    sheet_.beginNewRecording(suggestion);
}

void LibraryController::chooseAudioFile() {
    NUVEL_MAIN_ACTOR_ENTRY();
    import_.chooseAudioFile();
}

void LibraryController::dropFile(const std::filesystem::path& path) {
    // The confirmation runs once the drag has ended, not inside the drag's own event loop.
    QPointer<LibraryController> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, path] {
            if (self)
                self->import_.confirmImport(path);
        },
        Qt::QueuedConnection);
}

void LibraryController::setCalendar(ShellCalendar* calendar) {
    calendar_ = calendar;
    sheet_.calendar = calendar;
    renderUpcoming();
}

} // namespace nuvel
