#include "Nuvel/platform/MicrophoneCapture.hpp"

#include "NuvelKit/capture/CaptureWatchdog.hpp"
#include "NuvelKit/capture/MicrophoneConsumer.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <exception>
#include <stdexcept>

namespace nuvel {

MicrophoneCapture::MicrophoneCapture(Uuid id, std::shared_ptr<LiveAudioSink> store,
                                     std::optional<std::uint32_t> microphoneDeviceID,
                                     CapturePlatform& platform)
    : platform_(platform), engine_(platform.makeEngine()),
      ring_(std::make_shared<AudioRing>(ringSlots, ringFramesPerSlot)), store_(std::move(store)), id_(id),
      microphoneDeviceID_(microphoneDeviceID) {
    if (!store_)
        throw std::invalid_argument("MicrophoneCapture: needs a store");
}

MicrophoneCapture::~MicrophoneCapture() {
    ring_->setPaused(true);
    removeObserver();
    removeTap();
    engine_->stop();
    consumer_.reset(); // cancels the consumer, which appends what is queued, and joins it
}

void MicrophoneCapture::start() {
    if (started_)
        throw RecordingError(RecordingError::Code::invalidTransport);
    engine_->setInputDevice(microphoneDeviceID_);
    const CaptureEngine::Format format = engine_->inputFormat();
    const bool supported = format.sampleRate >= 8000 && format.sampleRate <= 192000 &&
                           format.channelCount >= 1 && format.channelCount <= 32 &&
                           format.commonFormat == PcmSampleFormat::float32 && !format.interleaved;
    if (!supported)
        throw RecordingError(RecordingError::Code::invalidTransport);
    sampleRate_ = format.sampleRate;

    try {
        // The tap and the observer hold the ring and the rate, never the capture object.
        engine_->installTap(tapBufferSize, [ring = ring_, rate = sampleRate_](
                                               const PcmBuffer& buffer, std::optional<double> hostTime) {
            if (!hostTime || buffer.sampleRate != rate) {
                ring->markDropped();
                return;
            }
            // A refused write has set the ring's overflow itself.
            ring->write(buffer, *hostTime);
        });
        tapInstalled_ = true;
        routeObserver_ = engine_->addConfigurationObserver([ring = ring_] { ring->markDropped(); });
        startedAt_ = platform_.clock().now();
        engine_->setDeliveryInterval(deliveryInterval);
        engine_->start();
        startConsumer();
    } catch (...) {
        // Nothing of a failed start stays behind: not the tap, not the observer (which would
        // keep the ring alive and marking), not a running engine.
        removeObserver();
        removeTap();
        engine_->stop();
        throw;
    }
    started_ = true;
}

double MicrophoneCapture::duration() const {
    if (!(sampleRate_ > 0))
        return 0;
    return double(ring_->totalFrames()) / sampleRate_;
}

bool MicrophoneCapture::isHealthy() const {
    if (!engine_->isRunning() || ring_->overflowed())
        return false;
    return CaptureWatchdog::isHealthy(paused_, platform_.clock().now(), startedAt_,
                                      ring_->lastCallbackHostTime());
}

Task<LocalRecording> MicrophoneCapture::pause() {
    platform_.mainQueue().requireCurrent("MicrophoneCapture::pause");
    paused_ = true;
    ring_->setPaused(true);
    co_return co_await drain();
}

void MicrophoneCapture::resume() {
    platform_.mainQueue().requireCurrent("MicrophoneCapture::resume");
    // A second consumer on the one ring would break its single-consumer rule: resuming a
    // source that runs is refused like any other resume that cannot be honoured.
    if (!paused_ || !engine_->isRunning() || ring_->overflowed() ||
        !CaptureWatchdog::isHealthy(paused_, platform_.clock().now(), startedAt_,
                                    ring_->lastCallbackHostTime()))
        throw RecordingError(RecordingError::Code::invalidTransport);
    startedAt_ = platform_.clock().now();
    paused_ = false;
    startConsumer();
    ring_->setPaused(false);
}

Task<LocalRecording> MicrophoneCapture::stop() {
    platform_.mainQueue().requireCurrent("MicrophoneCapture::stop");
    paused_ = true;
    ring_->setPaused(true);
    removeObserver();
    removeTap();
    engine_->stop();
    co_return co_await drain();
}

void MicrophoneCapture::startConsumer() {
    consumer_ = std::make_unique<ConsumerRun>(
        platform_.mainQueue(),
        [ring = ring_, store = store_, id = id_, rate = sampleRate_, clock = &platform_.clock()](
            std::stop_token stop) { MicrophoneConsumer::run(*ring, *store, id, rate, *clock, stop); });
}

void MicrophoneCapture::removeObserver() {
    if (routeObserver_) {
        engine_->removeConfigurationObserver(*routeObserver_);
        routeObserver_.reset();
    }
}

void MicrophoneCapture::removeTap() {
    if (tapInstalled_) {
        engine_->removeTap();
        tapInstalled_ = false;
    }
}

Task<LocalRecording> MicrophoneCapture::drain() {
    co_return co_await drainMicrophoneCapture(ring_, consumer_, store_, id_, platform_.executor());
}

} // namespace nuvel
