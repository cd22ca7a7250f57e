#pragma once

#include <cstdint>

namespace nuvel {

// How the samples of a PCM buffer are stored.
enum class PcmSampleFormat { float32, float64, int16, int32 };

// A non-owning description of one buffer of PCM audio as an audio layer hands it over: its
// format, layout and, for non-interleaved 32-bit float buffers, one pointer per channel. The
// ring accepts only that shape; anything else is audio it cannot take.
struct PcmBuffer {
    PcmSampleFormat format = PcmSampleFormat::float32;
    bool interleaved = false;
    int channelCount = 0;
    double sampleRate = 0;
    std::uint32_t frameLength = 0;
    // One pointer per channel when the buffer holds non-interleaved float samples; null otherwise.
    const float* const* floatChannelData = nullptr;
};

} // namespace nuvel
