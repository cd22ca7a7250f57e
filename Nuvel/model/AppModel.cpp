#include "Nuvel/model/AppModel.hpp"

#include <utility>

namespace nuvel {

// ---- Construction ----

std::shared_ptr<AppModel> AppModel::make(AppModelDependencies dependencies) {
    std::shared_ptr<AppModel> model(new AppModel(std::move(dependencies)));
    model->install();
    return model;
}

AppModel::AppModel(AppModelDependencies dependencies) : parts_(std::move(dependencies)) {}

void AppModel::install() {
    parts_.context.setOwner(weak_from_this());
    parts_.context.setObservers(
        [this] {
            auto observer = onChange;
            if (observer)
                observer();
        },
        [this] {
            auto observer = onTick;
            if (observer)
                observer();
        });
    std::weak_ptr<AppModel> weak = weak_from_this();
    parts_.context.cloud->setOnChange([weak] {
        auto self = weak.lock();
        if (self && self->onChange)
            self->onChange();
    });
    parts_.context.cloud->setOnPlaybackTick([weak] {
        auto self = weak.lock();
        if (self && self->onTick)
            self->onTick();
    });
    parts_.context.cloud->setOnMeetingsGone([weak](const std::vector<std::string>& meetingIDs) {
        if (auto self = weak.lock())
            self->parts_.upload.forgetMeetings(meetingIDs);
    });
    if (parts_.context.deps.network) {
        MainQueue* main = parts_.context.deps.mainQueue;
        parts_.context.deps.network->start([weak, main](bool satisfied) {
            main->post([weak, satisfied] {
                if (auto self = weak.lock())
                    self->pathUpdated(satisfied);
            });
        });
    }
}

AppModel::~AppModel() {
    // The reporters hold the main queue and a weak reference to the model: silence them first.
    const AppModelDependencies& d = parts_.context.deps;
    if (d.network)
        d.network->stop();
    if (d.sleepNotices)
        d.sleepNotices->stop();
    if (d.deviceRemovals)
        d.deviceRemovals->stop();
    // What is left runs for a model that has gone: the waits of the notepad and the upload queue.
    parts_.context.tasks.cancelAll();
    parts_.context.setObservers({}, {});
}

void AppModel::setUpdateInProgress(bool inProgress) {
    requireMain("AppModel::setUpdateInProgress");
    state().updateInProgress = inProgress;
    // An update holds the queue; a retry that fell due meanwhile goes once it has ended.
    parts_.upload.scheduleQueueWakeup();
}

std::string AppModel::workspaceTitle() const {
    const auto& contract = state().bootstrap;
    if (contract && contract->workspace.kind != "personal")
        return contract->workspace.name;
    return parts_.context.localized(StatusText::personalWorkspace);
}

void AppModel::pathUpdated(bool satisfied) {
    // Every report is handled, also one that repeats the last state.
    state().networkAvailable = satisfied;
    parts_.context.cloud->setOnline(satisfied);
    parts_.upload.scheduleQueueWakeup();
}

// ---- Entry points: each refuses, silently, what the model's state forbids ----

void AppModel::start() {
    requireMain("AppModel::start");
    state().busy = true;
    parts_.context.notifyChange();
    parts_.session.startUp();

    std::weak_ptr<AppModel> weak = weak_from_this();
    MainQueue* main = parts_.context.deps.mainQueue;
    if (parts_.context.deps.sleepNotices) {
        parts_.context.deps.sleepNotices->start([weak, main](std::function<void()> ready) {
            main->post([weak, ready] {
                if (auto self = weak.lock())
                    self->parts_.capture.willSleep(ready);
                else
                    ready();
            });
        });
    }
    if (parts_.context.deps.deviceRemovals) {
        parts_.context.deps.deviceRemovals->start([weak, main] {
            main->post([weak] {
                if (auto self = weak.lock())
                    self->parts_.capture.deviceChanged();
            });
        });
    }
}

void AppModel::startNewRecording(NewRecording request) {
    requireMain("AppModel::startNewRecording");
    const ModelState& s = state();
    if (!s.session || !s.store || s.isRecording() || s.busy || s.updateInProgress)
        return;
    parts_.capture.startNewRecording(std::move(request));
}

void AppModel::setMessage(std::string_view text) {
    requireMain("AppModel::setMessage");
    state().writeMessage(parts_.context.localized(text));
    parts_.context.notifyChange();
}

void AppModel::select(std::optional<Uuid> id) {
    requireMain("AppModel::select");
    if (id == state().selectedID)
        return;
    state().selectedID = id;
    state().showingRecording(id);
    parts_.context.notifyChange();
}

void AppModel::showingCloudLibrary() {
    requireMain("AppModel::showingCloudLibrary");
    if (state().showingCloudLibrary())
        parts_.context.notifyChange();
}

void AppModel::signIn() {
    requireMain("AppModel::signIn");
    const ModelState& s = state();
    // The browser never reports that the user gave up: a pending attempt does not block a new one.
    if (s.busy || s.isRecording() || s.uploading)
        return;
    parts_.session.signIn();
}

void AppModel::completeSignIn(const std::string& callbackURL) {
    requireMain("AppModel::completeSignIn");
    parts_.session.completeSignIn(callbackURL);
}

void AppModel::signOut() {
    requireMain("AppModel::signOut");
    const ModelState& s = state();
    if (!s.session || s.isRecording() || s.uploading || s.busy)
        return;
    parts_.session.signOut();
}

void AppModel::stopRecording(std::function<void()> completion) {
    requireMain("AppModel::stopRecording");
    parts_.capture.stopRecording(std::move(completion));
}

void AppModel::togglePause() {
    requireMain("AppModel::togglePause");
    const ModelState& s = state();
    if (!s.activeID || s.captureTransition || s.busy)
        return;
    parts_.capture.togglePause();
}

void AppModel::addBookmark() {
    requireMain("AppModel::addBookmark");
    parts_.annotations.addBookmark();
}

void AppModel::stopPlayback() {
    requireMain("AppModel::stopPlayback");
    parts_.playback.stopPlayback();
}

void AppModel::togglePlayback(std::optional<double> at) {
    requireMain("AppModel::togglePlayback");
    const ModelState& s = state();
    if (!selectedRecording() || !s.store || s.busy || s.isRecording())
        return;
    parts_.playback.togglePlayback(at);
}

void AppModel::discardRecording() {
    requireMain("AppModel::discardRecording");
    const ModelState& s = state();
    if (!selectedRecording() || !s.store || !s.session || s.busy || s.isRecording() || s.uploading)
        return;
    parts_.files.discardRecording();
}

void AppModel::setScratchpad(std::string text, const Uuid& id) {
    requireMain("AppModel::setScratchpad");
    parts_.annotations.setScratchpad(std::move(text), id);
}

void AppModel::setNotepad(std::string_view text, const Uuid& id) {
    requireMain("AppModel::setNotepad");
    parts_.annotations.setNotepad(text, id);
}

void AppModel::importAudio(std::filesystem::path file, bool aiNotes) {
    requireMain("AppModel::importAudio");
    const ModelState& s = state();
    if (!s.session || !s.store || s.busy || s.isRecording())
        return;
    parts_.files.importAudio(std::move(file), aiNotes);
}

void AppModel::exportAudio(std::filesystem::path destination) {
    requireMain("AppModel::exportAudio");
    const ModelState& s = state();
    if (!selectedRecording() || !s.store || s.busy || s.isRecording())
        return;
    parts_.files.exportAudio(std::move(destination));
}

void AppModel::selectWorkspace(std::string workspaceID) {
    requireMain("AppModel::selectWorkspace");
    const ModelState& s = state();
    if (!s.session || s.isRecording() || s.busy || s.uploading)
        return;
    parts_.workspaces.selectWorkspace(std::move(workspaceID));
}

void AppModel::startUploadIfAllowed(const Uuid& id, bool automatic) {
    requireMain("AppModel::startUploadIfAllowed");
    parts_.upload.startUploadIfAllowed(id, automatic);
}

void AppModel::refreshSelectedStatus() {
    requireMain("AppModel::refreshSelectedStatus");
    if (state().selectedID)
        parts_.upload.startStatusRefresh(*state().selectedID);
}

} // namespace nuvel
