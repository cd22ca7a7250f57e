#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulsePlaybackStream.hpp"
#include "Nuvel/ui/prompts/DesktopApplications.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

PulseError connectError(const PulseConnection::Options& options) {
    try {
        PulseConnection::connect(options);
    } catch (const PulseError& error) {
        return error;
    }
    ADD_FAILURE() << "connected to " << options.server.value_or("?");
    return PulseError(PulseError::Case::failed, 0, "");
}

class EventLog {
public:
    PulseConnection::EventHandler handler() {
        return [this](const PulseEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        };
    }
    bool waitFor(PulseEvent::Kind kind, const std::function<bool(const PulseEvent&)>& match) {
        return test::waitFor(
            [&] {
                std::lock_guard lock(mutex_);
                for (const auto& event : events_)
                    if (event.kind == kind && match(event))
                        return true;
                return false;
            },
            5.0);
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

private:
    std::mutex mutex_;
    std::vector<PulseEvent> events_;
};

} // namespace

TEST(PulseConnection, NoServerIsACleanError) {
    PulseConnection::Options options;
    options.server = "unix:/nonexistent/nuvel/native";
    double start = hostTimeSeconds();
    PulseError error = connectError(options);
    EXPECT_EQ(error.kind(), PulseError::Case::noServer);
    EXPECT_NE(error.code(), 0);
    EXPECT_LT(hostTimeSeconds() - start, 2.0);
}

TEST(PulseConnection, AServerThatNeverAnswersTimesOut) {
    // A socket that accepts connections but never speaks: the wait must end by itself.
    TempDir folder("pulse-silent");
    std::string path = (folder.path() / "native").string();
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    PulseConnection::Options options;
    options.server = "unix:" + path;
    options.timeoutSeconds = 0.5;
    double start = hostTimeSeconds();
    PulseError error = connectError(options);
    double elapsed = hostTimeSeconds() - start;
    close(listener);
    EXPECT_EQ(error.kind(), PulseError::Case::timedOut);
    EXPECT_GE(elapsed, 0.45);
    EXPECT_LT(elapsed, 3.0);
}

TEST(PulseConnection, ListsSourcesDefaultsAndTheDefaultSinksMonitor) {
    NUVEL_CONNECT_PULSE(connection);
    EXPECT_TRUE(connection->isConnected());

    auto sources = listSources(*connection);
    auto find = [&](const std::string& name) -> const PulseSourceInfo* {
        for (const auto& source : sources)
            if (source.name == name)
                return &source;
        return nullptr;
    };
    const PulseSourceInfo* mic = find("testmic");
    ASSERT_NE(mic, nullptr);
    EXPECT_FALSE(mic->isMonitor);
    EXPECT_EQ(mic->description, "TestMicrophone");
    EXPECT_EQ(mic->sampleSpec.format, "float32le");
    EXPECT_EQ(mic->sampleSpec.channels, 1u);
    EXPECT_GT(mic->sampleSpec.rate, 0u);
    const PulseSourceInfo* monitor = find("testsink.monitor");
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isMonitor);

    auto byName = sourceInfo(*connection, "testmic");
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->index, mic->index);
    EXPECT_FALSE(sourceInfo(*connection, "no-such-source"));

    auto server = serverInfo(*connection);
    EXPECT_EQ(server.defaultSourceName, "testmic");
    EXPECT_EQ(server.defaultSinkName, "testsink");
    EXPECT_EQ(defaultSinkMonitorSourceName(*connection), "testsink.monitor");
}

TEST(PulseConnection, ListsTheSinkInputsOfOtherProcesses) {
    NUVEL_CONNECT_PULSE(connection);
    std::string sinkName = uniqueName("nuvel_apps");
    auto sink = privateSink(sinkName);
    ASSERT_TRUE(sink->loaded());
    TempDir folder("pulse-apps");
    writeToneWav(folder / "tone.wav", 440, 30, 0.3); // outlasts any wait of a loaded machine
    ChildProcess player({"paplay", "-d", sinkName, (folder / "tone.wav").string()});
    ASSERT_NE(player.pid(), 0);

    // Our own playback stream is a sink-input too, but not of another process.
    PulsePlaybackStream own(connection, PulsePlaybackStream::Options{48000, 1, sinkName},
                            [](float* out, std::uint32_t frames) { std::fill_n(out, frames, 0.0f); });

    auto input = playingSinkInputOf(*connection, player.pid(), sinkName);
    ASSERT_TRUE(input);
    // paplay is a link to pacat; the server reports the executable that runs.
    EXPECT_TRUE(input->processBinary == "paplay" || input->processBinary == "pacat") << input->processBinary;
    EXPECT_FALSE(input->applicationName.empty());
    EXPECT_FALSE(input->corked);
    EXPECT_EQ(input->sampleSpec.rate, 48000u);
    EXPECT_EQ(sinkInfo(*connection, input->sink)->name, sinkName);

    auto others = sinkInputsOfOtherProcesses(*connection);
    bool playerListed = false;
    for (const auto& other : others) {
        EXPECT_NE(other.processID, static_cast<std::int32_t>(getpid()));
        EXPECT_NE(other.index, own.sinkInputIndex());
        playerListed = playerListed || other.index == input->index;
    }
    EXPECT_TRUE(playerListed);
    auto ownInfo = sinkInputInfo(*connection, own.sinkInputIndex());
    ASSERT_TRUE(ownInfo);
    EXPECT_EQ(ownInfo->processID, static_cast<std::int32_t>(getpid()));
    EXPECT_FALSE(sinkInputInfo(*connection, 0xFFFFFFF0u));
}

