#pragma once

#include "NuvelKit/support/Json.hpp"
#include "tools/standin-service/StandinBackend.hpp"

#include <cstddef>
#include <string>

// The fixed sample that stands in for speech recognition and note generation: every processed
// meeting gets the same short conversation, stretched over its duration.
namespace nuvel::standin::sample {

// The sample conversation timed over `durationSeconds` (words are dropped when it is too short to
// give each one 20 ms).
Transcript transcript(double durationSeconds);

// The notes object and its evidence list for a transcript made by `transcript`.
struct Notes {
    json::Ordered notes;
    json::Ordered evidence;
};
Notes notes(const Transcript& transcript);

// A quiet 500 Hz tone as 8 kHz mono 16-bit WAV, at most ten minutes long.
std::string wavTone(double durationSeconds);

// Title and duration of the n-th seeded meeting.
std::string title(std::size_t n);
double durationSeconds(std::size_t n);

} // namespace nuvel::standin::sample
