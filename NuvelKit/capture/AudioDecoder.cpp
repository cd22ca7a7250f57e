#include "NuvelKit/capture/AudioDecoder.hpp"

#include "NuvelKit/capture/MediaCodecs.hpp"

extern "C" {
#include <libavutil/opt.h>
}

#include "NuvelKit/capture/AudioFfmpeg.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

// Consecutive damaged packets after which a stream counts as undecodable rather than scratched.
constexpr int maxConsecutiveDamage = 64;

// One open track and the conversion state of its decoded audio.
struct DecoderState {
    fs::path path;
    AudioTrackInfo track;
    ffmpeg::InputPtr input;
    ffmpeg::CodecPtr codec;
    ffmpeg::PacketPtr packet = ffmpeg::makePacket();
    ffmpeg::FramePtr frame = ffmpeg::makeFrame();

    int outRate = 0;
    ffmpeg::ChannelLayout outLayout;

    // The resampler and the input format it was made for; a stream may change format midway.
    ffmpeg::ResamplerPtr resampler;
    int inFormat = -1;
    int inRate = 0;
    ffmpeg::ChannelLayout inLayout;

    std::vector<float> pending; // converted, interleaved, not yet handed out
    std::size_t pendingOffset = 0;

    bool inputEnded = false; // the decoder has been sent its end
    bool finished = false;   // decoder and resampler drained
    bool packetHeld = false; // `packet` waits to be sent again
    bool decodedAny = false;
    int damage = 0;
    // After a seek: decoded audio before this time (seconds into the track) is dropped.
    std::optional<double> skipUntil;

    int channels() const { return outLayout.channels(); }

    void open(AudioOutputFormat output, int streamIndex);
    bool refill();
    void sendPacket();
    void seek(double seconds);
    double trackSeconds(std::int64_t timestamp) const;
    int framesToSkip(const AVFrame* source);
    void convert(AVFrame* source, int skipFrames);
    void drainResampler();
    void makeResampler(const AVFrame* source);
    void appendConverted(const std::uint8_t* const* input, int inputFrames);
    void noteDamage(int error, const char* what);
};

// Whether a decoded float sample is one a sound card could play as it is.
template <class T> bool playable(T v) {
    return v >= T(-1) && v <= T(1); // false for NaN too
}

template <class T> T played(T v) {
    return std::isnan(v) ? T(0) : std::clamp(v, T(-1), T(1));
}

template <class T> void clampPlanes(AVFrame* frame, int planes, std::size_t perPlane) {
    for (int p = 0; p < planes; ++p) {
        auto* samples = reinterpret_cast<T*>(frame->extended_data[p]);
        for (std::size_t i = 0; i < perPlane; ++i)
            samples[i] = played(samples[i]);
    }
}

template <class T> bool allPlayable(const AVFrame* frame, int planes, std::size_t perPlane) {
    for (int p = 0; p < planes; ++p) {
        const auto* samples = reinterpret_cast<const T*>(frame->extended_data[p]);
        for (std::size_t i = 0; i < perPlane; ++i)
            if (!playable(samples[i]))
                return false;
    }
    return true;
}

// Float audio beyond full scale is clipped to it, and a sample that is not a number is silence,
// as a player's output would have them: one bad sample of a float WAV must neither spread
// through the resampler nor stop the encoder, which refuses what is not finite.
void clampFloatSamples(AVFrame* frame) {
    const auto format = AVSampleFormat(frame->format);
    const bool isFloat = format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP;
    const bool isDouble = format == AV_SAMPLE_FMT_DBL || format == AV_SAMPLE_FMT_DBLP;
    if (!isFloat && !isDouble)
        return;
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? channels : 1;
    const std::size_t perPlane = std::size_t(frame->nb_samples) * std::size_t(planar ? 1 : channels);
    if (isFloat ? allPlayable<float>(frame, planes, perPlane) : allPlayable<double>(frame, planes, perPlane))
        return;
    // The decoder may share the frame's buffers with what it keeps.
    if (av_frame_make_writable(frame) < 0)
        throw std::bad_alloc();
    if (isFloat)
        clampPlanes<float>(frame, planes, perPlane);
    else
        clampPlanes<double>(frame, planes, perPlane);
}

} // namespace

