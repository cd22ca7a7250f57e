#pragma once

#include "Nuvel/model/AppModelDependencies.hpp"
#include "Nuvel/model/ModelParts.hpp"
#include "Nuvel/model/capture/NewRecording.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The recording coordinator: the one model the windows and the status item drive. It keeps the
// device session and the open workspace store, runs recordings, imports, exports, local
// playback, annotation saves and uploads, and reports every outcome as one status sentence.
//
// It lives on the main queue: every entry point checks that it runs there. Entry points never
// report a refusal: a request that the model's state forbids returns and changes nothing; the
// checks are the entry points' own, below. The work behind them belongs to the model's parts
// (capture, local audio, annotations, upload, session), which share the model's one state and
// dependencies and run their long work in tasks on the main queue that call the blocking store,
// keyring, service, media and sound-server operations on the actor executor.
class AppModel : public std::enable_shared_from_this<AppModel> {
public:
    static constexpr const char* keychainService = ModelContext::keychainService;
    static constexpr double tickInterval = CaptureController::tickInterval;
    static constexpr double checkpointInterval = CaptureController::checkpointInterval;
    static constexpr std::int64_t freeSpaceFloor = CaptureController::freeSpaceFloor;
    static constexpr double limitWarningSeconds = CaptureController::limitWarningSeconds;

    using NewRecording = nuvel::NewRecording;

    // Makes the model and starts its network monitor. Throws std::invalid_argument when a
    // required dependency is missing.
    static std::shared_ptr<AppModel> make(AppModelDependencies dependencies);
    // Silences the system's reporters, cancels the model's remaining tasks, and calls whatever
    // still waits for a stop or for the system to sleep.
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Observers: called after every change a window must show, and on every recording or cloud
    // playback tick.
    std::function<void()> onChange;
    std::function<void()> onTick;

    // ---- State the windows read ----
    bool updateInProgress() const { return state().updateInProgress; }
    void setUpdateInProgress(bool inProgress);
    CloudMeetingModel& cloud() const { return *parts_.context.cloud; }
    const std::optional<DeviceSession>& session() const { return state().session; }
    bool sessionRefused() const { return state().sessionRefused; }
    const std::optional<NativeBootstrap>& bootstrap() const { return state().bootstrap; }
    const std::vector<LocalRecording>& recordings() const { return state().recordings; }
    const std::optional<Uuid>& selectedID() const { return state().selectedID; }
    const std::optional<Uuid>& activeID() const { return state().activeID; }
    const std::string& message() const { return state().message; }
    bool busy() const { return state().busy; }
    bool uploading() const { return state().uploading; }
    double microphoneLevel() const { return state().microphoneLevel; }
    double systemLevel() const { return state().systemLevel; }
    double elapsed() const { return state().elapsed; }
    const std::optional<SystemAudioSelection>& selectedSource() const { return state().selectedSource; }
    const std::optional<std::uint32_t>& microphoneDeviceID() const { return state().microphoneDeviceID; }
    const std::shared_ptr<WorkspaceStore>& store() const { return state().store; }
    bool captureTransition() const { return state().captureTransition; }
    bool networkAvailable() const { return state().networkAvailable; }
    const std::optional<Uuid>& playbackID() const { return state().playbackID; }
    bool playbackPlaying() const { return state().playbackPlaying; }
    bool isSigningIn() const { return parts_.session.isSigningIn(); }
    // The save of a recording's notes, scratchpad and bookmarks that is in flight (each waits
    // for the one before it), or an empty handle.
    const TaskHandle& annotationTask() const { return parts_.annotations.annotationTask(); }

    // ---- Queries ----
    bool isRecording() const { return state().isRecording(); }
    bool isCapturing() const { return state().isCapturing(); }
    bool isPaused() const { return state().isPaused(); }
    // Pointers into `recordings`, valid until the list next changes.
    const LocalRecording* activeRecording() const { return state().recordingMatching(state().activeID); }
    const LocalRecording* selectedRecording() const { return state().recordingMatching(state().selectedID); }
    // The open workspace's name, or the localised "Personal workspace".
    std::string workspaceTitle() const;
    // Whether the library may offer to send the recording.
    bool canSend(const LocalRecording& recording) const { return state().canSend(recording); }
    // Holds a device session. The device stays signed in when the service refuses the session
    // (`sessionRefused`, or the cloud model's `signInNeeded`): the account row and Settings still
    // name the account and offer to sign out, while the status line and the Nuvel library offer
    // to sign in again.
    bool signedIn() const { return state().session.has_value(); }
    // A recording runs or one is being sent: signing in and out, and changing the workspace's
    // server settings, wait until that ends; every window greys the controls for them meanwhile.
    bool recordingOrSending() const { return isRecording() || uploading(); }

    // ---- Entry points ----
    void start();
    // The new-recording sheet's confirmation: starts a recording of the chosen source.
    void startNewRecording(NewRecording request);
    // The one writer of the status line: the localised sentence, then `onChange`.
    void setMessage(std::string_view text);
    // Selects a recording; a status sentence about another one goes.
    void select(std::optional<Uuid> id);
    // The library window turned to the Nuvel library, or opened a meeting there: a status
    // sentence about a recording goes.
    void showingCloudLibrary();
    // Opens the browser on the sign-in page; a pending attempt is replaced.
    void signIn();
    // The sign-in callback (nuvel://auth?code=…) the desktop handed over.
    void completeSignIn(const std::string& callbackURL);
    void signOut();
    void stopRecording(std::function<void()> completion = {});
    void togglePause();
    void addBookmark();
    void stopPlayback();
    void togglePlayback(std::optional<double> at = std::nullopt);
    void discardRecording();
    void setScratchpad(std::string text, const Uuid& id);
    void setNotepad(std::string_view text, const Uuid& id);
    void importAudio(std::filesystem::path file, bool aiNotes);
    void exportAudio(std::filesystem::path destination);
    void selectWorkspace(std::string workspaceID);
    void startUploadIfAllowed(const Uuid& id, bool automatic);
    // The library's refresh: reads the selected recording's processing state from the service.
    void refreshSelectedStatus();

private:
    explicit AppModel(AppModelDependencies dependencies);
    void install();
    const ModelState& state() const { return parts_.context.state; }
    ModelState& state() { return parts_.context.state; }
    void requireMain(const char* where) const { parts_.context.requireMain(where); }
    // Network path reports (from any thread), handled on the main queue.
    void pathUpdated(bool satisfied);

    ModelParts parts_;
};

} // namespace nuvel
