// Sealing and hashing throughput of the support crypto module. AesGcmBesideOpenSSL measures
// sealing 16 KiB records beside `openssl speed -evp aes-256-gcm` in the same run and prints the
// ratio; scripts/bench-crypto also sets the other figures beside `openssl speed`.
#include "NuvelKit/support/Crypto.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace nuvel;

namespace {

// User CPU time of the calling thread: what `openssl speed` divides by, so that a loaded machine
// slows both sides alike.
double threadUserSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
}

// Bytes a second of `openssl speed -evp aes-256-gcm` on 16 KiB blocks.
double opensslSpeed() {
    FILE* pipe = ::popen("openssl speed -evp aes-256-gcm -bytes 16384 -seconds 1 2>/dev/null", "r");
    if (pipe == nullptr)
        throw std::runtime_error("openssl speed did not start");
    double rate = 0;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        if (text.rfind("AES-256-GCM", 0) != 0)
            continue;
        const std::size_t last = text.find_last_of(' ');
        rate = std::stod(text.substr(last + 1)) * 1000; // "1855348.14k": thousands of bytes
    }
    if (::pclose(pipe) != 0 || rate <= 0)
        throw std::runtime_error("openssl speed gave no figure");
    return rate;
}

template <class Seal> double sealRate(Seal&& seal, std::size_t bytes) {
    const double start = threadUserSeconds();
    std::size_t done = 0;
    double spent = 0;
    while ((spent = threadUserSeconds() - start) < 0.5) {
        for (int i = 0; i < 256; ++i)
            seal();
        done += 256 * bytes;
    }
    return double(done) / spent;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// Interleaved rounds of ours and of `openssl speed`, each of ours set against the reference of
// its own round; medians of seven. seal() returns a new box for every record, sealInto() reuses
// the caller's buffer as the media container does.
static void AesGcmBesideOpenSSL(benchmark::State& state) {
    const std::size_t size = 16 << 10;
    auto key = SymmetricKey::random();
    Bytes chunk(size, 0x5a);
    Bytes box(size + SealedBox::overhead);
    Bytes aad = bytesOf("nuvel-media-v1:bench");
    for (auto _ : state) {
        std::vector<double> seal, sealInto, reference, sealRatio, sealIntoRatio;
        for (int round = 0; round < 7; ++round) {
            const double a =
                sealRate([&] { benchmark::DoNotOptimize(aesgcm::seal(key, chunk, aad).data()); }, size);
            const double ref = opensslSpeed();
            const double b = sealRate(
                [&] {
                    aesgcm::sealInto(key, chunk, aad, box);
                    benchmark::DoNotOptimize(box.data());
                },
                size);
            seal.push_back(a);
            sealInto.push_back(b);
            reference.push_back(ref);
            sealRatio.push_back(a / ref);
            sealIntoRatio.push_back(b / ref);
        }
        state.counters["openssl_MBps"] = median(reference) / 1e6;
        state.counters["seal_MBps"] = median(seal) / 1e6;
        state.counters["sealInto_MBps"] = median(sealInto) / 1e6;
        state.counters["seal_ratio"] = median(sealRatio);
        state.counters["sealInto_ratio"] = median(sealIntoRatio);
    }
}
BENCHMARK(AesGcmBesideOpenSSL)->Iterations(1)->Unit(benchmark::kSecond);

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
    for (auto _ : state)
        h.update(block);
    benchmark::DoNotOptimize(h.finalize());
    state.SetBytesProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(Sha256Stream)->Arg(16 << 10)->Arg(1 << 20);
