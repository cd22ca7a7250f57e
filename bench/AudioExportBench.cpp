// Exporting a recording's audio: one hour of 48 kHz mono live segments (720 CAF files of five
// seconds) joined and encoded into one M4A, as playback, export and upload do. The figure that
// matters is "realtime": seconds of audio exported per second of wall time (goal: at least 30).
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/capture/M4aExporter.hpp"

#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <vector>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

constexpr int segmentCount = 720;
constexpr int rate = 48000;
constexpr int segmentFrames = 5 * rate;

// Speech-like enough for the encoder: two drifting tones over quiet noise, not pure silence.
std::vector<float> segmentAudio(std::int64_t start) {
    std::vector<float> samples(segmentFrames);
    std::uint32_t noise = 22222u + std::uint32_t(start);
    for (int i = 0; i < segmentFrames; ++i) {
        double t = double(start + i) / rate;
        noise = noise * 1664525u + 1013904223u;
        double hiss = (double(noise >> 8) / double(1 << 24) - 0.5) * 0.02;
        samples[std::size_t(i)] = float(0.3 * std::sin(2 * M_PI * (180 + 40 * std::sin(t)) * t) +
                                        0.15 * std::sin(2 * M_PI * 1250 * t) + hiss);
    }
    return samples;
}

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
