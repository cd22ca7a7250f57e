#include "NuvelKit/store/CaptureSpoolError.hpp"
#include "tests/capture/AudioTestFiles.hpp"
#include "tests/store/LiveStoreSupport.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

namespace fs = std::filesystem;
using test::expectRecordingError;
using test::signal;

template <class F> void expectSpoolError(CaptureSpoolError expected, F&& f) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const CaptureSpoolError& e) {
        EXPECT_EQ(e, expected) << e.what();
    }
}

struct CaptureSpool : test::LiveStoreFixture {
    Uuid spoolID = Uuid::random();

    fs::path spoolPath() const { return folder() / ("capture-" + spoolID.uppercase() + ".caf"); }

    // Names a spool of `frames` frames of the signal in the manifest.
    void plantSpool(std::int64_t frames, std::optional<std::int64_t> capturedFrames = std::nullopt,
                    double rate = 48000) {
        fs::remove(spoolPath());
        test::writeCaf(spoolPath(), signal(0, frames), rate);
        recording.captureAssetID = spoolID;
        recording.capturedFrames = capturedFrames;
        store.saveManifest(recording);
    }
};

TEST_F(CaptureSpool, NoSpoolNamedNothingTouched) {
    test::writeCaf(spoolPath(), signal(0, 1000), 48000);
    EXPECT_EQ(store.recoverCaptureSpool(recording.id, true), recording);
    EXPECT_EQ(store.captureSpoolFile(recording.id), recording);
    EXPECT_TRUE(fs::exists(spoolPath()));
}

TEST_F(CaptureSpool, BecomesFiveSecondCheckpointsThenGoes) {
    plantSpool(500000);
    LocalRecording converted = store.recoverCaptureSpool(recording.id, true);
    ASSERT_EQ(converted.segments.size(), 3u);
    const std::int64_t starts[] = {0, 240000, 480000};
    const double durations[] = {5.0, 5.0, 20000.0 / 48000};
    for (std::size_t i = 0; i < 3; ++i) {
        const RecordingSegment& s = converted.segments[i];
        EXPECT_EQ(s.capturedFrameStart, starts[i]);
        EXPECT_DOUBLE_EQ(s.duration, durations[i]);
        EXPECT_EQ(s.startedAt, recording.createdAt.adding(double(starts[i]) / 48000));
        EXPECT_EQ(s.fileExtension, "caf");
        EXPECT_EQ(s.captureFileKind, std::nullopt);
    }
    EXPECT_EQ(converted.capturedFrames, 500000);
    EXPECT_EQ(store.loadRecording(recording.id), converted);
    EXPECT_EQ(test::timelineAudio(store, converted), signal(0, 500000));
    // The spool itself is untouched; no clear checkpoint is left.
    EXPECT_EQ(test::clearNames(folder()), (std::set<std::string>{spoolPath().filename()}));
    EXPECT_EQ(test::readCaf(spoolPath()), signal(0, 500000));

    const LocalRecording closed = store.captureSpoolFile(recording.id);
    EXPECT_EQ(closed.captureAssetID, std::nullopt);
    EXPECT_EQ(store.loadRecording(recording.id), closed);
    EXPECT_FALSE(fs::exists(spoolPath()));
}

TEST_F(CaptureSpool, ContinuesAfterTheLastSavedBlockAndKeepsShortTailsWhenAsked) {
    plantSpool(500000, 240000);
    LocalRecording converted = store.recoverCaptureSpool(recording.id, false);
    ASSERT_EQ(converted.segments.size(), 1u); // the 20000-frame tail waits
    EXPECT_EQ(converted.segments[0].capturedFrameStart, 240000);
    EXPECT_EQ(test::sealedAudio(store, recording.id, converted.segments[0].id), signal(240000, 240000));

    // The spool is kept until every frame of it is a segment.
    expectRecordingError(RecordingError::Code::invalidTransport,
                         [&] { store.captureSpoolFile(recording.id); });
    EXPECT_TRUE(fs::exists(spoolPath()));
    EXPECT_EQ(store.loadRecording(recording.id).captureAssetID, spoolID);

    converted = store.recoverCaptureSpool(recording.id, true);
    ASSERT_EQ(converted.segments.size(), 2u);
    EXPECT_EQ(converted.capturedFrames, 500000);
    EXPECT_EQ(store.captureSpoolFile(recording.id).captureAssetID, std::nullopt);
}

TEST_F(CaptureSpool, KeepsTheSpoolsOwnRateAndChannels) {
    std::vector<float> stereo = test::tone(8000, 50000, 440, 0, 2);
    test::writeCaf(spoolPath(), stereo, 8000, 2);
    recording.captureAssetID = spoolID;
    store.saveManifest(recording);
    const LocalRecording converted = store.recoverCaptureSpool(recording.id, true);
    ASSERT_EQ(converted.segments.size(), 2u); // 40000 + 10000 frames
    EXPECT_DOUBLE_EQ(converted.segments[1].duration, 1.25);
    EXPECT_EQ(test::timelineAudio(store, converted), stereo);
}

TEST_F(CaptureSpool, RefusesWhatItCannotConvert) {
    plantSpool(1000, 1001);
    expectSpoolError(CaptureSpoolError::truncatedCapture(),
                     [&] { store.recoverCaptureSpool(recording.id, true); });
    plantSpool(1000, -1);
    expectSpoolError(CaptureSpoolError::truncatedCapture(),
                     [&] { store.recoverCaptureSpool(recording.id, true); });

    // A compressed spool (mu-law in CAF).
    fs::remove(spoolPath());
    test::makeWithFfmpeg("-f lavfi -i sine=sample_rate=8000:duration=1 -c:a pcm_mulaw -f caf", spoolPath());
    recording.capturedFrames.reset();
    store.saveManifest(recording);
    expectSpoolError(CaptureSpoolError::unsupportedFormat(),
                     [&] { store.recoverCaptureSpool(recording.id, true); });

    fs::remove(spoolPath());
    EXPECT_THROW(store.recoverCaptureSpool(recording.id, true), fs::filesystem_error);
    EXPECT_THROW(store.captureSpoolFile(recording.id), fs::filesystem_error);
    EXPECT_EQ(store.loadRecording(recording.id).segments.size(), 0u);
    EXPECT_EQ(test::clearNames(folder()), std::set<std::string>{});
}

} // namespace
} // namespace nuvel
