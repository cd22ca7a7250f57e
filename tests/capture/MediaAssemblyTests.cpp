#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/MediaAssembly.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "NuvelKit/store/StorageBudget.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/support/ErrorExpectations.hpp"
#include "tests/support/TempDir.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <set>

using namespace nuvel;
using test::expectAuthenticationFailure;
using test::expectRecordingError;
using test::namesIn;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t reserve = 268435456;

template <class F> std::optional<StorageBudgetError> budgetError(F&& f) {
    try {
        f();
    } catch (const StorageBudgetError& e) {
        return e;
    } catch (...) {
    }
    return std::nullopt;
}

// Names in the folder that are not sealed assets.
std::set<std::string> workingNames(const fs::path& folder) {
    std::set<std::string> out;
    for (const std::string& name : namesIn(folder))
        if (!name.ends_with(".nuvel"))
            out.insert(name);
    return out;
}

Bytes concatenatedParts(MediaAssembly& assembly, const fs::path& file, std::int64_t partBytes) {
    Bytes all;
    for (std::int64_t i = 0;; ++i) {
        try {
            Bytes part = assembly.readPart(file, i, partBytes);
            EXPECT_LE(std::int64_t(part.size()), partBytes);
            all.insert(all.end(), part.begin(), part.end());
        } catch (const RecordingError& e) {
            EXPECT_EQ(e.code(), RecordingError::Code::invalidTransport);
            return all;
        }
    }
}

class MediaAssemblyTest : public testing::Test {
protected:
    test::TempDir dir{"assembly"};
    RecordingStore store{dir / "root", SymmetricKey::random()};
    LocalRecording recording =
        LocalRecording::make("acct", std::nullopt, "Call", false, Date{700000000}, Uuid::random());
    // Naming a working file makes the recording's folder (the recording itself is never saved).
    fs::path folder = store.workingFileURL(recording.id, Uuid::random(), "m4a", "stage").parent_path();

    std::optional<std::int64_t> freeSpace = std::int64_t(1) << 40;
    std::vector<fs::path> probedAt;
    MediaAssembly assembly{[this](const fs::path& path) {
        probedAt.push_back(path);
        return freeSpace;
    }};

    // Seals `clearFile` as a new asset of the recording and lists it as a segment.
    void addSegment(const fs::path& clearFile, double duration,
                    std::optional<std::string> extension = "caf") {
        const Uuid assetID = Uuid::random();
        const fs::path staged = store.workingFileURL(recording.id, assetID, "caf", "stage");
        fs::copy_file(clearFile, staged);
        store.sealClearMedia(staged, recording.id, assetID);
        recording.segments.push_back(RecordingSegment{
            assetID, duration, recording.createdAt.adding(recording.totalDuration()), extension, {}, {}});
    }

    void addTone(double rate, double seconds, int channels = 1) {
        const fs::path file = dir / ("tone-" + Uuid::random().uppercase() + ".caf");
        test::writeToneCaf(file, rate, seconds, 440, channels);
        addSegment(file, seconds);
    }

    std::int64_t assetBytes() const {
        std::int64_t total = 0;
        for (const RecordingSegment& s : recording.segments)
            total += std::int64_t(fs::file_size(folder / (s.id.uppercase() + ".nuvel")));
        return total;
    }
};

TEST_F(MediaAssemblyTest, SegmentsBecomeOneOwnerOnlyAacFileInTheRecordingsFolder) {
    addTone(48000, 5.0);
    addTone(48000, 7.0);
    // Exactly the estimate is enough: assets + 12 s at 128 kbit/s twice + the reserve.
    freeSpace = assetBytes() + 384000 + reserve;

    const fs::path transport = assembly.assemble(recording, store);
    EXPECT_EQ(probedAt, std::vector<fs::path>{folder});
    EXPECT_EQ(transport.parent_path(), folder);
    EXPECT_TRUE(transport.filename().string().starts_with("transport-")) << transport;
    EXPECT_EQ(transport.extension(), ".m4a");
    EXPECT_EQ(test::modeOf(transport), 0600u);
    auto probed = test::probe(transport);
    EXPECT_EQ(probed["codec_name"], "aac");
    EXPECT_EQ(probed["channels"], "1");
    EXPECT_NEAR(test::probedDuration(transport), 12.0, 0.05);
    // The clear copies are gone; the transport file is the caller's.
    EXPECT_EQ(workingNames(folder), std::set<std::string>{transport.filename()});

    // The upload's view of it: parts that concatenate to the digested file.
    const MediaAssembly::FileDigest digest = assembly.fileDigest(transport);
    EXPECT_EQ(digest.size, std::int64_t(fs::file_size(transport)));
    EXPECT_EQ(digest.sha256, sha256OfFile(transport));
    for (std::int64_t partBytes :
         {std::int64_t(65536), std::int64_t(100003), digest.size, MediaAssembly::largestPartBytes}) {
        const Bytes all = concatenatedParts(assembly, transport, partBytes);
        EXPECT_EQ(all, files::readFile(transport)) << partBytes;
        EXPECT_EQ(hexString(Sha256::hash(all)), digest.sha256);
    }

    // A second assembly makes a second file and never touches the first.
    const fs::path again = assembly.assemble(recording, store);
    EXPECT_NE(again, transport);
    EXPECT_TRUE(fs::exists(transport));
}

