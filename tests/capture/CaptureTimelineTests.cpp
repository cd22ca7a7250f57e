#include "NuvelKit/capture/CaptureTimelineLedger.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace nuvel {
namespace {

using Interval = CaptureTimeline::SourceInterval;

TEST(CaptureTimelineLedger, FreshTimelineEncodesItsDefaults) {
    CaptureTimelineLedger ledger;
    EXPECT_EQ(
        json::dump(ledger.snapshot().toJson()),
        R"({"version":1,"mixVersion":1,"outputSampleRate":48000.0,"spans":[],"intervals":[],"committedFrames":0})");
}

TEST(CaptureTimelineLedger, NothingButCommitsWithoutASpan) {
    CaptureTimelineLedger ledger;
    ledger.recordInterval("system", 1.0, 48000, 1024);
    ledger.endSpan(2.0);
    ledger.commit(4800);
    CaptureTimeline t = ledger.snapshot();
    EXPECT_TRUE(t.spans.empty());
    EXPECT_TRUE(t.intervals.empty());
    EXPECT_EQ(t.committedFrames, 4800);
}

TEST(CaptureTimelineLedger, ContiguousBuffersOfOneSourceMerge) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(100.0, Date{5});
    const double second = 100.0 + 1024.0 / 48000;
    ledger.recordInterval("system", 100.0, 48000, 1024);
    ledger.recordInterval("microphone", 100.001, 48000, 480);      // another source in between
    ledger.recordInterval("system", second + 0.0009, 48000, 1024); // within 1 ms of the end
    CaptureTimeline t = ledger.snapshot();
    ASSERT_EQ(t.intervals.size(), 2u);
    EXPECT_EQ(t.intervals[0].source, "system");
    EXPECT_EQ(t.intervals[0].sourceFrames, 2048);
    EXPECT_EQ(t.intervals[0].mediaFrameStart, 0);
    EXPECT_EQ(t.intervals[0].mediaFrameEnd, 2091); // nearest frame of 100.0009 s + 1024 frames
    EXPECT_DOUBLE_EQ(t.intervals[0].hostStart, 100.0);

    CaptureTimelineLedger exact;
    exact.beginSpan(100.0, Date{5});
    exact.recordInterval("system", 100.0, 48000, 1024);
    exact.recordInterval("system", second, 48000, 1024);
    EXPECT_EQ(exact.snapshot().intervals[0].mediaFrameEnd, 2048);

    // 2 ms after the end of the second buffer: a new interval.
    const double thirdStart = exact.snapshot().intervals[0].hostEnd + 0.002;
    exact.recordInterval("system", thirdStart, 48000, 1024);
    t = exact.snapshot();
    ASSERT_EQ(t.intervals.size(), 2u);
    EXPECT_EQ(t.intervals[1].mediaFrameStart, 2144);
    EXPECT_EQ(t.intervals[1].sourceFrames, 1024);
}

TEST(CaptureTimelineLedger, RateChangesOverlapsAndNewSpansStartIntervals) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(10.0, Date{1});
    ledger.recordInterval("microphone", 10.0, 48000, 480);
    ledger.recordInterval("microphone", 10.01, 44100, 441);   // contiguous, other rate
    ledger.recordInterval("microphone", 10.0195, 44100, 441); // overlaps 0.5 ms: merges
    ledger.recordInterval("microphone", 10.028, 44100, 441);  // overlaps 1.5 ms: new
    EXPECT_EQ(ledger.snapshot().intervals.size(), 3u);

    ledger.commit(4800);
    ledger.endSpan(10.1);
    ledger.beginSpan(20.0, Date{2});
    ledger.recordInterval("microphone", 10.038, 44100, 441); // continues in time, but a new span
    CaptureTimeline t = ledger.snapshot();
    ASSERT_EQ(t.intervals.size(), 4u);
    EXPECT_EQ(t.intervals[3].span, 1);
    // Stamped before its span began: placed at the span's first frame.
    EXPECT_EQ(t.intervals[3].mediaFrameStart, 4800);
    EXPECT_EQ(t.intervals[3].mediaFrameEnd, 4800);
}

TEST(CaptureTimelineLedger, CommitsMoveTheCurrentSpansEnd) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(1.0, Date{1});
    ledger.commit(96000);
    ledger.endSpan(3.0);
    ledger.beginSpan(10.0, Date{9});
    ledger.commit(4800);
    ledger.commit(4800);
    CaptureTimeline t = ledger.snapshot();
    ASSERT_EQ(t.spans.size(), 2u);
    EXPECT_EQ(t.spans[0], (CaptureTimeline::Span{1.0, Date{1}, 0, 96000, 3.0}));
    EXPECT_EQ(t.spans[1], (CaptureTimeline::Span{10.0, Date{9}, 96000, 105600, std::nullopt}));
    EXPECT_EQ(t.committedFrames, 105600);
    EXPECT_EQ(ledger.committedFrames(), 105600);
    // A closed span takes a later end.
    ledger.endSpan(12.0);
    ledger.endSpan(12.5);
    EXPECT_EQ(ledger.snapshot().spans[1].hostEnd, 12.5);
}

