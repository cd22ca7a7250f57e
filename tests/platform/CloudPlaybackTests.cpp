// A cloud meeting's audio from the stand-in service, played by the cloud library through the
// real player into a private null sink: the last two seconds of the meeting reach the sink as
// about two seconds of sound at 1.0x and one at 2.0x, at the meeting's pitch both times, and the
// window thread never waits on the sound server.
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/platform/PulseAudioPlayer.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/platform/SinkUnderTest.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

using namespace nuvel;
using namespace nuvel::test;

TEST(CloudPlayback, TheLastTwoSecondsPlayAtTheChosenSpeedAndTheMeetingsPitch) {
    NUVEL_CONNECT_PULSE(connection);
    StandinService service;
    service.start();
    const std::string meeting = service.seedMeetings(1).front();

    for (float speed : {1.0f, 2.0f}) {
        SCOPED_TRACE(speed);
        SinkUnderTest sink(connection, "nuvel_cloud_playback");
        ASSERT_TRUE(sink.monitor);
        TempDir dir{"cloud-playback"};
        ManualMainQueue queue{0};
        ThreadPoolExecutor executor{2};
        CloudLibraryDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.client = std::make_shared<NativeMeetingClient>(service.origin(), std::make_shared<CurlTransport>());
        const std::string sinkName = sink.name;
        d.makePlayer = [connection,
                        sinkName](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
            return std::make_unique<PulseAudioPlayer>(connection, file, sinkName);
        };
        std::unique_ptr<CloudMeetingModel> model = makeCloudMeetingModel(std::move(d));
        const DeviceSession session{service.issueToken(), DeviceAccount{StandinService::defaultAccountId,
                                                                        "you@nuvel.test", std::nullopt}};
        // Runs the main queue as the window thread would, until `done` or the time is up.
        auto runUntil = [&](const std::function<bool()>& done, double seconds) {
            return waitFor(
                [&] {
                    queue.drain();
                    queue.advance(0.02);
                    return done();
                },
                seconds);
        };

        PulseConnection::refuseWaitsOn(std::this_thread::get_id());
        spawn(queue, model->configure(session, "ws_personal", dir.path() / "cloud-documents",
                                      SymmetricKey::random(), 86400));
        ASSERT_TRUE(
            runUntil([&] { return !model->state().loading && !model->state().meetings.empty(); }, 60));
        model->openMeeting(meeting, false);
        ASSERT_TRUE(runUntil([&] { return !model->state().loading && model->state().document; }, 60));
        const std::int64_t duration = model->state().durationMilliseconds;
        ASSERT_GT(duration, 3000);

        model->setSpeed(speed);
        model->play(duration - 2000);
        ASSERT_TRUE(runUntil([&] { return model->state().isPlaying; }, 60)) << model->state().message;
        // Played out: the tick sees the player stop at the end.
        ASSERT_TRUE(runUntil([&] { return !model->state().isPlaying; }, 60));
        EXPECT_NEAR(double(model->state().playbackMilliseconds), double(duration), 100);
        model->stopPlayback();
        ASSERT_TRUE(runUntil([] { return true; }, 1));
        PulseConnection::refuseWaitsOn(std::thread::id{});

        const std::vector<float> sound = sink.audible();
        const double expected = 2.0 / speed * 48000;
        EXPECT_NEAR(double(sound.size()), expected, expected * 0.15);
        // A 500 Hz tone crosses zero a thousand times a second, at either speed.
        EXPECT_NEAR(zeroCrossingRate(sound, 48000), 1000, 60);
        // The tone's amplitude (0.1) as the median over quarter seconds: PipeWire's server, under
        // load, stalls the monitor's stream for a moment, and the joined audio then steps in
        // phase, which spoils one long measurement but only a window or two.
        std::vector<double> amplitudes;
        for (std::size_t at = 0; at + 12000 <= sound.size(); at += 12000)
            amplitudes.push_back(toneAmplitude(std::vector<float>(sound.begin() + std::ptrdiff_t(at),
                                                                  sound.begin() + std::ptrdiff_t(at + 12000)),
                                               500, 48000));
        ASSERT_FALSE(amplitudes.empty());
        std::nth_element(amplitudes.begin(), amplitudes.begin() + std::ptrdiff_t(amplitudes.size() / 2),
                         amplitudes.end());
        EXPECT_GT(amplitudes[amplitudes.size() / 2], 0.05);
        model.reset();
        queue.drain();
    }
}
