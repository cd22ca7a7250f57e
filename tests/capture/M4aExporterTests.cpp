#include "NuvelKit/capture/AudioDecoder.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/M4aExporter.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nuvel;
namespace fs = std::filesystem;
using test::namesIn;

namespace {

AudioComposition compositionOf(const std::vector<fs::path>& files) {
    AudioComposition composition;
    for (const fs::path& file : files)
        composition.appendWholeFile(file, AudioFileInfo::load(file));
    return composition;
}

// RMS of each 20 ms window of a 48000 Hz mono decode of `file`.
std::vector<double> windowLevels(const fs::path& file) {
    AudioDecoder decoder(file, {48000, 1});
    std::vector<double> levels;
    std::vector<float> window(960);
    while (decoder.read(window) == window.size()) {
        double sum = 0;
        for (float v : window)
            sum += double(v) * v;
        levels.push_back(std::sqrt(sum / double(window.size())));
    }
    return levels;
}

} // namespace

TEST(M4aExport, SegmentsOfDifferentRatesJoinWithoutGapsIntoAacOwnerOnly) {
    test::TempDir dir;
    test::writeToneCaf(dir / "one.caf", 44100, 5.0);
    test::writeToneCaf(dir / "two.caf", 48000, 7.0);
    AudioComposition composition = compositionOf({dir / "one.caf", dir / "two.caf"});
    EXPECT_DOUBLE_EQ(composition.duration(), 12.0);
    fs::path out = dir / "transport.m4a";
    exportM4a(composition, out);

    EXPECT_EQ(test::modeOf(out), 0600u);
    auto probed = test::probe(out);
    EXPECT_EQ(probed["codec_name"], "aac");
    EXPECT_EQ(probed["profile"], "LC");
    EXPECT_EQ(probed["sample_rate"], "48000");
    EXPECT_EQ(probed["channels"], "1");
    EXPECT_NE(probed["format_name"].find("mp4"), std::string::npos);
    ASSERT_TRUE(probed.count("duration"));
    EXPECT_NEAR(std::stod(probed["duration"]), 12.0, 0.03); // the encoder delay is not counted
    ASSERT_TRUE(probed.count("bit_rate"));
    EXPECT_NEAR(std::stod(probed["bit_rate"]), 128000, 12000);
    EXPECT_NEAR(AudioFileInfo::load(out).duration, 12.0, 0.03);

    // The tone runs on through the join: no window of silence anywhere.
    std::vector<double> levels = windowLevels(out);
    ASSERT_GE(levels.size(), 590u);
    for (std::size_t i = 5; i + 5 < levels.size(); ++i)
        ASSERT_NEAR(levels[i], 0.5 / M_SQRT2, 0.05) << "window at " << double(i) * 0.02 << " s";
}

TEST(M4aExport, MixedRatesAndChannelsBecomeOneStereoTrackAtMost48k) {
    test::TempDir dir;
    test::writeToneCaf(dir / "low.caf", 22050, 2.0);
    test::makeWithFfmpeg("-f lavfi -i sine=frequency=330:sample_rate=44100:duration=3 -ac 2 -c:a pcm_s16le",
                         dir / "stereo.wav");
    test::writeToneCaf(dir / "high.caf", 96000, 1.0, 880);
    AudioComposition composition = compositionOf({dir / "low.caf", dir / "stereo.wav", dir / "high.caf"});
    M4aOutputFormat format = m4aOutputFormatFor(composition);
    EXPECT_EQ(format.sampleRate, 48000);
    EXPECT_EQ(format.channels, 2);
    exportM4a(composition, dir / "out.m4a");
    auto probed = test::probe(dir / "out.m4a");
    EXPECT_EQ(probed["codec_name"], "aac");
    EXPECT_EQ(probed["sample_rate"], "48000");
    EXPECT_EQ(probed["channels"], "2");
    EXPECT_NEAR(test::probedDuration(dir / "out.m4a"), 6.0, 0.05);

    // Mono sources alone stay mono, at a rate AAC has.
    AudioComposition low = compositionOf({dir / "low.caf"});
    EXPECT_EQ(m4aOutputFormatFor(low).sampleRate, 22050);
    EXPECT_EQ(m4aOutputFormatFor(low).channels, 1);
    exportM4a(low, dir / "low.m4a");
    auto lowProbe = test::probe(dir / "low.m4a");
    EXPECT_EQ(lowProbe["sample_rate"], "22050");
    EXPECT_EQ(lowProbe["channels"], "1");
    EXPECT_NEAR(test::probedDuration(dir / "low.m4a"), 2.0, 0.05);
}

