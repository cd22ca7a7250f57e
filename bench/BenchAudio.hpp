#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace nuvel::bench {

constexpr int segmentCount = 720; // one hour of five-second segments
constexpr int rate = 48000;
constexpr int segmentFrames = 5 * rate;

// Speech-like enough for the encoder: two drifting tones over quiet noise, not pure silence.
inline std::vector<float> segmentAudio(std::int64_t start) {
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

} // namespace nuvel::bench
