#include "NuvelKit/capture/M4aExporter.hpp"

#include "NuvelKit/capture/AudioDecoder.hpp"
#include "NuvelKit/capture/AudioFfmpeg.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t bitRate = 128000;
constexpr std::size_t decodeChunkFrames = 8192;
constexpr int ioBufferSize = 1 << 16;

// The muxer writes through our descriptor, so the file is ours from its creation, and a failing
// write keeps its errno.
struct OutputIo {
    int fd = -1;
    std::int64_t position = 0;
    int lastErrno = 0;
};

int ioWrite(void* user, std::uint8_t* data, int size) {
    auto* io = static_cast<OutputIo*>(user);
    int done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(io->fd, data + done, std::size_t(size - done), io->position);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            io->lastErrno = errno;
            return AVERROR(errno);
        }
        done += int(n);
        io->position += n;
    }
    return size;
}

std::int64_t ioSeek(void* user, std::int64_t offset, int whence) {
    auto* io = static_cast<OutputIo*>(user);
    struct stat st {};
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        if (::fstat(io->fd, &st) != 0)
            return AVERROR(errno);
        return std::max<std::int64_t>(st.st_size, io->position);
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += io->position;
        break;
    case SEEK_END:
        if (::fstat(io->fd, &st) != 0)
            return AVERROR(errno);
        offset += st.st_size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    io->position = offset;
    return offset;
}

class Encoder {
public:
    Encoder(M4aOutputFormat format, int fd, const fs::path& path) : format_(format), path_(path) {
        io_.fd = fd;
    }

    void run(const AudioComposition& composition) {
        open();
        std::vector<float> interleaved(decodeChunkFrames * std::size_t(format_.channels));
        for (const AudioComposition::Item& item : composition.items()) {
            AudioDecoder decoder(item.path, {format_.sampleRate, format_.channels}, item.track.streamIndex);
            // The item lasts its inserted duration; audio the decoder has beyond that is cut,
            // unless the item is a whole file.
            const std::int64_t limit = item.whole
                                           ? std::numeric_limits<std::int64_t>::max()
                                           : std::int64_t(std::llround(item.duration * format_.sampleRate));
            std::int64_t taken = 0;
            while (taken < limit) {
                std::size_t want = std::size_t(std::min<std::int64_t>(limit - taken, decodeChunkFrames));
                std::size_t got =
                    decoder.read(std::span<float>(interleaved.data(), want * std::size_t(format_.channels)));
                if (got == 0)
                    break;
                queue(interleaved.data(), int(got));
                taken += std::int64_t(got);
            }
            if (taken == 0)
                throw MediaError(MediaError::Code::decodeFailed,
                                 "no audio decoded from " + item.path.string());
        }
        finish();
    }

private:
    M4aOutputFormat format_;
    fs::path path_;
    OutputIo io_;
    ffmpeg::OutputPtr output_;
    ffmpeg::IoPtr avio_;
    ffmpeg::CodecPtr codec_;
    AVStream* stream_ = nullptr;
    ffmpeg::FifoPtr fifo_;
    ffmpeg::FramePtr frame_ = ffmpeg::makeFrame();
    ffmpeg::PacketPtr packet_ = ffmpeg::makePacket();
    std::vector<std::vector<float>> planes_;
    std::int64_t samplesSent_ = 0;
    std::int64_t packetsWritten_ = 0;

    // A failure of the muxer or the encoder: the file system's errno when a write failed.
    [[noreturn]] void fail(const char* what, int error) {
        if (io_.lastErrno != 0)
            files::throwErrno("write", path_, io_.lastErrno);
        ffmpeg::fail(MediaError::Code::encodeFailed, what, path_, error);
    }