TEST(CaptureTimelineLedger, TwoOpenSpansStayAndLaterWorkGoesToTheSecond) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(1.0, Date{1});
    ledger.commit(100);
    ledger.beginSpan(2.0, Date{2});
    ledger.commit(50);
    ledger.recordInterval("system", 2.0, 48000, 48);
    CaptureTimeline t = ledger.snapshot();
    EXPECT_FALSE(t.spans[0].hostEnd);
    EXPECT_EQ(t.spans[0].mediaFrameEnd, 100);
    EXPECT_EQ(t.spans[1].mediaFrameStart, 100);
    EXPECT_EQ(t.spans[1].mediaFrameEnd, 150);
    EXPECT_EQ(t.intervals[0].span, 1);
    EXPECT_EQ(t.intervals[0].mediaFrameStart, 100);
}

TEST(CaptureTimelineLedger, BuffersThatCannotBePlacedAreIgnoredAndHugeOffsetsClamp) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(0.0, Date{0});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    ledger.recordInterval("system", 1.0, 0, 1024);
    ledger.recordInterval("system", 1.0, -48000, 1024);
    ledger.recordInterval("system", 1.0, nan, 1024);
    ledger.recordInterval("system", nan, 48000, 1024);
    ledger.recordInterval("system", inf, 48000, 1024);
    ledger.recordInterval("system", 1.0, 1e-320, 1024); // frames / rate overflows
    ledger.recordInterval("system", 1.0, 48000, -1);
    EXPECT_TRUE(ledger.snapshot().intervals.empty());
    // A frame position beyond the 64-bit range maps to the span's first frame instead of wrapping.
    ledger.recordInterval("system", 1e300, 48000, 1);
    ASSERT_EQ(ledger.snapshot().intervals.size(), 1u);
    EXPECT_EQ(ledger.snapshot().intervals[0].mediaFrameStart, 0);
    // The snapshot still encodes.
    EXPECT_NO_THROW(json::dump(ledger.snapshot().toJson()));
}

TEST(CaptureTimelineLedger, SafeFromSeveralThreads) {
    CaptureTimelineLedger ledger;
    ledger.beginSpan(0.0, Date{0});
    std::thread consumer([&] {
        for (int i = 0; i < 2000; ++i) {
            ledger.recordInterval("system", i * 0.01, 48000, 480);
            ledger.commit(480);
        }
    });
    for (int i = 0; i < 200; ++i)
        (void)ledger.snapshot();
    consumer.join();
    CaptureTimeline t = ledger.snapshot();
    EXPECT_EQ(t.committedFrames, 960000);
    ASSERT_EQ(t.intervals.size(), 1u);
    EXPECT_EQ(t.intervals[0].sourceFrames, 960000);
}

TEST(CaptureTimelineJson, OpenSpansHaveNoHostEndAndRequiredKeysAreRequired) {
    CaptureTimeline t;
    t.spans = {{1.5, Date{2.25}, 0, 10, 2.0}, {3.0, Date{4}, 10, 20, std::nullopt}};
    t.intervals = {{"microphone", 44100, 1, 3.0, 3.5, 10, 20, 22050}};
    t.committedFrames = 20;
    const std::string text = json::dump(t.toJson());
    EXPECT_EQ(text,
              R"({"version":1,"mixVersion":1,"outputSampleRate":48000.0,"spans":[)"
              R"({"hostStart":1.5,"wallStart":2.25,"mediaFrameStart":0,"mediaFrameEnd":10,"hostEnd":2.0},)"
              R"({"hostStart":3.0,"wallStart":4.0,"mediaFrameStart":10,"mediaFrameEnd":20}],"intervals":[)"
              R"({"source":"microphone","sampleRate":44100.0,"span":1,"hostStart":3.0,"hostEnd":3.5,)"
              R"("mediaFrameStart":10,"mediaFrameEnd":20,"sourceFrames":22050}],"committedFrames":20})");
    EXPECT_EQ(CaptureTimeline::fromJson(json::Reader(json::parse(text))), t);

    json::Value doc = json::parse(text);
    doc["spans"][0]["hostEnd"] = nullptr;
    doc["version"] = 7;         // no version test
    doc["spans"][1]["x"] = "y"; // unknown keys are ignored
    CaptureTimeline read = CaptureTimeline::fromJson(json::Reader(doc));
    EXPECT_FALSE(read.spans[0].hostEnd);
    EXPECT_EQ(read.version, 7);

    auto fails = [&](auto edit) {
        json::Value d = json::parse(text);
        edit(d);
        EXPECT_THROW(CaptureTimeline::fromJson(json::Reader(d)), json::JsonError) << d.dump();
    };
    fails([](json::Value& d) { d.erase("committedFrames"); });
    fails([](json::Value& d) { d["mixVersion"] = nullptr; });
    fails([](json::Value& d) { d["outputSampleRate"] = "48000"; });
    fails([](json::Value& d) { d["spans"][1].erase("wallStart"); });
    fails([](json::Value& d) { d["spans"][0]["mediaFrameEnd"] = 10.5; });
    fails([](json::Value& d) { d["intervals"][0].erase("sourceFrames"); });
    fails([](json::Value& d) { d["intervals"][0]["source"] = 1; });
    fails([](json::Value& d) { d["intervals"] = json::Value::object(); });
}

} // namespace
} // namespace nuvel
