#pragma once

#include "Nuvel/model/AppModelDependencies.hpp"
#include "Nuvel/model/CalendarMeetingDetails.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// Whether a sent recording's shared notes differ from what the service last agreed to.
bool notepadNeedsSync(const LocalRecording& recording);

// The recording coordinator: the one model the windows and the status item drive. It keeps the
// device session and the open workspace store, runs recordings, imports, exports, local
// playback, annotation saves and uploads, and reports every outcome as one status sentence.
//
// It lives on the main queue: every entry point checks that it runs there. Entry points never
// report a refusal: a request that the model's state forbids returns and changes nothing. Long
// work runs in tasks on the main queue that call the blocking store, keyring and service
// operations on the actor executor.
class AppModel : public std::enable_shared_from_this<AppModel> {
public:
    static constexpr const char* keychainService = "com.getnuvel.mac.production";
    // The recording tick, and how often a running capture is checked against the disk.
    static constexpr double tickInterval = 0.1;
    static constexpr double checkpointInterval = 5.0;
    // A recording is interrupted when its volume has fewer free bytes than this.
    static constexpr std::int64_t freeSpaceFloor = 100'000'001;
    static constexpr double limitWarningSeconds = 60;

    // What the new-recording sheet confirmed.
    struct NewRecording {
        std::string title;
        bool aiNotes = false;
        std::optional<SystemAudioSelection> source; // none: the microphone alone
        std::string sourceName;                     // the source as the sheet showed it
        std::optional<std::uint32_t> microphoneDeviceID;
        std::optional<std::string> microphoneUID;
        std::optional<CalendarMeetingDetails> meeting;
    };

    // Makes the model and starts its network monitor. Throws std::invalid_argument when a
    // required dependency is missing.
    static std::shared_ptr<AppModel> make(AppModelDependencies dependencies);
    ~AppModel();
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Observers: called after every change a window must show, and on every recording or cloud
    // playback tick.
    std::function<void()> onChange;
    std::function<void()> onTick;

    // ---- State the windows read ----
    bool updateInProgress() const { return updateInProgress_; }
    void setUpdateInProgress(bool inProgress);
    CloudMeetingModel& cloud() const { return *cloud_; }
    const std::optional<DeviceSession>& session() const { return session_; }
    const std::optional<NativeBootstrap>& bootstrap() const { return bootstrap_; }
    const std::vector<LocalRecording>& recordings() const { return recordings_; }
    const std::optional<Uuid>& selectedID() const { return selectedID_; }
    const std::optional<Uuid>& activeID() const { return activeID_; }
    const std::string& message() const { return message_; }
    bool busy() const { return busy_; }
    bool uploading() const { return uploading_; }
    double microphoneLevel() const { return microphoneLevel_; }
    double systemLevel() const { return systemLevel_; }
    double elapsed() const { return elapsed_; }
    const std::optional<SystemAudioSelection>& selectedSource() const { return selectedSource_; }
    const std::optional<std::uint32_t>& microphoneDeviceID() const { return microphoneDeviceID_; }
    const std::shared_ptr<WorkspaceStore>& store() const { return store_; }
    bool captureTransition() const { return captureTransition_; }
    bool networkAvailable() const { return networkAvailable_; }
    const std::optional<Uuid>& playbackID() const { return playbackID_; }
    bool isSigningIn() const { return authSession_.has_value(); }
    // The save of a recording's notes, scratchpad and bookmarks that is in flight (each waits
    // for the one before it), or an empty handle.
    const TaskHandle& annotationTask() const { return annotationTask_; }

    // ---- Queries ----
    bool isRecording() const { return activeID_.has_value(); }
    bool isCapturing() const;
    bool isPaused() const;
    // Pointers into `recordings`, valid until the list next changes.
    const LocalRecording* activeRecording() const { return recordingMatching(activeID_); }
    const LocalRecording* selectedRecording() const { return recordingMatching(selectedID_); }
    // The open workspace's name, or the localised "Personal workspace".
    std::string workspaceTitle() const;
    // Whether the library may offer to send the recording.
    bool canSend(const LocalRecording& recording) const;

