#pragma once

#include "NuvelKit/capture/AudioDecoder.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>

namespace nuvel {

// Decodes one audio file for playback: float PCM at the file's own rate (at most
// `maxSampleRate`), mono for a mono file and stereo for anything wider, seekable, and played
// faster or slower without a change of pitch (FFmpeg's tempo filter).
//
// Reads go forward through the file in small pieces, so a long file is never held whole.
class AudioStreamDecoder {
public:
    static constexpr int maxSampleRate = 48000;
    static constexpr double minimumRate = 0.5;
    static constexpr double maximumRate = 2.0;

    // Throws as AudioDecoder does: the file system's error for a missing file,
    // MediaError::unreadable for a file that is not media, MediaError::noAudioTrack for one
    // without audio.
    explicit AudioStreamDecoder(const std::filesystem::path& path);
    AudioStreamDecoder(AudioStreamDecoder&&) noexcept;
    AudioStreamDecoder& operator=(AudioStreamDecoder&&) noexcept;
    ~AudioStreamDecoder();

    int sampleRate() const; // of the output
    int channels() const;   // of the output: 1 or 2
    // Seconds of the file's audio; 0 when the file does not say.
    double duration() const;

    double rate() const;
    // Clamped to minimumRate ... maximumRate. Takes effect for the audio read after the call;
    // what the tempo filter held of the old rate is dropped.
    void setRate(double rate);
    // Continues from `seconds` into the file at the current rate.
    void seek(double seconds);

    // Fills `into` with up to `into.size() / channels()` frames; fewer only at the end (then 0).
    // Each output frame stands for `rate()` / sampleRate() seconds of the file.
    std::size_t read(std::span<float> into);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace nuvel
