#pragma once

#include "Nuvel/platform/CaptureEngine.hpp"
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"

#include <map>
#include <memory>
#include <string>

namespace nuvel {

// The audio engine of a capture over the sound server: the input is a record stream of the
// chosen source (or the default one) at the source's own rate and channel count, downmixed to
// mono float by the stream layer and handed to the tap as one-channel buffers with host times.
//
// Configuration changes reported to the observers: the source going away, the default source
// changing while the engine records the default, the connection ending, and any problem of the
// record stream (a hole in the data, a move, a suspension, its end). The stream never follows
// another device by itself.
//
// Threads: call the operations off the connection's mainloop thread (the main actor); the tap
// and the observers run on the mainloop thread.
class PulseCaptureEngine final : public CaptureEngine {
public:
    // The longest delivery interval taken: far inside the capture watchdog's allowed gap.
    static constexpr double maxDeliveryInterval = 0.5;

    explicit PulseCaptureEngine(std::shared_ptr<PulseConnection> connection);
    ~PulseCaptureEngine() override;

    void setInputDevice(std::optional<std::uint32_t> deviceID) override;
    Format inputFormat() override;
    void installTap(std::uint32_t bufferSize, Tap tap) override;
    void removeTap() override;
    ObserverID addConfigurationObserver(std::function<void()> changed) override;
    void removeConfigurationObserver(ObserverID id) override;
    void setDeliveryInterval(double seconds) override;
    void start() override;
    void stop() override;
    bool isRunning() const override;

    // The source the engine records (after inputFormat or start).
    const std::string& deviceName() const { return deviceName_; }

private:
    // Looks up the source the engine records (the chosen one or the current default).
    PulseSourceInfo resolve();
    void deliver(const float* mono, std::uint32_t frames, double sampleRate, double hostTime);
    void notifyObservers();

    std::shared_ptr<PulseConnection> connection_;
    std::optional<std::string> chosenSource_; // absent: the default source
    std::string deviceName_;
    std::uint32_t deviceIndex_ = UINT32_MAX;
    double deliveryInterval_ = PulseRecordStream::Options{}.fragmentSeconds;
    std::unique_ptr<PulseRecordStream> stream_;

    // Read on the mainloop thread; changed only under the mainloop lock.
    Tap tap_;
    std::map<ObserverID, std::shared_ptr<std::function<void()>>> observers_;
};

} // namespace nuvel
