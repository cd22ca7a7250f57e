#pragma once

#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// How the 48000 Hz output stream of a system-audio capture relates to time: one span per capture
// stretch (start or resume to pause or stop) and, per source, the stretches of host time it
// delivered and where they landed in the output. A record that travels with the recording; the
// capture never reads it back. Host times are seconds of the host clock.
struct CaptureTimeline {
    struct Span {
        double hostStart = 0;
        Date wallStart;
        std::int64_t mediaFrameStart = 0; // committedFrames when the span began
        std::int64_t mediaFrameEnd = 0;   // committedFrames after the span's latest commit
        std::optional<double> hostEnd;    // absent while the span is open

        json::Ordered toJson() const;
        static Span fromJson(const json::Reader& reader);
        bool operator==(const Span&) const = default;
    };

    struct SourceInterval {
        std::string source; // "system" or "microphone"
        double sampleRate = 0;
        std::int64_t span = 0; // index into spans
        double hostStart = 0;  // host time of the first sample
        double hostEnd = 0;    // host time just after the last sample
        std::int64_t mediaFrameStart = 0;
        std::int64_t mediaFrameEnd = 0;
        std::int64_t sourceFrames = 0;

        json::Ordered toJson() const;
        static SourceInterval fromJson(const json::Reader& reader);
        bool operator==(const SourceInterval&) const = default;
    };

    std::int64_t version = 1;
    std::int64_t mixVersion = 1;
    double outputSampleRate = 48000;
    std::vector<Span> spans;
    std::vector<SourceInterval> intervals;
    std::int64_t committedFrames = 0;

    // Reading checks types only (no version or range checks).
    json::Ordered toJson() const;
    static CaptureTimeline fromJson(const json::Reader& reader);
    bool operator==(const CaptureTimeline&) const = default;
};

} // namespace nuvel
