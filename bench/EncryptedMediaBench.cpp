// ContainerBesideRawInMemory: a 1 MiB asset held in memory files through the container, beside
// raw AES-GCM seal and open of the same bytes with the same memory-file reads and writes
// (raw_*_files_MBps), interleaved in the same run; the ratios set the container against that
// reference, file I/O on both sides. The bare cipher, buffers only and no file I/O, is printed
// beside (cipher_*_MBps).
//
// A 100 MiB clear file through the media container, each route beside raw AES-GCM boxes of the
// same 1 MiB chunks with the very same file I/O (scripts/bench-media prints the pairs):
//   *ToNull        a cached file read, the result written to /dev/null;
//   Container*, Raw*SameFiles   file to file, as the store runs them, without the flush to storage;
//   *FileDurably   the full drivers: private file, flush to storage (sealing), no-replace move;
//   FileCopyOnly   the same file I/O without any cipher.
#include "NuvelKit/store/EncryptedMedia.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <filesystem>
#include <span>
#include <stdlib.h>
#include <string>
#include <sys/mman.h>
#include <time.h>
#include <tuple>
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
    fs::path boxes; // raw AES-GCM boxes of the clear file's chunks, back to back
    SymmetricKey key = SymmetricKey::random();

    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "nuvel-media-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        clear = folder / "clear.caf";
        sealed = folder / "asset.nuvel";
        boxes = folder / "boxes";
        Bytes block = randomBytes(1 << 20);
        files::FileDescriptor out = files::createExclusive(clear);
        for (std::size_t written = 0; written < fileSize; written += block.size())
            out.writeAll(block, clear);
        out.close();
        EncryptedMedia::encryptFile(clear, sealed, key, context);
        files::FileDescriptor raw = files::createExclusive(boxes);
        for (std::size_t written = 0; written < fileSize; written += block.size())
            raw.writeAll(aesgcm::seal(key, block, viewOf(context)), boxes);
        raw.close();
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
// round. The raw reference does the least any container must, file I/O included: read the bytes
// from the memory file into a buffer made once, seal (or open) them as one AES-GCM box, write the
// result; the container adds its header, length fields, positions and end record, and its own
// buffers. The bare cipher without any file (seal/open into buffers made once) is printed beside.
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
        state.counters["raw_seal_files_MBps"] = median(seal) / 1e6;
        state.counters["encrypt_MBps"] = median(encrypt) / 1e6;
        state.counters["encrypt_ratio"] = median(encryptRatio);
        state.counters["raw_open_files_MBps"] = median(open) / 1e6;
        state.counters["decrypt_MBps"] = median(decrypt) / 1e6;
        state.counters["decrypt_ratio"] = median(decryptRatio);
    }
}
BENCHMARK(ContainerBesideRawInMemory)->Iterations(1)->Unit(benchmark::kSecond);

namespace {

// How a transform's input and output are opened, and what is done with them.
enum class Route { toNull, sameFiles, durably };
enum class Work { containerSeal, containerOpen, rawSeal, rawOpen, copy };

// The container's transform; or the least any container must do: each 1 MiB chunk read, sealed
// (or opened) as one bare box into a buffer made once, and written; or each chunk copied alone.
// Sealing sends the pages written to storage every 8 MiB, as the container does.
void transform(Work work, const files::FileDescriptor& in, const files::FileDescriptor& out,
               const SymmetricKey& key) {
    if (work == Work::containerSeal)
        return EncryptedMedia::encrypt(in, out, key, context);
    if (work == Work::containerOpen)
        return EncryptedMedia::decrypt(in, out, key, context);
    const bool opening = work == Work::rawOpen;
    Bytes read(opening ? EncryptedMedia::maxRecordLength : EncryptedMedia::chunkSize),
        result(EncryptedMedia::maxRecordLength);
    std::int64_t written = 0, sentFrom = 0;
    while (const std::size_t got = in.readUpTo(read.data(), read.size(), {})) {
        ByteView chunk(read.data(), got);
        if (work == Work::rawSeal) {
            const std::span<std::uint8_t> box(result.data(), got + SealedBox::overhead);
            aesgcm::sealInto(key, chunk, viewOf(context), box);
            chunk = box;
        } else if (opening) {
            const std::span<std::uint8_t> opened(result.data(), got - SealedBox::overhead);
            aesgcm::openInto(key, chunk, viewOf(context), opened);
            chunk = opened;
        }
        out.writeAll(chunk, {});
        written += std::int64_t(chunk.size());
        if (work == Work::rawSeal && written - sentFrom >= (8 << 20)) {
            out.startWriteback(sentFrom, written - sentFrom);
            sentFrom = written;
        }
    }
}

void Transform(benchmark::State& state, Route route, Work work) {
    Fixture& f = fixture();
    const bool opening = work == Work::containerOpen || work == Work::rawOpen;
    const fs::path source = work == Work::containerOpen ? f.sealed
                            : work == Work::rawOpen     ? f.boxes
                                                        : f.clear;
    const fs::path target = f.folder / "target";
    for (auto _ : state) {
        const auto run = [&](const files::FileDescriptor& in, const files::FileDescriptor& out) {
            transform(work, in, out, f.key);
        };
        if (route == Route::durably) {
            transcodeMediaFile(source, target, opening, run);
        } else {
            const files::FileDescriptor in = files::openForReading(source);
            files::FileDescriptor out =
                route == Route::toNull ? files::openForWriting("/dev/null") : files::createExclusive(target);
            run(in, out);
            out.close();
        }
        state.PauseTiming();
        std::error_code ec;
        fs::remove(target, ec);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileSize));
}

// Each container route beside raw AES-GCM over the same route, then the file I/O alone.
[[maybe_unused]] const bool registered = [] {
    const std::tuple<const char*, Route, Work> runs[] = {
        {"ContainerEncryptToNull", Route::toNull, Work::containerSeal},
        {"RawSealToNull", Route::toNull, Work::rawSeal},
        {"ContainerDecryptToNull", Route::toNull, Work::containerOpen},
        {"RawOpenToNull", Route::toNull, Work::rawOpen},
        {"ContainerEncrypt", Route::sameFiles, Work::containerSeal},
        {"RawSealSameFiles", Route::sameFiles, Work::rawSeal},
        {"ContainerDecrypt", Route::sameFiles, Work::containerOpen},
        {"RawOpenSameFiles", Route::sameFiles, Work::rawOpen},
        {"EncryptFileDurably", Route::durably, Work::containerSeal},
        {"RawSealFileDurably", Route::durably, Work::rawSeal},
        {"DecryptFileDurably", Route::durably, Work::containerOpen},
        {"RawOpenFileDurably", Route::durably, Work::rawOpen},
        {"FileCopyOnly", Route::sameFiles, Work::copy}};
    for (const auto& [name, route, work] : runs)
        benchmark::RegisterBenchmark(name, Transform, route, work)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    return true;
}();

} // namespace
