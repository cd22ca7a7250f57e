// One application's streams summed onto one timeline: placing, waiting for slow streams,
// silence while nothing plays, and the audio that is cut rather than failing the capture.
#include "NuvelKit/capture/ApplicationStreamMix.hpp"
#include "NuvelKit/capture/CaptureLosses.hpp"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <vector>

namespace nuvel {
namespace {

constexpr double origin = 100.0;
constexpr double rate = 48000.0;

// How long the mix waits for a slow stream, and how old audio may be when it hands it out.
constexpr auto hold = std::int64_t(ApplicationStreamMix::holdSeconds * rate);
constexpr auto latest = std::int64_t(ApplicationStreamMix::latestSeconds * rate);

double at(std::int64_t frame) {
    return origin + double(frame) / rate;
}

// A mix over a real ring; what it hands out is read back as one timeline.
struct Harness {
    std::shared_ptr<AudioRing> ring = std::make_shared<AudioRing>(64, 8192);
    ApplicationStreamMix mix{std::make_shared<SystemAudioOutput>(ring), origin};
    std::map<int, ApplicationStreamMix::StreamID> streams;
    std::vector<float> out;           // everything handed out, from `first`
    std::int64_t first = -1;          // the timeline frame of out[0]
    std::vector<std::int64_t> gapsAt; // frames where a hand-out did not continue the previous one
    std::uint32_t largestPiece = 0;
    std::uint32_t smallestPiece = UINT32_MAX;

