#include "Nuvel/platform/PulseCaptureEngine.hpp"

#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"

#include <utility>
#include <vector>

namespace nuvel {

PulseCaptureEngine::PulseCaptureEngine(std::shared_ptr<PulseConnection> connection)
    : connection_(std::move(connection)) {}

PulseCaptureEngine::~PulseCaptureEngine() {
    stop();
    std::vector<ObserverID> ids;
    {
        PulseConnection::Lock lock(*connection_);
        for (const auto& entry : observers_)
            ids.push_back(entry.first);
    }
    for (ObserverID id : ids)
        removeConfigurationObserver(id);
}

void PulseCaptureEngine::setInputDevice(std::optional<std::uint32_t> deviceID) {
    chosenSource_ = MicrophoneDevices::apply(*connection_, deviceID);
    deviceName_.clear();
    deviceIndex_ = UINT32_MAX;
}

PulseSourceInfo PulseCaptureEngine::resolve() {
    std::optional<PulseSourceInfo> source;
    try {
        source = sourceInfo(*connection_, chosenSource_.value_or("@DEFAULT_SOURCE@"));
    } catch (const PulseError& error) {
        throw MicrophoneDevices::DeviceError::configuration(error.code());
    }
    if (!source)
        throw MicrophoneDevices::DeviceError::unavailable();
    deviceName_ = source->name;
    deviceIndex_ = source->index;
    return *source;
}

CaptureEngine::Format PulseCaptureEngine::inputFormat() {
    const PulseSourceInfo source = resolve();
    // The record stream asks the server for 32-bit float and hands the frames over one channel
    // at a time, whatever the device's own sample format.
    Format format;
    format.sampleRate = double(source.sampleSpec.rate);
    format.channelCount = int(source.sampleSpec.channels);
    format.commonFormat = PcmSampleFormat::float32;
    format.interleaved = false;
    return format;
}

void PulseCaptureEngine::installTap(std::uint32_t, Tap tap) {
    Tap previous;
    {
        PulseConnection::Lock lock(*connection_);
        previous = std::exchange(tap_, std::move(tap));
    }
}

void PulseCaptureEngine::removeTap() {
    Tap previous;
    {
        PulseConnection::Lock lock(*connection_);
        previous = std::exchange(tap_, nullptr);
    }
}

CaptureEngine::ObserverID PulseCaptureEngine::addConfigurationObserver(std::function<void()> changed) {
    if (deviceName_.empty())
        resolve();
    auto callback = std::make_shared<std::function<void()>>(std::move(changed));
    const std::uint32_t index = deviceIndex_;
    const std::string name = deviceName_;
    const bool followsDefault = !chosenSource_;
    ObserverID id =
        connection_->addEventHandler([callback, index, name, followsDefault](const PulseEvent& event) {
            switch (event.kind) {
            case PulseEvent::Kind::sourceRemoved:
                if (event.index == index)
                    (*callback)();
                break;
            case PulseEvent::Kind::defaultSourceChanged:
                // Recording "the default microphone" means this one no longer is.
                if (followsDefault && event.name != name)
                    (*callback)();
                break;
            case PulseEvent::Kind::disconnected:
                (*callback)();
                break;
            default:
                break;
            }
        });
    PulseConnection::Lock lock(*connection_);
    observers_[id] = std::move(callback);
    return id;
}

void PulseCaptureEngine::removeConfigurationObserver(ObserverID id) {
    connection_->removeEventHandler(id);
    std::shared_ptr<std::function<void()>> callback;
    PulseConnection::Lock lock(*connection_);
    if (auto found = observers_.find(id); found != observers_.end()) {
        callback = std::move(found->second);
        observers_.erase(found);
    }
}

void PulseCaptureEngine::setDeliveryInterval(double seconds) {
    // The server's fragment: what it keeps until it sends, never what it may drop.
    if (seconds > 0 && seconds <= maxDeliveryInterval)
        deliveryInterval_ = seconds;
}

void PulseCaptureEngine::start() {
    if (isRunning())
        return;
    stop();
    if (deviceName_.empty())
        resolve();
    PulseRecordStream::Options options;
    options.source = deviceName_; // pinned: a later change of the default does not move it
    options.streamName = "Nuvel microphone";
    options.fragmentSeconds = deliveryInterval_;
    stream_ = std::make_unique<PulseRecordStream>(
        connection_, options,
        [this](const float* mono, std::uint32_t frames, double sampleRate, double hostTime) {
            deliver(mono, frames, sampleRate, hostTime);
        },
        [this](PulseRecordStream::Problem) { notifyObservers(); });
}

void PulseCaptureEngine::stop() {
    if (!stream_)
        return;
    stream_->close();
    stream_.reset();
}

bool PulseCaptureEngine::isRunning() const {
    return stream_ != nullptr && !stream_->hasFailed();
}

void PulseCaptureEngine::deliver(const float* mono, std::uint32_t frames, double sampleRate,
                                 double hostTime) {
    if (!tap_)
        return;
    const float* channels[1] = {mono};
    PcmBuffer buffer;
    buffer.format = PcmSampleFormat::float32;
    buffer.interleaved = false;
    buffer.channelCount = 1;
    buffer.sampleRate = sampleRate;
    buffer.frameLength = frames;
    buffer.floatChannelData = channels;
    tap_(buffer, hostTime);
}

void PulseCaptureEngine::notifyObservers() {
    for (const auto& entry : observers_)
        (*entry.second)();
}

} // namespace nuvel
