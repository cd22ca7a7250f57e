#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace nuvel {

// Uncompressed Core Audio Format files through libsndfile: the live capture file, checkpoint
// files, and reading any CAF back. File-system failures (missing file, existing destination, a
// full disk) are thrown as std::filesystem::filesystem_error with the errno; everything else the
// library refuses is a MediaError.

enum class CafSampleFormat { int8, int16, int24, int32, float32, float64, other };

struct CafFormat {
    CafSampleFormat sampleFormat = CafSampleFormat::other;
    bool linearPcm = false; // the data is the CAF 'lpcm' format (not a-law, mu-law or ALAC)
    int channels = 0;
    double sampleRate = 0;
    std::int64_t frames = 0;
};

// Writes 32-bit float PCM in the machine's byte order, interleaved when there is more than one
// channel. The header is rewritten after every append, so if the process dies at any moment the
// file on disk still reads back with every frame of every append that returned (and possibly the
// one in flight). Without that a reader would see no frames at all until the file is closed.
class CafWriter {
public:
    // Creates `path`, which must not exist yet (EEXIST otherwise), with mode 0600 from the
    // start. `sampleRate` must be a whole number of Hz in 1...655350 and `channels` 1...1024,
    // else MediaError::invalidArgument. On failure nothing is left at `path`.
    static CafWriter create(const std::filesystem::path& path, double sampleRate, int channels = 1);

    CafWriter(CafWriter&&) noexcept;
    CafWriter& operator=(CafWriter&&) noexcept;
    ~CafWriter(); // closes the file if still open; errors are ignored (call close() to see them)

    // Appends whole frames: `interleaved.size()` must be a multiple of the channel count. After a
    // failed append the writer refuses further appends (MediaError::writeFailed): a partly
    // written frame would shift every later one. close() still completes the header.
    void append(std::span<const float> interleaved);
    // Makes everything appended so far durable (fsync of data and header).
    void sync();
    // Completes the header, makes the file durable (fsync) and closes it; a second call does
    // nothing.
    void close();

    bool isOpen() const;
    // Frames of the appends that returned.
    std::int64_t frames() const;
    double sampleRate() const;
    int channels() const;
    const std::filesystem::path& path() const;

private:
    struct State;
    explicit CafWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Reads a CAF file of any uncompressed or libsndfile-decodable sample format as float frames
// (integers scaled to -1...1). A file that is not CAF, or whose header is damaged, is
// MediaError::unreadable; a file cut short reads as the frames it holds.
class CafReader {
public:
    static CafReader open(const std::filesystem::path& path);

    CafReader(CafReader&&) noexcept;
    CafReader& operator=(CafReader&&) noexcept;
    ~CafReader();

    const CafFormat& format() const;
    // Reads up to `into.size() / channels` frames at the read position; returns the frames read,
    // fewer than asked only at the end of the file.
    std::size_t read(std::span<float> into);
    // Moves the read position to `frame` (0...frames), else MediaError::invalidArgument.
    void seek(std::int64_t frame);

private:
    struct State;
    explicit CafReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace nuvel
