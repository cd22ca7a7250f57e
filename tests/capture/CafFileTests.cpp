#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

// A value per frame that is exact in float, so a read-back can be compared bit for bit.
float sampleAt(std::int64_t frame) {
    return float(frame % 2000 - 1000) / 1024.0f;
}

std::vector<float> samplesFrom(std::int64_t start, std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = sampleAt(start + std::int64_t(i));
    return out;
}

std::vector<float> readAll(CafReader& reader) {
    std::vector<float> all;
    std::vector<float> buffer(4096 * std::size_t(reader.format().channels));
    while (std::size_t n = reader.read(buffer))
        all.insert(all.end(), buffer.begin(), buffer.begin() + long(n) * reader.format().channels);
    return all;
}

// Checks that `path` holds frames 0..n of sampleAt and returns n.
std::int64_t verifiedFrames(const fs::path& path) {
    CafReader reader = CafReader::open(path);
    std::vector<float> all = readAll(reader);
    EXPECT_EQ(std::int64_t(all.size()), reader.format().frames);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] != sampleAt(std::int64_t(i))) {
            ADD_FAILURE() << "frame " << i << " differs";
            break;
        }
    }
    return std::int64_t(all.size());
}

void writeWithLibsndfile(const fs::path& path, int format, int rate, int channels, int frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<float> samples(std::size_t(frames) * std::size_t(channels), 0.25f);
    sf_writef_float(f, samples.data(), frames);
    sf_close(f);
}

} // namespace

TEST(CafFile, WritesFloatMonoThatReadsBackExactlyOwnerOnly) {
    test::TempDir dir;
    fs::path file = dir / "live.caf";
    CafWriter writer = CafWriter::create(file, 48000);
    EXPECT_EQ(test::modeOf(file), 0600u);
    writer.append(samplesFrom(0, 1000));
    writer.append({});
    writer.append(samplesFrom(1000, 4800));
    writer.sync();
    EXPECT_EQ(writer.frames(), 5800);
    writer.close();
    writer.close();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_THROW(writer.append(samplesFrom(0, 1)), MediaError);

    CafReader reader = CafReader::open(file);
    EXPECT_EQ(reader.format().sampleFormat, CafSampleFormat::float32);
    EXPECT_TRUE(reader.format().linearPcm);
    EXPECT_EQ(reader.format().channels, 1);
    EXPECT_EQ(reader.format().sampleRate, 48000);
    EXPECT_EQ(reader.format().frames, 5800);
    EXPECT_EQ(verifiedFrames(file), 5800);

    reader.seek(5000);
    std::vector<float> tail(2000);
    ASSERT_EQ(reader.read(tail), 800u);
    EXPECT_EQ(tail[0], sampleAt(5000));
    EXPECT_THROW(reader.seek(5801), MediaError);
    EXPECT_THROW(reader.seek(-1), MediaError);

    // The samples are kept as the machine holds them, not swapped on the way: the file ends
    // with their own bytes.
    const std::vector<float> last = samplesFrom(1000, 4800);
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t size = last.size() * sizeof(float);
    ASSERT_GE(bytes.size(), size);
    EXPECT_EQ(bytes.compare(bytes.size() - size, size, reinterpret_cast<const char*>(last.data()), size), 0);

    // FFmpeg reads the same file as the exact duration.
    AudioFileInfo info = AudioFileInfo::load(file);
    ASSERT_EQ(info.audioTracks.size(), 1u);
    EXPECT_NEAR(info.duration, 5800.0 / 48000, 1e-6);
}

TEST(CafFile, StereoFramesInterleaveAndPartialFramesAreRefused) {
    test::TempDir dir;
    fs::path file = dir / "two.caf";
    CafWriter writer = CafWriter::create(file, 44100, 2);
    EXPECT_THROW(writer.append(std::vector<float>{0.1f, 0.2f, 0.3f}), MediaError);
    writer.append(std::vector<float>{0.1f, -0.1f, 0.2f, -0.2f});
    writer.close();
    CafReader reader = CafReader::open(file);
    EXPECT_EQ(reader.format().channels, 2);
    EXPECT_EQ(reader.format().frames, 2);
    EXPECT_EQ(readAll(reader), (std::vector<float>{0.1f, -0.1f, 0.2f, -0.2f}));
}

