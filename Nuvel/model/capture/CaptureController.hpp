#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/capture/NewRecording.hpp"
#include "Nuvel/model/localaudio/LocalPlayback.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace nuvel {

// A recording from the new-recording sheet to saved: the microphone permission, the new
// recording's manifest, the capture source, the keep-awake activity and the 0.1 s tick with its
// meters, the workspace limit, the health check and the periodic check against the disk; pause
// and resume; stop and its two endings; stops asked for while other work runs; and the sleep and
// device notices that end a capture.
//
// A capture that cannot go on ends as "interrupted" with its saved audio kept; no capture is
// ever restarted on its own. Main queue only.
class CaptureController {
public:
    static constexpr double tickInterval = 0.1;
    // How often, in seconds of capture, a running capture is checked against the disk.
    static constexpr double checkpointInterval = 5.0;
    // A capture is interrupted when its volume has fewer free bytes than this.
    static constexpr std::int64_t freeSpaceFloor = 100'000'001;
    static constexpr double limitWarningSeconds = 60;

    CaptureController(ModelContext& context, LocalPlayback& playback, UploadQueue& upload)
        : ctx_(context), playback_(playback), upload_(upload) {}
    // Calls the completions that still wait for a stop, and lets the system sleep.
    ~CaptureController();
    CaptureController(const CaptureController&) = delete;
    CaptureController& operator=(const CaptureController&) = delete;

    // The sheet's confirmation, after the sheet's checks: starts the recording of the chosen
    // source, holding the model busy until the capture runs or the start has failed.
    void startNewRecording(NewRecording request);
    // With nothing recording: calls `completion` at once. Otherwise stops and saves the capture,
    // or, while a pause, resume, check or other long work runs, stops it when that ends; every
    // completion given meanwhile is called once, in order, before the windows are told.
    void stopRecording(std::function<void()> completion);
    // Pauses a running capture or resumes a paused one (the caller checked that one is active
    // and nothing else runs).
    void togglePause();

    // The system is about to sleep: ends an active capture first. `ready` lets it sleep.
    void willSleep(std::function<void()> ready);
    // An audio input device went away: ends an active capture, paused or not.
    void deviceChanged();

    // A stop was asked for while other work ran; it runs when that work ends.
    bool stopRequested() const { return stopRequested_; }

private:
    enum class Interruption { sleep, device };

    // ---- Starting and watching (CaptureStart.cpp) ----
    Task<void> startRecording(ModelContext::Hold hold, DeviceSession session, NewRecording request,
                              std::shared_ptr<WorkspaceStore> store);
    Task<void> beginCapture(DeviceSession session, NewRecording request,
                            std::shared_ptr<WorkspaceStore> store);
    Task<void> makeCapturePipeline();
    void endStart();
    void startTicking();
    void cancelTicking();
    Task<void> tickTask(std::weak_ptr<const void> model);
    void tick();
    Task<void> stopUnhealthyCapture(ModelContext::Hold hold);
    Task<void> checkpointCapture(ModelContext::Hold hold);
    Task<void> checkCapture();
    void endCheck();
    Task<void> interruptCapture();

    // ---- Pausing, stopping and the notices (CaptureTransitions.cpp) ----
    Task<void> setActiveCaptureState(CaptureState state);
    Task<void> setPaused(ModelContext::Hold hold);
    Task<void> pauseOrResume();
    void finishTransition();
    Task<void> finishRecording(ModelContext::Hold hold, std::function<void()> completion,
                               std::unique_ptr<CaptureSource> source);
    Task<void> stopAndSave(CaptureSource* source);
    void finishSaved(std::function<void()> completion, StatusText text);
    void finishStop(std::function<void()> completion);
    void runDeferredStop();
    void interruptionNoticed(Interruption kind);
    void runHeldInterruption();
    Task<void> interruptFor(ModelContext::Hold hold, Interruption kind);
    void releaseSleep();

    ModelContext& ctx_;
    LocalPlayback& playback_;
    // A retry that fell due during the capture is sent once the stop has ended.
    UploadQueue& upload_;
    std::unique_ptr<CaptureSource> recorder_;
    std::optional<MainQueue::TimerId> timer_;
    std::unique_ptr<KeepAwakeActivity> activity_;
    bool stopRequested_ = false;
    std::function<void()> stopCompletion_;
    // A sleep or device notice that came during a pause, resume or check, applied when it ends.
    std::optional<Interruption> heldInterruption_;
    // The system waits for these before it sleeps.
    std::vector<std::function<void()>> sleepReady_;
    double lastCheckpointAttempt_ = 0;
    std::optional<double> recordingLimit_;
    bool warnedAboutLimit_ = false;
};

} // namespace nuvel
