#include "Nuvel/platform/RecordStreamTimeline.hpp"
#include "NuvelKit/capture/CaptureLosses.hpp"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace nuvel;

namespace {

constexpr double nominal = 48000;
constexpr std::uint32_t quantum = 1024;
constexpr double latency = 0.02; // from capture to arrival, on top of the quantum

// A device whose clock runs `drift` fast (negative: slow) against the host clock delivers
// quanta `latency` after each one is complete; a server that holds back audio sends what it
// recorded before `holdUntil` (host seconds) only then, all at once, and one that falls behind
// delivers what is complete between `lateFrom` and `lateUntil` `late` seconds later still, and
// the backlog at once when it catches up. The stream reads the queue empty after each quantum,
// when the server's latency report is the age of the newest frame.
struct StreamRun {
    double drift = 0;
    double seconds = 60;
    double holdFrom = 0;
    double holdUntil = 0;
    double jitter = 0; // deliveries early or late by up to this, in a fixed pattern
    double lateFrom = 0;
    double lateUntil = 0;
    double late = 0;

    double worstTrail = 0; // how far the newest stamp fell behind arrival
    double worstLead = -1; // how far it ran ahead
    bool overlapped = false;
    RecordStreamTimeline timeline{nominal};

    void play() {
        const double rate = nominal * (1 + drift);
        double previousEnd = -1;
        double previousArrival = 0;
        for (std::uint64_t k = 0;; ++k) {
            const double complete = double((k + 1) * quantum) / rate;
            if (complete > seconds)
                break;
            double arrival = complete + latency + jitter * double(int((k * 7 + 2) % 3) - 1);
            if (complete >= lateFrom && complete < lateUntil)
                arrival += late;
            arrival = std::max(arrival, previousArrival); // a backlog comes in order
            previousArrival = arrival;
            const bool held = arrival > holdFrom && arrival < holdUntil;
            if (held)
                arrival = holdUntil;
            // Its first read anchors the stream when its first frame was recorded: arrival less what
            // waits, the whole burst of a held-back start.
            if (!timeline.anchored())
                timeline.anchor(0);
            std::uint32_t kept = 0;
            for (std::uint32_t i = 0; i < quantum; ++i)
                kept += timeline.dropNextFrame() ? 0 : 1;
            if (kept > 0) {
                const double stamp = timeline.place(kept);
                overlapped = overlapped || stamp < previousEnd - 1e-9;
                previousEnd = timeline.end();
            }
            // Only audio that arrived in time is judged: the held-back burst is late by its nature.
            if (!held) {
                worstTrail = std::max(worstTrail, arrival - timeline.end());
                worstLead = std::max(worstLead, timeline.end() - arrival);
            }
            timeline.drained(arrival, arrival - complete);
        }
    }
};

} // namespace

TEST(RecordStreamTimeline, KeepsADriftingOrHeldBackStreamOnTheHostClock) {
    const double quantumSeconds = double(quantum) / nominal;
    struct Case {
        const char* name;
        double drift, holdFrom, holdUntil, jitter;
        double lateFrom, lateUntil, late;
        double trailBound, leadBound;          // the newest stamp against arrival
        double droppedSeconds, skippedSeconds; // expected corrections over the run (±0.06 s)
    } cases[] = {
        // A true clock: stamps trail arrival by the latency and a quantum; nothing corrected.
        {"steady", 0, 0, 0, 0, 0, 0, 0, latency + quantumSeconds + 1e-6, 0, 0, 0},
        // Slow by 0.5 %: of the 0.3 s the count falls behind over the minute, all but the trail
        // it is left with (between the settled and the largest) is made up by gaps.
        {"slow", -0.005, 0, 0, 0, 0, 0, 0,
         latency + RecordStreamTimeline::maxLag + RecordStreamTimeline::realignWindow * 0.005 + 0.03, 0, 0,
         0.3 - (RecordStreamTimeline::settleLag + RecordStreamTimeline::maxLag) / 2},
        // Fast by 0.5 %: 0.3 s too much is dropped, never stamped far in the future.
        {"fast", 0.005, 0, 0, 0, 0, 0, 0, latency + quantumSeconds + 1e-6,
         RecordStreamTimeline::aheadTolerance + RecordStreamTimeline::realignWindow * 0.005 + quantumSeconds,
         0.3, 0},
        // Deliveries a quantum early or late, the first one late: some stamps lie a little in the
        // future, but not all window long, so nothing is corrected.
        {"jitter", 0, 0, 0, quantumSeconds, 0, 0, 0, latency + 3 * quantumSeconds, 2 * quantumSeconds, 0, 0},
        // The first 1.5 s held back and then sent at once: true stamps, no correction.
        {"held at the start", 0, 0, 1.5, 0, 0, 0, 0, latency + quantumSeconds + 1e-6, 0, 0, 0},
        // Three seconds held back in the middle: the same.
        {"held in the middle", 0, 20, 23, 0, 0, 0, 0, latency + quantumSeconds + 1e-6, 0, 0, 0},
        // A busy server five seconds a quarter of a second behind, then caught up at once: every
        // frame came, so the stream stays continuous, without a gap and without frames dropped
        // after it.
        {"delivered late for seconds", 0, 0, 0, 0, 20, 25, 0.25, latency + 0.25 + quantumSeconds + 1e-6, 0, 0,
         0},
        // A source always half a second late: true stamps, but too old for the capture to take, so
        // they move once to the settled lag behind arrival.
        {"always late", 0, 0, 0, 0, 0, 60, 0.5, latency + 0.5 + quantumSeconds + 1e-6, 0, 0,
         latency + 0.5 - RecordStreamTimeline::settleLag},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CaptureLosses before = CaptureLossTally::shared().snapshot();
        StreamRun run;
        run.drift = c.drift;
        run.holdFrom = c.holdFrom;
        run.holdUntil = c.holdUntil;
        run.jitter = c.jitter;
        run.lateFrom = c.lateFrom;
        run.lateUntil = c.lateUntil;
        run.late = c.late;
        run.play();
        EXPECT_FALSE(run.overlapped);
        EXPECT_LE(run.worstTrail, c.trailBound);
        EXPECT_LE(run.worstLead, c.leadBound);
        EXPECT_NEAR(double(run.timeline.droppedFrames()) / nominal, c.droppedSeconds, 0.06);
        EXPECT_NEAR(run.timeline.skippedSeconds(), c.skippedSeconds, 0.06);
        // Every correction is counted in the process's tally of lost audio.
        const CaptureLosses after = CaptureLossTally::shared().snapshot();
        EXPECT_EQ(after.timelineDroppedFrames - before.timelineDroppedFrames,
                  std::int64_t(run.timeline.droppedFrames()));
        EXPECT_NEAR(double(after.timelineSkippedFrames - before.timelineSkippedFrames),
                    run.timeline.skippedSeconds() * nominal, 2);
    }
}

TEST(RecordStreamTimeline, AnAnchorNeverStepsBackBehindPlacedAudio) {
    RecordStreamTimeline timeline(48000);
    EXPECT_FALSE(timeline.anchored());
    timeline.anchor(10.0);
    EXPECT_EQ(timeline.place(4800), 10.0);
    EXPECT_DOUBLE_EQ(timeline.end(), 10.1);
    // A later anchor that would overlap starts where the audio ended; one after it leaves a gap.
    for (auto [start, expected] : {std::pair{10.05, 10.1}, std::pair{10.5, 10.5}}) {
        timeline.anchor(start);
        EXPECT_DOUBLE_EQ(timeline.place(480), expected);
    }
}