TEST(CafFile, CreationIsExclusiveAndChecksItsFormat) {
    test::TempDir dir;
    fs::path file = dir / "taken.caf";
    test::writeBytes(file, "someone else's");
    try {
        CafWriter::create(file, 48000);
        FAIL() << "an existing file was overwritten";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
    EXPECT_EQ(fs::file_size(file), 14u);

    for (double rate : {0.0, -48000.0, 44100.5, 1e9, std::nan("")})
        EXPECT_THROW(CafWriter::create(dir / "bad.caf", rate), MediaError) << rate;
    EXPECT_THROW(CafWriter::create(dir / "bad.caf", 48000, 0), MediaError);
    EXPECT_FALSE(fs::exists(dir / "bad.caf"));
    EXPECT_THROW(CafWriter::create(dir / "missing" / "x.caf", 48000), fs::filesystem_error);
}

TEST(CafFile, ReportsTheFormatOfOtherCafFiles) {
    test::TempDir dir;
    writeWithLibsndfile(dir / "s16.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 22050, 2, 1000);
    writeWithLibsndfile(dir / "ulaw.caf", SF_FORMAT_CAF | SF_FORMAT_ULAW, 8000, 1, 800);
    writeWithLibsndfile(dir / "empty.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 48000, 1, 0);

    CafReader s16 = CafReader::open(dir / "s16.caf");
    EXPECT_EQ(s16.format().sampleFormat, CafSampleFormat::int16);
    EXPECT_TRUE(s16.format().linearPcm);
    EXPECT_EQ(s16.format().channels, 2);
    EXPECT_EQ(s16.format().sampleRate, 22050);
    EXPECT_EQ(s16.format().frames, 1000);
    std::vector<float> first(2);
    ASSERT_EQ(s16.read(first), 1u);
    EXPECT_NEAR(first[0], 0.25f, 1e-4); // integers come back scaled to -1...1

    CafReader ulaw = CafReader::open(dir / "ulaw.caf");
    EXPECT_FALSE(ulaw.format().linearPcm);
    EXPECT_EQ(ulaw.format().frames, 800);

    EXPECT_EQ(CafReader::open(dir / "empty.caf").format().frames, 0);
}

TEST(CafFile, DamagedMissingOrForeignFilesAreErrorsNotCrashes) {
    test::TempDir dir;
    {
        CafWriter writer = CafWriter::create(dir / "good.caf", 48000);
        writer.append(samplesFrom(0, 48000));
        writer.close();
    }
    std::uintmax_t size = fs::file_size(dir / "good.caf");

    // Cut in the middle of the data: the frames that are there still read, correctly (libsndfile
    // may give up the last two whole frames of a cut file).
    test::writeTruncatedCopy(dir / "good.caf", dir / "cut.caf", std::size_t(size - 1000 * 4 - 2));
    std::int64_t frames = verifiedFrames(dir / "cut.caf");
    EXPECT_LE(frames, 48000 - 1001);
    EXPECT_GE(frames, 48000 - 1001 - 2);

    // Cut inside the header, garbage, an empty file, a WAV and a text file are not readable CAFs.
    test::writeTruncatedCopy(dir / "good.caf", dir / "header.caf", 30);
    test::writeBytes(dir / "noise.caf", test::garbage(100000));
    test::writeBytes(dir / "zero.caf", "");
    test::writeBytes(dir / "caff-noise.caf",
                     "caff" + std::string("\x00\x01\x00\x00", 4) + test::garbage(5000));
    writeWithLibsndfile(dir / "wave.caf", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 100);
    for (const char* name : {"header.caf", "noise.caf", "zero.caf", "caff-noise.caf", "wave.caf"}) {
        try {
            CafReader::open(dir / name);
            ADD_FAILURE() << name << " opened";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.code(), MediaError::Code::unreadable) << name;
        }
    }
    EXPECT_THROW(CafReader::open(dir / "none.caf"), fs::filesystem_error);
    EXPECT_THROW(CafReader::open(dir.path()), fs::filesystem_error);
}

// The promise of the live file: whenever the writing process dies, every frame of every append
// that returned is on disk and readable.
TEST(CafFileCrash, KilledWriterLeavesEveryCompletedAppendReadable) {
    for (int reportsBeforeKill : {1, 3, 60, 700, 2500}) {
        test::TempDir dir;
        fs::path file = dir / "live.caf";
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(report[0]);
            try {
                CafWriter writer = CafWriter::create(file, 48000);
                std::int64_t total = 0;
                if (::write(report[1], &total, sizeof total) != sizeof total)
                    ::_exit(3);
                for (int i = 0;; ++i) {
                    std::size_t n = 1 + std::size_t(i * 977) % 4800;
                    writer.append(samplesFrom(total, n));
                    total += std::int64_t(n);
                    if (::write(report[1], &total, sizeof total) != sizeof total)
                        ::_exit(3);
                    if (total > 48000LL * 3600)
                        ::pause();
                }
            } catch (...) {
                ::_exit(2);
            }
        }
        ::close(report[1]);
        std::int64_t completed = -1, value = 0;
        int reports = 0;
        while (reports < reportsBeforeKill && ::read(report[0], &value, sizeof value) == sizeof value) {
            completed = value;
            ++reports;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";
        while (::read(report[0], &value, sizeof value) == sizeof value)
            completed = value;
        ::close(report[0]);
        ASSERT_GE(completed, 0);

        std::int64_t frames = verifiedFrames(file);
        EXPECT_GE(frames, completed) << "after " << reportsBeforeKill << " reports";
        EXPECT_LE(frames, completed + 4800) << "more than the append in flight";
    }
}

TEST(CafFileCrash, FailedWriteIsTheFileSystemsErrorAndKeepsEarlierFrames) {
    // A file-size limit makes the write fail part way (EFBIG), as a full disk does with ENOSPC.
    test::TempDir dir;
    fs::path file = dir / "live.caf";
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::int64_t total = 0;
        try {
            CafWriter writer = CafWriter::create(file, 48000);
            try {
                for (;;) {
                    writer.append(samplesFrom(total, 4800));
                    total += 4800;
                }
            } catch (const fs::filesystem_error& e) {
                if (e.code().value() != EFBIG)
                    ::_exit(4);
            }
            if (::write(report[1], &total, sizeof total) != sizeof total)
                ::_exit(3);
            try {
                writer.append(samplesFrom(total, 10));
                ::_exit(5);
            } catch (const MediaError& e) {
                if (e.code() != MediaError::Code::writeFailed)
                    ::_exit(6);
            }
            writer.close();
            ::_exit(0);
        } catch (...) {
            ::_exit(2);
        }
    }
    ::close(report[1]);
    std::int64_t completed = -1;
    ASSERT_EQ(::read(report[0], &completed, sizeof completed), ssize_t(sizeof completed));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(completed, 0);
    std::int64_t frames = verifiedFrames(file);
    EXPECT_GE(frames, completed);
    EXPECT_LT(frames, completed + 4800);
}
