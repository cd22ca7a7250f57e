#pragma once

#include <atomic>
#include <cstdint>

namespace nuvel {

// A fixed-size, lock-free, single-producer/single-consumer queue of mono float frames: one
// callback buffer per slot, each slot stamped with the host time and sample rate it came with.
//
// All storage is allocated once by ring::create. The producer (a real-time audio callback) calls
// only ring::push / ring::pushUntimed; the consumer only ring::pop / ring::popFrames; any thread
// may call the other functions. Slots are handed over by the two counters: the producer publishes
// a slot by a release store of writeCount, the consumer frees one by a release store of readCount,
// and each side acquires the other's counter before it touches a slot.
struct FrameRing {
    std::uint32_t slots = 0;             // 2..256
    std::uint32_t framesPerSlot = 0;     // 1..32768
    float* frames = nullptr;             // slots x framesPerSlot samples; slot k starts at k x framesPerSlot
    std::uint32_t* frameCount = nullptr; // per slot: frames stored in it
    double* hostTime = nullptr;          // per slot: host seconds of the buffer (0 when untimed)
    double* sampleRate = nullptr;        // per slot: sample rate of the buffer (0 when untimed)

    std::atomic<double> lastCallbackHostTime{0.0}; // host time of the newest push call, accepted or not

    // The producer's and the consumer's counters sit on separate cache lines so that the two
    // threads do not keep stealing one line from each other.
    alignas(64) std::atomic<std::uint64_t> writeCount{0}; // written by the producer only
    alignas(64) std::atomic<std::uint64_t> readCount{0};  // written by the consumer only

    alignas(64) std::atomic<std::uint64_t> totalFrames{0}; // frames accepted since creation
    std::atomic<float> level{0.0f};                        // RMS of the newest accepted buffer, 0..1
    std::atomic<std::uint32_t> inFlight{0};                // push calls currently executing
    std::atomic<bool> paused{false};                       // pushes are accepted and dropped
    std::atomic<bool> overflow{false};                     // sticky: audio was lost
};

namespace ring {

inline constexpr std::uint32_t minSlots = 2;
inline constexpr std::uint32_t maxSlots = 256;
inline constexpr std::uint32_t maxFramesPerSlot = 32768;
inline constexpr int maxChannels = 32;

// A new zeroed ring, or null when a size is out of range or an allocation fails.
FrameRing* create(std::uint32_t slots, std::uint32_t framesPerSlot) noexcept;
// Frees the ring and all its storage; null does nothing.
void destroy(FrameRing* ring) noexcept;

// Producer side. Mixes `channelCount` non-interleaved channels of `frameCount` frames down to
// mono into the next slot. True when stored, or when dropped because the buffer is empty or the
// ring is paused; false when refused (overflow already set, bad channel count, a buffer longer
// than a slot, a full ring), in which case overflow is now set.
bool push(FrameRing* ring, const float* const* channels, int channelCount, std::uint32_t frameCount,
          double hostTime, double sampleRate) noexcept;
bool pushUntimed(FrameRing* ring, const float* const* channels, int channelCount,
                 std::uint32_t frameCount) noexcept;

// Consumer side. Copies the oldest slot into `destination` and returns its frame count; 0 when
// the ring is empty, or when the slot does not fit (then overflow is set and the slot stays).
std::uint32_t pop(FrameRing* ring, float* destination, std::uint32_t capacity, double* hostTime,
                  double* sampleRate) noexcept;
std::uint32_t popFrames(FrameRing* ring, float* destination, std::uint32_t capacity) noexcept;

// Any thread.
void setPaused(FrameRing* ring, bool paused) noexcept;
void markOverflow(FrameRing* ring) noexcept;
bool overflowed(const FrameRing* ring) noexcept;
std::uint64_t totalFrames(const FrameRing* ring) noexcept;
float level(const FrameRing* ring) noexcept;
bool isIdle(const FrameRing* ring) noexcept;
double lastCallbackHostTime(const FrameRing* ring) noexcept;

} // namespace ring
} // namespace nuvel
