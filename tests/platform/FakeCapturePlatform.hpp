#pragma once

// A capture platform made of fakes: an audio engine and a screen-capture service that the
// test drives by hand, the manual main queue, an inline executor and a clock the test sets.
// The test's thread plays every producer; consumer runs park until they are cancelled.

#include "Nuvel/platform/CaptureEngine.hpp"
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/MicrophoneDevices.hpp"
#include "Nuvel/platform/SystemAudioService.hpp"
#include "tests/support/CaptureFakes.hpp"

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace nuvel::test {

// What a fake engine was told, kept after the engine itself is gone.
struct FakeEngineState {
    // Script of the engine.
    CaptureEngine::Format format{48000, 1, PcmSampleFormat::float32, false};
    bool deviceUnavailable = false;
    bool startFails = false;
    std::function<void()> whileStarting; // runs inside start(), as a slow server's delay
    // Record.
    std::optional<std::uint32_t> device;
    CaptureEngine::Tap tap;
    std::map<CaptureEngine::ObserverID, std::function<void()>> observers;
    bool running = false;
    int starts = 0;
    int stops = 0;
    bool destroyed = false;

    // One buffer of `frames` samples of `value` through the tap; rate 0 = the format's rate.
    void deliver(std::size_t frames, float value, std::optional<double> hostTime, double rate = 0) {
        if (!tap)
            return;
        std::vector<float> samples(frames, value);
        const float* channels[] = {samples.data()};
        PcmBuffer buffer;
        buffer.channelCount = 1;
        buffer.sampleRate = rate > 0 ? rate : format.sampleRate;
        buffer.frameLength = std::uint32_t(frames);
        buffer.floatChannelData = channels;
        tap(buffer, hostTime);
    }
    void changeConfiguration() {
        auto current = observers;
        for (auto& entry : current)
            entry.second();
    }
};

class FakeCaptureEngine final : public CaptureEngine {
public:
    explicit FakeCaptureEngine(std::shared_ptr<FakeEngineState> state) : state_(std::move(state)) {}
    ~FakeCaptureEngine() override { state_->destroyed = true; }

    void setInputDevice(std::optional<std::uint32_t> deviceID) override {
        if (deviceID && state_->deviceUnavailable)
            throw MicrophoneDevices::DeviceError::unavailable();
        state_->device = deviceID;
    }
    Format inputFormat() override { return state_->format; }
    void installTap(std::uint32_t, Tap tap) override { state_->tap = std::move(tap); }
    void removeTap() override { state_->tap = nullptr; }
    ObserverID addConfigurationObserver(std::function<void()> changed) override {
        state_->observers[next_] = std::move(changed);
        return next_++;
    }
    void removeConfigurationObserver(ObserverID id) override { state_->observers.erase(id); }
    void start() override {
        ++state_->starts;
        if (state_->startFails)
            throw std::runtime_error("the engine did not start");
        if (state_->whileStarting)
            state_->whileStarting();
        state_->running = true;
    }
    void stop() override {
        ++state_->stops;
        state_->running = false;
    }
    bool isRunning() const override { return state_->running; }

private:
    std::shared_ptr<FakeEngineState> state_;
    ObserverID next_ = 1;
};

struct FakeStreamState {
    SystemAudioService::Filter filter;
    std::shared_ptr<SystemAudioOutput> output;
    bool startFails = false;
    std::function<void()> whileStarting; // runs inside startCapture(), as a slow server's delay
    bool started = false;
    bool stopped = false;

    void deliver(std::size_t frames, float value, double hostTime, double rate = 48000) {
        if (!started || stopped)
            return;
        std::vector<float> samples(frames, value);
        SystemAudioBuffer buffer;
        buffer.channelCount = 1;
        buffer.sampleRate = rate;
        buffer.frameCount = std::uint32_t(frames);
        buffer.data = samples.data();
        buffer.byteSize = frames * sizeof(float);
        buffer.presentationTime = hostTime;
        output->didOutput(buffer);
    }
};

class FakeSystemAudioService final : public SystemAudioService {
public:
    bool permission = true;
    Content content;
    bool contentFails = false;
    bool makeFails = false;
    bool startFails = false;
    std::function<void()> whileStarting;             // given to every stream made
    std::map<std::int32_t, std::uint64_t> processes; // running process id -> start time
    int contentQueries = 0;
    std::shared_ptr<FakeStreamState> stream; // the latest one made

    bool preflightAccess() override { return permission; }
    Content shareableContent() override {
        ++contentQueries;
        if (contentFails)
            throw std::runtime_error("no shareable content");
        return content;
    }
    std::unique_ptr<SystemAudioStream> makeStream(const Filter& filter,
                                                  std::shared_ptr<SystemAudioOutput> output) override {
        if (makeFails)
            throw std::runtime_error("no stream");
        stream = std::make_shared<FakeStreamState>();
        stream->filter = filter;
        stream->output = std::move(output);
        stream->startFails = startFails;
        stream->whileStarting = whileStarting;
        return std::make_unique<Stream>(stream);
    }
    std::optional<ProcessIdentity> identifyProcess(std::int32_t processID) override {
        auto found = processes.find(processID);
        if (found == processes.end())
            return std::nullopt;
        return ProcessIdentity{processID, found->second};
    }
    bool isRunning(const ProcessIdentity& process) override {
        auto found = processes.find(process.processID);
        return found != processes.end() && found->second == process.startTime;
    }

private:
    class Stream final : public SystemAudioStream {
    public:
        explicit Stream(std::shared_ptr<FakeStreamState> state) : state_(std::move(state)) {}
        void startCapture() override {
            if (state_->startFails)
                throw std::runtime_error("the stream did not start");
            if (state_->whileStarting)
                state_->whileStarting();
            state_->started = true;
        }
        void stopCapture() override { state_->stopped = true; }

    private:
        std::shared_ptr<FakeStreamState> state_;
    };
};

class FakeCapturePlatform final : public CapturePlatform {
public:
    ManualMainQueue queue;
    InlineExecutor inlineExecutor;
    ParkingCaptureClock parkingClock{1000.0};
    FakeSystemAudioService service;
    // The script of the next engine made, and the state of the latest one.
    std::shared_ptr<FakeEngineState> engine = std::make_shared<FakeEngineState>();

    std::unique_ptr<CaptureEngine> makeEngine() override {
        auto state = std::make_shared<FakeEngineState>();
        state->format = engine->format;
        state->deviceUnavailable = engine->deviceUnavailable;
        state->startFails = engine->startFails;
        state->whileStarting = engine->whileStarting;
        engine = state;
        return std::make_unique<FakeCaptureEngine>(state);
    }
    SystemAudioService& systemAudio() override { return service; }
    MainQueue& mainQueue() override { return queue; }
    Executor& executor() override { return inlineExecutor; }
    CaptureClock& clock() override { return parkingClock; }
};

} // namespace nuvel::test