void DecoderState::open(AudioOutputFormat output, int streamIndex) {
    input = ffmpeg::openInput(path);
    if (streamIndex < 0) {
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            if (ffmpeg::isUsableAudio(input->streams[i])) {
                streamIndex = int(i);
                break;
            }
        }
    }
    if (streamIndex < 0 || unsigned(streamIndex) >= input->nb_streams ||
        !ffmpeg::isUsableAudio(input->streams[streamIndex]))
        throw MediaError(MediaError::Code::noAudioTrack, "no audio track in " + path.string());
    AVStream* stream = input->streams[streamIndex];
    // Only the chosen track is demuxed into packets.
    for (unsigned i = 0; i < input->nb_streams; ++i)
        input->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    const AVCodecParameters* p = stream->codecpar;
    track.streamIndex = streamIndex;
    track.sampleRate = p->sample_rate;
    track.channels = p->ch_layout.nb_channels;
    track.codecName = avcodec_get_name(p->codec_id);
    if (stream->duration != AV_NOPTS_VALUE && stream->time_base.den != 0)
        track.duration = double(stream->duration) * av_q2d(stream->time_base);
    else if (input->duration != AV_NOPTS_VALUE)
        track.duration = double(input->duration) / AV_TIME_BASE; // the container's estimate
    else
        track.duration = std::numeric_limits<double>::quiet_NaN();

    if (output.sampleRate < 0 || output.sampleRate > 768000 || output.channels < 0 || output.channels > 64)
        throw MediaError(MediaError::Code::invalidArgument, "unsupported output format for " + path.string());
    if (output.maxSampleRate < 0 || output.maxChannels < 0)
        throw MediaError(MediaError::Code::invalidArgument, "unsupported output format for " + path.string());
    outRate = output.sampleRate > 0 ? output.sampleRate : track.sampleRate;
    if (output.maxSampleRate > 0)
        outRate = std::min(outRate, output.maxSampleRate);
    int outChannels = output.channels > 0 ? output.channels : track.channels;
    if (output.maxChannels > 0)
        outChannels = std::min(outChannels, output.maxChannels);
    outLayout = ffmpeg::ChannelLayout(outChannels);

    const AVCodec* decoder = avcodec_find_decoder(p->codec_id);
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec)
        throw std::bad_alloc();
    int result = avcodec_parameters_to_context(codec.get(), p);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "configure decoder for", path, result);
    codec->pkt_timebase = stream->time_base;
    result = avcodec_open2(codec.get(), decoder, nullptr);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "open decoder for", path, result);
}

void DecoderState::noteDamage(int error, const char* what) {
    if (error != AVERROR_INVALIDDATA || ++damage > maxConsecutiveDamage)
        ffmpeg::fail(MediaError::Code::decodeFailed, what, path, error);
}

// Converts more audio into `pending`; false once everything has been handed out.
bool DecoderState::refill() {
    while (!finished) {
        int result = avcodec_receive_frame(codec.get(), frame.get());
        if (result == 0) {
            damage = 0;
            decodedAny = true;
            convert(frame.get(), framesToSkip(frame.get()));
            av_frame_unref(frame.get());
            if (pendingOffset < pending.size())
                return true;
            continue;
        }
        if (result == AVERROR_EOF) {
            drainResampler();
            finished = true;
            if (!decodedAny && damage > 0)
                throw MediaError(MediaError::Code::decodeFailed, "no decodable audio in " + path.string());
            break;
        }
        if (result != AVERROR(EAGAIN)) {
            noteDamage(result, "decode");
            continue;
        }
        sendPacket();
    }
    return pendingOffset < pending.size();
}

