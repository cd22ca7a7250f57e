#include "NuvelKit/capture/AudioDecoder.hpp"
#include "NuvelKit/capture/AudioFileInfo.hpp"
#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

std::vector<float> decodeAll(AudioDecoder& decoder) {
    std::vector<float> all;
    std::vector<float> buffer(3000 * std::size_t(decoder.channels()));
    while (std::size_t n = decoder.read(buffer))
        all.insert(all.end(), buffer.begin(), buffer.begin() + long(n) * decoder.channels());
    EXPECT_EQ(decoder.read(buffer), 0u);
    return all;
}

double rms(const std::vector<float>& samples, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, samples.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(samples[i]) * samples[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// ffmpeg's lavfi sine has amplitude 1/8.
constexpr double lavfiSineRms = 0.125 / M_SQRT2;
const std::string sine2s = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2";

struct Fixture {
    const char* name;
    std::string arguments;
    int sampleRate;
    int channels;
    const char* codec;
    double rms; // ffmpeg's own "-ac 2" spreads mono at -3 dB over the two channels
};

class AudioFixtures : public testing::Test {
protected:
    test::TempDir dir{"audio"};
    std::vector<Fixture> fixtures{
        {"tone.wav", sine2s + " -ac 2 -c:a pcm_s16le", 44100, 2, "pcm_s16le", lavfiSineRms* M_SQRT1_2},
        {"tone.mp3", sine2s + " -c:a libmp3lame -b:a 96k", 44100, 1, "mp3", lavfiSineRms},
        {"tone.ogg", sine2s + " -c:a libvorbis", 44100, 1, "vorbis", lavfiSineRms},
        {"movie.mp4",
         "-f lavfi -i testsrc=duration=2:size=160x120:rate=10 " + sine2s +
             " -c:v mpeg4 -c:a aac -ac 2 -shortest",
         44100, 2, "aac", lavfiSineRms* M_SQRT1_2},
    };

    void SetUp() override {
        for (const Fixture& f : fixtures) {
            test::makeWithFfmpeg(f.arguments, dir / f.name);
            if (HasFatalFailure())
                return;
        }
    }
};

} // namespace

TEST_F(AudioFixtures, WavMp3OggAndAMoviesSoundLoadAndDecode) {
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        AudioFileInfo info = AudioFileInfo::load(dir / f.name);
        EXPECT_TRUE(info.hasUsableDuration());
        EXPECT_NEAR(info.duration, 2.0, 0.1);
        ASSERT_EQ(info.audioTracks.size(), 1u);
        const AudioTrackInfo& track = info.audioTracks[0];
        EXPECT_EQ(track.sampleRate, f.sampleRate);
        EXPECT_EQ(track.channels, f.channels);
        EXPECT_EQ(track.codecName, f.codec);
        if (std::string(f.name) == "movie.mp4") {
            EXPECT_EQ(track.streamIndex, 1); // after the video
        }

        AudioDecoder decoder(dir / f.name);
        EXPECT_EQ(decoder.sampleRate(), f.sampleRate);
        EXPECT_EQ(decoder.channels(), f.channels);
        std::vector<float> pcm = decodeAll(decoder);
        double frames = double(pcm.size()) / f.channels;
        EXPECT_NEAR(frames / f.sampleRate, 2.0, 0.06);
        EXPECT_NEAR(rms(pcm, pcm.size() / 4, pcm.size() * 3 / 4), f.rms, f.rms * 0.1);
    }
}

// Each kind of file the import's open panel offers opens; a container it leaves out is refused
// whatever it holds, so the panel never offers a file that is then turned away for its kind.
TEST(AudioContainers, TheKindsOfferedOpenAndOthersAreRefused) {
    test::TempDir dir{"containers"};
    struct Row {
        const char* name;
        const char* codec;
    };
    for (const Row& row : std::initializer_list<Row>{{"a.flac", "flac"},
                                                     {"a.opus", "libopus"},
                                                     {"a.webm", "libopus"},
                                                     {"a.mka", "flac"},
                                                     {"a.aiff", "pcm_s16be"},
                                                     {"a.caf", "pcm_s16le"},
                                                     {"a.aac", "aac"},
                                                     {"a.m4a", "aac"},
                                                     {"a.3gp", "aac"},
                                                     {"a.avi", "pcm_s16le"},
                                                     {"a.wma", "wmav2"},
                                                     {"a.au", "pcm_s16be"}}) {
        SCOPED_TRACE(row.name);
        test::makeWithFfmpeg(sine2s + " -c:a " + row.codec, dir / row.name);
        ASSERT_FALSE(HasFatalFailure());
        const std::string pattern = std::string("*") + fs::path(row.name).extension().string();
        const bool offered = std::find(readableContainerPatterns.begin(), readableContainerPatterns.end(),
                                       pattern) != readableContainerPatterns.end();
        try {
            EXPECT_EQ(AudioFileInfo::load(dir / row.name).audioTracks.size(), 1u);
            EXPECT_TRUE(offered) << "opens but is not offered";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.code(), MediaError::Code::unreadable);
            EXPECT_FALSE(offered) << "offered but refused: " << e.what();
        }
    }
}

