#pragma once

#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/PcmBuffer.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace nuvel {

// One buffer of application or system audio as the platform's stream hands it over.
struct SystemAudioBuffer {
    PcmSampleFormat format = PcmSampleFormat::float32;
    int channelCount = 0;
    double sampleRate = 0;
    std::uint32_t frameCount = 0;
    const void* data = nullptr; // the samples, `byteSize` bytes
    std::size_t byteSize = 0;
    double presentationTime = 0; // host seconds of the first sample
};

// The output of the application or system audio stream: pushes each buffer into the system
// ring, or, for audio in any other shape than mono 32-bit float at 48000 Hz, marks the ring
// dropped. It is never converted. Holds the ring only, never the capture.
//
// Called on the stream's audio thread (the ring's one producer): allocates nothing, takes no
// lock.
class SystemAudioOutput {
public:
    static constexpr double sampleRate = 48000.0;

    explicit SystemAudioOutput(std::shared_ptr<AudioRing> ring) : ring_(std::move(ring)) {}

    void didOutput(const SystemAudioBuffer& buffer) noexcept;
    // The stream ended or lost audio: the capture is unhealthy from now on.
    void didStop() noexcept { ring_->markDropped(); }

    AudioRing& ring() const { return *ring_; }

private:
    std::shared_ptr<AudioRing> ring_;
};

} // namespace nuvel
