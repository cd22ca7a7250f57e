#pragma once

#include "NuvelKit/capture/PcmBuffer.hpp"

#include <cstdint>
#include <functional>
#include <optional>

namespace nuvel {

// The microphone side of a capture: an audio engine whose input is tapped. The capture
// sources choose the input device, read the input format, install one tap, watch the
// engine's configuration and start and stop it; `PulseCaptureEngine` is the real one.
//
// Threads: every operation is called on the main actor. The tap and the configuration
// observers run on the engine's audio thread: they must not block, lock or allocate.
class CaptureEngine {
public:
    struct Format {
        double sampleRate = 0;
        int channelCount = 0;
        PcmSampleFormat commonFormat = PcmSampleFormat::float32;
        bool interleaved = false;
    };

    // One buffer of the input with the host time (host-clock seconds) of its first frame;
    // absent when the buffer carries no valid time.
    using Tap = std::function<void(const PcmBuffer& buffer, std::optional<double> hostTime)>;
    using ObserverID = std::uint64_t;

    virtual ~CaptureEngine() = default;

    // Makes the device (a MicrophoneDevices id) the engine's input; none keeps the system's
    // default input. Throws MicrophoneDevices::DeviceError.
    virtual void setInputDevice(std::optional<std::uint32_t> deviceID) = 0;
    // The format the input delivers. Throws MicrophoneDevices::DeviceError.
    virtual Format inputFormat() = 0;

    // `bufferSize` (frames) is a hint; the engine may deliver other sizes.
    virtual void installTap(std::uint32_t bufferSize, Tap tap) = 0;
    // After it returns the tap is not called again.
    virtual void removeTap() = 0;

    // `changed` is called when the engine's input changes under it (device gone or switched,
    // audio lost, connection lost). After removal it is not called again.
    virtual ObserverID addConfigurationObserver(std::function<void()> changed) = 0;
    virtual void removeConfigurationObserver(ObserverID id) = 0;

    // How long the engine may gather audio before it hands it to the tap, seconds: a longer
    // time wakes the program less often. Engines that cannot choose ignore it. Before start.
    virtual void setDeliveryInterval(double seconds) { static_cast<void>(seconds); }

    // Starts delivering to the tap; throws the engine's error.
    virtual void start() = 0;
    virtual void stop() = 0;
    // Started and not failed since.
    virtual bool isRunning() const = 0;
};

} // namespace nuvel
