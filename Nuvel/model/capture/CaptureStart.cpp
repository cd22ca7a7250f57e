// Starting a recording and watching it while it runs: the permission, the manifest, the source,
// the activity, the tick with its meters and limit, the health check and the disk check.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/capture/CaptureController.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <utility>

namespace nuvel {

namespace {
constexpr const char* activityReason = "Saving a user-started Nuvel recording";
} // namespace

CaptureController::~CaptureController() {
    cancelTicking();
    // Whoever waits for these must not wait for ever.
    if (auto completion = std::exchange(stopCompletion_, {}))
        completion();
    releaseSleep();
}

void CaptureController::startNewRecording(NewRecording request) {
    ModelState& state = ctx_.state;
    state.selectedSource = request.source;
    state.microphoneDeviceID = request.microphoneDeviceID;
    playback_.stopPlayback();
    ctx_.cloud->stopPlayback();
    state.busy = true;
    state.writeMessage({});
    ctx_.notifyChange();
    ctx_.tasks.start(startRecording(ctx_.hold(), *state.session, std::move(request), state.store));
}

Task<void> CaptureController::startRecording([[maybe_unused]] ModelContext::Hold hold, DeviceSession session,
                                             NewRecording request, std::shared_ptr<WorkspaceStore> store) {
    bool granted = true;
    if (ctx_.deps.requestMicrophoneAccess) {
        Task<bool> asking = ctx_.deps.requestMicrophoneAccess();
        Outcome<bool> answer = co_await attempt(asking);
        answer.drop("asking for the microphone");
        granted = answer.ok() && answer.value();
    }
    if (!granted) {
        ctx_.setMessage(StatusText::microphoneOff);
        endStart();
        co_return;
    }
    Task<void> beginning = beginCapture(session, request, store);
    Outcome<void> begun = co_await attempt(beginning);
    if (!begun.ok()) {
        begun.drop("starting a recording");
        // A recording already saved and listed stays, as "interrupted".
        co_await interruptCapture();
        ctx_.setMessage(StatusText::couldNotStart);
    }
    endStart();
}

Task<void> CaptureController::beginCapture(DeviceSession session, NewRecording request,
                                           std::shared_ptr<WorkspaceStore> store) {
    ModelState& state = ctx_.state;
    LocalRecording recording =
        LocalRecording::make(session.account.id, state.selectedWorkspaceID(), request.title, request.aiNotes,
                             ctx_.now(), Uuid::random());
    recording.capturedFrames = 0;
    recording.captureMode = request.source ? "application_and_microphone" : "room";
    recording.captureSourceName = request.sourceName;
    recording.microphoneUID = request.microphoneUID;
    if (request.meeting) {
        recording.attendees = request.meeting->attendees;
        recording.attendeeEmails = request.meeting->attendeeEmails;
        recording.location = request.meeting->location;
    }
    auto save = [store, recording] { store->saveManifest(recording); };
    co_await runOn(ctx_.actors(), save);

    state.recordings.insert(state.recordings.begin(), recording);
    state.activeID = recording.id;
    state.selectedID = recording.id;
    state.elapsed = 0;
    recordingLimit_.reset();
    if (state.bootstrap)
        recordingLimit_ = state.bootstrap->workspace.hardMaxMeetingSeconds;
    warnedAboutLimit_ = false;

    co_await makeCapturePipeline();

    if (ctx_.deps.keepAwake)
        activity_ = ctx_.deps.keepAwake->begin(activityReason);
    startTicking();
}

Task<void> CaptureController::makeCapturePipeline() {
    ModelState& state = ctx_.state;
    if (!state.activeID || !state.store)
        throw RecordingError(RecordingError::Code::missingMedia);
    if (!ctx_.deps.capture)
        throw RecordingError(RecordingError::Code::invalidTransport);
    const Uuid recordingID = *state.activeID;
    CaptureRequest request{recordingID, state.store, state.selectedSource, state.microphoneDeviceID};
    // The factory does the sound server's blocking work on the executor; this only waits.
    Task<std::unique_ptr<CaptureSource>> starting = ctx_.deps.capture->start(request);
    std::unique_ptr<CaptureSource> source = co_await starting;
    if (state.activeID != recordingID) {
        // A sleep or a lost device ended the recording while its source was starting: the
        // source must not go on capturing for a recording that no longer runs.
        Task<LocalRecording> stopping = source->stop();
        Outcome<LocalRecording> stopped = co_await attempt(stopping);
        // The store keeps whatever the source wrote; recovery finishes it.
        stopped.drop("stopping a source whose recording ended");
        throw RecordingError(RecordingError::Code::invalidTransport);
    }
    recorder_ = std::move(source);
    lastCheckpointAttempt_ = 0;
}

void CaptureController::endStart() {
    ctx_.state.busy = false;
    if (stopRequested_ && !ctx_.state.captureTransition) {
        stopRequested_ = false;
        stopRecording(std::exchange(stopCompletion_, {}));
    }
    ctx_.notifyChange();
}

// ---- The tick ----

void CaptureController::startTicking() {
    timer_ = ctx_.queue().startRepeatingTimer(tickInterval,
                                              [this] { ctx_.tasks.start(tickTask(ctx_.weakOwner())); });
}

void CaptureController::cancelTicking() {
    if (timer_)
        ctx_.queue().cancelTimer(*timer_);
    timer_.reset();
}

Task<void> CaptureController::tickTask(std::weak_ptr<const void> model) {
    if (auto alive = model.lock())
        tick();
    co_return;
}

void CaptureController::tick() {
    ModelState& state = ctx_.state;
    if (recorder_) {
        state.elapsed = recorder_->duration();
        state.microphoneLevel = recorder_->microphoneLevel();
        state.systemLevel = recorder_->systemLevel();
    } else {
        state.microphoneLevel = 0;
        state.systemLevel = 0;
    }
    ctx_.notifyTick();

    if (!state.isCapturing())
        return;
    if (recordingLimit_) {
        if (state.elapsed >= *recordingLimit_) {
            const std::optional<Uuid> active = state.activeID;
            stopRecording({});
            ctx_.setMessageAbout(StatusText::limitReached, active);
            return;
        }
        if (*recordingLimit_ - state.elapsed <= limitWarningSeconds && !warnedAboutLimit_) {
            warnedAboutLimit_ = true;
            ctx_.setMessageAbout(StatusText::limitWarning, state.activeID);
        }
    }
    if (state.captureTransition)
        return;
    if (!recorder_ || !recorder_->isHealthy()) {
        state.captureTransition = true;
        ctx_.tasks.start(stopUnhealthyCapture(ctx_.hold()));
    } else if (state.elapsed - lastCheckpointAttempt_ >= checkpointInterval) {
        lastCheckpointAttempt_ = state.elapsed;
        state.captureTransition = true;
        ctx_.tasks.start(checkpointCapture(ctx_.hold()));
    }
}

Task<void> CaptureController::stopUnhealthyCapture([[maybe_unused]] ModelContext::Hold hold) {
    co_await interruptCapture();
    endCheck();
    ctx_.setMessageAbout(StatusText::microphoneStopped, ctx_.state.selectedID);
}

Task<void> CaptureController::checkpointCapture([[maybe_unused]] ModelContext::Hold hold) {
    Task<void> checking = checkCapture();
    Outcome<void> checked = co_await attempt(checking);
    if (!checked.ok()) {
        checked.drop("checking a running capture");
        co_await interruptCapture();
        ctx_.setMessageAbout(StatusText::interrupted, ctx_.state.selectedID);
    }
    endCheck();
}

Task<void> CaptureController::checkCapture() {
    ModelState& state = ctx_.state;
    std::shared_ptr<WorkspaceStore> store = state.store;
    if (!store)
        co_return;
    if (state.activeID) {
        Uuid id = *state.activeID;
        auto load = [store, id] { return store->loadRecording(id); };
        LocalRecording loaded = co_await runOn(ctx_.actors(), load);
        state.replaceRecording(loaded);
    }
    auto measure = [freeSpace = ctx_.deps.freeSpace, root = store->root()] { return freeSpace(root); };
    std::optional<std::int64_t> free = co_await runOn(ctx_.actors(), measure);
    if (!free || *free < freeSpaceFloor)
        throw RecordingError(RecordingError::Code::missingMedia);
}

void CaptureController::endCheck() {
    ctx_.state.captureTransition = false;
    if (stopRequested_ && !ctx_.state.busy) {
        // The user's stop saves the recording; a notice held meanwhile has nothing left to end.
        heldInterruption_.reset();
        runDeferredStop();
    } else {
        runHeldInterruption();
    }
}

Task<void> CaptureController::interruptCapture() {
    cancelTicking();
    std::unique_ptr<CaptureSource> source = std::move(recorder_);
    if (source) {
        Task<LocalRecording> stopping = source->stop();
        Outcome<LocalRecording> stopped = co_await attempt(stopping);
        if (stopped.ok())
            ctx_.state.replaceRecording(stopped.value());
        else // what the source wrote stays in the store; recovery finishes it
            stopped.drop("stopping an interrupted source");
    }
    Task<void> marking = setActiveCaptureState(CaptureState::interrupted);
    Outcome<void> marked = co_await attempt(marking);
    // The manifest keeps its last state; the next recovery scan marks it.
    marked.drop("marking a recording interrupted");
    activity_.reset();
    ctx_.state.activeID.reset();
    ctx_.notifyChange();
}

} // namespace nuvel