TEST(PulseConnection, ReportsSourcesAndSinkInputsComingMovingAndGoing) {
    NUVEL_CONNECT_PULSE(connection);
    EventLog log;
    auto handler = connection->addEventHandler(log.handler());

    std::string sourceName = uniqueName("nuvel_events_mic");
    auto source = std::make_unique<LoadedModule>(nullSourceModule(sourceName));
    ASSERT_TRUE(source->loaded());
    auto named = [&](const PulseEvent& event) { return event.name == sourceName; };
    EXPECT_TRUE(log.waitFor(PulseEvent::Kind::sourceAdded, named));
    source->unload();
    EXPECT_TRUE(log.waitFor(PulseEvent::Kind::sourceRemoved, [&](const PulseEvent& event) {
        return event.name == sourceName && !event.isMonitor;
    }));

    std::string firstSink = uniqueName("nuvel_events_a");
    std::string secondSink = uniqueName("nuvel_events_b");
    auto sinkA = privateSink(firstSink);
    auto sinkB = privateSink(secondSink);
    TempDir folder("pulse-events");
    writeToneWav(folder / "tone.wav", 440, 30, 0.3); // outlasts any wait of a loaded machine
    ChildProcess player({"paplay", "-d", firstSink, (folder / "tone.wav").string()});
    auto input = playingSinkInputOf(*connection, player.pid(), firstSink);
    ASSERT_TRUE(input);
    auto same = [&](const PulseEvent& event) { return event.index == input->index; };
    EXPECT_TRUE(log.waitFor(PulseEvent::Kind::sinkInputAdded, same));

    ASSERT_TRUE(runProgram({"pactl", "move-sink-input", std::to_string(input->index), secondSink}));
    auto target = sinkInfo(*connection, secondSink);
    ASSERT_TRUE(target);
    EXPECT_TRUE(log.waitFor(PulseEvent::Kind::sinkInputMoved, [&](const PulseEvent& event) {
        return event.index == input->index && event.sink == target->index;
    }));

    player.stop();
    EXPECT_TRUE(log.waitFor(PulseEvent::Kind::sinkInputRemoved, same));

    // A removed handler hears nothing more.
    connection->removeEventHandler(handler);
    std::size_t before = log.count();
    LoadedModule again(nullSourceModule(sourceName + "_again"));
    ASSERT_TRUE(again.loaded());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log.count(), before);
}

// A debug build refuses every wait for the server, and the scan of the processes, on the thread
// it was told to keep free (the application's main thread): the regression of blocking work on
// the main queue aborts the program at the call that made it. Other threads wait as before.
TEST(PulseConnectionDeathTest, AWaitOnTheRefusingThreadAbortsWhileOtherThreadsWait) {
#ifdef NDEBUG
    GTEST_SKIP() << "release builds do not refuse";
#endif
    NUVEL_CONNECT_PULSE(probe); // a server answers
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string soundServer = "would wait for the sound server on the main thread";
    const struct {
        std::string what;
        std::function<void(std::shared_ptr<PulseConnection>&)> call;
        std::string message;
    } calls[] = {
        {"connect", [](std::shared_ptr<PulseConnection>& c) { c = PulseConnection::connect(); }, soundServer},
        {"list sources", [](std::shared_ptr<PulseConnection>& c) { listSources(*c); }, soundServer},
        {"server info", [](std::shared_ptr<PulseConnection>& c) { serverInfo(*c); }, soundServer},
        // A meeting prompt's look for the running application reads the processes.
        {"running application",
         [](std::shared_ptr<PulseConnection>&) { desktopApplications().running("zoom"); },
         "the scan for a running application would scan the processes on the main thread"},
    };
    for (const auto& [what, call, message] : calls) {
        EXPECT_DEATH(
            {
                std::shared_ptr<PulseConnection> connection;
                std::thread([&] { connection = PulseConnection::connect(); }).join();
                PulseConnection::refuseWaitsOn(std::this_thread::get_id());
                call(connection);
            },
            message)
            << what;
    }

    PulseConnection::refuseWaitsOn(std::this_thread::get_id());
    std::size_t sources = 0;
    std::thread([&] { sources = listSources(*probe).size(); }).join();
    PulseConnection::refuseWaitsOn({});
    EXPECT_GT(sources, 0u) << "another thread still waits for its answer";
    EXPECT_FALSE(listSources(*probe).empty()) << "lifted";
}
