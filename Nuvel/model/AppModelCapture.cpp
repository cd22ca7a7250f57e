// A running capture's transitions: pause and resume, stop and its two endings, the stops held
// while other work runs, and the sleep and device notices that end a capture.
#include "Nuvel/model/AppModel.hpp"

#include "NuvelKit/store/RecordingError.hpp"

#include <utility>

namespace nuvel {

namespace {
constexpr std::string_view savedText = "Saved on this Mac. Send to Nuvel when you are ready.";
constexpr std::string_view needsRecoveryText = "Some audio needs recovery. Saved segments have been preserved.";
constexpr std::string_view interruptedText = "Recording was interrupted. Your saved audio is safe.";
constexpr std::string_view sleepText = "Recording stopped before sleep. Resume with a new recording when ready.";
constexpr std::string_view deviceText =
    "An audio device disconnected. Saved audio is safe. Check your microphone before recording again.";
} // namespace

void AppModel::replaceRecording(const LocalRecording& recording) {
    LocalRecording* listed = findRecording(recording.id);
    if (!listed)
        return;
    // The list holds the newest annotations; their own save task writes them.
    LocalRecording copy = recording;
    copy.scratchpad = listed->scratchpad;
    copy.bookmarks = listed->bookmarks;
    copy.notepad = listed->notepad;
    copy.notepadRevision = listed->notepadRevision;
    copy.notepadBase = listed->notepadBase;
    *listed = std::move(copy);
}

Task<void> AppModel::setActiveCaptureState(CaptureState state) {
    if (!activeID_ || !store_)
        co_return;
    auto store = store_;
    Uuid id = *activeID_;
    auto write = [store, state, id] { return store->setCaptureState(state, id); };
    LocalRecording written = co_await runOn(actors(), write);
    replaceRecording(written);
}

void AppModel::endActivity() {
    activity_.reset();
}

Task<void> AppModel::setPaused(std::shared_ptr<AppModel> self) {
    bool failed = false;
    try {
        if (self->isCapturing()) {
            if (self->recorder_) {
                LocalRecording paused = co_await self->recorder_->pause();
                self->replaceRecording(paused);
            }
            co_await self->setActiveCaptureState(CaptureState::paused);
        } else {
            if (!self->recorder_)
                throw RecordingError(RecordingError::Code::missingMedia);
            self->recorder_->resume();
            co_await self->setActiveCaptureState(CaptureState::recording);
        }
    } catch (...) {
        failed = true;
    }
    if (failed) {
        co_await self->interruptCapture();
        self->setMessage(interruptedText);
    }
    self->finishTransition();
}

void AppModel::finishTransition() {
    endCheck();
    notifyChange();
}

Task<void> AppModel::finishRecording(std::shared_ptr<AppModel> self, std::function<void()> completion,
                                     std::unique_ptr<CaptureSource> source) {
    bool failed = false;
    try {
        if (source) {
            LocalRecording stopped = co_await source->stop();
            self->replaceRecording(stopped);
        }
        co_await self->setActiveCaptureState(CaptureState::saved);
    } catch (...) {
        failed = true;
    }
    if (!failed) {
        self->finishSaved(std::move(completion), savedText);
        co_return;
    }
    try {
        co_await self->setActiveCaptureState(CaptureState::interrupted);
    } catch (...) {
        // The manifest keeps its last state; the next recovery scan marks it.
    }
    self->finishSaved(std::move(completion), needsRecoveryText);
}

void AppModel::finishSaved(std::function<void()> completion, std::string_view text) {
    // The windows hear of the new status line with the stop's end, after its completion.
    message_ = localized(text);
    endActivity();
    activeID_.reset();
    finishStop(std::move(completion));
}

void AppModel::finishStop(std::function<void()> completion) {
    busy_ = false;
    captureTransition_ = false;
    heldInterruption_.reset();
    if (completion)
        completion();
    runDeferredStop();
    releaseSleep();
    notifyChange();
}

void AppModel::runDeferredStop() {
    if (!stopRequested_ || captureTransition_ || busy_)
        return;
    stopRequested_ = false;
    auto completion = std::exchange(stopCompletion_, {});
    stopRecording(std::move(completion));
}

// ---- Sleep and lost devices ----

void AppModel::willSleep(std::function<void()> ready) {
    requireMain("AppModel::willSleep");
    if (ready)
        sleepReady_.push_back(std::move(ready));
    interruptionNoticed(Interruption::sleep);
}

void AppModel::deviceChanged() {
    requireMain("AppModel::deviceChanged");
    interruptionNoticed(Interruption::device);
}

void AppModel::interruptionNoticed(Interruption kind) {
    if (!activeID_) {
        releaseSleep();
        return;
    }
    if (busy_ && captureTransition_)
        return; // a stop is saving the recording; it lets the system sleep when it ends
    if (captureTransition_) {
        heldInterruption_ = kind; // applied when the pause, resume or check ends
        return;
    }
    captureTransition_ = true;
    spawn(queue(), interruptFor(shared_from_this(), kind));
}

void AppModel::runHeldInterruption() {
    if (!heldInterruption_)
        return;
    Interruption kind = *std::exchange(heldInterruption_, std::nullopt);
    if (!activeID_) {
        releaseSleep();
        return;
    }
    captureTransition_ = true;
    spawn(queue(), interruptFor(shared_from_this(), kind));
}

Task<void> AppModel::interruptFor(std::shared_ptr<AppModel> self, Interruption kind) {
    co_await self->interruptCapture();
    self->captureTransition_ = false;
    self->heldInterruption_.reset();
    self->runDeferredStop();
    self->releaseSleep();
    self->setMessage(kind == Interruption::sleep ? sleepText : deviceText);
}

void AppModel::releaseSleep() {
    for (auto& ready : std::exchange(sleepReady_, {}))
        ready();
}

} // namespace nuvel
