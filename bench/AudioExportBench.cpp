// Exporting a recording's audio: one hour of 48 kHz mono live segments (720 CAF files of five
// seconds) joined and encoded into one M4A, as playback, export and upload do. The figure that
// matters is "realtime": seconds of audio exported per second of wall time (goal: at least 30).
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/capture/M4aExporter.hpp"
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

struct Segments {
    fs::path folder;
    std::vector<fs::path> files;

    Segments() {
        std::string pattern = (fs::temp_directory_path() / "nuvel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        folder = pattern;
        for (int i = 0; i < segmentCount; ++i) {
            fs::path file = folder / ("segment-" + std::to_string(i) + ".caf");
            CafWriter writer = CafWriter::create(file, rate);
            writer.append(segmentAudio(std::int64_t(i) * segmentFrames));
            writer.close();
            files.push_back(file);
        }
    }
    ~Segments() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

} // namespace

static void ExportOneHourOfSegmentsToM4a(benchmark::State& state) {
    Segments segments;
    fs::path output = segments.folder / "transport.m4a";
    double audioSeconds = 0;
    for (auto _ : state) {
        fs::remove(output);
        AudioComposition composition;
        for (const fs::path& file : segments.files)
            composition.appendWholeFile(file, AudioFileInfo::load(file));
        exportM4a(composition, output);
        audioSeconds += composition.duration();
    }
    state.counters["realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["outputMiB"] = double(fs::file_size(output)) / (1 << 20);
}
BENCHMARK(ExportOneHourOfSegmentsToM4a)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
