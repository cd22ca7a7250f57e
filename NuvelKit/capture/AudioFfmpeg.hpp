#pragma once

// Internal to the audio-file layer: owning handles and error mapping for FFmpeg. Not for use
// outside NuvelKit/capture's Audio* and M4a* files.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/MediaCodecs.hpp"

#include <filesystem>
#include <memory>
#include <string>

namespace nuvel::ffmpeg {

// The operations of MediaCodecs, as FFmpeg does them.
AudioFileInfo loadInfo(const std::filesystem::path& path);
std::unique_ptr<AudioDecoderEngine> openDecoder(const std::filesystem::path& path, AudioOutputFormat output,
                                                int streamIndex);
std::unique_ptr<AudioStreamEngine> openStream(const std::filesystem::path& path);
void exportM4a(const AudioComposition& composition, const std::filesystem::path& destination,
               const M4aExportOptions& options);

// FFmpeg prints warnings to stderr by default; this layer logs nothing, so its log goes nowhere.
void silenceLogs();

std::string errorText(int code);

// A failure code of FFmpeg that is an errno of the file system (missing file, no space, I/O)
// becomes std::filesystem::filesystem_error; any other becomes MediaError(`code`, ...) whose
// text ends with FFmpeg's own message.
[[noreturn]] void fail(MediaError::Code code, const std::string& what, const std::filesystem::path& path,
                       int ffmpegError);

// Closes an input and, for one opened by openInput, the file it reads through.
struct InputDeleter {
    void operator()(AVFormatContext* c) const;
};
struct OutputDeleter {
    void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ResamplerDeleter {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct IoDeleter {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using IoPtr = std::unique_ptr<AVIOContext, IoDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

FramePtr makeFrame();
PacketPtr makePacket();

// Opens a local regular file (links to one included) and reads its stream information. Only plain
// audio and movie containers are read, and nothing but the file itself is ever opened: a playlist
// or a list of other files is refused, as is a pipe, a device or a folder, before FFmpeg sees it.
// A missing file or a folder is the file system's error; any other refusal, and a file FFmpeg
// cannot make sense of, is MediaError::unreadable.
InputPtr openInput(const std::filesystem::path& path);

// An audio stream that FFmpeg has a decoder for, with a known rate and channel count.
bool isUsableAudio(const AVStream* stream);

// An owned channel layout.
class ChannelLayout {
public:
    ChannelLayout() = default;
    // The default layout for `channels` (mono, stereo, 5.1 ...).
    explicit ChannelLayout(int channels) { av_channel_layout_default(&value_, channels); }
    // `layout` itself when it has `channels` channels in a known order, else the default one.
    static ChannelLayout of(const AVChannelLayout& layout, int channels);
    ChannelLayout(ChannelLayout&& other) noexcept : value_(other.value_) { other.value_ = {}; }
    ChannelLayout& operator=(ChannelLayout&& other) noexcept;
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&value_); }

    const AVChannelLayout& get() const { return value_; }
    int channels() const { return value_.nb_channels; }
    bool operator==(const ChannelLayout& other) const {
        return av_channel_layout_compare(&value_, &other.value_) == 0;
    }

private:
    AVChannelLayout value_{};
};

} // namespace nuvel::ffmpeg
