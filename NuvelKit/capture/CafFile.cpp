#include "NuvelKit/capture/CafFile.hpp"

#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cerrno>
#include <cmath>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

// libsndfile runs on our own descriptor through its virtual I/O so that the file is created
// exclusively with its final mode, and so that a failing system call keeps its errno (libsndfile
// itself reports only "System error").
struct FileIo {
    files::FileDescriptor fd;
    sf_count_t position = 0;
    int lastErrno = 0;
};

sf_count_t ioLength(void* user) {
    auto* io = static_cast<FileIo*>(user);
    struct stat st {};
    if (::fstat(io->fd.get(), &st) != 0) {
        io->lastErrno = errno;
        return -1;
    }
    return st.st_size;
}

sf_count_t ioSeek(sf_count_t offset, int whence, void* user) {
    auto* io = static_cast<FileIo*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = io->position;
    else if (whence == SEEK_END) {
        base = ioLength(user);
        if (base < 0)
            return -1;
    }
    if (offset < 0 && base + offset < 0)
        return -1;
    io->position = base + offset;
    return io->position;
}

sf_count_t ioRead(void* into, sf_count_t count, void* user) {
    auto* io = static_cast<FileIo*>(user);
    auto* p = static_cast<char*>(into);
    sf_count_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(io->fd.get(), p + done, std::size_t(count - done), io->position);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            io->lastErrno = errno;
            break;
        }
        if (n == 0)
            break;
        done += n;
        io->position += n;
    }
    return done;
}

sf_count_t ioWrite(const void* from, sf_count_t count, void* user) {
    auto* io = static_cast<FileIo*>(user);
    auto* p = static_cast<const char*>(from);
    sf_count_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(io->fd.get(), p + done, std::size_t(count - done), io->position);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            io->lastErrno = errno;
            break;
        }
        done += n;
        io->position += n;
    }
    return done;
}

sf_count_t ioTell(void* user) {
    return static_cast<FileIo*>(user)->position;
}

SF_VIRTUAL_IO virtualIo{ioLength, ioSeek, ioRead, ioWrite, ioTell};

std::string libraryText(SNDFILE* file) {
    return sf_strerror(file);
}

// A failed system call beneath the library is the file system's error; anything else is ours.
[[noreturn]] void throwFailure(FileIo& io, const char* what, const fs::path& path, MediaError::Code code,
                               const std::string& detail) {
    if (io.lastErrno != 0)
        files::throwErrno(what, path, io.lastErrno);
    throw MediaError(code, std::string(what) + " " + path.string() + ": " + detail);
}

CafSampleFormat sampleFormatOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
        return CafSampleFormat::int8;
    case SF_FORMAT_PCM_16:
        return CafSampleFormat::int16;
    case SF_FORMAT_PCM_24:
        return CafSampleFormat::int24;
    case SF_FORMAT_PCM_32:
        return CafSampleFormat::int32;
    case SF_FORMAT_FLOAT:
        return CafSampleFormat::float32;
    case SF_FORMAT_DOUBLE:
        return CafSampleFormat::float64;
    default:
        return CafSampleFormat::other;
    }
}

} // namespace

// ----- writer -----

struct CafWriter::State {
    fs::path path;
    FileIo io;
    SNDFILE* file = nullptr;
    double sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    bool failed = false;

    ~State() {
        if (file != nullptr)
            sf_close(file);
    }
};

CafWriter::CafWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
CafWriter::CafWriter(CafWriter&&) noexcept = default;
CafWriter& CafWriter::operator=(CafWriter&&) noexcept = default;
CafWriter::~CafWriter() = default;

