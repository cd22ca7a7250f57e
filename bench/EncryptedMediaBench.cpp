// A 100 MiB clear file through the media container. scripts/bench-media sets these against the
// raw sealing of CryptoBench (AesGcmSeal/AesGcmOpen of one 1 MiB chunk in memory):
//   *ToNull        the transforms reading a cached file and writing to /dev/null: the container's
//                  own cost (framing, positions, reads) on top of AES-GCM;
//   Container*     file to file, as the store runs them, without the flush to storage;
//   *FileDurably   the full drivers: private file, flush to storage, no-replace move;
//   FileCopyOnly, RawSealSameFiles   the same file I/O without crypto, and with bare AES-GCM
//                  boxes in place of the container.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/support/Files.hpp"

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
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        clear = folder / "clear.caf";
        sealed = folder / "asset.nuvel";
        Bytes block = randomBytes(1 << 20);
        files::FileDescriptor out = files::createExclusive(clear);
        for (std::size_t written = 0; written < fileSize; written += block.size()) out.writeAll(block, clear);
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

} // namespace

static void ContainerEncrypt(benchmark::State& state) {
    runTransform(state, fixture().clear, [](auto& in, auto& out, auto& key) { EncryptedMedia::encrypt(in, out, key, context); });
}
BENCHMARK(ContainerEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

static void ContainerDecrypt(benchmark::State& state) {
    runTransform(state, fixture().sealed, [](auto& in, auto& out, auto& key) { EncryptedMedia::decrypt(in, out, key, context); });
}
BENCHMARK(ContainerDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reference points with the very same file I/O: the bytes copied alone, and raw AES-GCM of the
// same 1 MiB chunks without the container's header, length fields, positions or end record.
static void FileCopyOnly(benchmark::State& state) {
    runTransform(state, fixture().clear, [](auto& in, auto& out, auto&) {
        Bytes chunk(EncryptedMedia::chunkSize);
        while (std::size_t got = in.readUpTo(chunk.data(), chunk.size(), {})) out.writeAll(ByteView(chunk.data(), got), {});
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