TEST_F(AudioFixtures, DecodesToTheRateAndChannelsAsked) {
    // Every source as 48000 Hz mono: resampled, the stereo ones averaged.
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        AudioDecoder decoder(dir / f.name, {48000, 1});
        EXPECT_EQ(decoder.sampleRate(), 48000);
        EXPECT_EQ(decoder.channels(), 1);
        EXPECT_EQ(decoder.track().sampleRate, f.sampleRate);
        std::vector<float> pcm = decodeAll(decoder);
        EXPECT_NEAR(double(pcm.size()) / 48000, 2.0, 0.06);
        EXPECT_NEAR(rms(pcm, pcm.size() / 4, pcm.size() * 3 / 4), f.rms, f.rms * 0.1);
    }
}

TEST(AudioDecoder, ChannelMixingKeepsLevels) {
    test::TempDir dir;
    {
        CafWriter stereo = CafWriter::create(dir / "stereo.caf", 48000, 2);
        std::vector<float> frames;
        for (int i = 0; i < 4800; ++i)
            frames.insert(frames.end(), {0.5f, 0.1f});
        stereo.append(frames);
        stereo.close();
        CafWriter mono = CafWriter::create(dir / "mono.caf", 44100, 1);
        mono.append(std::vector<float>(44100, 0.25f));
        mono.close();
    }
    AudioDecoder down(dir / "stereo.caf", {0, 1});
    std::vector<float> mono = decodeAll(down);
    ASSERT_EQ(mono.size(), 4800u);
    EXPECT_FLOAT_EQ(mono[100], 0.3f); // the mean of the two channels

    AudioDecoder up(dir / "mono.caf", {0, 2});
    std::vector<float> stereo = decodeAll(up);
    ASSERT_EQ(stereo.size(), 2u * 44100u);
    EXPECT_FLOAT_EQ(stereo[200], 0.25f); // copied to both channels
    EXPECT_FLOAT_EQ(stereo[201], 0.25f);

    // A whole second at 44100 Hz is a whole second at 48000 Hz, flushed to its last frame.
    AudioDecoder resampled(dir / "mono.caf", {48000, 1});
    std::vector<float> at48 = decodeAll(resampled);
    EXPECT_NEAR(double(at48.size()), 48000.0, 2.0);
    EXPECT_NEAR(at48[24000], 0.25f, 1e-3);
}

TEST(AudioDecoder, VideoOnlyFileHasNoAudioTrack) {
    test::TempDir dir;
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4", dir / "video.mp4");
    AudioFileInfo info = AudioFileInfo::load(dir / "video.mp4");
    EXPECT_NEAR(info.duration, 1.0, 0.15);
    EXPECT_TRUE(info.audioTracks.empty());
    EXPECT_EQ(info.firstAudioTrack(), nullptr);
    try {
        AudioDecoder decoder(dir / "video.mp4");
        FAIL() << "decoded a file without audio";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.code(), MediaError::Code::noAudioTrack);
    }
    // Naming the video stream is no better.
    EXPECT_THROW(AudioDecoder(dir / "video.mp4", {}, 0), MediaError);
}

TEST(AudioDecoder, MissingAndNonMediaFilesAreClearErrors) {
    test::TempDir dir;
    EXPECT_THROW(AudioFileInfo::load(dir / "none.wav"), fs::filesystem_error);
    EXPECT_THROW(AudioDecoder(dir / "none.wav"), fs::filesystem_error);
    EXPECT_THROW(AudioFileInfo::load(dir.path()), fs::filesystem_error);

    test::writeBytes(dir / "noise.m4a", test::garbage(200000));
    test::writeBytes(dir / "empty.mp3", "");
    test::writeBytes(dir / "notes.ogg", "these are not the droids you are looking for\n");
    for (const char* name : {"noise.m4a", "empty.mp3", "notes.ogg"}) {
        try {
            AudioFileInfo::load(dir / name);
            ADD_FAILURE() << name << " loaded";
        } catch (const MediaError& e) {
            EXPECT_EQ(e.code(), MediaError::Code::unreadable) << name;
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos);
        }
    }
}

TEST_F(AudioFixtures, CutAndScribbledFilesNeverCrashOrHang) {
    // Whatever the damage, each file either fails with an error of ours or decodes to some audio.
    std::vector<fs::path> sources;
    for (const Fixture& f : fixtures)
        sources.push_back(dir / f.name);
    test::writeToneCaf(dir / "tone.caf", 48000, 1.0);
    sources.push_back(dir / "tone.caf");
    int variant = 0;
    for (const fs::path& source : sources) {
        std::string bytes;
        {
            std::ifstream in(source, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        std::vector<std::string> damaged;
        for (double cut : {0.02, 0.3, 0.5, 0.97})
            damaged.push_back(bytes.substr(0, std::size_t(double(bytes.size()) * cut)));
        for (double at : {0.0, 0.01, 0.2, 0.5, 0.9}) {
            std::string copy = bytes;
            std::string noise = test::garbage(512);
            std::size_t offset = std::size_t(double(copy.size()) * at);
            copy.replace(offset, std::min(noise.size(), copy.size() - offset),
                         noise.substr(0, copy.size() - offset));
            damaged.push_back(copy);
        }
        for (const std::string& content : damaged) {
            fs::path file = dir / ("damaged-" + std::to_string(variant++) + source.extension().string());
            test::writeBytes(file, content);
            SCOPED_TRACE(source.filename().string() + " as " + file.filename().string());
            try {
                AudioFileInfo info = AudioFileInfo::load(file);
                AudioDecoder decoder(file, {48000, 2});
                std::vector<float> pcm = decodeAll(decoder);
                for (float v : pcm)
                    ASSERT_TRUE(std::isfinite(v));
            } catch (const MediaError&) {
            }
        }
    }
}
