#include "NuvelKit/capture/FfmpegMediaCodecs.hpp"

#include "NuvelKit/capture/AudioFfmpeg.hpp"

namespace nuvel {

namespace {

class FfmpegMediaCodecs final : public MediaCodecs {
public:
    AudioFileInfo loadInfo(const std::filesystem::path& path) override { return ffmpeg::loadInfo(path); }
    std::unique_ptr<AudioDecoderEngine> openDecoder(const std::filesystem::path& path,
                                                    AudioOutputFormat output, int streamIndex) override {
        return ffmpeg::openDecoder(path, output, streamIndex);
    }
    std::unique_ptr<AudioStreamEngine> openStream(const std::filesystem::path& path) override {
        return ffmpeg::openStream(path);
    }
    void exportM4a(const AudioComposition& composition, const std::filesystem::path& destination,
                   const M4aExportOptions& options) override {
        ffmpeg::exportM4a(composition, destination, options);
    }
};

} // namespace

MediaCodecs& linkedMediaCodecs() {
    static FfmpegMediaCodecs codecs;
    return codecs;
}

void useLinkedMediaCodecs() {
    setMediaCodecsProvider(&linkedMediaCodecs);
}

} // namespace nuvel
