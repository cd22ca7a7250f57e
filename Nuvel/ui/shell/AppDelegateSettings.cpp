// The application delegate's side of the settings window: the closures it binds for it.

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/DiagnosticsSnapshot.hpp"
#include "Nuvel/model/MeetingPreferences.hpp"
#include "Nuvel/ui/common/Localization.hpp"
#include "Nuvel/ui/settings/DiagnosticsExport.hpp"
#include "Nuvel/ui/shell/AppDelegate.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Task.hpp"

namespace nuvel {

namespace {

// Reloads the server audio retention with the session and generation of now; signed out, nothing.
void startRetentionRefresh(AppModel& model, MainQueue& queue) {
    CloudMeetingModel& cloud = model.cloud();
    if (!cloud.state().session)
        return;
    spawn(queue, cloud.refreshServerRetention(cloud.state().generation, *cloud.state().session));
}

} // namespace

SettingsActions AppDelegate::makeSettingsActions() {
    QPointer<AppDelegate> weak(this);
    SettingsActions a;
    a.signedIn = [weak] { return weak && weak->model_->signedIn(); };
    a.accountSummary = [weak] {
        if (!weak || !weak->model_->signedIn())
            return localize("Not signed in");
        return weak->model_->session()->account.email;
    };
    a.signIn = [weak] {
        if (weak)
            weak->model_->signIn();
    };
    a.signOut = [weak] {
        if (weak)
            weak->model_->signOut();
    };
    a.clearCompletedCache = [weak] {
        if (!weak)
            return;
        CloudMeetingModel& cloud = weak->model_->cloud();
        spawn(*weak->environment_.queue, cloud.clearCache(cloud.state().generation));
    };
    a.exportDiagnostics = [weak] {
        if (!weak)
            return;
        const AppModel& model = *weak->model_;
        const DiagnosticsSnapshot snapshot(model.recordings(), model.isRecording(), model.uploading());
        if (weak->environment_.diagnosticsPanels != nullptr) {
            nuvel::exportDiagnostics(snapshot, *weak->environment_.diagnosticsPanels);
            return;
        }
        QtDiagnosticsPanels panels(*weak->environment_.dialogs);
        nuvel::exportDiagnostics(snapshot, panels);
    };
    a.checkForUpdates = [weak] {
        if (weak && weak->updates_)
            weak->updates_->checkForUpdates();
    };
    a.updateStatus = [weak] { return weak && weak->updates_ ? weak->updates_->status() : std::string(); };
    a.canCheckForUpdates = [weak] { return weak && weak->updates_ && weak->updates_->canCheckForUpdates(); };
    a.isCapturing = [weak] { return weak && weak->model_->recordingOrSending(); };
    a.serverRetentionDays = [weak]() -> std::optional<std::int64_t> {
        if (!weak)
            return std::nullopt;
        return weak->model_->cloud().state().retentionDays;
    };
    a.serverRetentionChoices = [weak] {
        return weak ? weak->model_->cloud().state().retentionChoices : std::vector<std::int64_t>{};
    };
    a.refreshRetention = [weak] {
        if (weak)
            startRetentionRefresh(*weak->model_, *weak->environment_.queue);
    };
    a.setServerRetentionDays = [weak](std::int64_t days) {
        if (weak)
            weak->model_->cloud().setServerRetentionDays(days);
    };
    a.calendarAccess = [weak] {
        return weak && weak->calendar_ ? weak->calendar_->access() : SettingsActions::CalendarAccess::off;
    };
    a.meetingSettingsChanged = [weak](bool requestAccess) {
        if (!weak)
            return;
        if (weak->monitor_)
            weak->monitor_->refresh();
        if (weak->calendar_)
            weak->calendar_->refresh(requestAccess);
        if (weak->environment_.defaults == nullptr)
            return;
        const MeetingPreferences preferences(
            std::shared_ptr<DefaultsStore>(std::shared_ptr<void>(), weak->environment_.defaults));
        if (!preferences.detectionEnabled() && weak->promptKind_ == PromptKind::call && weak->prompt_) {
            weak->prompt_->dismiss();
            weak->promptKind_.reset();
        }
    };
    return a;
}

void AppDelegate::refreshServerRetention() {
    startRetentionRefresh(*model_, *environment_.queue);
}

} // namespace nuvel