TEST_F(MediaAssemblyTest, MixedRatesAndChannelsJoinIntoOneTrack) {
    addTone(22050, 2.0);
    addTone(44100, 3.0, 2);
    addTone(8000, 1.0);
    // A segment without an extension is an M4A, as imports are.
    const fs::path imported = dir / "imported.m4a";
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=48000:duration=1.5 -c:a aac", imported);
    addSegment(imported, 1.5, std::nullopt);

    const fs::path transport = assembly.assemble(recording, store);
    auto probed = test::probe(transport);
    EXPECT_EQ(probed["codec_name"], "aac");
    EXPECT_EQ(probed["sample_rate"], "48000");
    EXPECT_EQ(probed["channels"], "2");
    EXPECT_NEAR(test::probedDuration(transport), 7.5, 0.1);
    EXPECT_EQ(workingNames(folder), std::set<std::string>{transport.filename()});
}

TEST_F(MediaAssemblyTest, ABadThirdSegmentRemovesEveryClearCopyAndLeavesNoTransport) {
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=2:size=160x120:rate=10 -c:v mpeg4", dir / "video.mp4");
    {
        CafWriter empty = CafWriter::create(dir / "empty.caf", 48000);
        empty.close();
    }
    test::writeBytes(dir / "garbage.caf", test::garbage(40000));

    struct Case {
        const char* file;
        std::optional<RecordingError::Code> code; // none: the media layer's own error
    };
    for (const Case& c :
         {Case{"video.mp4", RecordingError::Code::missingMedia},
          Case{"empty.caf", RecordingError::Code::invalidDuration}, Case{"garbage.caf", std::nullopt}}) {
        SCOPED_TRACE(c.file);
        recording.segments.clear();
        addTone(48000, 1.0);
        addTone(48000, 1.0);
        addSegment(dir / c.file, 2.0);
        if (c.code)
            expectRecordingError(*c.code, [&] { assembly.assemble(recording, store); });
        else
            EXPECT_THROW(assembly.assemble(recording, store), MediaError);
        EXPECT_EQ(workingNames(folder), std::set<std::string>{});
    }
}

TEST_F(MediaAssemblyTest, TheWrittenFileMustLastWhatTheSegmentsSay) {
    addTone(48000, 5.0);
    addTone(48000, 7.0);
    // The manifest claims 14 s; 12 s come out: outside the 1 s tolerance, and the file that
    // failed the check is not left behind.
    recording.segments[1].duration = 9.0;
    expectRecordingError(RecordingError::Code::invalidDuration, [&] { assembly.assemble(recording, store); });
    EXPECT_EQ(workingNames(folder), std::set<std::string>{});

    recording.segments[1].duration = 7.9; // 12.9 expected: 0.9 s off is within tolerance
    const fs::path transport = assembly.assemble(recording, store);
    EXPECT_NEAR(test::probedDuration(transport), 12.0, 0.05);
}

TEST_F(MediaAssemblyTest, ARecordingWithoutUsableSegmentsFailsCleanly) {
    EXPECT_THROW(assembly.assemble(recording, store), Error);
    EXPECT_TRUE(fs::is_empty(folder));

    // A missing asset is found by the space check, before any clear copy is made.
    addTone(48000, 1.0);
    recording.segments.push_back(RecordingSegment{Uuid::random(), 1.0, recording.createdAt, "caf", {}, {}});
    const std::set<std::string> before = namesIn(folder);
    EXPECT_THROW(assembly.assemble(recording, store), fs::filesystem_error);
    EXPECT_EQ(namesIn(folder), before);
}

