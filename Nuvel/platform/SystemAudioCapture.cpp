#include "Nuvel/platform/SystemAudioCapture.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/capture/CaptureWatchdog.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/ring/FrameRing.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Time.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>

namespace nuvel {

namespace {

// The most channels the ring takes; a wider buffer is handed on whole, for the ring to refuse.
constexpr int maxTapChannels = ring::maxChannels;

// The microphone tap: holds the ring and the rate fixed at start, never the capture object.
CaptureEngine::Tap handleTap(std::shared_ptr<AudioRing> ring, double rate, CaptureClock& clock) {
    return [ring = std::move(ring), rate, &clock](const PcmBuffer& buffer, std::optional<double> hostTime) {
        if (!hostTime || buffer.sampleRate != rate) {
            ring->markDropped();
            return;
        }
        // Audio too old for the consumer to place is cut, not handed on to end the recording.
        const std::uint32_t stale =
            SystemCaptureConsumer::staleFrames(*hostTime, buffer.frameLength, rate, clock.now());
        if (stale == 0 || buffer.floatChannelData == nullptr || buffer.channelCount > maxTapChannels) {
            ring->write(buffer, *hostTime); // a refused write has set the ring's overflow itself
            return;
        }
        if (stale == buffer.frameLength)
            return;
        std::array<const float*, maxTapChannels> channels{};
        for (int c = 0; c < buffer.channelCount; ++c)
            channels[std::size_t(c)] = buffer.floatChannelData[c] + stale;
        PcmBuffer fresh = buffer;
        fresh.frameLength = buffer.frameLength - stale;
        fresh.floatChannelData = channels.data();
        ring->write(fresh, *hostTime + double(stale) / rate);
    };
}

bool supportedMicrophoneFormat(const CaptureEngine::Format& format) {
    // No upper bound on channels here: a buffer of more channels than a ring slot takes is
    // refused by the ring and shows as lost audio.
    return format.sampleRate >= 8000 && format.sampleRate <= 192000 && format.channelCount >= 1 &&
           format.commonFormat == PcmSampleFormat::float32 && !format.interleaved;
}

} // namespace

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<LiveAudioSink> store, Uuid id, Selection selection,
                                       bool includesMicrophone,
                                       std::optional<std::uint32_t> microphoneDeviceID,
                                       CapturePlatform& platform)
    : platform_(platform), ledger_(std::make_shared<CaptureTimelineLedger>()), engine_(platform.makeEngine()),
      microphone_(std::make_shared<AudioRing>(ringSlots, ringFramesPerSlot)),
      system_(std::make_shared<AudioRing>(ringSlots, ringFramesPerSlot)),
      output_(std::make_shared<SystemAudioOutput>(system_)), store_(std::move(store)), id_(id),
      selection_(selection), includesMicrophone_(includesMicrophone),
      microphoneDeviceID_(microphoneDeviceID) {}

SystemAudioCapture::~SystemAudioCapture() {
    stopInputs();
    if (stream_)
        stream_->stopCapture();
    stream_.reset();
    consumer_.reset(); // cancels the run and joins it
}

Task<void> SystemAudioCapture::start() {
    platform_.mainQueue().requireCurrent("SystemAudioCapture::start");
    if (started_)
        throw RecordingError(RecordingError::Code::invalidTransport);
    started_ = true;
    SystemAudioService& service = platform_.systemAudio();
    if (!service.preflightAccess())
        throw CaptureError(CaptureError::Code::permission);

    SystemAudioService::Content content =
        co_await runOn(platform_.executor(), [&service] { return service.shareableContent(); });

    SystemAudioService::Filter filter;
    if (selection_.kind == Selection::Kind::application) {
        const std::int32_t processID = selection_.processID;
        auto found =
            std::find_if(content.applications.begin(), content.applications.end(),
                         [processID](const auto& application) { return application.processID == processID; });
        if (found == content.applications.end())
            throw CaptureError(CaptureError::Code::sourceMissing);
        application_ = service.identifyProcess(processID);
        if (!application_)
            throw CaptureError(CaptureError::Code::sourceMissing);
        filter.applicationStream = found->stream;
        filter.applicationProcess = processID;
    } else {
        if (!content.systemOutput)
            throw CaptureError(CaptureError::Code::sourceMissing);
        filter.systemOutput = content.systemOutput;
    }
    // A stream that cannot be made leaves nothing to undo.
    stream_ = service.makeStream(filter, output_);

    std::exception_ptr failure;
    // On the executor, while nothing else can reach this capture yet: the microphone opens first
    // (it waits for the sound server: its device, format and stream), then the stream, and then
    // the recording's clock starts. A sound server takes a moment to deliver a fresh stream's
    // audio, and whatever plays after Start must be kept; what comes before the clock starts is
    // not recorded. Neither ring is read before the clock starts, and opening a source can take
    // longer on a busy machine than a ring holds: the stream opens last, the microphone's ring
    // keeps nothing until the clock starts, and the reader starts with the clock, not after a
    // turn of the main queue.
    auto openInputs = [this, stream = stream_.get()] {
        if (includesMicrophone_) {
            engine_->setInputDevice(microphoneDeviceID_);
            const CaptureEngine::Format format = engine_->inputFormat();
            if (!supportedMicrophoneFormat(format))
                throw RecordingError(RecordingError::Code::invalidTransport);
            microphoneRate_ = format.sampleRate;
            engine_->installTap(tapBufferSize, handleTap(microphone_, microphoneRate_, platform_.clock()));
            tapInstalled_ = true;
            routeObserver_ = engine_->addConfigurationObserver([ring = microphone_] { ring->markDropped(); });
            microphone_->setPaused(true);
            engine_->start();
        }
        stream->startCapture();
        microphone_->setPaused(false);
        startedAt_ = platform_.clock().now();
        ledger_->beginSpan(startedAt_, Date::now());
        paused_ = false;
        startConsumer();
    };
    try {
        co_await runOn(platform_.executor(), openInputs);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await cleanUpFailedStart();
        std::rethrow_exception(failure);
    }
}