    ApplicationStreamMix::StreamID stream(int which, std::int64_t nowFrame) {
        auto found = streams.find(which);
        if (found == streams.end())
            found = streams.emplace(which, mix.addStream(at(nowFrame))).first;
        return found->second;
    }
    // `frames` of `value` from `start`, arriving at `nowFrame` (by default when it ends).
    void deliver(int which, std::int64_t start, std::int64_t frames, float value,
                 std::int64_t nowFrame = -1) {
        if (nowFrame < 0)
            nowFrame = start + frames;
        std::vector<float> samples(std::size_t(frames), value);
        mix.deliver(stream(which, nowFrame), samples.data(), std::uint32_t(frames), rate, at(start),
                    at(nowFrame));
        collect();
    }
    void advance(std::int64_t nowFrame) {
        mix.advance(at(nowFrame));
        collect();
    }
    void collect() {
        while (auto piece = ring->read()) {
            EXPECT_EQ(piece->sampleRate, rate);
            const std::int64_t frame = std::llround((piece->hostTime - origin) * rate);
            EXPECT_NEAR(piece->hostTime, at(frame), 1e-9);
            if (first < 0)
                first = frame;
            else if (frame != first + std::int64_t(out.size()))
                gapsAt.push_back(frame);
            largestPiece = std::max(largestPiece, std::uint32_t(piece->samples.size()));
            smallestPiece = std::min(smallestPiece, std::uint32_t(piece->samples.size()));
            out.insert(out.end(), piece->samples.begin(), piece->samples.end());
        }
    }
    std::int64_t end() const { return first < 0 ? 0 : first + std::int64_t(out.size()); }
    // Every handed-out frame in [from, to) is `value`.
    void expectRegion(std::int64_t from, std::int64_t to, float value) const {
        for (std::int64_t f = from; f < to; ++f) {
            ASSERT_GE(f, first);
            ASSERT_LT(f, end());
            ASSERT_NEAR(out[std::size_t(f - first)], value, 1e-6) << "frame " << f;
        }
    }
};

struct Piece {
    int stream;
    std::int64_t start;
    std::int64_t frames;
    float value;
    std::int64_t now = -1;
};
struct Region {
    std::int64_t from, to;
    float value;
};

TEST(ApplicationStreamMix, EveryStreamIsSummedOnTheTimelineAndLateAudioIsCut) {
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        std::int64_t handedOut; // frames handed out from frame 0
        std::vector<Region> regions;
        std::int64_t cut;
        std::int64_t lost;             // of the cut frames, those the handed-out timeline lacks
        std::int64_t recordedFrom = 0; // the recording's first frame
    };
    const Case cases[] = {
        {"two streams over the same frames",
         {{0, 0, 4800, 0.1f}, {1, 0, 4800, 0.2f}},
         4800,
         {{0, 4800, 0.3f}},
         0,
         0},
        {"the later stream decides how far",
         {{0, 0, 4800, 0.1f}, {1, 2400, 4800, 0.2f}},
         4800,
         {{0, 2400, 0.1f}, {2400, 4800, 0.3f}},
         0,
         0},
        {"a piece within two frames of its stream's end continues it",
         {{0, 0, 2400, 0.1f, 4800}, {0, 2402, 2400, 0.1f, 4800}, {1, 0, 4800, 0.2f, 4800}},
         4800,
         {{0, 4800, 0.3f}},
         0,
         0},
        // The overlap is cut where the stream's own audio already lies: nothing is missing.
        {"a stream never adds twice onto one frame",
         {{0, 0, 4800, 0.1f, 4800}, {0, 4000, 4800, 0.1f, 4800}, {1, 0, 8800, 0.2f, 8800}},
         8800,
         {{0, 8800, 0.3f}},
         800,
         0},
        {"a new stream's audio for frames already handed out is cut",
         {{0, 0, 4800, 0.1f},
          {1, 0, 4800, 0.2f},
          {2, 2400, 4800, 0.5f, 7200},
          {0, 4800, 4800, 0.1f, 9600},
          {1, 4800, 4800, 0.2f, 9600},
          {2, 7200, 2400, 0.5f, 9600}},
         9600,
         {{0, 4800, 0.3f}, {4800, 9600, 0.8f}},
         2400,
         2400},
        {"a new stream's audio from before the recording began is cut, not lost",
         {{0, 0, 4800, 0.1f},
          {1, 0, 4800, 0.2f},
          {2, 2400, 4800, 0.5f, 7200},
          {0, 4800, 4800, 0.1f, 9600},
          {1, 4800, 4800, 0.2f, 9600},
          {2, 7200, 2400, 0.5f, 9600}},
         9600,
         {{0, 4800, 0.3f}, {4800, 9600, 0.8f}},
         2400,
         1200,
         3600},
        {"a stream's first audio from before the mix began is cut, not lost",
         {{0, -2400, 7200, 0.1f, 4800}, {1, -2400, 7200, 0.2f, 4800}},
         4800,
         {{0, 4800, 0.3f}},
         4800,
         0},
        {"a slow stream is waited for, then its late audio is cut",
         {{0, 0, hold + 2400, 0.1f, hold + 2400},
          {1, 0, 4800, 0.2f, hold + 2400},
          {1, 4800, hold - 2400, 0.2f, hold + 2400}},
         hold + 2400,
         {{0, 2400, 0.1f}, {2400, hold + 2400, 0.3f}},
         2400,
         2400},
        {"audio timed after now waits until it is due",
         {{0, 0, 4800, 0.1f, 2400},
          {1, 0, 4800, 0.2f, 2400},
          {0, 4800, 4800, 0.1f, 4800},
          {1, 4800, 4800, 0.2f, 7200}},
         7200,
         {{0, 7200, 0.3f}},
         0,
         0},
        {"audio more than two seconds ahead is cut",
         {{0, 0, 4800, 0.1f, 4800}, {1, 0, 4800, 0.2f, 4800}, {0, 4800 + 96000 - 100, 200, 0.4f, 4800}},
         4800,
         {{0, 4800, 0.3f}},
         100,
         100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t lostBefore = CaptureLossTally::shared().snapshot().mixerLateFrames;
        Harness h;
        h.mix.recordFrom(at(c.recordedFrom));
        h.stream(0, 0);
        h.stream(1, 0);
        for (const Piece& p : c.pieces)
            h.deliver(p.stream, p.start, p.frames, p.value, p.now);
        EXPECT_EQ(h.first, 0);
        EXPECT_EQ(h.end(), c.handedOut);
        EXPECT_TRUE(h.gapsAt.empty());
        for (const Region& r : c.regions)
            h.expectRegion(r.from, r.to, r.value);
        EXPECT_EQ(h.mix.cutFrames(), c.cut);
        EXPECT_EQ(CaptureLossTally::shared().snapshot().mixerLateFrames - lostBefore, c.lost);
        EXPECT_FALSE(h.ring->overflowed());
    }
}

TEST(ApplicationStreamMix, HandsOutAsFarAsTheOpenStreamsReachOrSilenceWhenNothingPlays) {
    // How far the mix has handed out when it runs at `now` (0.5 s unless given).
    struct Case {
        const char* name;
        std::function<void(Harness&)> arrange;
        std::int64_t until;
        std::int64_t now = 24000;
    };
    const auto two = [](Harness& h) {
        h.stream(0, 4800);
        h.stream(1, 4800);
    };
    const Case cases[] = {
        {"no stream at all: silence up to the wait ago", [](Harness&) {}, 24000 - hold},
        {"only ended streams: the same",
         [](Harness& h) {
             h.deliver(0, 0, 24000, 0.1f);
             h.mix.endStream(h.streams[0]);
         },
         24000},
        {"a new stream that has not delivered holds back as long as the wait",
         [](Harness& h) { h.stream(0, 4800); }, 24000 - hold},
        {"both streams delivered: as far as the slower",
         [&](Harness& h) {
             two(h);
             h.deliver(0, 0, 23040, 0.1f, 24000);
             h.deliver(1, 0, 22080, 0.2f, 24000);
         },
         22080},
        {"a slow stream holds back no further than the wait",
         [&](Harness& h) {
             two(h);
             h.deliver(1, 0, 2400, 0.2f, 24000);
             h.deliver(0, 0, 23040, 0.1f, 24000);
         },
         24000 - hold},
        {"an ended stream holds nothing back",
         [&](Harness& h) {
             two(h);
             h.deliver(1, 0, 9600, 0.2f, 24000);
             h.mix.endStream(h.streams[1]);
             h.deliver(0, 0, 23040, 0.1f, 24000);
         },
         23040},
        {"every stream silent for over 0.5 s: nothing more",
         [](Harness& h) {
             h.stream(0, 0);
             h.stream(1, 0);
             h.deliver(0, 0, 1200, 0.1f, 1200);
             h.deliver(1, 0, 960, 0.2f, 1200);
         },
         960, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.arrange(h);
        h.advance(c.now);
        EXPECT_EQ(h.end(), c.until);
        EXPECT_TRUE(h.gapsAt.empty());
        EXPECT_FALSE(h.ring->overflowed());
        EXPECT_LE(h.largestPiece, ApplicationStreamMix::pieceFrames);
    }
}

TEST(ApplicationStreamMix, AStreamThatEndsAndANewOneKeepOneContiguousTimelineOverSeconds) {
    // The application plays 0.1 through one stream for five seconds and 0.2 through another that
    // it closes at 2 s and opens again at 3 s; every 20 ms each open stream delivers what it
    // played 30 ms ago.
    Harness h;
    h.stream(0, 0);
    h.stream(1, 0);
    constexpr std::int64_t step = 960;
    constexpr std::int64_t latency = 1440;
    for (std::int64_t now = latency + step; now <= 5 * 48000 + latency; now += step) {
        const std::int64_t start = now - latency - step;
        h.deliver(0, start, step, 0.1f, now);
        if (start < 2 * 48000)
            h.deliver(1, start, step, 0.2f, now);
        else if (start == 2 * 48000)
            h.mix.endStream(h.streams[1]);
        else if (start >= 3 * 48000)
            h.deliver(2, start, step, 0.2f, now);
        if (start == 3 * 48000 - step)
            h.stream(2, now); // opened: nothing yet
        h.advance(now + 100);
    }
    EXPECT_EQ(h.first, 0);
    EXPECT_TRUE(h.gapsAt.empty());
    EXPECT_GE(h.end(), 5 * 48000 - 4800);
    h.expectRegion(0, 2 * 48000, 0.3f);
    h.expectRegion(2 * 48000, 3 * 48000, 0.1f);
    h.expectRegion(3 * 48000, h.end(), 0.3f);
    EXPECT_EQ(h.mix.cutFrames(), 0);
    EXPECT_GE(h.smallestPiece, std::uint32_t(ApplicationStreamMix::leastFrames));
    EXPECT_EQ(h.mix.openStreams(), 2u);
    EXPECT_FALSE(h.ring->overflowed());
}

TEST(ApplicationStreamMix, FaultsLoseTheOutputOrCutAudioButNeverHandOutWhatTheConsumerRefuses) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::function<void(Harness&)> act;
        bool lost;
        std::int64_t cut;
    };
    const float samples[480] = {};
    const Case cases[] = {
        {"another rate",
         [&](Harness& h) { h.mix.deliver(h.stream(0, 0), samples, 480, 44100, at(0), at(480)); }, true, 0},
        {"a host time that is not a number",
         [&](Harness& h) { h.mix.deliver(h.stream(0, 0), samples, 480, rate, nan, at(480)); }, true, 0},
        {"no samples", [&](Harness& h) { h.mix.deliver(h.stream(0, 0), nullptr, 480, rate, at(0), at(480)); },
         true, 0},
        {"an unknown or ended stream is ignored",
         [&](Harness& h) {
             h.mix.deliver(77, samples, 480, rate, at(0), at(480));
             const auto id = h.stream(0, 0);
             h.mix.endStream(id);
             h.mix.deliver(id, samples, 480, rate, at(0), at(480));
         },
         false, 0},
        {"a time decades away is cut",
         [&](Harness& h) { h.mix.deliver(h.stream(0, 0), samples, 480, rate, 2e9, at(480)); }, false, 480},
        {"audio too old when the mix runs again is dropped",
         [&](Harness& h) {
             h.stream(1, 0); // holds everything back
             h.deliver(0, 0, 4800, 0.1f, 4800);
             h.advance(28000); // within half a second of its last delivery: not stalled
             EXPECT_EQ(h.first, 28000 - latest);
             h.expectRegion(28000 - latest, 28000 - hold, 0.0f);
         },
         false, 4800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t lateBefore = CaptureLossTally::shared().snapshot().mixerLateFrames;
        Harness h;
        c.act(h);
        EXPECT_EQ(h.ring->overflowed(), c.lost);
        EXPECT_EQ(h.mix.cutFrames(), c.cut);
        // What is cut is counted as lost audio.
        EXPECT_EQ(CaptureLossTally::shared().snapshot().mixerLateFrames - lateBefore, c.cut);
    }
}

} // namespace
} // namespace nuvel
