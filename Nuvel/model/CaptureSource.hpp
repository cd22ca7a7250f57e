#pragma once

#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace nuvel {

// A running capture source (the microphone, or one application's or all system audio together
// with the microphone), as the application model drives it from the main queue.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Seconds of capture, pauses left out.
    virtual double duration() const = 0;
    virtual double microphoneLevel() const = 0;
    // 0 for a microphone-only source.
    virtual double systemLevel() const = 0;
    virtual bool isHealthy() const = 0;
    // Pauses, finishes the live segment in the store and returns the recording as stored.
    virtual Task<LocalRecording> pause() = 0;
    // Resumes a paused source; RecordingError::invalidTransport when it is no longer healthy.
    virtual void resume() = 0;
    // Stops for good, finishes the live segment and returns the recording as stored.
    virtual Task<LocalRecording> stop() = 0;
};

// The application or system audio recorded beside the microphone.
struct SystemAudioSelection {
    enum class Kind { application, allSystem };

    Kind kind = Kind::allSystem;
    std::int32_t processID = 0; // the application's process, for `application`

    static SystemAudioSelection application(std::int32_t processID) { return {Kind::application, processID}; }
    static SystemAudioSelection allSystem() { return {Kind::allSystem, 0}; }

    bool operator==(const SystemAudioSelection&) const = default;
};

// What a new capture records.
struct CaptureRequest {
    Uuid recordingID;
    std::shared_ptr<WorkspaceStore> store;
    std::optional<SystemAudioSelection> systemAudio; // none: the microphone alone
    std::optional<std::uint32_t> microphoneDeviceID; // none: the default input
};

// Builds and starts capture sources for new recordings.
class CaptureFactory {
public:
    virtual ~CaptureFactory() = default;
    // The started source; throws when it cannot be made or started.
    virtual Task<std::unique_ptr<CaptureSource>> start(CaptureRequest request) = 0;
};

} // namespace nuvel
