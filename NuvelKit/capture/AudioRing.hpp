#pragma once

#include "NuvelKit/capture/PcmBuffer.hpp"
#include "NuvelKit/ring/FrameRing.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace nuvel {

// Owns one FrameRing: the producer side takes PCM buffers or raw channel pointers, the consumer
// side returns popped slots as arrays. Producer and consumer rules are the ring's: one thread
// writes, one thread reads, any thread may pause, mark or query. The frames of every refused
// write are added to the process's CaptureLossTally.
class AudioRing {
public:
    struct TimedSamples {
        std::vector<float> samples; // mono, exactly the popped frame count
        double hostTime = 0;        // host seconds of the first sample
        double sampleRate = 0;
    };

    // Throws RecordingError(invalidTransport) when the sizes are out of range or memory is short.
    AudioRing(std::uint32_t slots, std::uint32_t framesPerSlot);
    ~AudioRing();
    AudioRing(const AudioRing&) = delete;
    AudioRing& operator=(const AudioRing&) = delete;

    // Producer side. A buffer that is not non-interleaved 32-bit float with float channel data
    // marks the ring as overflowed and returns false.
    bool write(const PcmBuffer& buffer, double hostTime) noexcept;
    bool writeUntimed(const PcmBuffer& buffer) noexcept;
    bool push(const float* const* channels, int channelCount, std::uint32_t frameCount, double hostTime,
              double sampleRate) noexcept;

    // Consumer side: the oldest slot, or nullopt when the ring is empty. Allocates the result.
    std::optional<TimedSamples> read();
    std::optional<std::vector<float>> readSamples();
    // The oldest slot's samples added to the end of `into`; false, `into` as it was, when the
    // ring is empty. Allocates only when `into` has to grow.
    bool readSamplesInto(std::vector<float>& into);

    void markDropped() noexcept { ring::markOverflow(ring_); }
    void setPaused(bool paused) noexcept { ring::setPaused(ring_, paused); }
    double level() const noexcept { return ring::level(ring_); }
    std::int64_t totalFrames() const noexcept { return std::int64_t(ring::totalFrames(ring_)); }
    bool isIdle() const noexcept { return ring::isIdle(ring_); }
    bool overflowed() const noexcept { return ring::overflowed(ring_); }
    double lastCallbackHostTime() const noexcept { return ring::lastCallbackHostTime(ring_); }
    std::uint32_t capacity() const noexcept { return capacity_; }
    std::uint32_t slotCount() const noexcept { return slots_; }

private:
    static bool acceptable(const PcmBuffer& buffer) noexcept;
    static bool counted(bool stored, std::uint32_t frames) noexcept;

    FrameRing* ring_;
    std::uint32_t capacity_;
    std::uint32_t slots_;
};

} // namespace nuvel
