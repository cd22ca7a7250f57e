#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace nuvel {

// Decoded audio on its way from a player's decoding thread to the sound server's filler: a
// fixed-size FIFO of interleaved float frames, allocated once.
//
// The audio belongs to one generation at a time (one stretch of continuous playback, from a
// seek or a rate change on). The main thread starts a generation with `restart`, which drops
// what is buffered and holds the output back (the filler answers silence), and lets it flow
// with `resume` once the sound server's old audio is gone. The decoding thread pushes frames
// of its generation and is told when they are stale.
//
// The filler never waits: when the lock is taken at that moment it answers silence. While the
// audio flows it counts what it hands to the server, so the main thread can tell which frame of
// the generation is heard now: `Progress`.
class PlaybackBuffer {
public:
    static constexpr std::uint64_t none = UINT64_MAX;

    // Frames since `resume`; `fileStart`, `endAt` are `none` until they happen.
    struct Progress {
        std::uint64_t written = 0;      // frames given to the server, silence included
        std::uint64_t fileStart = none; // the value of `written` at the first frame of audio
        std::uint64_t fileFrames = 0;   // frames of audio given to the server
        std::uint64_t endAt = none;     // the value of `written` after the last frame of audio
    };

    struct Pushed {
        std::size_t frames = 0; // taken; 0 when full
        bool stale = false;     // the generation is over: drop the audio
    };

    PlaybackBuffer(std::uint32_t channels, std::size_t capacityFrames);
    PlaybackBuffer(const PlaybackBuffer&) = delete;
    PlaybackBuffer& operator=(const PlaybackBuffer&) = delete;

    std::uint32_t channels() const { return channels_; }

    // ---- Main thread ----
    void restart(std::uint64_t generation);
    void resume();
    // Waits until `frames` frames (or the end of the audio) are buffered; false on time-out.
    bool waitForData(std::size_t frames, std::chrono::milliseconds timeout);
    Progress progress() const;

    // ---- Decoding thread ----
    Pushed push(std::uint64_t generation, const float* interleaved, std::size_t frames);
    // The generation's audio is complete.
    void finish(std::uint64_t generation);

    // ---- The server's filler: fills every frame, never blocks ----
    void fill(float* interleaved, std::uint32_t frames) noexcept;

private:
    const std::uint32_t channels_;
    const std::size_t capacity_;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<float> samples_;
    std::size_t readFrame_ = 0;
    std::size_t size_ = 0;
    std::uint64_t generation_ = 0;
    bool ended_ = false;
    bool flowing_ = false;

    // Written under the mutex, read by the main thread without it.
    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint64_t> fileStart_{none};
    std::atomic<std::uint64_t> fileFrames_{0};
    std::atomic<std::uint64_t> endAt_{none};
};

} // namespace nuvel
