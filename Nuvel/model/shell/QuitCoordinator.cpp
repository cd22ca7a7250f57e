#include "Nuvel/model/shell/QuitCoordinator.hpp"

#include "Nuvel/model/AppModel.hpp"

namespace nuvel {

struct QuitCoordinator::Shared {
    Hooks hooks;
    bool terminated = false;

    void terminate() {
        if (terminated)
            return;
        terminated = true;
        if (hooks.terminate)
            hooks.terminate();
    }
};

QuitCoordinator::QuitCoordinator(AppModel& model, MainQueue& queue, Hooks hooks)
    : model_(model), queue_(queue), shared_(std::make_shared<Shared>()) {
    shared_->hooks = std::move(hooks);
}

QuitCoordinator::~QuitCoordinator() {
    reply_.cancel();
}

bool QuitCoordinator::refusedWhileWorkRuns() const {
    const bool work = model_.isRecording() || model_.busy() || model_.uploading();
    if (work && shared_->hooks.relaunchWaiting && shared_->hooks.relaunchWaiting())
        return true;
    return !model_.isRecording() && model_.busy();
}

// Without anyone to put the alert up, the quit goes on as an unattended one would.
bool QuitCoordinator::confirmed(Question question) const {
    return !shared_->hooks.ask || shared_->hooks.ask(question);
}

QuitCoordinator::Reply QuitCoordinator::confirmTermination(Origin origin) {
    queue_.requireCurrent("QuitCoordinator::confirmTermination");
    if (terminating_)
        return Reply::later;
    const bool asks = origin == Origin::interactive;
    if (refusedWhileWorkRuns()) {
        if (!asks)
            heldUnattended_ = true;
        return Reply::cancel;
    }
    if (model_.isRecording()) {
        if (asks) {
            if (!confirmed(Question::stopAndSave))
                return Reply::cancel;
            // The world may have moved on while the alert was up.
            if (terminating_)
                return Reply::later;
        }
        beginTerminating();
        stopThenReply();
        return Reply::later;
    }
    if (model_.uploading() && asks) {
        if (!confirmed(Question::pauseUpload))
            return Reply::cancel;
        if (terminating_)
            return Reply::later;
    }
    beginTerminating();
    replyAfterNotesSaved();
    return Reply::later;
}

// From here on every request waits for the one quit under way; the notes editor's text goes to
// the model first, so the save the reply waits for holds it.
void QuitCoordinator::beginTerminating() {
    heldUnattended_ = false;
    terminating_ = true;
    if (shared_->hooks.commitScratchpad)
        shared_->hooks.commitScratchpad();
}

void QuitCoordinator::stopThenReply() {
    waitingForStop_ = true;
    std::weak_ptr<Shared> weak = shared_;
    // The completion comes whatever the stop's outcome; a stop that could not save leaves its
    // audio to recovery, and the quit goes on.
    model_.stopRecording([this, weak] {
        if (weak.expired())
            return;
        replyAfterNotesSaved();
    });
}

void QuitCoordinator::replyAfterNotesSaved() {
    waitingForStop_ = false;
    if (replyStarted_)
        return;
    replyStarted_ = true;
    reply_ = spawn(queue_, replyTask(shared_, model_.annotationTask()));
}

Task<void> QuitCoordinator::replyTask(std::weak_ptr<Shared> shared, TaskHandle notes) {
    co_await notes.join();
    if (auto alive = shared.lock())
        alive->terminate();
}

void QuitCoordinator::modelChanged() {
    if (waitingForStop_ && !model_.isRecording() && !model_.busy()) {
        // The recording ended without the stop calling back: nothing is left to wait for.
        replyAfterNotesSaved();
        return;
    }
    if (heldUnattended_ && !terminating_ && !refusedWhileWorkRuns())
        confirmTermination(Origin::unattended);
}

} // namespace nuvel
