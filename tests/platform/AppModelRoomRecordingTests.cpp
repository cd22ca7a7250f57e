// A room recording through the application model with the real microphone capture on the
// private sound server of scripts/test-env, into a real encrypted store: started from the
// new-recording sheet, stopped after six seconds, saved, sealed and read back by recovery; the
// main thread never waits for the sound server meanwhile.
#include "Nuvel/platform/CapturePlatform.hpp"
#include "Nuvel/platform/PulseCaptureFactory.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "tests/model/ModelHarness.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/RealTimeQueue.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

TEST(AppModelRoomRecording, SixSecondsFromTheSheetToASealedRecordingThatRecoveryReadsBack) {
    NUVEL_CONNECT_PULSE(connection);
    // The capture's sound-server work goes to a pool; the test's thread plays the main thread,
    // where every wait for the server would abort this (debug) build.
    ThreadPoolExecutor executor(2);
    PulseConnection::refuseWaitsOn(std::this_thread::get_id());
    struct Lift {
        ~Lift() { PulseConnection::refuseWaitsOn({}); }
    } lift;
    std::unique_ptr<PulseCapturePlatform> platform;
    AppHarness h([&](AppModelDependencies& d) {
        platform = std::make_unique<PulseCapturePlatform>(connection, *d.mainQueue, executor);
        d.capture = std::make_shared<PulseCaptureFactory>(*platform);
        d.freeSpace = {}; // the volume's own figure
    });
    auto store = h.signedInWithRealStore();
    AppModel& m = *h.model;

    AppModel::NewRecording request;
    request.title = "Kitchen table";
    request.sourceName = "TestMicrophone";
    m.startNewRecording(request);
    ASSERT_TRUE(driveInRealTime(
        h.queue, [&] { return !m.busy(); }, 10));
    ASSERT_TRUE(m.isCapturing()) << m.message();
    const Uuid id = *m.activeID();

    ASSERT_TRUE(driveInRealTime(
        h.queue, [&] { return m.elapsed() >= 6.0 || !m.isCapturing(); }, 20));
    ASSERT_TRUE(m.isCapturing()) << "the capture stopped early: " << m.message();
    EXPECT_GT(m.microphoneLevel(), 0.1) << "the test microphone carries a tone";
    bool stopped = false;
    m.stopRecording([&] { stopped = true; });
    ASSERT_TRUE(driveInRealTime(
        h.queue, [&] { return stopped; }, 20));
    EXPECT_EQ(m.message(), "Saved on this Mac. Send to Nuvel when you are ready.");
    EXPECT_FALSE(m.isRecording());

    LocalRecording saved = store->loadRecording(id);
    EXPECT_EQ(saved.capture, CaptureState::saved);
    EXPECT_EQ(saved.captureMode, "room");
    EXPECT_EQ(saved.title, "Kitchen table");
    EXPECT_NEAR(saved.totalDuration(), 6.0, 0.2);
    ASSERT_EQ(saved.segments.size(), 2u) << "five seconds, then the rest";
    EXPECT_EQ(m.recordings().front(), saved) << "the list holds what the store holds";

    // Every segment sealed; no clear audio left in the folder; the sealed audio holds the tone.
    RecordingStore& sealed = *store->recordingStore();
    for (const auto& entry : std::filesystem::directory_iterator(sealed.recordingDirectory(id))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.ends_with(".nuvel")) << name;
    }
    for (const auto& segment : saved.segments) {
        auto clear = sealed.openClearCopy(id, segment.id, "caf");
        CafReader reader = CafReader::open(clear);
        std::vector<float> samples(std::size_t(reader.format().frames));
        samples.resize(reader.read(samples));
        EXPECT_NEAR(double(samples.size()) / reader.format().sampleRate, segment.duration, 1e-9);
        EXPECT_GT(rms(samples), 0.2) << "segment " << segment.id.uppercase();
        sealed.removeWorkingFiles(clear);
    }

    // A later start of the app finds the same recording, unchanged.
    h.model.reset();
    RecordingWorkspaceStore reopened(h.workspaceFolder(), h.accountKey());
    RecoveryReport report = reopened.recover("acc_1");
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0], saved);
}

} // namespace
