// Sealing and hashing throughput of the support crypto module. Compare with OpenSSL's own
// figures through scripts/bench-crypto, which runs `openssl speed` beside this program.
#include <benchmark/benchmark.h>

#include "NuvelKit/support/Crypto.hpp"

using namespace nuvel;

static void AesGcmSeal(benchmark::State& state) {
    auto key = SymmetricKey::random();
    Bytes chunk(std::size_t(state.range(0)), 0x5a);
    Bytes aad = bytesOf("nuvel-media-v1:bench");
    for (auto _ : state) {
        Bytes sealed = aesgcm::seal(key, chunk, aad);
        benchmark::DoNotOptimize(sealed.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(AesGcmSeal)->Arg(16 << 10)->Arg(1 << 20);

static void AesGcmOpen(benchmark::State& state) {
    auto key = SymmetricKey::random();
    Bytes sealed = aesgcm::seal(key, Bytes(std::size_t(state.range(0)), 0x5a), {});
    for (auto _ : state) {
        Bytes opened = aesgcm::open(key, sealed, {});
        benchmark::DoNotOptimize(opened.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(AesGcmOpen)->Arg(16 << 10)->Arg(1 << 20);

static void Sha256Stream(benchmark::State& state) {
    Bytes block(std::size_t(state.range(0)), 0xa5);
    Sha256 h;
    for (auto _ : state) h.update(block);
    benchmark::DoNotOptimize(h.finalize());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(Sha256Stream)->Arg(16 << 10)->Arg(1 << 20);
