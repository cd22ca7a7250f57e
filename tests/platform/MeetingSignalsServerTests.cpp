// The meeting signals against a real sound server: the recording processes and the default
// microphone as the subscription keeps them, and the monitor over them.
#include "Nuvel/model/MeetingMonitor.hpp"
#include "Nuvel/platform/PulseInputActivity.hpp"
#include "Nuvel/platform/SystemMeetingSignals.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

using Ids = std::vector<std::string>;

// A copy of a program under another name, as a meeting application would be called.
std::filesystem::path renamedCopy(const TempDir& folder, const std::string& program, const std::string& name,
                                  const std::string& subfolder) {
    std::filesystem::create_directories(folder / subfolder);
    auto copy = folder / subfolder / name;
    std::filesystem::copy_file(program, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    return copy;
}

bool onPath(const std::string& program) {
    return runProgram({"sh", "-c", "command -v " + program + " >/dev/null"}).has_value();
}

} // namespace

TEST(PulseInputActivity, FollowsRecordingAcrossAServerThatGoesAndComesBack) {
    if (!onPath("pulseaudio")) {
        if (pulseRequired())
            FAIL() << "no pulseaudio program";
        GTEST_SKIP() << "no pulseaudio program";
    }
    TempDir runtime("pulse-private");
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    std::string socket = (runtime / "native").string();
    auto startServer = [&] {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--disable-shm=yes", "--use-pid-file=no",
                                     "--load=module-null-source source_name=privatemic",
                                     "--load=module-null-sink sink_name=privatesink",
                                     "--load=module-native-protocol-unix socket=" + socket},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime.path().string()});
    };

    // No server yet: reads at once as nothing recording, and keeps trying.
    double start = hostTimeSeconds();
    PulseInputActivity activity({"Nuvel tests", "unix:" + socket, 0.2});
    EXPECT_EQ(activity.snapshot(), InputActivity{});
    EXPECT_LT(hostTimeSeconds() - start, 0.5);

    auto server = startServer();
    ASSERT_TRUE(waitFor([&] { return activity.snapshot().connected; }, 10)) << "never connected";
    EXPECT_FALSE(activity.snapshot().defaultSourceRunning);

    // A recorder of the input device shows with its process; one of the sink's monitor does not.
    TempDir programs("renamed");
    auto zoom = renamedCopy(programs, "/usr/bin/pacat", "zoom", "recorder");
    ChildProcess monitorReader({"parec", "--server=unix:" + socket, "-d", "privatesink.monitor", "/dev/null"},
                               {});
    ChildProcess recorder(
        {zoom.string(), "--record", "--server=unix:" + socket, "-d", "privatemic", "/dev/null"}, {});
    auto recording = [&](const InputActivity& a) {
        return a.connected && a.defaultSourceRunning && a.clients.size() == 1 &&
               a.clients[0].processID == recorder.pid() && a.clients[0].processBinary == "zoom";
    };
    EXPECT_TRUE(waitFor([&] { return recording(activity.snapshot()); }, 5));
    recorder.stop();
    EXPECT_TRUE(waitFor(
        [&] { return activity.snapshot().clients.empty() && !activity.snapshot().defaultSourceRunning; }, 5));

    // The server goes away: nothing records any more; it comes back: followed again.
    server->stop();
    EXPECT_TRUE(waitFor([&] { return !activity.snapshot().connected; }, 5));
    EXPECT_EQ(activity.snapshot(), InputActivity{});
    server = startServer();
    EXPECT_TRUE(waitFor([&] { return activity.snapshot().connected; }, 10)) << "never reconnected";
}

TEST(SystemMeetingSignals, ARecordingMeetingAppIsPromptedOnceAndOurOwnCaptureIsNot) {
    NUVEL_CONNECT_PULSE(connection);
    SystemMeetingSignals::Options options;
    options.sound.applicationName = "Nuvel tests";
    auto signals = std::make_shared<SystemMeetingSignals>(options);
    TempDir programs("renamed");
    // A program named like a meeting application runs, but does not record.
    ChildProcess idleZoom({renamedCopy(programs, "/bin/sleep", "zoom", "idle").string(), "60"});

    // Our own capture of the default microphone: the microphone is in use, by no other application.
    Recording ours;
    PulseRecordStream stream(connection, {}, ours.consumer(), ours.problems());
    ASSERT_TRUE(waitFor([&] { return signals->microphoneInUse() && signals->inputBundleIDs() == Ids{}; }, 5))
        << "inputs: " << (signals->inputBundleIDs() ? signals->inputBundleIDs()->size() : 0);
    // What merely runs is not read while no meeting application records: a poll during our own
    // recording never scans every process.
    EXPECT_TRUE(signals->currentSignals().runningBundleIDs.empty());
    const auto running = signals->runningApplications();
    EXPECT_TRUE(std::any_of(running.begin(), running.end(),
                            [](const RunningApplication& a) { return a.bundleID == "us.zoom.Zoom"; }));

    ManualMainQueue queue(0.0);
    auto defaults = std::make_shared<MemoryDefaultsStore>();
    MeetingMonitor monitor(queue, std::make_shared<MeetingPreferences>(defaults), signals,
                           [&queue] { return Date{queue.now()}; });
    std::vector<MeetingMonitor::Prompt> prompts;
    int ended = 0;
    monitor.onPrompt = [&](const MeetingMonitor::Prompt& prompt) { prompts.push_back(prompt); };
    monitor.onCallEnded = [&] { ++ended; };
    monitor.refresh();
    queue.advance(20);
    EXPECT_TRUE(prompts.empty()) << "our own capture is no call";

    // A recording client started under an executable named like the meeting application.
    auto zoom = renamedCopy(programs, "/usr/bin/pacat", "zoom", "recorder");
    ChildProcess recorder({zoom.string(), "--record", "-d", "testmic", "/dev/null"});
    auto zoomRecords = [&] {
        auto ids = signals->inputBundleIDs();
        return ids && std::find(ids->begin(), ids->end(), "us.zoom.Zoom") != ids->end();
    };
    ASSERT_TRUE(waitFor(zoomRecords, 5));
    queue.advance(60);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0], (MeetingMonitor::Prompt{MeetingApp::zoom, "us.zoom.Zoom"}));
    EXPECT_EQ(ended, 0);

    recorder.stop();
    ASSERT_TRUE(waitFor([&] { return !zoomRecords(); }, 5));
    queue.advance(40);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(prompts.size(), 1u);
    stream.close();
}
