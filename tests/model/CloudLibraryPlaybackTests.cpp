// Playing the open meeting's audio: the first play downloads and starts the player at the chosen
// speed and position, later plays toggle or seek, the tick follows the player, a superseded
// download leaves no file, and the service's refusals mark the audio or the meeting.
#include "tests/model/CloudLibraryHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

const char* audio = "GET /api/meetings/m0/audio";

std::size_t playbackFiles(const CloudHarness& h) {
    const fs::path folder = h.cacheRoot() / "playback";
    if (!fs::exists(folder))
        return 0;
    return std::size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

using Opened = OpenedMeeting;

} // namespace

TEST(CloudLibraryPlayback, TheFirstPlayDownloadsAndLaterOnesToggleOrSeek) {
    Opened o;
    CloudHarness& h = o.h;
    h.model->setSpeed(1.5f);
    h.model->play(2500);
    h.queue.drain();
    ASSERT_EQ(h.service->count(audio), 1u);
    ASSERT_EQ(h.players->files.size(), 1u);
    const fs::path file = h.players->files.front();
    EXPECT_EQ(file.parent_path(), h.cacheRoot() / "playback");
    EXPECT_EQ(file.extension(), ".m4a");
    EXPECT_EQ(file.stem().string(), Uuid::parse(file.stem().string())->uppercase());
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(h.players->calls, (std::vector<std::string>{"rate 1.5", "seek 2.50", "prepare", "play"}));
    EXPECT_TRUE(h.s().isPlaying);

    struct Step {
        std::optional<std::int64_t> position;
        std::string call;
        bool playing;
    };
    const std::vector<Step> steps = {
        {std::nullopt, "pause", false},
        {std::nullopt, "play", true},
        {-4000, "seek 0.00", true},
        {12000, "seek 12.0", true},
    };
    for (const Step& step : steps) {
        h.players->calls.clear();
        h.model->play(step.position);
        h.queue.drain();
        EXPECT_EQ(h.players->calls.front(), step.call);
        EXPECT_EQ(h.s().isPlaying, step.playing);
    }
    EXPECT_EQ(h.service->count(audio), 1u); // loaded once

    // The tick follows the player, also after the end, without an observer call of its own.
    std::size_t ticks = 0;
    h.model->setOnPlaybackTick([&] { ++ticks; });
    h.players->time = 3.4567;
    h.queue.advance(0.1);
    h.queue.drain();
    EXPECT_EQ(h.s().playbackMilliseconds, 3456);
    h.players->playing = false; // played out
    h.players->time = 62.5;
    h.queue.advance(0.1);
    h.queue.drain();
    EXPECT_FALSE(h.s().isPlaying);
    EXPECT_EQ(h.s().playbackMilliseconds, 62500);
    EXPECT_EQ(ticks, 2u);

    // A new speed reaches the running player; a value out of range is clamped.
    h.players->calls.clear();
    for (float speed : {3.0f, 0.1f, std::nanf("")})
        h.model->setSpeed(speed);
    h.queue.drain();
    EXPECT_EQ(h.players->calls, (std::vector<std::string>{"rate 2.0", "rate 0.5", "rate 0.5"}));
    EXPECT_EQ(h.s().speed, 0.5f);

    // Stopping releases the player and deletes its file.
    h.model->stopPlayback();
    h.queue.drain();
    EXPECT_EQ(h.players->alive, 0);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(h.s().playbackMilliseconds, 0);
    h.queue.advance(1);
    EXPECT_EQ(ticks, 2u); // the timer is gone
}

TEST(CloudLibraryPlayback, ASupersededDownloadIsDeletedAndInstallsNothing) {
    struct Row {
        const char* name;
        std::function<void(CloudHarness&)> meanwhile;
        std::size_t downloads;
    };
    const std::vector<Row> rows = {
        {"another meeting opened", [](CloudHarness& h) { h.model->openMeeting("m1", false); }, 1},
        {"playback stopped", [](CloudHarness& h) { h.model->stopPlayback(); }, 1},
        {"play asked again", [](CloudHarness& h) { h.model->play(std::nullopt); }, 2},
        {"signed out", [](CloudHarness& h) { h.model->reset(); }, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Opened o;
        CloudHarness& h = o.h;
        h.executor.holding = true;
        h.model->play(std::nullopt);
        h.queue.drain();
        row.meanwhile(h);
        h.queue.drain();
        h.executor.run(0); // the first download ends after the change
        h.executor.holding = false;
        h.executor.runAll();
        h.queue.drain();
        EXPECT_EQ(h.service->count(audio), row.downloads);
        // Only a download still wanted made a player.
        EXPECT_EQ(h.players->files.size(), row.downloads - 1);
        EXPECT_EQ(playbackFiles(h), row.downloads - 1);
        EXPECT_EQ(h.players->alive, int(row.downloads - 1));
    }
}

TEST(CloudLibraryPlayback, RefusalsMarkTheAudioOrTheMeeting) {
    using namespace cloud_sentences;
    struct Row {
        int status; // 0: no connection; -1: the player cannot open the file
        std::string_view message;
        bool available;
        bool revoked;
    };
    const std::vector<Row> rows = {
        {410, audioExpired, false, false},     {404, audioExpired, false, false},
        {403, audioAccessRemoved, true, true}, {401, audioNotLoaded, true, false},
        {500, audioNotLoaded, true, false},    {0, audioNotLoaded, true, false},
        {-1, audioNotLoaded, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        Opened o;
        CloudHarness& h = o.h;
        if (row.status >= 0)
            h.service->fail(audio, row.status);
        else
            h.players->throwOnMake = true;
        h.model->play(1000);
        h.queue.drain();
        EXPECT_EQ(h.s().message, row.message);
        EXPECT_EQ(h.s().audioAvailable, row.available);
        EXPECT_EQ(!h.s().selectedID, row.revoked);
        EXPECT_FALSE(h.s().isPlaying);
        EXPECT_EQ(playbackFiles(h), 0u);
        // Unavailable audio is not asked for again until the meeting loads anew.
        h.service->clearSeen();
        h.model->play(std::nullopt);
        h.queue.drain();
        EXPECT_EQ(h.service->count(audio), row.available && !row.revoked ? 1u : 0u);
    }
}
