#pragma once

#include "NuvelKit/capture/MediaCodecs.hpp"

namespace nuvel {

// The media codecs over FFmpeg, in the image that links them (tests, benchmarks, the codec
// module the program loads).
MediaCodecs& linkedMediaCodecs();

// Makes mediaCodecs() return the linked codecs.
void useLinkedMediaCodecs();

} // namespace nuvel