void DecoderState::sendPacket() {
    if (!packetHeld) {
        if (inputEnded) {
            // The decoder asked for input after its end: nothing more will come.
            avcodec_send_packet(codec.get(), nullptr);
            return;
        }
        int result = av_read_frame(input.get(), packet.get());
        if (result == AVERROR_EOF) {
            inputEnded = true;
            avcodec_send_packet(codec.get(), nullptr);
            return;
        }
        if (result < 0)
            ffmpeg::fail(MediaError::Code::decodeFailed, "read", path, result);
        if (packet->stream_index != track.streamIndex) {
            av_packet_unref(packet.get());
            return;
        }
    }
    int result = avcodec_send_packet(codec.get(), packet.get());
    if (result == AVERROR(EAGAIN)) {
        packetHeld = true; // frames are waiting; send this packet after they are taken
        return;
    }
    packetHeld = false;
    av_packet_unref(packet.get());
    if (result < 0)
        noteDamage(result, "decode");
}

void DecoderState::makeResampler(const AVFrame* source) {
    drainResampler();
    inFormat = source->format;
    inRate = source->sample_rate > 0 ? source->sample_rate : track.sampleRate;
    inLayout = ffmpeg::ChannelLayout::of(source->ch_layout, source->ch_layout.nb_channels);

    SwrContext* raw = nullptr;
    // FFmpeg 5.1 takes the layouts through non-const pointers but only reads them.
    int result = swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(&outLayout.get()), AV_SAMPLE_FMT_FLT,
                                     outRate, const_cast<AVChannelLayout*>(&inLayout.get()),
                                     AVSampleFormat(inFormat), inRate, 0, nullptr);
    resampler.reset(raw);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "set up resampling for", path, result);
    int inChannels = inLayout.channels();
    int outChannels = outLayout.channels();
    if (inChannels == 1 && outChannels == 2) {
        const double copy[2] = {1.0, 1.0};
        result = swr_set_matrix(raw, copy, 1);
    } else if (inChannels == 2 && outChannels == 1) {
        const double mean[2] = {0.5, 0.5};
        result = swr_set_matrix(raw, mean, 2);
    } else if (inChannels != outChannels) {
        // Scale the mixing matrix so that no output sum can exceed full scale.
        result = av_opt_set_double(raw, "rematrix_maxval", 1.0, 0);
    }
    if (result >= 0)
        result = swr_init(raw);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "set up resampling for", path, result);
}

double DecoderState::trackSeconds(std::int64_t timestamp) const {
    const AVStream* stream = input->streams[track.streamIndex];
    std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return double(timestamp - start) * av_q2d(stream->time_base);
}

// How many leading frames of a decoded frame lie before the seek target.
int DecoderState::framesToSkip(const AVFrame* source) {
    if (!skipUntil)
        return 0;
    if (source->best_effort_timestamp == AV_NOPTS_VALUE) {
        skipUntil.reset(); // no timing to go by: take the audio as it comes
        return 0;
    }
    int rate = source->sample_rate > 0 ? source->sample_rate : track.sampleRate;
    double early = *skipUntil - trackSeconds(source->best_effort_timestamp);
    auto frames = static_cast<long>(std::lround(early * rate));
    if (frames < source->nb_samples)
        skipUntil.reset();
    return int(std::clamp<long>(frames, 0, source->nb_samples));
}

void DecoderState::seek(double seconds) {
    seconds = std::max(seconds, 0.0);
    const AVStream* stream = input->streams[track.streamIndex];
    std::int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    auto target = start + static_cast<std::int64_t>(std::floor(seconds / av_q2d(stream->time_base)));
    // The nearest point at or before the target; the frames up to it are decoded and dropped.
    int result = avformat_seek_file(input.get(), track.streamIndex, INT64_MIN, target, target, 0);
    if (result < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "seek in", path, result);
    avcodec_flush_buffers(codec.get());
    av_packet_unref(packet.get());
    resampler.reset(); // drops the samples it held back from before the seek
    inFormat = -1;
    pending.clear();
    pendingOffset = 0;
    inputEnded = false;
    finished = false;
    packetHeld = false;
    damage = 0;
    skipUntil = seconds;
}

