// A running capture's transitions: pause and resume, stop and its two endings, the stops held
// while other work runs, and the sleep and device notices that end a capture.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/capture/CaptureController.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <utility>

namespace nuvel {

Task<void> CaptureController::setActiveCaptureState(CaptureState state) {
    ModelState& model = ctx_.state;
    if (!model.activeID || !model.store)
        co_return;
    std::shared_ptr<WorkspaceStore> store = model.store;
    Uuid id = *model.activeID;
    auto write = [store, state, id] { return store->setCaptureState(state, id); };
    LocalRecording written = co_await runOn(ctx_.actors(), write);
    model.replaceRecording(written);
}

// ---- Pause and resume ----

void CaptureController::togglePause() {
    ctx_.state.captureTransition = true;
    ctx_.tasks.start(setPaused(ctx_.hold()));
}

Task<void> CaptureController::setPaused([[maybe_unused]] ModelContext::Hold hold) {
    Task<void> changing = pauseOrResume();
    Outcome<void> changed = co_await attempt(changing);
    if (!changed.ok()) {
        changed.drop("pausing or resuming");
        co_await interruptCapture();
        ctx_.setMessageAbout(StatusText::interrupted, ctx_.state.selectedID);
    }
    finishTransition();
}

Task<void> CaptureController::pauseOrResume() {
    if (ctx_.state.isCapturing()) {
        if (recorder_) {
            Task<LocalRecording> pausing = recorder_->pause();
            LocalRecording paused = co_await pausing;
            ctx_.state.replaceRecording(paused);
        }
        co_await setActiveCaptureState(CaptureState::paused);
    } else {
        if (!recorder_)
            throw RecordingError(RecordingError::Code::missingMedia);
        recorder_->resume();
        co_await setActiveCaptureState(CaptureState::recording);
    }
}

void CaptureController::finishTransition() {
    endCheck();
    ctx_.notifyChange();
}

// ---- Stop ----

void CaptureController::stopRecording(std::function<void()> completion) {
    ModelState& state = ctx_.state;
    if (!state.activeID) {
        if (completion)
            completion();
        return;
    }
    if (!state.captureTransition && !state.busy) {
        state.busy = true;
        state.captureTransition = true;
        cancelTicking();
        std::unique_ptr<CaptureSource> source = std::move(recorder_);
        ctx_.tasks.start(finishRecording(ctx_.hold(), std::move(completion), std::move(source)));
        return;
    }
    // Held until the running work ends. Every completion is kept: the caller of each waits on it.
    stopRequested_ = true;
    if (completion) {
        if (stopCompletion_)
            stopCompletion_ = [earlier = std::move(stopCompletion_), later = std::move(completion)] {
                earlier();
                later();
            };
        else
            stopCompletion_ = std::move(completion);
    }
}

Task<void> CaptureController::finishRecording([[maybe_unused]] ModelContext::Hold hold,
                                              std::function<void()> completion,
                                              std::unique_ptr<CaptureSource> source) {
    Task<void> saving = stopAndSave(source.get());
    Outcome<void> saved = co_await attempt(saving);
    if (saved.ok()) {
        finishSaved(std::move(completion), StatusText::saved);
        co_return;
    }
    saved.drop("stopping a recording");
    Task<void> marking = setActiveCaptureState(CaptureState::interrupted);
    Outcome<void> marked = co_await attempt(marking);
    // The manifest keeps its last state; the next recovery scan marks it.
    marked.drop("marking a recording interrupted");
    finishSaved(std::move(completion), StatusText::needsRecovery);
}

Task<void> CaptureController::stopAndSave(CaptureSource* source) {
    if (source) {
        Task<LocalRecording> stopping = source->stop();
        LocalRecording stopped = co_await stopping;
        ctx_.state.replaceRecording(stopped);
    }
    co_await setActiveCaptureState(CaptureState::saved);
}

void CaptureController::finishSaved(std::function<void()> completion, StatusText text) {
    // The windows hear of the new status line with the stop's end, after its completion.
    ctx_.writeMessageAbout(text, ctx_.state.activeID);
    activity_.reset();
    ctx_.state.activeID.reset();
    finishStop(std::move(completion));
    upload_.scheduleQueueWakeup();
}

void CaptureController::finishStop(std::function<void()> completion) {
    ctx_.state.busy = false;
    ctx_.state.captureTransition = false;
    heldInterruption_.reset();
    if (completion)
        completion();
    runDeferredStop();
    releaseSleep();
    ctx_.notifyChange();
}

void CaptureController::runDeferredStop() {
    if (!stopRequested_ || ctx_.state.captureTransition || ctx_.state.busy)
        return;
    stopRequested_ = false;
    stopRecording(std::exchange(stopCompletion_, {}));
}

// ---- Sleep and lost devices ----

void CaptureController::willSleep(std::function<void()> ready) {
    ctx_.requireMain("AppModel::willSleep");
    if (ready)
        sleepReady_.push_back(std::move(ready));
    interruptionNoticed(Interruption::sleep);
}

void CaptureController::deviceChanged() {
    ctx_.requireMain("AppModel::deviceChanged");
    interruptionNoticed(Interruption::device);
}

void CaptureController::interruptionNoticed(Interruption kind) {
    ModelState& state = ctx_.state;
    if (!state.activeID) {
        releaseSleep();
        return;
    }
    if (state.busy && state.captureTransition)
        return; // a stop is saving the recording; it lets the system sleep when it ends
    if (state.captureTransition) {
        heldInterruption_ = kind; // applied when the pause, resume or check ends
        return;
    }
    state.captureTransition = true;
    ctx_.tasks.start(interruptFor(ctx_.hold(), kind));
}

void CaptureController::runHeldInterruption() {
    if (!heldInterruption_)
        return;
    Interruption kind = *std::exchange(heldInterruption_, std::nullopt);
    if (!ctx_.state.activeID) {
        releaseSleep();
        return;
    }
    ctx_.state.captureTransition = true;
    ctx_.tasks.start(interruptFor(ctx_.hold(), kind));
}

Task<void> CaptureController::interruptFor([[maybe_unused]] ModelContext::Hold hold, Interruption kind) {
    co_await interruptCapture();
    ctx_.state.captureTransition = false;
    heldInterruption_.reset();
    runDeferredStop();
    releaseSleep();
    ctx_.setMessageAbout(kind == Interruption::sleep ? StatusText::stoppedBeforeSleep
                                                     : StatusText::deviceDisconnected,
                         ctx_.state.selectedID);
}

void CaptureController::releaseSleep() {
    for (auto& ready : std::exchange(sleepReady_, {}))
        ready();
}

} // namespace nuvel
