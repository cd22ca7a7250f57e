#pragma once

#include "NuvelKit/capture/MediaCodecs.hpp"

namespace nuvel {

// The media codecs of the module installed beside the program (nuvel-media.so), loaded the first
// time they are asked for, so that a program that never touches audio never maps FFmpeg.
// A module that is missing or does not fit throws MediaError::unavailable, on every call.
MediaCodecs& moduleMediaCodecs();

} // namespace nuvel