void DecoderState::convert(AVFrame* source, int skipFrames) {
    if (source->nb_samples - skipFrames <= 0)
        return;
    if (source->ch_layout.nb_channels <= 0)
        throw MediaError(MediaError::Code::decodeFailed,
                         "decoded audio without channels in " + path.string());
    clampFloatSamples(source);
    int rate = source->sample_rate > 0 ? source->sample_rate : track.sampleRate;
    if (!resampler || source->format != inFormat || rate != inRate ||
        !(ffmpeg::ChannelLayout::of(source->ch_layout, source->ch_layout.nb_channels) == inLayout))
        makeResampler(source);
    const std::uint8_t* const* data = source->extended_data;
    const std::uint8_t* planes[AV_NUM_DATA_POINTERS];
    if (skipFrames > 0) {
        auto format = AVSampleFormat(source->format);
        int planar = av_sample_fmt_is_planar(format);
        int planeCount = planar ? source->ch_layout.nb_channels : 1;
        if (planeCount > AV_NUM_DATA_POINTERS)
            throw MediaError(MediaError::Code::decodeFailed, "too many channels in " + path.string());
        std::size_t offset = std::size_t(skipFrames) * std::size_t(av_get_bytes_per_sample(format)) *
                             std::size_t(planar ? 1 : source->ch_layout.nb_channels);
        for (int i = 0; i < planeCount; ++i)
            planes[i] = source->extended_data[i] + offset;
        data = planes;
    }
    appendConverted(data, source->nb_samples - skipFrames);
}

void DecoderState::drainResampler() {
    if (resampler)
        appendConverted(nullptr, 0);
}

void DecoderState::appendConverted(const std::uint8_t* const* in, int inputFrames) {
    if (pendingOffset == pending.size()) {
        pending.clear();
        pendingOffset = 0;
    }
    int capacity = swr_get_out_samples(resampler.get(), inputFrames);
    if (capacity < 0)
        ffmpeg::fail(MediaError::Code::decodeFailed, "resample", path, capacity);
    if (capacity == 0)
        return;
    std::size_t old = pending.size();
    pending.resize(old + std::size_t(capacity) * std::size_t(channels()));
    auto* out = reinterpret_cast<std::uint8_t*>(pending.data() + old);
    // swr_convert only reads the input planes.
    int produced =
        swr_convert(resampler.get(), &out, capacity, const_cast<const std::uint8_t**>(in), inputFrames);
    if (produced < 0) {
        pending.resize(old);
        ffmpeg::fail(MediaError::Code::decodeFailed, "resample", path, produced);
    }
    pending.resize(old + std::size_t(produced) * std::size_t(channels()));
}

namespace {

class FfmpegAudioDecoder final : public AudioDecoderEngine {
public:
    FfmpegAudioDecoder(const fs::path& path, AudioOutputFormat output, int streamIndex) {
        state_.path = path;
        state_.open(output, streamIndex);
    }

    const AudioTrackInfo& track() const override { return state_.track; }
    int sampleRate() const override { return state_.outRate; }
    int channels() const override { return state_.channels(); }
    void seek(double seconds) override { state_.seek(seconds); }

    std::size_t read(std::span<float> into) override {
        DecoderState& s = state_;
        std::size_t channels = std::size_t(s.channels());
        std::size_t wanted = into.size() / channels;
        std::size_t done = 0;
        while (done < wanted) {
            if (s.pendingOffset == s.pending.size() && !s.refill())
                break;
            std::size_t available = (s.pending.size() - s.pendingOffset) / channels;
            std::size_t n = std::min(available, wanted - done);
            std::memcpy(into.data() + done * channels, s.pending.data() + s.pendingOffset,
                        n * channels * sizeof(float));
            s.pendingOffset += n * channels;
            done += n;
        }
        return done;
    }

private:
    DecoderState state_;
};

} // namespace

std::unique_ptr<AudioDecoderEngine> ffmpeg::openDecoder(const fs::path& path, AudioOutputFormat output,
                                                        int streamIndex) {
    return std::make_unique<FfmpegAudioDecoder>(path, output, streamIndex);
}

} // namespace nuvel
