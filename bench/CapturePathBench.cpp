// CPU the capture path spends per second of audio, from the producer's push to the store's
// append: the microphone source (tap buffers through the ring, slot by slot into the live
// writer) and the system-audio source (both rings, the mixer, the timeline ledger, chunks into
// the live writer), with the writer either a counter or the real encrypted store. Each
// iteration is one second of audio (five with the store, so that one live file is sealed);
// the time per iteration is the CPU per second (per five seconds) of audio.
#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/MicrophoneConsumer.hpp"
#include "NuvelKit/capture/StoreLiveAudioSink.hpp"
#include "NuvelKit/capture/SystemCaptureConsumer.hpp"
#include "NuvelKit/store/RecordingStore.hpp"

#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

using namespace nuvel;

// A live writer that only counts.
class CountingSink final : public LiveAudioSink {
public:
    void appendLiveAudio(std::span<const float> samples, double, const Uuid&) override {
        frames += samples.size();
    }
    LocalRecording finishLiveSegment(const Uuid& id) override {
        return LocalRecording::make("bench", std::nullopt, "Bench", false, Date{}, id);
    }
    void setSourceTimeline(const CaptureTimeline&, const Uuid&) override { ++timelines; }
    std::size_t frames = 0;
    int timelines = 0;
};

// The recording store in a temporary folder with one recording.
struct BenchStore {
    std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("nuvel-capture-bench-" + std::to_string(getpid()));
    std::shared_ptr<RecordingStore> store = std::make_shared<RecordingStore>(root, SymmetricKey::random());
    Uuid id = Uuid::random();
    std::shared_ptr<StoreLiveAudioSink> sink = std::make_shared<StoreLiveAudioSink>(store);
    BenchStore() {
        store->saveManifest(LocalRecording::make("bench", std::nullopt, "Bench", false, Date::now(), id));
    }
    ~BenchStore() { std::filesystem::remove_all(root); }
};

// A clock whose sleeps take no time: each one advances by the pass interval and plays the
// producers for it; the run stops after `passes` sleeps.
class DrivenClock final : public CaptureClock {
public:
    DrivenClock(double start, int passes, std::function<void(double from, double to)> produce)
        : now_(start), left_(passes), produce_(std::move(produce)) {}
    double now() override { return now_; }
    bool sleep(double seconds, std::stop_token) override {
        produce_(now_, now_ + seconds);
        now_ += seconds;
        return --left_ > 0;
    }

private:
    double now_;
    int left_;
    std::function<void(double, double)> produce_;
};

std::vector<float> tone(std::size_t frames, double frequency, double rate) {
    std::vector<float> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = float(0.5 * std::sin(2 * M_PI * frequency * double(i) / rate));
    return samples;
}

// The microphone source: a stereo 48000 Hz input in 1024-frame tap buffers (a mono copy
// through the ring per buffer), each slot appended as it comes.
void microphonePath(benchmark::State& state, LiveAudioSink& sink, const Uuid& id) {
    AudioRing ring(64, 8192);
    auto left = tone(1024, 440, 48000);
    auto right = tone(1024, 660, 48000);
    const float* channels[] = {left.data(), right.data()};
    PcmBuffer buffer;
    buffer.channelCount = 2;
    buffer.sampleRate = 48000;
    buffer.frameLength = 1024;
    buffer.floatChannelData = channels;
    double hostTime = 1000;
    for (auto _ : state) {
        // One second: 47 buffers (48128 frames), popped and appended in passes of 4 buffers,
        // about what a 10 ms consumer sees.
        for (int i = 0; i < 47; ++i) {
            ring.write(buffer, hostTime);
            hostTime += 1024 / 48000.0;
            if (i % 4 == 3 || i == 46)
                while (auto samples = ring.readSamples())
                    sink.appendLiveAudio(*samples, 48000, id);
        }
    }
    state.SetItemsProcessed(state.iterations() * 47 * 1024);
}

void BM_MicrophonePath(benchmark::State& state) {
    CountingSink sink;
    microphonePath(state, sink, Uuid::random());
}
BENCHMARK(BM_MicrophonePath)->Unit(benchmark::kMicrosecond);

void BM_MicrophonePathIntoTheStore(benchmark::State& state) {
    BenchStore store;
    microphonePath(state, *store.sink, store.id);
    store.store->finishLiveSegment(store.id);
}
BENCHMARK(BM_MicrophonePathIntoTheStore)->Unit(benchmark::kMicrosecond);

// The system-audio source: 10 ms buffers of both sources (system at 48000 Hz, the microphone
// at 44100 Hz, so it is resampled), one consumer run of `seconds` per iteration.
void systemPath(benchmark::State& state, std::shared_ptr<LiveAudioSink> sink, const Uuid& id, int seconds) {
    auto system = std::make_shared<AudioRing>(64, 8192);
    auto microphone = std::make_shared<AudioRing>(64, 8192);
    auto systemTone = tone(480, 1000, 48000);
    auto microphoneTone = tone(441, 440, 44100);
    const float* systemChannels[] = {systemTone.data()};
    const float* microphoneChannels[] = {microphoneTone.data()};
    double start = 1000;
    for (auto _ : state) {
        auto ledger = std::make_shared<CaptureTimelineLedger>();
        ledger->beginSpan(start, Date{});
        SystemCaptureConsumer::Inputs inputs{start, ledger, sink, id, system, true, microphone, 44100};
        DrivenClock clock(start, seconds * 100, [&](double from, double) {
            system->push(systemChannels, 1, 480, from, 48000);
            microphone->push(microphoneChannels, 1, 441, from, 44100);
        });
        SystemCaptureConsumer::run(inputs, clock, std::stop_token());
        start = clock.now() + 1;
    }
    state.SetItemsProcessed(state.iterations() * seconds * 48000);
}

void BM_SystemPath(benchmark::State& state) {
    systemPath(state, std::make_shared<CountingSink>(), Uuid::random(), 1);
}
BENCHMARK(BM_SystemPath)->Unit(benchmark::kMicrosecond);

void BM_SystemPathIntoTheStoreFiveSeconds(benchmark::State& state) {
    BenchStore store;
    systemPath(state, store.sink, store.id, 5);
    store.store->finishLiveSegment(store.id);
}
BENCHMARK(BM_SystemPathIntoTheStoreFiveSeconds)->Unit(benchmark::kMillisecond);

} // namespace
