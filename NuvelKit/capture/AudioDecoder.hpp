#pragma once

#include "NuvelKit/capture/AudioFileInfo.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>

namespace nuvel {

// The PCM an AudioDecoder delivers: interleaved 32-bit float at this rate and channel count.
// A zero field means "as the track has it"; the limits, when set, cap what the track has.
struct AudioOutputFormat {
    int sampleRate = 0;
    int channels = 0;
    int maxSampleRate = 0;
    int maxChannels = 0;
};

// Decodes one audio track of any file FFmpeg opens (CAF, WAV, MP3, Ogg, M4A, a movie's sound)
// to float PCM, resampled and re-channelled as asked: mono to stereo copies the channel, stereo
// to mono averages the two, wider layouts are mixed down without clipping.
//
// Damaged packets inside an otherwise readable stream are skipped, as a player would; a stream
// that yields nothing but damage, or a container that cannot be read on, is
// MediaError::decodeFailed.
class AudioDecoder {
public:
    // `streamIndex` -1 takes the first audio track. Throws as AudioFileInfo::load does, and
    // MediaError::noAudioTrack when the file (or the given stream) has no decodable audio.
    explicit AudioDecoder(const std::filesystem::path& path, AudioOutputFormat output = {},
                          int streamIndex = -1);
    AudioDecoder(AudioDecoder&&) noexcept;
    AudioDecoder& operator=(AudioDecoder&&) noexcept;
    ~AudioDecoder();

    const AudioTrackInfo& track() const;
    int sampleRate() const; // of the output
    int channels() const;   // of the output

    // Fills `into` with up to `into.size() / channels()` frames; returns the frames written,
    // fewer than asked only at the end of the track (then 0 on every later call).
    std::size_t read(std::span<float> into);

    // Continues from `seconds` into the track (clamped at 0; past the end, `read` gives nothing).
    // Throws MediaError::decodeFailed when the container cannot seek.
    void seek(double seconds);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace nuvel
