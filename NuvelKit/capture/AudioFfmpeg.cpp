#include "NuvelKit/capture/AudioFfmpeg.hpp"

#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

// The containers an imported or downloaded file may be in (FFmpeg's demuxer names). Playlist and
// reference formats (hls, concat, dash, ...) would read other files named inside them. The open
// panel's file names (readableContainerPatterns) follow this list.
constexpr const char* allowedDemuxers = "wav,caf,mp3,mov,ogg,flac,matroska,aac,aiff";

constexpr int ioBufferSize = 64 * 1024;

// The file an input reads, opened and checked by openInput.
struct FileSource {
    int fd = -1;
};

int readSource(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = static_cast<FileSource*>(opaque)->fd;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, std::size_t(size));
        if (got > 0)
            return int(got);
        if (got == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

std::int64_t seekSource(void* opaque, std::int64_t offset, int whence) {
    const int fd = static_cast<FileSource*>(opaque)->fd;
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? std::int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : std::int64_t(at);
}

// A demuxer never opens a second file (a movie's external references included).
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

void closeSource(AVIOContext* io) {
    auto* source = static_cast<FileSource*>(io->opaque);
    if (source != nullptr) {
        if (source->fd >= 0)
            ::close(source->fd);
        delete source;
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
}

// The file at `path`, or a link to it, opened for reading when it is a regular file. Nothing that
// could block (a pipe without a writer) or never end (a device) is opened for FFmpeg.
int openRegularFile(const fs::path& path) {
    struct stat st {};
    files::FileDescriptor fd = files::openRegularFile(path, st);
    if (!fd && S_ISDIR(st.st_mode))
        files::throwErrno("open", path, EISDIR);
    if (!fd)
        throw MediaError(MediaError::Code::unreadable, "not a regular file: " + path.string());
    return fd.release();
}

} // namespace

void InputDeleter::operator()(AVFormatContext* c) const {
    AVIOContext* io = (c->flags & AVFMT_FLAG_CUSTOM_IO) ? c->pb : nullptr;
    avformat_close_input(&c);
    if (io != nullptr)
        closeSource(io);
}

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

namespace {

// An audio track of an MP4 file whose media header has no time scale: FFmpeg counts it in whole
// seconds, which leaves all its samples but the first outside the track's edit list.
bool hasTimelessMovieTrack(const AVFormatContext* input) {
    if (std::string_view(input->iformat->name).find("mp4") == std::string_view::npos)
        return false;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && stream->time_base.num == 1 &&
            stream->time_base.den == 1)
            return true;
    }
    return false;
}

InputPtr openOnce(const fs::path& path, bool plainEditLists) {
    auto source = std::make_unique<FileSource>();
    source->fd = openRegularFile(path);

    auto* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferSize));
    if (buffer == nullptr) {
        ::close(source->fd);
        throw std::bad_alloc();
    }
    AVIOContext* io =
        avio_alloc_context(buffer, ioBufferSize, 0, source.get(), readSource, nullptr, seekSource);
    if (io == nullptr) {
        av_free(buffer);
        ::close(source->fd);
        throw std::bad_alloc();
    }
    static_cast<void>(source.release()); // the I/O context owns it now: closeSource deletes it
    AVFormatContext* raw = avformat_alloc_context();
    if (raw == nullptr) {
        closeSource(io);
        throw std::bad_alloc();
    }
    raw->pb = io;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->io_open = refuseNestedOpen;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", allowedDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    if (plainEditLists)
        av_dict_set(&options, "advanced_editlist", "0", 0);
    // "file:" keeps a name with a colon in it from being read as another protocol.
    std::string url = "file:" + path.string();
    // On failure FFmpeg frees the context but leaves a caller's own I/O alone.
    int result = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        closeSource(io);
        fail(MediaError::Code::unreadable, "open", path, result);
    }
    InputPtr input(raw);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0)
        fail(MediaError::Code::unreadable, "read stream information of", path, result);
    return input;
}

} // namespace

InputPtr openInput(const fs::path& path) {
    silenceLogs();
    InputPtr input = openOnce(path, false);
    // Read again with the plain edit-list handling, which takes the edit list as a count of
    // leading samples to skip rather than as a time range: the whole track comes through.
    if (hasTimelessMovieTrack(input.get()))
        input = openOnce(path, true);
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