Task<void> SystemAudioCapture::cleanUpFailedStart() {
    stopInputs();
    co_await stopStream();
}

Task<void> SystemAudioCapture::stopStream() {
    if (!stream_)
        co_return;
    auto stop = [stream = stream_.get()] { stream->stopCapture(); };
    // A stream that does not stop cleanly has still stopped delivering for us.
    (co_await attemptOn(platform_.executor(), stop)).drop("stopping the system audio stream");
    stream_.reset();
}

double SystemAudioCapture::duration() const {
    if (paused_)
        return accumulated_;
    return accumulated_ + std::max(0.0, platform_.clock().now() - startedAt_);
}

bool SystemAudioCapture::isHealthy() const {
    CaptureClock& clock = platform_.clock();
    if (includesMicrophone_) {
        if (microphone_->overflowed())
            return false;
        if (!paused_ && !engine_->isRunning())
            return false;
        if (!CaptureWatchdog::isHealthy(paused_, clock.now(), startedAt_,
                                        microphone_->lastCallbackHostTime()))
            return false;
    }
    if (system_->overflowed())
        return false;
    if (!CaptureWatchdog::isHealthy(paused_, clock.now(), startedAt_, system_->lastCallbackHostTime()))
        return false;
    if (selection_.kind == Selection::Kind::allSystem)
        return true;
    // The watch on the chosen application: looked up on every poll, nothing observed between.
    return application_ && platform_.systemAudio().isRunning(*application_);
}

Task<LocalRecording> SystemAudioCapture::pause() {
    platform_.mainQueue().requireCurrent("SystemAudioCapture::pause");
    if (paused_)
        throw RecordingError(RecordingError::Code::invalidTransport);
    accumulated_ += std::max(0.0, platform_.clock().now() - startedAt_);
    paused_ = true;
    microphone_->setPaused(true);
    system_->setPaused(true);
    co_return co_await drain();
}

void SystemAudioCapture::resume() {
    platform_.mainQueue().requireCurrent("SystemAudioCapture::resume");
    // Without a stream (never started, start failed, or stopped) nothing could deliver.
    if (!paused_ || !stream_ || !isHealthy())
        throw CaptureError(CaptureError::Code::sourceInterrupted);
    startedAt_ = platform_.clock().now();
    ledger_->beginSpan(startedAt_, Date::now());
    paused_ = false;
    try {
        startConsumer();
    } catch (...) {
        paused_ = true;
        throw;
    }
    microphone_->setPaused(false);
    system_->setPaused(false);
}

Task<LocalRecording> SystemAudioCapture::stop() {
    platform_.mainQueue().requireCurrent("SystemAudioCapture::stop");
    if (!paused_)
        accumulated_ += std::max(0.0, platform_.clock().now() - startedAt_);
    stopInputs();
    co_await stopStream();
    co_return co_await drain();
}

Task<void> SystemAudioCapture::shutdown() {
    stopInputs();
    co_await stopStream();
    if (consumer_) {
        consumer_->cancel();
        co_await consumer_->finished();
        consumer_.reset(); // the error a run ended with is of no interest here
    }
}

void SystemAudioCapture::startConsumer() {
    SystemCaptureConsumer::Inputs inputs;
    inputs.startedAt = startedAt_;
    inputs.ledger = ledger_;
    inputs.store = store_;
    inputs.recordingID = id_;
    inputs.system = system_;
    inputs.includesMicrophone = includesMicrophone_;
    inputs.microphone = microphone_;
    inputs.microphoneRate = microphoneRate_;
    consumer_ = std::make_unique<ConsumerRun>(
        platform_.mainQueue(),
        [inputs = std::move(inputs), clock = &platform_.clock()](std::stop_token stop) {
            SystemCaptureConsumer::run(inputs, *clock, stop);
        });
}

void SystemAudioCapture::removeObserver() {
    if (routeObserver_) {
        engine_->removeConfigurationObserver(*routeObserver_);
        routeObserver_.reset();
    }
}

void SystemAudioCapture::stopInputs() {
    paused_ = true;
    microphone_->setPaused(true);
    system_->setPaused(true);
    removeTap();
    engine_->stop();
    removeObserver();
}

void SystemAudioCapture::removeTap() {
    if (tapInstalled_) {
        engine_->removeTap();
        tapInstalled_ = false;
    }
}

Task<LocalRecording> SystemAudioCapture::drain() {
    co_return co_await drainSystemCapture(microphone_, system_, consumer_, store_, id_, platform_.executor());
}

} // namespace nuvel
