#include "NuvelKit/capture/AudioFileInfo.hpp"

#include "NuvelKit/capture/AudioFfmpeg.hpp"

#include <limits>

namespace nuvel {

AudioFileInfo ffmpeg::loadInfo(const std::filesystem::path& path) {
    ffmpeg::InputPtr input = ffmpeg::openInput(path);
    constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
    AudioFileInfo info;
    info.duration = input->duration == AV_NOPTS_VALUE ? unknown : double(input->duration) / AV_TIME_BASE;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (!ffmpeg::isUsableAudio(stream))
            continue;
        AudioTrackInfo track;
        track.streamIndex = int(i);
        track.sampleRate = stream->codecpar->sample_rate;
        track.channels = stream->codecpar->ch_layout.nb_channels;
        track.codecName = avcodec_get_name(stream->codecpar->codec_id);
        track.duration = stream->duration == AV_NOPTS_VALUE || stream->time_base.den == 0
                             ? unknown
                             : double(stream->duration) * av_q2d(stream->time_base);
        info.audioTracks.push_back(std::move(track));
    }
    return info;
}

} // namespace nuvel
