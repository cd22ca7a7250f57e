#pragma once

#include "Nuvel/platform/CaptureEngine.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/SystemAudioService.hpp"
#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/CaptureError.hpp"
#include "NuvelKit/capture/CaptureSource.hpp"
#include "NuvelKit/capture/CaptureTimelineLedger.hpp"
#include "NuvelKit/capture/ConsumerRun.hpp"
#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/capture/SourceCheck.hpp"
#include "NuvelKit/capture/SystemAudioOutput.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// The capture source of an online meeting: one application's audio or all system audio (the
// system ring, fed by the service's stream through a SystemAudioOutput), together with the
// microphone (the microphone ring, fed by a tap on an audio engine). One consumer run per
// stretch mixes both at 48000 Hz on the capture's timeline into the recording's live segment
// (SystemCaptureConsumer); pause and stop end it with drainSystemCapture.
//
// Lost audio on either side sets that ring's sticky overflow: the capture reports itself
// unhealthy, refuses to resume, and the next drain finishes the live segment and then throws.
// The chosen application quitting makes it unhealthy for good.
//
// Main actor: everything here, including the getters.
class SystemAudioCapture final : public CaptureSource {
public:
    using Selection = SystemAudioSelection;
    using CaptureError = nuvel::CaptureError;

    // One application whose audio can be captured.
    struct Application {
        std::int32_t id = 0; // its process id: Selection::application(id)
        std::string name;
        std::string bundleIdentifier;
        bool operator==(const Application&) const = default;
    };

    static constexpr std::uint32_t ringSlots = 64;
    static constexpr std::uint32_t ringFramesPerSlot = 8192;
    static constexpr std::uint32_t tapBufferSize = 1024;

    // Paused, with no stream; `store` is absent only for the source check. Throws
    // RecordingError(invalidTransport) when a ring cannot be made.
    SystemAudioCapture(std::shared_ptr<LiveAudioSink> store, Uuid id, Selection selection,
                       bool includesMicrophone, std::optional<std::uint32_t> microphoneDeviceID,
                       CapturePlatform& platform);
    // Tears down whatever still runs (tap, observer, engine, stream, consumer).
    ~SystemAudioCapture() override;
    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Starts the stream of the selection and, when included, the microphone tap, then the
    // consumer. Throws CaptureError(permission) without looking at anything else;
    // CaptureError(sourceMissing) when the application (or the system output) is not there;
    // MicrophoneDevices::DeviceError, RecordingError(invalidTransport) for an unsupported
    // microphone format, or the platform's errors. A failed start leaves the capture paused
    // with no stream, tap, observer or running engine. Only the first call may start.
    Task<void> start();

    double duration() const override;
    double microphoneLevel() const override { return microphone_->level(); }
    double systemLevel() const override { return system_->level(); }
    bool isHealthy() const override;

    // RecordingError(invalidTransport) when already paused.
    Task<LocalRecording> pause() override;
    // CaptureError(sourceInterrupted) when not paused, not started, stopped, or unhealthy.
    void resume() override;
    Task<LocalRecording> stop() override;

    // The timeline so far.
    CaptureTimeline timeline() const { return ledger_->snapshot(); }

    // The applications whose audio can be captured, sorted by name (numbers by value; equal
    // names keep the service's order), without this program. Throws the service's error.
    static Task<std::vector<Application>> availableApplications(CapturePlatform& platform);

    // About three seconds of the selection with the microphone, without a store: 30 passes
    // 100 ms apart, each writing both levels to `meters` (while they exist) and failing with
    // CaptureError(sourceInterrupted) as soon as the capture is unhealthy. Returns when the
    // check passed; throws start()'s errors as they are, Cancelled when the task is cancelled.
    static Task<void> sourceCheck(Selection selection, bool includesMicrophone,
                                  std::optional<std::uint32_t> microphoneDeviceID,
                                  std::weak_ptr<SourceCheckMeters> meters, CapturePlatform& platform);

    // Stops everything without finishing a segment or counting time; never throws.
    Task<void> shutdown();

private:
    void startConsumer();
    // Silences both rings and stops the microphone side: tap, engine, configuration observer.
    void stopInputs();
    void removeObserver();
    void removeTap();
    // Undoes a start that failed after the stream was made.
    Task<void> cleanUpFailedStart();
    Task<void> stopStream();
    Task<LocalRecording> drain();

    CapturePlatform& platform_;
    std::shared_ptr<CaptureTimelineLedger> ledger_;
    std::unique_ptr<CaptureEngine> engine_;
    std::shared_ptr<AudioRing> microphone_;
    std::shared_ptr<AudioRing> system_;
    std::shared_ptr<SystemAudioOutput> output_;
    std::shared_ptr<LiveAudioSink> store_;
    Uuid id_;
    Selection selection_;
    bool includesMicrophone_;
    std::optional<std::uint32_t> microphoneDeviceID_;
    std::unique_ptr<SystemAudioStream> stream_;
    std::unique_ptr<ConsumerRun> consumer_;
    double startedAt_ = 0;
    bool paused_ = true;
    bool tapInstalled_ = false;
    bool started_ = false;
    double accumulated_ = 0;
    double microphoneRate_ = 0;
    std::optional<CaptureEngine::ObserverID> routeObserver_;
    // The chosen application as it was when the capture started.
    std::optional<SystemAudioService::ProcessIdentity> application_;
};

} // namespace nuvel
