#pragma once

#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// What the windows see of the application model, and what its parts share: the open account
// and workspace, the recordings, the capture in progress and the guards of long work. The
// model owns the one instance; its parts read and write it on the main queue.
struct ModelState {
    bool updateInProgress = false;
    std::optional<DeviceSession> session;
    // The service no longer knows this device's session (it answered 401): the windows offer to
    // sign in again. A workspace opened with a contract the service gave clears it.
    bool sessionRefused = false;
    std::optional<NativeBootstrap> bootstrap;
    // The open workspace's recordings; a new one goes in front.
    std::vector<LocalRecording> recordings;
    std::optional<Uuid> selectedID;
    // The recording being captured (recording or paused).
    std::optional<Uuid> activeID;
    // The status sentence. One about a recording (`messageRecording`; none for the empty pane it
    // was written over) goes once the windows show another recording or the Nuvel library; one
    // about the application, the session or the workspace stays until another replaces it.
    std::string message;
    bool messageAboutRecording = false;
    std::optional<Uuid> messageRecording;
    // A long operation runs: most entry points refuse.
    bool busy = false;
    bool uploading = false;
    double microphoneLevel = 0;
    double systemLevel = 0;
    std::optional<SystemAudioSelection> selectedSource;
    std::optional<std::uint32_t> microphoneDeviceID;
    double elapsed = 0;
    std::shared_ptr<WorkspaceStore> store;
    // A pause, resume, stop or check of the capture runs.
    bool captureTransition = false;
    bool networkAvailable = true;
    std::optional<Uuid> playbackID;
    // Whether that recording's player is playing (not paused), as of its last operation.
    bool playbackPlaying = false;

    // Replaces the status sentence with one about the application (empty: none), or about a recording.
    void writeMessage(std::string text);
    void writeMessageAbout(std::string text, std::optional<Uuid> recording);
    // The windows show the pane of `shown` now (none: the empty pane), or the Nuvel library: a
    // sentence about another recording, or about any, goes. True when one went.
    bool showingRecording(const std::optional<Uuid>& shown);
    bool showingCloudLibrary();

    bool isRecording() const { return activeID.has_value(); }
    bool isCapturing() const;
    bool isPaused() const;
    // The first recording with that id; null when none (or no id).
    const LocalRecording* recordingMatching(const std::optional<Uuid>& id) const;
    LocalRecording* findRecording(const Uuid& id);
    // The open contract's selected workspace; none without a contract.
    std::optional<std::string> selectedWorkspaceID() const;
    // Whether the library may offer to send the recording again.
    bool canSend(const LocalRecording& recording) const;
    // Puts a recording the store returned in place of the listed one with its id (none: nothing
    // happens). The listed one keeps its annotations: their own save task writes them.
    void replaceRecording(const LocalRecording& recording);
};

} // namespace nuvel