TEST_F(MediaAssemblyTest, FreeSpaceIsCheckedAgainstTheEstimateFirst) {
    // 60 s in assets of 1,000,000 bytes: 1,000,000 + 1,920,000 + 268,435,456 bytes needed. The
    // assets are not audio at all, which shows that nothing but their size is read up front.
    for (auto [size, seconds] : {std::pair{400000, 25.0}, {600000, 35.0}}) {
        const Uuid id = Uuid::random();
        test::writeBytes(folder / (id.uppercase() + ".nuvel"), test::garbage(std::size_t(size)));
        recording.segments.push_back(RecordingSegment{id, seconds, recording.createdAt, "caf", {}, {}});
    }
    const std::set<std::string> before = namesIn(folder);

    freeSpace = 271355455;
    auto error = budgetError([&] { assembly.assemble(recording, store); });
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, StorageBudgetError::insufficientSpace(271355456, 271355455));

    freeSpace = 271355456; // passes the check, then fails on the assets themselves
    EXPECT_FALSE(budgetError([&] { assembly.assemble(recording, store); }));
    EXPECT_THROW(assembly.assemble(recording, store), RecordingError);

    freeSpace = std::nullopt; // the volume does not say: nothing is available
    EXPECT_EQ(budgetError([&] { assembly.assemble(recording, store); }),
              StorageBudgetError::insufficientSpace(271355456, 0));
    freeSpace = -5;
    EXPECT_EQ(budgetError([&] { assembly.assemble(recording, store); }),
              StorageBudgetError::insufficientSpace(271355456, 0));

    recording.segments[0].duration = std::numeric_limits<double>::infinity();
    freeSpace = std::int64_t(1) << 40;
    EXPECT_EQ(budgetError([&] { assembly.assemble(recording, store); }),
              StorageBudgetError::invalidEstimate());
    EXPECT_EQ(namesIn(folder), before);

    // A probe that fails is the caller's error.
    MediaAssembly failing(
        [](const fs::path& path) -> std::optional<std::int64_t> { files::throwErrno("statvfs", path, EIO); });
    recording.segments[0].duration = 25.0;
    EXPECT_THROW(failing.assemble(recording, store), fs::filesystem_error);
    EXPECT_EQ(namesIn(folder), before);
}

TEST_F(MediaAssemblyTest, PartsAreBoundedAndCutAtFixedOffsets) {
    const fs::path file = dir / "ten";
    test::writeBytes(file, "0123456789");
    EXPECT_EQ(assembly.readPart(file, 0, 4), Bytes({'0', '1', '2', '3'}));
    EXPECT_EQ(assembly.readPart(file, 1, 4), Bytes({'4', '5', '6', '7'}));
    EXPECT_EQ(assembly.readPart(file, 2, 4), Bytes({'8', '9'}));
    expectRecordingError(RecordingError::Code::invalidTransport, [&] { assembly.readPart(file, 3, 4); });
    EXPECT_EQ(assembly.readPart(file, 0, MediaAssembly::largestPartBytes).size(), 10u);

    constexpr std::int64_t maxIndex = std::numeric_limits<std::int64_t>::max();
    for (auto [index, partBytes] : {std::pair<std::int64_t, std::int64_t>{0, 0},
                                    {0, 67108865},
                                    {-1, 4},
                                    {0, -4},
                                    {maxIndex / 4 + 1, 4}, // the offset does not fit 64 bits
                                    {std::int64_t(1) << 40, 1 << 26},
                                    {std::int64_t(1) << 40, 4}}) { // far past the end
        SCOPED_TRACE(testing::Message() << index << " x " << partBytes);
        expectRecordingError(RecordingError::Code::invalidTransport,
                             [&] { assembly.readPart(file, index, partBytes); });
    }
    EXPECT_THROW(assembly.readPart(dir / "missing", 0, 4), fs::filesystem_error);

    test::writeBytes(dir / "empty", "");
    EXPECT_EQ(
        assembly.fileDigest(dir / "empty"),
        (MediaAssembly::FileDigest{"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", 0}));
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { assembly.readPart(dir / "empty", 0, 4); });
    EXPECT_THROW(assembly.fileDigest(dir / "missing"), fs::filesystem_error);
}

