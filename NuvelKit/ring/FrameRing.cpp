#include "NuvelKit/ring/FrameRing.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace nuvel::ring {

// The real-time side must never fall back to a hidden lock.
static_assert(std::atomic<double>::is_always_lock_free && std::atomic<float>::is_always_lock_free &&
              std::atomic<std::uint64_t>::is_always_lock_free &&
              std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

namespace {

// Counts one push call as in flight for exactly as long as it runs, whichever way it returns.
class InFlight {
public:
    explicit InFlight(FrameRing* ring) noexcept : ring_(ring) {
        ring_->inFlight.fetch_add(1, std::memory_order_seq_cst);
    }
    ~InFlight() { ring_->inFlight.fetch_sub(1, std::memory_order_seq_cst); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

private:
    FrameRing* ring_;
};

bool refuse(FrameRing* ring) noexcept {
    ring->overflow.exchange(true, std::memory_order_seq_cst);
    return false;
}

} // namespace

FrameRing* create(std::uint32_t slots, std::uint32_t framesPerSlot) noexcept {
    if (slots < minSlots || slots > maxSlots || framesPerSlot < 1 || framesPerSlot > maxFramesPerSlot) {
        return nullptr;
    }
    auto* ring = new (std::nothrow) FrameRing{};
    if (ring == nullptr) {
        return nullptr;
    }
    ring->slots = slots;
    ring->framesPerSlot = framesPerSlot;
    const std::size_t samples = std::size_t(slots) * framesPerSlot;
    ring->frames = static_cast<float*>(std::calloc(samples, sizeof(float)));
    ring->frameCount = static_cast<std::uint32_t*>(std::calloc(slots, sizeof(std::uint32_t)));
    ring->hostTime = static_cast<double*>(std::calloc(slots, sizeof(double)));
    ring->sampleRate = static_cast<double*>(std::calloc(slots, sizeof(double)));
    if (ring->frames == nullptr || ring->frameCount == nullptr || ring->hostTime == nullptr ||
        ring->sampleRate == nullptr) {
        destroy(ring);
        return nullptr;
    }
    return ring;
}

void destroy(FrameRing* ring) noexcept {
    if (ring == nullptr) {
        return;
    }
    std::free(ring->frames);
    std::free(ring->frameCount);
    std::free(ring->hostTime);
    std::free(ring->sampleRate);
    delete ring;
}

bool push(FrameRing* ring, const float* const* channels, int channelCount, std::uint32_t frameCount,
          double hostTime, double sampleRate) noexcept {
    // Every call counts as a callback for the watchdog, also one that stores nothing.
    ring->lastCallbackHostTime.exchange(hostTime, std::memory_order_seq_cst);
    // Counted before `paused` is read: a pauser that has stored `paused` and then sees no push in
    // flight knows that every later push will see the flag (both sides are sequentially consistent).
    InFlight inFlight(ring);

    if (ring->overflow.load(std::memory_order_seq_cst)) {
        return false;
    }
    if (frameCount == 0) {
        return true;
    }
    if (ring->paused.load(std::memory_order_seq_cst)) {
        return true;
    }
    if (channelCount < 1 || channelCount > maxChannels || frameCount > ring->framesPerSlot ||
        channels == nullptr) {
        return refuse(ring);
    }
    for (int c = 0; c < channelCount; ++c) {
        if (channels[c] == nullptr) {
            return refuse(ring);
        }
    }
    const std::uint64_t written = ring->writeCount.load(std::memory_order_relaxed);
    const std::uint64_t read = ring->readCount.load(std::memory_order_acquire);
    if (written - read >= ring->slots) {
        return refuse(ring);
    }

    const std::uint32_t slot = std::uint32_t(written % ring->slots);
    float* out = ring->frames + std::size_t(slot) * ring->framesPerSlot;
    const float divisor = float(channelCount);
    double sumOfSquares = 0.0;
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        float mono = 0.0f;
        for (int c = 0; c < channelCount; ++c) {
            mono += channels[c][i] / divisor;
        }
        out[i] = mono;
        sumOfSquares += double(mono) * double(mono);
    }
    float rms = float(std::sqrt(sumOfSquares / double(frameCount)));
    rms = std::isnan(rms) ? 1.0f : std::min(rms, 1.0f);
    ring->level.store(rms, std::memory_order_seq_cst);
    // A pause that raced with this push may have cleared the level before the store above; the
    // meter must read 0 while paused, so clear it again. Either this load sees the pause, or the
    // pauser's clearing exchange comes after the store above.
    if (ring->paused.load(std::memory_order_seq_cst)) {
        ring->level.store(0.0f, std::memory_order_seq_cst);
    }

    ring->frameCount[slot] = frameCount;
    ring->hostTime[slot] = hostTime;
    ring->sampleRate[slot] = sampleRate;
    ring->totalFrames.fetch_add(frameCount, std::memory_order_seq_cst);
    ring->writeCount.store(written + 1, std::memory_order_release);
    return true;
}

bool pushUntimed(FrameRing* ring, const float* const* channels, int channelCount,
                 std::uint32_t frameCount) noexcept {
    return push(ring, channels, channelCount, frameCount, 0.0, 0.0);
}

std::uint32_t pop(FrameRing* ring, float* destination, std::uint32_t capacity, double* hostTime,
                  double* sampleRate) noexcept {
    const std::uint64_t read = ring->readCount.load(std::memory_order_relaxed);
    const std::uint64_t written = ring->writeCount.load(std::memory_order_acquire);
    if (read == written) {
        return 0;
    }
    const std::uint32_t slot = std::uint32_t(read % ring->slots);
    const std::uint32_t n = ring->frameCount[slot];
    if (n > capacity || destination == nullptr) {
        ring->overflow.exchange(true, std::memory_order_seq_cst);
        return 0;
    }
    if (hostTime != nullptr) {
        *hostTime = ring->hostTime[slot];
    }
    if (sampleRate != nullptr) {
        *sampleRate = ring->sampleRate[slot];
    }
    std::memcpy(destination, ring->frames + std::size_t(slot) * ring->framesPerSlot, n * sizeof(float));
    ring->readCount.store(read + 1, std::memory_order_release);
    return n;
}

std::uint32_t popFrames(FrameRing* ring, float* destination, std::uint32_t capacity) noexcept {
    return pop(ring, destination, capacity, nullptr, nullptr);
}

void setPaused(FrameRing* ring, bool paused) noexcept {
    ring->paused.store(paused, std::memory_order_seq_cst);
    if (paused) {
        // Sequentially consistent, so it also orders the store above before the caller's later
        // polls of isIdle.
        ring->level.exchange(0.0f, std::memory_order_seq_cst);
    }
}

void markOverflow(FrameRing* ring) noexcept {
    ring->overflow.store(true, std::memory_order_seq_cst);
}

bool overflowed(const FrameRing* ring) noexcept {
    return ring->overflow.load(std::memory_order_seq_cst);
}

std::uint64_t totalFrames(const FrameRing* ring) noexcept {
    return ring->totalFrames.load(std::memory_order_seq_cst);
}

float level(const FrameRing* ring) noexcept {
    return ring->level.load(std::memory_order_relaxed);
}

bool isIdle(const FrameRing* ring) noexcept {
    return ring->inFlight.load(std::memory_order_seq_cst) == 0;
}

double lastCallbackHostTime(const FrameRing* ring) noexcept {
    return ring->lastCallbackHostTime.load(std::memory_order_seq_cst);
}

} // namespace nuvel::ring
