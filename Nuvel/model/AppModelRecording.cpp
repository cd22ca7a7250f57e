// Starting a recording and watching it while it runs: the microphone permission, the new
// recording's manifest, the capture source, the keep-awake activity and the 0.1 s tick with its
// meters, the workspace limit, the health check and the periodic check against the disk.
#include "Nuvel/model/AppModel.hpp"

#include "NuvelKit/store/RecordingError.hpp"

#include <utility>

namespace nuvel {

namespace {
constexpr std::string_view permissionOffText =
    "Microphone access is off. Enable Nuvel in System Settings, or import a recording.";
constexpr std::string_view couldNotStartText = "Recording could not start. Any saved audio has been preserved.";
constexpr std::string_view limitReachedText =
    "The workspace recording limit was reached. Your audio is being saved.";
constexpr std::string_view limitWarningText =
    "One minute remains before this workspace's recording limit. Your audio will be saved automatically.";
constexpr std::string_view microphoneStoppedText =
    "The microphone stopped. Your saved audio is safe; resume explicitly when ready.";
constexpr std::string_view interruptedText = "Recording was interrupted. Your saved audio is safe.";
constexpr const char* activityReason = "Saving a user-started Nuvel recording";
} // namespace

void AppModel::startNewRecording(NewRecording request) {
    requireMain("AppModel::startNewRecording");
    if (!session_ || !store_ || isRecording() || busy_ || updateInProgress_)
        return;
    selectedSource_ = request.source;
    microphoneDeviceID_ = request.microphoneDeviceID;
    stopPlayback();
    cloud_->stopPlayback();
    busy_ = true;
    message_.clear();
    notifyChange();
    spawn(queue(), startRecording(shared_from_this(), *session_, std::move(request), store_));
}

Task<void> AppModel::startRecording(std::shared_ptr<AppModel> self, DeviceSession session, NewRecording request,
                                    std::shared_ptr<WorkspaceStore> store) {
    bool granted = true;
    if (self->deps_.requestMicrophoneAccess) {
        try {
            granted = co_await self->deps_.requestMicrophoneAccess();
        } catch (...) {
            granted = false;
        }
    }
    if (!granted) {
        self->setMessage(permissionOffText);
        self->endStart();
        co_return;
    }

    bool failed = false;
    try {
        std::optional<std::string> workspace;
        if (self->bootstrap_)
            workspace = self->bootstrap_->selectedWorkspaceID;
        LocalRecording recording = LocalRecording::make(session.account.id, workspace, request.title,
                                                        request.aiNotes, self->now(), Uuid::random());
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
        co_await runOn(self->actors(), save);

        self->recordings_.insert(self->recordings_.begin(), recording);
        self->activeID_ = recording.id;
        self->selectedID_ = recording.id;
        self->elapsed_ = 0;
        self->recordingLimit_.reset();
        if (self->bootstrap_)
            self->recordingLimit_ = self->bootstrap_->workspace.hardMaxMeetingSeconds;
        self->warnedAboutLimit_ = false;

        co_await self->makeCapturePipeline();

        if (self->deps_.keepAwake)
            self->activity_ = self->deps_.keepAwake->begin(activityReason);
        std::weak_ptr<AppModel> weak = self;
        self->timer_ = self->queue().startRepeatingTimer(tickInterval, [weak] {
            auto model = weak.lock();
            if (!model)
                return;
            auto run = [](std::weak_ptr<AppModel> held) -> Task<void> {
                if (auto m = held.lock())
                    m->tick();
                co_return;
            };
            spawn(model->queue(), run(weak));
        });
    } catch (...) {
        failed = true;
    }
    if (failed) {
        co_await self->interruptCapture();
        self->setMessage(couldNotStartText);
    }
    self->endStart();
}

void AppModel::endStart() {
    busy_ = false;
    if (stopRequested_ && !captureTransition_) {
        stopRequested_ = false;
        auto completion = std::exchange(stopCompletion_, {});
        stopRecording(std::move(completion));
    }
    notifyChange();
}

Task<void> AppModel::makeCapturePipeline() {
    if (!activeID_ || !store_)
        throw RecordingError(RecordingError::Code::missingMedia);
    if (!deps_.capture)
        throw RecordingError(RecordingError::Code::invalidTransport);
    const Uuid recordingID = *activeID_;
    CaptureRequest request{recordingID, store_, selectedSource_, microphoneDeviceID_};
    std::unique_ptr<CaptureSource> source = co_await deps_.capture->start(std::move(request));
    if (activeID_ != recordingID) {
        // A sleep or a lost device ended the recording while its source was starting: the
        // source must not go on capturing for a recording that no longer runs.
        try {
            co_await source->stop();
        } catch (...) {
            // The store keeps whatever the source wrote; recovery finishes it.
        }
        throw RecordingError(RecordingError::Code::invalidTransport);
    }
    recorder_ = std::move(source);
    lastCheckpointAttempt_ = 0;
}

void AppModel::tick() {
    if (recorder_) {
        elapsed_ = recorder_->duration();
        microphoneLevel_ = recorder_->microphoneLevel();
        systemLevel_ = recorder_->systemLevel();
    } else {
        microphoneLevel_ = 0;
        systemLevel_ = 0;
    }
    if (onTick)
        onTick();

    if (!isCapturing())
        return;
    if (recordingLimit_) {
        if (elapsed_ >= *recordingLimit_) {
            stopRecording();
            setMessage(limitReachedText);
            return;
        }
        if (*recordingLimit_ - elapsed_ <= limitWarningSeconds && !warnedAboutLimit_) {
            warnedAboutLimit_ = true;
            setMessage(limitWarningText);
        }
    }
    if (captureTransition_)
        return;
    if (!recorder_ || !recorder_->isHealthy()) {
        captureTransition_ = true;
        spawn(queue(), stopUnhealthyCapture(shared_from_this()));
    } else if (elapsed_ - lastCheckpointAttempt_ >= checkpointInterval) {
        lastCheckpointAttempt_ = elapsed_;
        captureTransition_ = true;
        spawn(queue(), checkpointCapture(shared_from_this()));
    }
}

Task<void> AppModel::stopUnhealthyCapture(std::shared_ptr<AppModel> self) {
    co_await self->interruptCapture();
    self->endCheck();
    self->setMessage(microphoneStoppedText);
}

Task<void> AppModel::checkpointCapture(std::shared_ptr<AppModel> self) {
    bool failed = false;
    try {
        if (self->activeID_ && self->store_) {
            auto store = self->store_;
            Uuid id = *self->activeID_;
            auto load = [store, id] { return store->loadRecording(id); };
            LocalRecording loaded = co_await runOn(self->actors(), load);
            self->replaceRecording(loaded);
        }
        if (self->store_) {
            std::optional<std::int64_t> free = self->deps_.freeSpace(self->store_->root());
            if (!free || *free < freeSpaceFloor)
                failed = true;
        }
    } catch (...) {
        failed = true;
    }
    if (failed) {
        co_await self->interruptCapture();
        self->setMessage(interruptedText);
    }
    self->endCheck();
}

void AppModel::endCheck() {
    captureTransition_ = false;
    if (stopRequested_ && !busy_) {
        // The user's stop saves the recording; a notice held meanwhile has nothing left to end.
        heldInterruption_.reset();
        runDeferredStop();
    } else {
        runHeldInterruption();
    }
}

Task<void> AppModel::interruptCapture() {
    if (timer_)
        queue().cancelTimer(*timer_);
    timer_.reset();
    std::unique_ptr<CaptureSource> source = std::move(recorder_);
    if (source) {
        std::optional<LocalRecording> stopped;
        try {
            stopped = co_await source->stop();
        } catch (...) {
            // What the source wrote stays in the store; recovery finishes it.
        }
        if (stopped)
            replaceRecording(*stopped);
    }
    try {
        co_await setActiveCaptureState(CaptureState::interrupted);
    } catch (...) {
        // The manifest keeps its last state; the next recovery scan marks it.
    }
    endActivity();
    activeID_.reset();
    notifyChange();
}

} // namespace nuvel