TEST_F(MediaAssemblyTest, ImportsOfAudioAndMoviesBecomeOwnerOnlyM4a) {
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=44100:duration=3 -c:a pcm_s16le", dir / "talk.wav");
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=44100:duration=2 -c:a libmp3lame", dir / "talk.mp3");
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=48000:duration=2.5 -c:a libvorbis", dir / "talk.ogg");
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=2:size=160x120:rate=10 -f lavfi -i sine=duration=2 "
                         "-c:v mpeg4 -c:a aac -ac 2 -shortest",
                         dir / "movie.mp4");
    // Three logical streams one after the other, as a chained Ogg file holds them.
    Bytes chained;
    for (int stream = 0; stream < 3; ++stream) {
        const fs::path part = dir / ("link" + std::to_string(stream) + ".ogg");
        test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=44100:duration=2 -c:a libvorbis -serial_offset " +
                                 std::to_string(1000 * (stream + 1)),
                             part);
        const Bytes link = files::readFile(part);
        chained.insert(chained.end(), link.begin(), link.end());
    }
    test::writeBytes(dir / "chained.ogg", std::string(chained.begin(), chained.end()));
    // Float audio with one sample a player could not play as it is, among 144,000.
    for (auto [name, bad] : {std::pair{"nan.wav", std::numeric_limits<float>::quiet_NaN()},
                             {"inf.wav", std::numeric_limits<float>::infinity()},
                             {"huge.wav", 1e30f}}) {
        std::vector<float> samples = test::tone(48000, 144000);
        samples[70000] = bad;
        test::writeFloatWav(dir / name, 48000, samples);
    }
    // A movie header whose duration or time scale is damaged; the samples are whole.
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=48000:duration=2 -c:a aac", dir / "whole.m4a");
    test::writeWithBoxField(dir / "whole.m4a", dir / "timescale0.m4a", "mdhd", 16, 0);
    test::writeWithBoxField(dir / "whole.m4a", dir / "movie-timescale0.m4a", "mvhd", 16, 0);
    test::writeWithBoxField(dir / "whole.m4a", dir / "duration-max.m4a", "mvhd", 20, 0xFFFFFFFF);
    for (auto [name, seconds] : {std::pair{"talk.wav", 3.0},
                                 {"talk.mp3", 2.0},
                                 {"talk.ogg", 2.5},
                                 {"movie.mp4", 2.0},
                                 {"chained.ogg", 6.0},
                                 {"nan.wav", 3.0},
                                 {"inf.wav", 3.0},
                                 {"huge.wav", 3.0},
                                 {"timescale0.m4a", 2.0},
                                 {"movie-timescale0.m4a", 2.0},
                                 {"duration-max.m4a", 2.0}}) {
        SCOPED_TRACE(name);
        const fs::path destination = store.workingFileURL(recording.id, Uuid::random(), "m4a", "stage");
        const double duration = assembly.convertImport(dir / name, destination);
        EXPECT_NEAR(duration, seconds, 0.1);
        EXPECT_NEAR(test::probedDuration(destination), duration, 0.01);
        EXPECT_EQ(test::probe(destination)["codec_name"], "aac");
        EXPECT_EQ(test::modeOf(destination), 0600u);
    }

    // An existing destination is never replaced.
    const fs::path taken = dir / "taken.m4a";
    test::writeBytes(taken, "mine");
    EXPECT_THROW(assembly.convertImport(dir / "talk.wav", taken), fs::filesystem_error);
    EXPECT_EQ(fs::file_size(taken), 4u);
}

TEST_F(MediaAssemblyTest, ImportsWithoutSoundOrDamagedAreErrorsNotCrashes) {
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=2:size=160x120:rate=10 -c:v mpeg4", dir / "video.mp4");
    expectRecordingError(RecordingError::Code::invalidDuration,
                         [&] { assembly.convertImport(dir / "video.mp4", dir / "video.m4a"); });
    EXPECT_FALSE(fs::exists(dir / "video.m4a"));

    test::writeBytes(dir / "garbage.mp3", test::garbage(20000));
    test::writeBytes(dir / "empty.wav", "");
    EXPECT_THROW(assembly.convertImport(dir / "garbage.mp3", dir / "garbage.m4a"), Error);
    EXPECT_THROW(assembly.convertImport(dir / "empty.wav", dir / "empty.m4a"), Error);
    EXPECT_THROW(assembly.convertImport(dir / "missing.wav", dir / "missing.m4a"), fs::filesystem_error);

    // Files cut short anywhere: either what is left converts to a sound file, or a clear error.
    test::makeWithFfmpeg("-f lavfi -i testsrc=duration=2:size=160x120:rate=10 -f lavfi -i sine=duration=2 "
                         "-c:v mpeg4 -c:a aac -shortest",
                         dir / "movie.mp4");
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=44100:duration=2 -c:a libmp3lame", dir / "talk.mp3");
    for (const char* name : {"movie.mp4", "talk.mp3"}) {
        const auto size = fs::file_size(dir / name);
        for (std::size_t cut : {std::size_t(40), std::size_t(size / 3), std::size_t(size * 2 / 3)}) {
            SCOPED_TRACE(testing::Message() << name << " cut at " << cut);
            const fs::path cutFile = dir / ("cut-" + std::to_string(cut) + "-" + name);
            test::writeTruncatedCopy(dir / name, cutFile, cut);
            const fs::path out = dir / ("out-" + cutFile.filename().string() + ".m4a");
            try {
                const double seconds = assembly.convertImport(cutFile, out);
                EXPECT_GT(seconds, 0);
                EXPECT_LE(seconds, 2.1);
            } catch (const Error&) {
            } catch (const fs::filesystem_error&) {
            }
        }
    }
}

} // namespace
