// Cost of handing audio through the frame ring: the producer's push (downmix, level, publish)
// and the consumer's pop, at the sizes the capture paths use.
#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/ring/FrameRing.hpp"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

using namespace nuvel;

// One push and one pop per iteration, on one thread; range(0) = frames, range(1) = channels.
void BM_PushPop(benchmark::State& state) {
    const auto frames = std::uint32_t(state.range(0));
    const int channelCount = int(state.range(1));
    FrameRing* r = ring::create(64, 8192);
    std::vector<std::vector<float>> data(std::size_t(channelCount), std::vector<float>(frames, 0.25f));
    std::vector<const float*> channels;
    for (auto& c : data) {
        channels.push_back(c.data());
    }
    std::vector<float> out(8192);
    double hostTime = 0;
    for (auto _ : state) {
        bool pushed = ring::push(r, channels.data(), channelCount, frames, hostTime, 48000.0);
        std::uint32_t popped = ring::popFrames(r, out.data(), 8192);
        benchmark::DoNotOptimize(pushed);
        benchmark::DoNotOptimize(popped);
        hostTime += 0.01;
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["buffers/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    ring::destroy(r);
}
BENCHMARK(BM_PushPop)->Args({480, 1})->Args({1024, 1})->Args({1024, 2})->Args({8192, 1})->Args({8192, 2});

// The push alone (the real-time side): the consumer's pop is excluded from the timing.
void BM_Push(benchmark::State& state) {
    const auto frames = std::uint32_t(state.range(0));
    FrameRing* r = ring::create(64, 8192);
    std::vector<float> mono(frames, 0.25f);
    const float* channels[] = {mono.data()};
    std::vector<float> out(8192);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring::push(r, channels, 1, frames, 1.0, 48000.0));
        state.PauseTiming();
        ring::popFrames(r, out.data(), 8192);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * frames);
    ring::destroy(r);
}
BENCHMARK(BM_Push)->Arg(1024)->Arg(8192);

// The consumer through the class: read() allocates one slot-sized array per call.
void BM_AudioRingRead(benchmark::State& state) {
    const auto frames = std::uint32_t(state.range(0));
    AudioRing audioRing(64, 8192);
    std::vector<float> mono(frames, 0.25f);
    const float* channels[] = {mono.data()};
    for (auto _ : state) {
        audioRing.push(channels, 1, frames, 1.0, 48000.0);
        auto slot = audioRing.read();
        benchmark::DoNotOptimize(slot);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_AudioRingRead)->Arg(1024)->Arg(8192);

// Producer and consumer on two threads: frames handed over per second when the consumer keeps
// up with a producer that waits for room instead of overflowing.
void BM_TwoThreads(benchmark::State& state) {
    const auto frames = std::uint32_t(state.range(0));
    constexpr std::uint32_t buffersPerIteration = 4096;
    FrameRing* r = ring::create(64, 8192);
    std::vector<float> mono(frames, 0.25f);
    const float* channels[] = {mono.data()};
    for (auto _ : state) {
        std::thread consumer([&] {
            std::vector<float> out(8192);
            std::uint32_t popped = 0;
            while (popped < buffersPerIteration) {
                if (ring::popFrames(r, out.data(), 8192) != 0) {
                    ++popped;
                }
            }
        });
        for (std::uint32_t i = 0; i < buffersPerIteration; ++i) {
            while (r->writeCount.load(std::memory_order_relaxed) -
                       r->readCount.load(std::memory_order_acquire) >=
                   r->slots) {
            }
            ring::push(r, channels, 1, frames, 1.0, 48000.0);
        }
        consumer.join();
    }
    state.SetItemsProcessed(state.iterations() * buffersPerIteration * frames);
    ring::destroy(r);
}
BENCHMARK(BM_TwoThreads)->Arg(1024)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