TEST(M4aExport, ImportsOfOtherFormatsAndMovies) {
    test::TempDir dir;
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=44100:duration=3 -c:a libmp3lame", dir / "talk.mp3");
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=48000:duration=2.5 -c:a libvorbis", dir / "talk.ogg");
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=2:size=160x120:rate=10 -f lavfi -i sine=duration=2 "
                         "-c:v mpeg4 -c:a aac -ac 2 -shortest",
                         dir / "movie.mp4");
    for (auto [name, seconds] : {std::pair{"talk.mp3", 3.0}, {"talk.ogg", 2.5}, {"movie.mp4", 2.0}}) {
        SCOPED_TRACE(name);
        fs::path out = dir / (std::string(name) + ".m4a");
        exportM4a(compositionOf({dir / name}), out);
        auto probed = test::probe(out);
        EXPECT_EQ(probed["codec_name"], "aac");
        EXPECT_NEAR(test::probedDuration(out), seconds, 0.1);
        EXPECT_EQ(test::modeOf(out), 0600u);
    }
}

TEST(M4aExport, AnItemLastsTheTimeInsertedNotTheWholeFile) {
    test::TempDir dir;
    test::writeToneCaf(dir / "five.caf", 48000, 5.0);
    AudioFileInfo info = AudioFileInfo::load(dir / "five.caf");
    AudioComposition composition;
    composition.append(dir / "five.caf", info.audioTracks[0], 2.0);
    composition.append(dir / "five.caf", info.audioTracks[0], 1.5);
    exportM4a(composition, dir / "out.m4a");
    EXPECT_NEAR(test::probedDuration(dir / "out.m4a"), 3.5, 0.03);

    EXPECT_THROW(composition.append(dir / "five.caf", info.audioTracks[0], 0), MediaError);
    EXPECT_THROW(composition.append(dir / "five.caf", info.audioTracks[0], std::nan("")), MediaError);
    EXPECT_THROW(composition.append(dir / "five.caf", info.audioTracks[0], INFINITY), MediaError);
    EXPECT_THROW(composition.append(dir / "five.caf", AudioTrackInfo{}, 1.0), MediaError);
    EXPECT_EQ(composition.items().size(), 2u);
}

TEST(M4aExport, NeverOverwritesUnlessAskedAndThenReplacesWhole) {
    test::TempDir dir;
    test::writeToneCaf(dir / "a.caf", 48000, 1.0);
    fs::path out = dir / "out.m4a";
    test::writeBytes(out, "precious");
    try {
        exportM4a(compositionOf({dir / "a.caf"}), out);
        FAIL() << "overwrote an existing file";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
    EXPECT_EQ(fs::file_size(out), 8u);

    ::chmod(out.c_str(), 0644);
    exportM4a(compositionOf({dir / "a.caf"}), out, {.replaceExisting = true});
    EXPECT_EQ(test::probe(out)["codec_name"], "aac");
    EXPECT_EQ(test::modeOf(out), 0600u);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.caf", "out.m4a"}));
}

TEST(M4aExport, FailuresLeaveNoOutput) {
    test::TempDir dir;
    test::writeToneCaf(dir / "a.caf", 48000, 1.0);
    test::writeToneCaf(dir / "b.caf", 48000, 1.0);
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4", dir / "video.mp4");
    AudioComposition composition = compositionOf({dir / "a.caf", dir / "b.caf"});

    try {
        exportM4a(AudioComposition{}, dir / "empty.m4a");
        FAIL();
    } catch (const MediaError& e) {
        EXPECT_EQ(e.code(), MediaError::Code::invalidArgument);
    }
    try {
        compositionOf({dir / "video.mp4"});
        FAIL();
    } catch (const MediaError& e) {
        EXPECT_EQ(e.code(), MediaError::Code::noAudioTrack);
    }

    // The second source turned to garbage after it was inserted, then went missing.
    test::writeBytes(dir / "b.caf", test::garbage(50000));
    EXPECT_THROW(exportM4a(composition, dir / "garbage.m4a"), MediaError);
    fs::remove(dir / "b.caf");
    EXPECT_THROW(exportM4a(composition, dir / "missing.m4a"), fs::filesystem_error);

    // Replacing: the old file stays as it was.
    test::writeBytes(dir / "kept.m4a", "old");
    EXPECT_THROW(exportM4a(composition, dir / "kept.m4a", {.replaceExisting = true}), fs::filesystem_error);
    EXPECT_EQ(fs::file_size(dir / "kept.m4a"), 3u);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.caf", "kept.m4a", "video.mp4"}));
}

TEST(M4aExport, FullDiskIsTheFileSystemsErrorAndLeavesNoOutput) {
    // A file-size limit makes the muxer's writes fail (EFBIG) as a full disk would (ENOSPC).
    test::TempDir dir;
    test::writeToneCaf(dir / "a.caf", 48000, 10.0);
    AudioComposition composition = compositionOf({dir / "a.caf"});
    ASSERT_EQ(test::exitUnderFileSizeLimit(30000, [&] { exportM4a(composition, dir / "out.m4a"); }), 0);
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.caf"}));
}