CafWriter CafWriter::create(const fs::path& path, double sampleRate, int channels) {
    if (!std::isfinite(sampleRate) || sampleRate < 1 || sampleRate > 655350 ||
        sampleRate != std::floor(sampleRate))
        throw MediaError(MediaError::Code::invalidArgument, "unsupported sample rate for " + path.string());
    if (channels < 1 || channels > 1024)
        throw MediaError(MediaError::Code::invalidArgument, "unsupported channel count for " + path.string());

    auto state = std::make_unique<State>();
    state->path = path;
    state->sampleRate = sampleRate;
    state->channels = channels;
    state->io.fd = files::createExclusive(path, 0600);
    SF_INFO info{};
    info.samplerate = int(sampleRate);
    info.channels = channels;
    // In the machine's own byte order: the samples go to the file as they are, in one write,
    // rather than swapped into the library's buffer and written from it 8 kB at a time.
    info.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;
    state->file = sf_open_virtual(&virtualIo, SFM_WRITE, &info, &state->io);
    if (state->file == nullptr) {
        ::unlink(path.c_str());
        throwFailure(state->io, "create", path, MediaError::Code::writeFailed, libraryText(nullptr));
    }
    // Keep the header's frame count current after every write: this is what makes a file left
    // by a crash readable.
    sf_command(state->file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    if (state->io.lastErrno != 0) {
        int error = state->io.lastErrno;
        sf_close(state->file);
        state->file = nullptr;
        ::unlink(path.c_str());
        files::throwErrno("create", path, error);
    }
    return CafWriter(std::move(state));
}

void CafWriter::append(std::span<const float> interleaved) {
    State& s = *state_;
    if (s.file == nullptr)
        throw MediaError(MediaError::Code::invalidArgument, "append to a closed file " + s.path.string());
    if (s.failed)
        throw MediaError(MediaError::Code::writeFailed, "append after an earlier failure " + s.path.string());
    if (interleaved.size() % std::size_t(s.channels) != 0)
        throw MediaError(MediaError::Code::invalidArgument,
                         "append of a partial frame to " + s.path.string());
    sf_count_t count = sf_count_t(interleaved.size() / std::size_t(s.channels));
    if (count == 0)
        return;
    s.io.lastErrno = 0;
    sf_count_t written = sf_writef_float(s.file, interleaved.data(), count);
    // The header update after the data reports no error of its own: a recorded errno catches it.
    if (written != count || s.io.lastErrno != 0) {
        s.failed = true;
        throwFailure(s.io, "write", s.path, MediaError::Code::writeFailed, libraryText(s.file));
    }
    s.frames += count;
}

void CafWriter::sync() {
    State& s = *state_;
    if (s.file == nullptr)
        return;
    s.io.lastErrno = 0;
    sf_write_sync(s.file);
    if (s.io.lastErrno != 0)
        files::throwErrno("write", s.path, s.io.lastErrno);
    s.io.fd.sync(s.path);
}

void CafWriter::close() {
    if (!state_ || state_->file == nullptr)
        return;
    State& s = *state_;
    s.io.lastErrno = 0;
    int result = sf_close(s.file);
    s.file = nullptr;
    int error = s.io.lastErrno;
    std::string text = result != 0 ? sf_error_number(result) : "";
    // A closed file counts as finished audio (it is listed, then sealed): on disk before that.
    if (error == 0 && result == 0 && ::fsync(s.io.fd.get()) != 0)
        error = errno;
    s.io.fd.close();
    if (error != 0)
        files::throwErrno("close", s.path, error);
    if (result != 0)
        throw MediaError(MediaError::Code::writeFailed, "close " + s.path.string() + ": " + text);
}

bool CafWriter::isOpen() const {
    return state_ && state_->file != nullptr;
}
std::int64_t CafWriter::frames() const {
    return state_->frames;
}
double CafWriter::sampleRate() const {
    return state_->sampleRate;
}
int CafWriter::channels() const {
    return state_->channels;
}
const fs::path& CafWriter::path() const {
    return state_->path;
}

// ----- reader -----

struct CafReader::State {
    fs::path path;
    FileIo io;
    SNDFILE* file = nullptr;
    CafFormat format;

    ~State() {
        if (file != nullptr)
            sf_close(file);
    }
};

CafReader::CafReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
CafReader::CafReader(CafReader&&) noexcept = default;
CafReader& CafReader::operator=(CafReader&&) noexcept = default;
CafReader::~CafReader() = default;

CafReader CafReader::open(const fs::path& path) {
    auto state = std::make_unique<State>();
    state->path = path;
    state->io.fd = files::openForReading(path);
    struct stat st {};
    if (::fstat(state->io.fd.get(), &st) == 0 && S_ISDIR(st.st_mode))
        files::throwErrno("open", path, EISDIR);
    SF_INFO info{};
    state->file = sf_open_virtual(&virtualIo, SFM_READ, &info, &state->io);
    if (state->file == nullptr)
        throwFailure(state->io, "open", path, MediaError::Code::unreadable, libraryText(nullptr));
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_CAF)
        throw MediaError(MediaError::Code::unreadable, "not a CAF file: " + path.string());
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 0)
        throw MediaError(MediaError::Code::unreadable, "damaged CAF header: " + path.string());
    CafFormat& f = state->format;
    f.sampleFormat = sampleFormatOf(info.format);
    f.linearPcm = f.sampleFormat != CafSampleFormat::other;
    f.channels = info.channels;
    f.sampleRate = double(info.samplerate);
    f.frames = info.frames;
    return CafReader(std::move(state));
}

const CafFormat& CafReader::format() const {
    return state_->format;
}

std::size_t CafReader::read(std::span<float> into) {
    State& s = *state_;
    sf_count_t want = sf_count_t(into.size() / std::size_t(s.format.channels));
    if (want == 0)
        return 0;
    s.io.lastErrno = 0;
    sf_count_t got = sf_readf_float(s.file, into.data(), want);
    if (s.io.lastErrno != 0)
        files::throwErrno("read", s.path, s.io.lastErrno);
    if (got < 0 || (got < want && sf_error(s.file) != SF_ERR_NO_ERROR))
        throw MediaError(MediaError::Code::decodeFailed,
                         "read " + s.path.string() + ": " + libraryText(s.file));
    return std::size_t(got);
}

void CafReader::seek(std::int64_t frame) {
    State& s = *state_;
    if (frame < 0 || frame > s.format.frames || sf_seek(s.file, frame, SEEK_SET) != frame)
        throw MediaError(MediaError::Code::invalidArgument, "seek outside " + s.path.string());
}

} // namespace nuvel
