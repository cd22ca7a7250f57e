#include "NuvelKit/capture/AudioFfmpeg.hpp"

#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <mutex>
#include <sys/stat.h>

namespace nuvel::ffmpeg {

namespace fs = std::filesystem;

namespace {

void discardLog(void*, int, const char*, va_list) {}

bool isFileSystemErrno(int e) {
    switch (e) {
    case ENOENT:
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENOTDIR:
    case ENOSPC:
    case EFBIG:
    case EIO:
    case EROFS:
    case EDQUOT:
    case ELOOP:
    case ENAMETOOLONG:
    case EMFILE:
    case ENFILE:
    case EEXIST:
        return true;
    default:
        return false;
    }
}

} // namespace

void silenceLogs() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(discardLog); });
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "FFmpeg error " + std::to_string(code);
    return text;
}

void fail(MediaError::Code code, const std::string& what, const fs::path& path, int ffmpegError) {
    if (ffmpegError < 0 && isFileSystemErrno(-ffmpegError))
        files::throwErrno(what.c_str(), path, -ffmpegError);
    throw MediaError(code, what + " " + path.string() + ": " + errorText(ffmpegError));
}

FramePtr makeFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr makePacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

InputPtr openInput(const fs::path& path) {
    silenceLogs();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        files::throwErrno("open", path, errno);
    if (S_ISDIR(st.st_mode))
        files::throwErrno("open", path, EISDIR);

    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    // "file:" keeps a name with a colon in it from being read as another protocol.
    std::string url = "file:" + path.string();
    int result = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0)
        fail(MediaError::Code::unreadable, "open", path, result);
    InputPtr input(raw);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0)
        fail(MediaError::Code::unreadable, "read stream information of", path, result);
    return input;
}

bool isUsableAudio(const AVStream* stream) {
    const AVCodecParameters* p = stream->codecpar;
    return p->codec_type == AVMEDIA_TYPE_AUDIO && p->codec_id != AV_CODEC_ID_NONE && p->sample_rate > 0 &&
           p->ch_layout.nb_channels > 0 && avcodec_find_decoder(p->codec_id) != nullptr;
}

ChannelLayout ChannelLayout::of(const AVChannelLayout& layout, int channels) {
    ChannelLayout result;
    if (layout.order != AV_CHANNEL_ORDER_UNSPEC && layout.nb_channels == channels &&
        av_channel_layout_copy(&result.value_, &layout) == 0)
        return result;
    return ChannelLayout(channels);
}

ChannelLayout& ChannelLayout::operator=(ChannelLayout&& other) noexcept {
    if (this != &other) {
        av_channel_layout_uninit(&value_);
        value_ = other.value_;
        other.value_ = {};
    }
    return *this;
}

} // namespace nuvel::ffmpeg
