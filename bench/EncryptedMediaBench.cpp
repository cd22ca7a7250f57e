// ContainerBesideRawInMemory: a 1 MiB asset held in memory files through the container, beside
// raw AES-GCM seal and open of the same bytes over the same memory files, interleaved in the
// same run; prints the ratios.
//
// A 100 MiB clear file through the media container. scripts/bench-media sets these against the
// raw sealing of CryptoBench (AesGcmSeal/AesGcmOpen of one 1 MiB chunk in memory):
//   *ToNull        the transforms reading a cached file and writing to /dev/null: the container's
//                  own cost (framing, positions, reads) on top of AES-GCM;
//   Container*     file to file, as the store runs them, without the flush to storage;
//   *FileDurably   the full drivers: private file, flush to storage, no-replace move;
//   FileCopyOnly, RawSealSameFiles   the same file I/O without crypto, and with bare AES-GCM
//                  boxes in place of the container.
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t fileSize = std::size_t(100) << 20;
const std::string context = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D/11111111-2222-4333-8444-555555555555";

// A folder with the clear file and its container, made once for the whole run.
struct Fixture {
    fs::path folder;
    fs::path clear;
    fs::path sealed;
    SymmetricKey key = SymmetricKey::random();

    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "nuvel-media-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        clear = folder / "clear.caf";
        sealed = folder / "asset.nuvel";
        Bytes block = randomBytes(1 << 20);
        files::FileDescriptor out = files::createExclusive(clear);
        for (std::size_t written = 0; written < fileSize; written += block.size())
            out.writeAll(block, clear);
        out.close();
        EncryptedMedia::encryptFile(clear, sealed, key, context);
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

template <class Transform>
void runTransform(benchmark::State& state, const fs::path& source, Transform&& transform) {
    Fixture& f = fixture();
    const fs::path target = f.folder / "target";
    for (auto _ : state) {
        files::FileDescriptor in = files::openForReading(source);
        files::FileDescriptor out = files::createExclusive(target);
        transform(in, out, f.key);
        out.close();
        state.PauseTiming();
        fs::remove(target);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}

// CPU time of the calling thread, the kernel's share included: the container's file reads and
// writes count against it.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

template <class Work> double rateOf(Work&& work, std::size_t bytes) {
    const double start = threadSeconds();
    std::size_t done = 0;
    double spent = 0;
    while ((spent = threadSeconds() - start) < 0.3) {
        for (int i = 0; i < 16; ++i)
            work();
        done += 16 * bytes;
    }
    return double(done) / spent;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

files::FileDescriptor memoryFile() {
    files::FileDescriptor file(::memfd_create("nuvel-bench", 0));
    if (!file)
        throw std::runtime_error("memfd_create failed");
    return file;
}

void rewind(const files::FileDescriptor& file) {
    if (::lseek(file.get(), 0, SEEK_SET) != 0)
        throw std::runtime_error("lseek failed");
}

} // namespace

// Seven interleaved rounds; each container figure is set against the raw figure of its own
// round. The raw reference does the least any container must: read the bytes from the memory
// file into a buffer made once, seal (or open) them as one AES-GCM box, write the result; the
// container adds its header, length fields, positions and end record, and its own buffers.
// The bare cipher without any file (seal/open into buffers made once) is printed beside.
static void ContainerBesideRawInMemory(benchmark::State& state) {
    const std::size_t size = std::size_t(1) << 20;
    const SymmetricKey key = SymmetricKey::random();
    const Bytes clear = randomBytes(size);
    const std::string aad = context + "/0";
    const Bytes box = aesgcm::seal(key, clear, viewOf(aad));
    files::FileDescriptor clearFile = memoryFile(), boxFile = memoryFile(), sealedFile = memoryFile(),
                          output = memoryFile();
    clearFile.writeAll(clear, {});
    boxFile.writeAll(box, {});
    rewind(clearFile);
    EncryptedMedia::encrypt(clearFile, sealedFile, key, context);
    Bytes readBuffer(box.size()), writeBuffer(box.size());
    for (auto _ : state) {
        std::vector<double> cipherSeal, cipherOpen, seal, open, encrypt, decrypt, encryptRatio, decryptRatio;
        for (int round = 0; round < 7; ++round) {
            cipherSeal.push_back(
                rateOf([&] { aesgcm::sealInto(key, clear, viewOf(aad), writeBuffer); }, size));
            cipherOpen.push_back(rateOf(
                [&] { aesgcm::openInto(key, box, viewOf(aad), std::span(writeBuffer.data(), size)); }, size));
            seal.push_back(rateOf(
                [&] {
                    rewind(clearFile);
                    rewind(output);
                    const std::size_t got = clearFile.readUpTo(readBuffer.data(), size, {});
                    aesgcm::sealInto(key, ByteView(readBuffer.data(), got), viewOf(aad), writeBuffer);
                    output.writeAll(writeBuffer, {});
                },
                size));
            encrypt.push_back(rateOf(
                [&] {
                    rewind(clearFile);
                    rewind(output);
                    EncryptedMedia::encrypt(clearFile, output, key, context);
                },
                size));
            open.push_back(rateOf(
                [&] {
                    rewind(boxFile);
                    rewind(output);
                    const std::size_t got = boxFile.readUpTo(readBuffer.data(), readBuffer.size(), {});
                    const std::span<std::uint8_t> opened(writeBuffer.data(), got - SealedBox::overhead);
                    aesgcm::openInto(key, ByteView(readBuffer.data(), got), viewOf(aad), opened);
                    output.writeAll(opened, {});
                },
                size));
            decrypt.push_back(rateOf(
                [&] {
                    rewind(sealedFile);
                    rewind(output);
                    EncryptedMedia::decrypt(sealedFile, output, key, context);
                },
                size));
            encryptRatio.push_back(encrypt.back() / seal.back());
            decryptRatio.push_back(decrypt.back() / open.back());
        }
        state.counters["cipher_seal_MBps"] = median(cipherSeal) / 1e6;
        state.counters["cipher_open_MBps"] = median(cipherOpen) / 1e6;
        state.counters["raw_seal_MBps"] = median(seal) / 1e6;
        state.counters["encrypt_MBps"] = median(encrypt) / 1e6;
        state.counters["encrypt_ratio"] = median(encryptRatio);
        state.counters["raw_open_MBps"] = median(open) / 1e6;
        state.counters["decrypt_MBps"] = median(decrypt) / 1e6;
        state.counters["decrypt_ratio"] = median(decryptRatio);
    }
}
BENCHMARK(ContainerBesideRawInMemory)->Iterations(1)->Unit(benchmark::kSecond);

static void ContainerEncrypt(benchmark::State& state) {
    runTransform(state, fixture().clear,
                 [](auto& in, auto& out, auto& key) { EncryptedMedia::encrypt(in, out, key, context); });
}
BENCHMARK(ContainerEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

static void ContainerDecrypt(benchmark::State& state) {
    runTransform(state, fixture().sealed,
                 [](auto& in, auto& out, auto& key) { EncryptedMedia::decrypt(in, out, key, context); });
}
BENCHMARK(ContainerDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reference points with the very same file I/O: the bytes copied alone, and raw AES-GCM of the
// same 1 MiB chunks without the container's header, length fields, positions or end record.
static void FileCopyOnly(benchmark::State& state) {
    runTransform(state, fixture().clear, [](auto& in, auto& out, auto&) {
        Bytes chunk(EncryptedMedia::chunkSize);
        while (std::size_t got = in.readUpTo(chunk.data(), chunk.size(), {}))
            out.writeAll(ByteView(chunk.data(), got), {});
    });
}
BENCHMARK(FileCopyOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

static void RawSealSameFiles(benchmark::State& state) {
    runTransform(state, fixture().clear, [](auto& in, auto& out, auto& key) {
        Bytes chunk(EncryptedMedia::chunkSize), box(EncryptedMedia::maxRecordLength);
        while (std::size_t got = in.readUpTo(chunk.data(), chunk.size(), {})) {
            std::span<std::uint8_t> sealed(box.data(), got + SealedBox::overhead);
            aesgcm::sealInto(key, ByteView(chunk.data(), got), viewOf(context), sealed);
            out.writeAll(sealed, {});
        }
    });
}
BENCHMARK(RawSealSameFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

static void ContainerEncryptToNull(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        files::FileDescriptor in = files::openForReading(f.clear);
        files::FileDescriptor out = files::openForWriting("/dev/null");
        EncryptedMedia::encrypt(in, out, f.key, context);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}
BENCHMARK(ContainerEncryptToNull)->Unit(benchmark::kMillisecond)->UseRealTime();

static void ContainerDecryptToNull(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        files::FileDescriptor in = files::openForReading(f.sealed);
        files::FileDescriptor out = files::openForWriting("/dev/null");
        EncryptedMedia::decrypt(in, out, f.key, context);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}
BENCHMARK(ContainerDecryptToNull)->Unit(benchmark::kMillisecond)->UseRealTime();

// The drivers as the store runs them: private file, flush to storage, no-replace move.
static void EncryptFileDurably(benchmark::State& state) {
    Fixture& f = fixture();
    const fs::path target = f.folder / "durable.nuvel";
    for (auto _ : state) {
        EncryptedMedia::encryptFile(f.clear, target, f.key, context);
        state.PauseTiming();
        fs::remove(target);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}
BENCHMARK(EncryptFileDurably)->Unit(benchmark::kMillisecond)->UseRealTime();

static void DecryptFileDurably(benchmark::State& state) {
    Fixture& f = fixture();
    const fs::path target = f.folder / "durable.caf";
    for (auto _ : state) {
        EncryptedMedia::decryptFile(f.sealed, target, f.key, context);
        state.PauseTiming();
        fs::remove(target);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}
BENCHMARK(DecryptFileDurably)->Unit(benchmark::kMillisecond)->UseRealTime();
