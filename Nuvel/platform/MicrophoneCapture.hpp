#pragma once

#include "Nuvel/platform/CaptureEngine.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"
#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/CaptureSource.hpp"
#include "NuvelKit/capture/ConsumerRun.hpp"
#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace nuvel {

// The capture source of a room recording: the chosen microphone alone, through a tap on the
// input of an audio engine, into a frame ring that a consumer thread moves into the recording's
// live segment as it comes.
//
// Lost audio (a buffer without a valid time or at another rate than the start format, a
// configuration change of the engine, a full ring, a failed append) sets the ring's sticky
// overflow: the source then reports itself unhealthy, refuses to resume, and the drain of the
// next pause or stop throws RecordingError(invalidTransport) after the live segment has been
// finished, so the audio already captured is kept. The source never reconfigures itself.
//
// Main actor: the constructor, the getters, pause, resume and stop. `start` waits for the sound
// server: it runs off the main thread, before the source is shared.
class MicrophoneCapture final : public CaptureSource {
public:
    static constexpr std::uint32_t ringSlots = 64;
    static constexpr std::uint32_t ringFramesPerSlot = 8192;
    static constexpr std::uint32_t tapBufferSize = 1024;
    // The microphone alone is mixed with no other source as it comes: its audio may arrive in
    // pieces as long as the meters' tick, which wakes the program ten times a second rather
    // than forty. Until then the sound server holds it; a piece of it takes one ring slot (at
    // 48 kHz), so the ring holds 6.4 s.
    static constexpr double deliveryInterval = 0.1;

    // Makes the engine and the ring; throws RecordingError(invalidTransport) when the ring
    // cannot be made. No device (none) records the system's default input.
    MicrophoneCapture(Uuid id, std::shared_ptr<LiveAudioSink> store,
                      std::optional<std::uint32_t> microphoneDeviceID, CapturePlatform& platform);
    // Removes the tap and the configuration observer, stops the engine and ends the consumer.
    ~MicrophoneCapture() override;
    MicrophoneCapture(const MicrophoneCapture&) = delete;
    MicrophoneCapture& operator=(const MicrophoneCapture&) = delete;

    // Applies the device, checks the input format (8000...192000 Hz, 1...32 channels, 32-bit
    // float, non-interleaved: else RecordingError(invalidTransport)), installs the tap and the
    // configuration observer, starts the engine and the consumer. Throws
    // MicrophoneDevices::DeviceError, RecordingError or the engine's error; a failed start
    // leaves nothing installed, registered or running. Only the first call may start. Blocks on
    // the sound server: call it on an executor (PulseCaptureFactory does), never on the main
    // queue.
    void start();

    double duration() const override;
    double microphoneLevel() const override { return ring_->level(); }
    double systemLevel() const override { return 0; }
    bool isHealthy() const override;

    Task<LocalRecording> pause() override;
    // RecordingError(invalidTransport) when the engine is not running, audio was lost, the
    // source is silent for more than 2.0 s, or it is not paused; nothing changes then.
    void resume() override;
    Task<LocalRecording> stop() override;

    double sampleRate() const { return sampleRate_; }

private:
    void startConsumer();
    void removeObserver();
    void removeTap();
    Task<LocalRecording> drain();

    CapturePlatform& platform_;
    std::unique_ptr<CaptureEngine> engine_;
    std::shared_ptr<AudioRing> ring_;
    std::shared_ptr<LiveAudioSink> store_;
    Uuid id_;
    std::unique_ptr<ConsumerRun> consumer_;
    double sampleRate_ = 0;
    bool tapInstalled_ = false;
    bool paused_ = false;
    bool started_ = false;
    double startedAt_ = 0;
    std::optional<CaptureEngine::ObserverID> routeObserver_;
    std::optional<std::uint32_t> microphoneDeviceID_;
};

} // namespace nuvel