    void open() {
        const AVCodec* aac = avcodec_find_encoder_by_name("aac");
        if (aac == nullptr)
            throw MediaError(MediaError::Code::encodeFailed, "no AAC encoder");
        AVFormatContext* raw = nullptr;
        int result = avformat_alloc_output_context2(&raw, nullptr, "ipod", nullptr);
        if (result < 0)
            fail("set up the M4A writer for", result);
        output_.reset(raw);

        auto* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferSize));
        if (buffer == nullptr)
            throw std::bad_alloc();
        avio_.reset(avio_alloc_context(buffer, ioBufferSize, 1, &io_, nullptr, ioWrite, ioSeek));
        if (!avio_) {
            av_free(buffer);
            throw std::bad_alloc();
        }
        output_->pb = avio_.get();
        output_->flags |= AVFMT_FLAG_CUSTOM_IO;

        codec_.reset(avcodec_alloc_context3(aac));
        if (!codec_)
            throw std::bad_alloc();
        codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
        codec_->sample_rate = format_.sampleRate;
        ffmpeg::ChannelLayout layout(format_.channels);
        result = av_channel_layout_copy(&codec_->ch_layout, &layout.get());
        if (result < 0)
            fail("configure the encoder for", result);
        codec_->bit_rate = bitRate;
        codec_->profile = FF_PROFILE_AAC_LOW;
        codec_->time_base = AVRational{1, format_.sampleRate};
        if (output_->oformat->flags & AVFMT_GLOBALHEADER)
            codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        result = avcodec_open2(codec_.get(), aac, nullptr);
        if (result < 0)
            fail("open the encoder for", result);

        stream_ = avformat_new_stream(output_.get(), nullptr);
        if (stream_ == nullptr)
            throw std::bad_alloc();
        result = avcodec_parameters_from_context(stream_->codecpar, codec_.get());
        if (result < 0)
            fail("configure the M4A writer for", result);
        stream_->time_base = codec_->time_base;
        result = avformat_write_header(output_.get(), nullptr);
        if (result < 0)
            fail("write the header of", result);

        fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, format_.channels, codec_->frame_size * 4));
        if (!fifo_)
            throw std::bad_alloc();
        planes_.assign(std::size_t(format_.channels), std::vector<float>(decodeChunkFrames));
    }

    void queue(const float* interleaved, int frames) {
        std::size_t channels = std::size_t(format_.channels);
        void* planes[2];
        if (channels == 1) {
            planes[0] = const_cast<float*>(interleaved);
        } else {
            for (std::size_t c = 0; c < channels; ++c) {
                float* plane = planes_[c].data();
                for (int i = 0; i < frames; ++i)
                    plane[i] = interleaved[std::size_t(i) * channels + c];
                planes[c] = plane;
            }
        }
        if (av_audio_fifo_write(fifo_.get(), planes, frames) != frames)
            throw std::bad_alloc();
        while (av_audio_fifo_size(fifo_.get()) >= codec_->frame_size)
            encodeFromFifo(codec_->frame_size);
    }

    void encodeFromFifo(int frames) {
        av_frame_unref(frame_.get());
        frame_->nb_samples = frames;
        frame_->format = AV_SAMPLE_FMT_FLTP;
        frame_->sample_rate = format_.sampleRate;
        int result = av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
        if (result >= 0)
            result = av_frame_get_buffer(frame_.get(), 0);
        if (result < 0)
            throw std::bad_alloc();
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frames) != frames)
            throw MediaError(MediaError::Code::encodeFailed, "audio queue underrun for " + path_.string());
        frame_->pts = samplesSent_;
        samplesSent_ += frames;
        send(frame_.get());
    }

    void send(const AVFrame* frame) {
        int result = avcodec_send_frame(codec_.get(), frame);
        if (result < 0)
            fail("encode", result);
        while (true) {
            result = avcodec_receive_packet(codec_.get(), packet_.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return;
            if (result < 0)
                fail("encode", result);
            av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            result = av_interleaved_write_frame(output_.get(), packet_.get());
            if (result < 0)
                fail("write", result);
            ++packetsWritten_;
        }
    }

    void finish() {
        int rest = av_audio_fifo_size(fifo_.get());
        if (rest > 0)
            encodeFromFifo(rest);
        if (samplesSent_ == 0)
            throw MediaError(MediaError::Code::encodeFailed, "no audio to encode");
        send(nullptr);
        int result = av_write_trailer(output_.get());
        if (result < 0)
            fail("complete", result);
        avio_flush(avio_.get());
        if (avio_->error < 0)
            fail("write", avio_->error);
        if (packetsWritten_ == 0)
            throw MediaError(MediaError::Code::encodeFailed, "the encoder produced nothing");
    }
};

} // namespace

void ffmpeg::exportM4a(const AudioComposition& composition, const fs::path& destination,
                       const M4aExportOptions& options) {
    ffmpeg::silenceLogs();
    if (composition.empty())
        throw MediaError(MediaError::Code::invalidArgument, "nothing to export to " + destination.string());
    M4aOutputFormat format = m4aOutputFormatFor(composition);

    fs::path folder = destination.parent_path();
    if (folder.empty())
        folder = ".";
    fs::path target =
        options.replaceExisting
            ? folder / ("." + destination.filename().string() + "." + hexString(randomBytes(8)) + ".tmp")
            : destination;
    // Created exclusively before anything is encoded: an existing destination fails at once.
    files::FileDescriptor fd = files::createExclusive(target, 0600);
    try {
        Encoder(format, fd.get(), target).run(composition);
        fd.sync(target);
        fd.close();
        if (options.replaceExisting && ::rename(target.c_str(), destination.c_str()) != 0)
            files::throwErrno("rename", destination, errno);
    } catch (...) {
        ::unlink(target.c_str());
        throw;
    }
    files::fsyncDirectory(folder);
}

} // namespace nuvel
