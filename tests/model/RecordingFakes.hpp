#pragma once

// Fakes for the recording paths of the application model: a capture source whose time the
// test moves and which writes real audio into the real store, the factory that starts it, and a
// keep-awake service that counts its activities.

#include "Nuvel/model/CaptureSource.hpp"
#include "Nuvel/model/SystemServices.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Task.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nuvel::test {

// What the test sets and sees of the sources it started; shared by the factory and each source.
struct FakeCaptureControl {
    double duration = 0;
    double microphoneLevel = 0.25;
    double systemLevel = 0;
    bool healthy = true;
    bool failPause = false;
    bool failResume = false;
    bool failStop = false;
    std::vector<std::string> calls;
    int live = 0; // sources alive
};

class FakeCaptureSource final : public CaptureSource {
public:
    static constexpr double rate = 48000;

    FakeCaptureSource(std::shared_ptr<FakeCaptureControl> control, CaptureRequest request)
        : control_(std::move(control)), request_(std::move(request)) {
        ++control_->live;
    }
    ~FakeCaptureSource() override { --control_->live; }

    double duration() const override { return control_->duration; }
    double microphoneLevel() const override { return paused_ ? 0 : control_->microphoneLevel; }
    double systemLevel() const override { return control_->systemLevel; }
    bool isHealthy() const override { return control_->healthy; }

    // Writes `seconds` of a tone into the live segment and moves the source's time on.
    void capture(double seconds) {
        std::vector<float> samples(std::size_t(std::llround(seconds * rate)));
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(0.3 * std::sin(2 * M_PI * 440 * double(i) / rate));
        if (RecordingStore* store = request_.store->recordingStore())
            for (std::size_t at = 0; at < samples.size(); at += 4800) {
                std::size_t count = std::min<std::size_t>(4800, samples.size() - at);
                store->appendLiveAudio(std::span<const float>(samples.data() + at, count), rate,
                                       request_.recordingID);
            }
        control_->duration += seconds;
    }

    Task<LocalRecording> pause() override {
        control_->calls.push_back("pause");
        if (control_->failPause)
            throw RecordingError(RecordingError::Code::invalidTransport);
        paused_ = true;
        co_return finish();
    }
    void resume() override {
        control_->calls.push_back("resume");
        if (control_->failResume || !control_->healthy)
            throw RecordingError(RecordingError::Code::invalidTransport);
        paused_ = false;
    }
    Task<LocalRecording> stop() override {
        control_->calls.push_back("stop");
        if (control_->failStop)
            throw RecordingError(RecordingError::Code::invalidTransport);
        co_return finish();
    }

private:
    LocalRecording finish() {
        if (RecordingStore* store = request_.store->recordingStore())
            return store->finishLiveSegment(request_.recordingID);
        return request_.store->loadRecording(request_.recordingID);
    }

    std::shared_ptr<FakeCaptureControl> control_;
    CaptureRequest request_;
    bool paused_ = false;
};

class FakeCaptureFactory final : public CaptureFactory {
public:
    Task<std::unique_ptr<CaptureSource>> start(CaptureRequest request) override {
        requests.push_back(request);
        if (startSeconds > 0)
            co_await sleepFor(startSeconds); // a system-audio start takes its time
        if (failStart)
            throw RecordingError(RecordingError::Code::invalidTransport);
        auto source = std::make_unique<FakeCaptureSource>(control, std::move(request));
        newest = source.get();
        co_return source;
    }

    std::shared_ptr<FakeCaptureControl> control = std::make_shared<FakeCaptureControl>();
    std::vector<CaptureRequest> requests;
    FakeCaptureSource* newest = nullptr; // valid while the model holds it
    double startSeconds = 0;
    bool failStart = false;
};

class FakeKeepAwake final : public KeepAwake {
public:
    struct Activity final : KeepAwakeActivity {
        explicit Activity(int* held) : held_(held) { ++*held_; }
        ~Activity() override { --*held_; }
        int* held_;
    };
    std::unique_ptr<KeepAwakeActivity> begin(const std::string& reason) override {
        reasons.push_back(reason);
        return std::make_unique<Activity>(&held);
    }
    int held = 0;
    std::vector<std::string> reasons;
};

} // namespace nuvel::test
