// Assembling a recording's audio as playback, export and upload do: one hour of 48 kHz mono live
// segments (720 sealed assets of five seconds) decrypted into clear copies, joined, encoded into
// one M4A transport file, checked and cleaned up. The figure that matters is "realtime": seconds
// of audio assembled per second of wall time (goal: at least 30).
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/capture/MediaAssembly.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "bench/BenchAudio.hpp"

#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <vector>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

using bench::rate;
using bench::segmentAudio;
using bench::segmentCount;
using bench::segmentFrames;

struct SealedHour {
    fs::path folder;
    std::unique_ptr<RecordingStore> store;
    LocalRecording recording;

    SealedHour() {
        std::string pattern = (fs::temp_directory_path() / "nuvel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        store = std::make_unique<RecordingStore>(folder / "root", SymmetricKey::random());
        recording =
            LocalRecording::make("bench", std::nullopt, "An hour", false, Date{700000000}, Uuid::random());
        for (int i = 0; i < segmentCount; ++i) {
            const Uuid assetID = Uuid::random();
            const std::int64_t start = std::int64_t(i) * segmentFrames;
            const fs::path live = store->workingFileURL(recording.id, assetID, "caf", "stage");
            CafWriter writer = CafWriter::create(live, rate);
            writer.append(segmentAudio(start));
            writer.close();
            store->sealClearMedia(live, recording.id, assetID);
            recording.segments.push_back(
                RecordingSegment{assetID, 5.0, recording.createdAt.adding(5.0 * i), "caf", start, "live"});
        }
    }
    ~SealedHour() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

} // namespace

static void AssembleOneHourOfSegmentsToM4a(benchmark::State& state) {
    SealedHour hour;
    MediaAssembly assembly;
    double audioSeconds = 0;
    std::uintmax_t outputBytes = 0;
    for (auto _ : state) {
        const fs::path transport = assembly.assemble(hour.recording, *hour.store);
        state.PauseTiming();
        outputBytes = fs::file_size(transport);
        hour.store->removeWorkingFiles(transport);
        state.ResumeTiming();
        audioSeconds += hour.recording.totalDuration();
    }
    state.counters["realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["outputMiB"] = double(outputBytes) / (1 << 20);
}
BENCHMARK(AssembleOneHourOfSegmentsToM4a)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
