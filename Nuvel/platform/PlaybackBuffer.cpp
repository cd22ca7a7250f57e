#include "Nuvel/platform/PlaybackBuffer.hpp"

#include <algorithm>
#include <cstring>

namespace nuvel {

namespace {

// Attempts at the lock before the filler gives up and answers silence.
constexpr int fillerLockAttempts = 64;

} // namespace

PlaybackBuffer::PlaybackBuffer(std::uint32_t channels, std::size_t capacityFrames)
    : channels_(std::max<std::uint32_t>(channels, 1)), capacity_(std::max<std::size_t>(capacityFrames, 1)),
      samples_(capacity_ * channels_) {}

void PlaybackBuffer::restart(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    generation_ = generation;
    readFrame_ = 0;
    size_ = 0;
    ended_ = false;
    flowing_ = false;
}

void PlaybackBuffer::resume() {
    std::lock_guard lock(mutex_);
    written_ = 0;
    fileStart_ = none;
    fileFrames_ = 0;
    endAt_ = none;
    flowing_ = true;
}

bool PlaybackBuffer::waitForData(std::size_t frames, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    frames = std::min(frames, capacity_);
    return arrived_.wait_for(lock, timeout, [&] { return size_ >= frames || ended_; });
}

PlaybackBuffer::Progress PlaybackBuffer::progress() const {
    Progress p;
    p.written = written_.load();
    p.fileStart = fileStart_.load();
    p.fileFrames = fileFrames_.load();
    p.endAt = endAt_.load();
    return p;
}

PlaybackBuffer::Pushed PlaybackBuffer::push(std::uint64_t generation, const float* interleaved,
                                            std::size_t frames) {
    Pushed result;
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_) {
            result.stale = true;
            return result;
        }
        std::size_t taken = std::min(frames, capacity_ - size_);
        std::size_t writeFrame = (readFrame_ + size_) % capacity_;
        std::size_t first = std::min(taken, capacity_ - writeFrame);
        std::memcpy(samples_.data() + writeFrame * channels_, interleaved, first * channels_ * sizeof(float));
        std::memcpy(samples_.data(), interleaved + first * channels_,
                    (taken - first) * channels_ * sizeof(float));
        size_ += taken;
        result.frames = taken;
    }
    if (result.frames > 0)
        arrived_.notify_all();
    return result;
}

void PlaybackBuffer::finish(std::uint64_t generation) {
    {
        std::lock_guard lock(mutex_);
        if (generation != generation_)
            return;
        ended_ = true;
    }
    arrived_.notify_all();
}

void PlaybackBuffer::fill(float* interleaved, std::uint32_t frames) noexcept {
    std::unique_lock lock(mutex_, std::try_to_lock);
    for (int attempt = 0; !lock.owns_lock() && attempt < fillerLockAttempts; ++attempt)
        lock.try_lock();
    std::size_t taken = 0;
    if (lock.owns_lock() && flowing_) {
        taken = std::min<std::size_t>(frames, size_);
        std::size_t first = std::min(taken, capacity_ - readFrame_);
        std::memcpy(interleaved, samples_.data() + readFrame_ * channels_, first * channels_ * sizeof(float));
        std::memcpy(interleaved + first * channels_, samples_.data(),
                    (taken - first) * channels_ * sizeof(float));
        readFrame_ = (readFrame_ + taken) % capacity_;
        size_ -= taken;

        std::uint64_t before = written_.load();
        if (taken > 0) {
            if (fileStart_.load() == none)
                fileStart_ = before;
            fileFrames_ = fileFrames_.load() + taken;
        }
        if (ended_ && size_ == 0 && endAt_.load() == none)
            endAt_ = before + taken;
        written_ = before + frames;
    }
    std::fill(interleaved + taken * channels_, interleaved + std::size_t(frames) * channels_, 0.0f);
}

} // namespace nuvel