    // ---- Entry points ----
    void start();
    // The new-recording sheet's confirmation: starts a recording of the chosen source.
    void startNewRecording(NewRecording request);
    // The one writer of the status line: the localised sentence, then `onChange`.
    void setMessage(std::string_view text);
    void select(std::optional<Uuid> id);
    void signIn();
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

private:
    friend struct AppModelTestAccess;

    // The account folder and the account's media key.
    struct AccountFolder {
        std::filesystem::path folder;
        SymmetricKey key;
    };

    explicit AppModel(AppModelDependencies dependencies);
    static void fillDefaults(AppModelDependencies& dependencies);
    void install();
    void requireMain(const char* where) const;
    void notifyChange();
    std::string localized(std::string_view text) const;
    Date now() const;
    Executor& actors() const { return *deps_.actorExecutor; }
    MainQueue& queue() const { return *deps_.mainQueue; }
    const LocalRecording* recordingMatching(const std::optional<Uuid>& id) const;
    LocalRecording* findRecording(const Uuid& id);

    // Network path (reported on any thread, handled on the main queue).
    void pathUpdated(bool satisfied);

    // Start-up: session restore and workspace opening.
    static Task<void> startUp(std::shared_ptr<AppModel> self);
    Task<void> restoreSession();
    Task<void> activateSession(DeviceSession session);
    Task<void> openWorkspace(DeviceSession session, std::optional<NativeBootstrap> contract,
                             std::optional<Date> offlineUntil);
    static AccountFolder workspacesRoot(const std::filesystem::path& dataRoot, const KeychainVault& vault,
                                        const std::string& accountID);
    static std::string hexDigest(std::string_view text);

    // Sign-in: the browser attempt ends as cancelled when no callback came in time.
    void signInExpired();

    // Annotation saves, one after another in the order they were asked for.
    void startAnnotationTask(const LocalRecording& recording);
    static Task<void> saveAnnotationsAfter(std::shared_ptr<AppModel> self, TaskHandle previous,
                                           std::shared_ptr<WorkspaceStore> store, Uuid recordingID,
                                           RecordingStore::Annotations annotations);
    static Task<void> debounceNotepad(std::weak_ptr<AppModel> weak, Uuid recordingID);
    static Task<void> runNotepadSync(std::shared_ptr<AppModel> self, Uuid recordingID);
    Task<void> syncNotepad(Uuid recordingID);

    // The upload queue.
    void scheduleQueueWakeup();
    static Task<void> queueWakeupTask(std::weak_ptr<AppModel> weak, double delay, Uuid recordingID);
    static Task<void> upload(std::shared_ptr<AppModel> self, LocalRecording recording, DeviceSession session,
                             std::shared_ptr<WorkspaceStore> store, bool automatic,
                             std::optional<std::int64_t> maxSourceBytes,
                             std::optional<NativeCapabilities> capabilities);

    // The notices that end a running capture.
    enum class Interruption { sleep, device };

    // Starting a capture and watching it.
    static Task<void> startRecording(std::shared_ptr<AppModel> self, DeviceSession session, NewRecording request,
                                     std::shared_ptr<WorkspaceStore> store);
    Task<void> makeCapturePipeline();
    void endStart();
    void tick();
    static Task<void> stopUnhealthyCapture(std::shared_ptr<AppModel> self);
    static Task<void> checkpointCapture(std::shared_ptr<AppModel> self);
    Task<void> interruptCapture();
    void endCheck();

