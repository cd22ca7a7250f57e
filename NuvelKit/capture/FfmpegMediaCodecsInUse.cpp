// Linked as an object into the programs that carry FFmpeg themselves (tests, benchmarks): the
// audio-file classes use the linked codecs from the start.
#include "NuvelKit/capture/FfmpegMediaCodecs.hpp"

namespace {

[[maybe_unused]] const bool linkedCodecsInUse = (nuvel::useLinkedMediaCodecs(), true);

} // namespace
