#include "NuvelKit/capture/SystemAudioOutput.hpp"

#include <cmath>

namespace nuvel {

void SystemAudioOutput::didOutput(const SystemAudioBuffer& buffer) noexcept {
    const bool acceptable = buffer.format == PcmSampleFormat::float32 && buffer.channelCount == 1 &&
                            buffer.sampleRate == sampleRate && buffer.frameCount > 0 &&
                            buffer.data != nullptr &&
                            buffer.byteSize >= std::size_t(buffer.frameCount) * sizeof(float) &&
                            std::isfinite(buffer.presentationTime);
    if (!acceptable) {
        ring_->markDropped();
        return;
    }
    const float* channels[1] = {static_cast<const float*>(buffer.data)};
    // A refused push has set the ring's overflow itself.
    ring_->push(channels, 1, buffer.frameCount, buffer.presentationTime, sampleRate);
}

} // namespace nuvel