    // Capture endings shared by the stop, pause and check paths.
    void replaceRecording(const LocalRecording& recording);
    Task<void> setActiveCaptureState(CaptureState state);
    void endActivity();
    void runDeferredStop();
    void finishTransition();
    void finishSaved(std::function<void()> completion, std::string_view text);
    void finishStop(std::function<void()> completion);
    void willSleep(std::function<void()> ready);
    void deviceChanged();
    void interruptionNoticed(Interruption kind);
    void runHeldInterruption();
    static Task<void> interruptFor(std::shared_ptr<AppModel> self, Interruption kind);
    void releaseSleep();

    // Task bodies of the long entry points.
    static Task<void> finishRecording(std::shared_ptr<AppModel> self, std::function<void()> completion,
                                      std::unique_ptr<CaptureSource> source);
    static Task<void> setPaused(std::shared_ptr<AppModel> self);
    static Task<void> startPlayback(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                    LocalRecording recording, std::optional<double> time);
    static Task<void> removeLocalCopy(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                      DeviceSession session, LocalRecording recording);
    static Task<void> importFile(std::shared_ptr<AppModel> self, std::filesystem::path file,
                                 DeviceSession session, bool aiNotes, std::shared_ptr<WorkspaceStore> store);
    static Task<void> exportFile(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                 LocalRecording recording, std::filesystem::path destination);
    static Task<void> finishSignOut(std::shared_ptr<AppModel> self, DeviceSession session);
    static Task<void> switchWorkspace(std::shared_ptr<AppModel> self, DeviceSession session,
                                      std::string workspaceID);
    static Task<void> removeWorkingFile(Executor* executor, std::shared_ptr<WorkspaceStore> store,
                                        std::filesystem::path file);

    AppModelDependencies deps_;

    // Stored state, in the order the windows and the tasks rely on.
    bool updateInProgress_ = false;
    std::unique_ptr<CloudMeetingModel> cloud_;
    std::optional<DeviceSession> session_;
    std::optional<NativeBootstrap> bootstrap_;
    std::vector<LocalRecording> recordings_;
    std::optional<Uuid> selectedID_;
    std::optional<Uuid> activeID_;
    std::string message_;
    bool busy_ = false;
    bool uploading_ = false;
    double microphoneLevel_ = 0;
    double systemLevel_ = 0;
    std::optional<SystemAudioSelection> selectedSource_;
    std::optional<std::uint32_t> microphoneDeviceID_;
    double elapsed_ = 0;
    std::shared_ptr<WorkspaceStore> store_;
    KeychainVault vault_;
    std::shared_ptr<NuvelAPI> api_;
    std::shared_ptr<MediaAssembler> media_;
    // The pending browser sign-in: the timer that ends it as cancelled.
    std::optional<MainQueue::TimerId> authSession_;
    std::optional<PKCEAttempt> attempt_;
    std::unique_ptr<CaptureSource> recorder_;
    std::optional<MainQueue::TimerId> timer_;
    bool captureTransition_ = false;
    bool stopRequested_ = false;
    std::function<void()> stopCompletion_;
    // A sleep or device notice that came during a pause, resume or check, applied when it ends.
    std::optional<Interruption> heldInterruption_;
    // The system waits for these before it sleeps.
    std::vector<std::function<void()>> sleepReady_;
    TaskHandle annotationTask_;
    double lastCheckpointAttempt_ = 0;
    std::optional<double> recordingLimit_;
    bool warnedAboutLimit_ = false;
    std::exception_ptr heartbeatFailure_;
    std::unique_ptr<KeepAwakeActivity> activity_;
    TaskHandle queueWakeup_;
    std::shared_ptr<NetworkMonitor> network_;
    bool networkAvailable_ = true;
    std::unique_ptr<AudioPlayer> player_;
    std::optional<std::filesystem::path> playbackURL_;
    std::optional<Uuid> playbackID_;
    std::set<Uuid> notepadSyncing_;
    std::set<Uuid> notepadAgain_;
    std::map<Uuid, TaskHandle> notepadDebounce_;
};

} // namespace nuvel
