#pragma once

#include "NuvelKit/capture/AudioDecoder.hpp"
#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/capture/M4aExporter.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <span>

namespace nuvel {

// The media framework behind AudioFileInfo, AudioDecoder, AudioStreamDecoder and exportM4a.
// FFmpeg's codec chain maps a hundred shared libraries, so the program keeps it out of its own
// image and loads it the first time audio is decoded or encoded; tests and benchmarks link it in.
// The audio-file classes are thin faces over these interfaces and throw what they throw.
class AudioDecoderEngine {
public:
    virtual ~AudioDecoderEngine() = default;
    virtual const AudioTrackInfo& track() const = 0;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual std::size_t read(std::span<float> into) = 0;
    virtual void seek(double seconds) = 0;
};

class AudioStreamEngine {
public:
    virtual ~AudioStreamEngine() = default;
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
    virtual double duration() const = 0;
    virtual double rate() const = 0;
    virtual void setRate(double rate) = 0;
    virtual void seek(double seconds) = 0;
    virtual std::size_t read(std::span<float> into) = 0;
};

class MediaCodecs {
public:
    // Raised whenever these interfaces or the types they pass change, so a module from another
    // build is refused instead of misread.
    static constexpr int interfaceVersion = 1;

    virtual ~MediaCodecs() = default;
    virtual AudioFileInfo loadInfo(const std::filesystem::path& path) = 0;
    virtual std::unique_ptr<AudioDecoderEngine> openDecoder(const std::filesystem::path& path,
                                                            AudioOutputFormat output, int streamIndex) = 0;
    virtual std::unique_ptr<AudioStreamEngine> openStream(const std::filesystem::path& path) = 0;
    virtual void exportM4a(const AudioComposition& composition, const std::filesystem::path& destination,
                           const M4aExportOptions& options) = 0;
};

// Where the codecs come from: a function that returns them or throws MediaError::unavailable.
// Set once, before the first use (by the program's start, or by linking the built-in codecs).
using MediaCodecsProvider = MediaCodecs& (*)();
void setMediaCodecsProvider(MediaCodecsProvider provider);

// The codecs in use. Throws MediaError::unavailable when none can be had.
MediaCodecs& mediaCodecs();

} // namespace nuvel
