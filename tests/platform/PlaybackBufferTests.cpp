// The decoded audio between a player's decoding thread and the sound server's filler: order and
// wrap-around, generations, the held-back start, the counts the player's time is read from, and
// the three threads at once (run under ThreadSanitizer too).
#include "Nuvel/platform/PlaybackBuffer.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace nuvel;

namespace {

// Frames of two channels whose samples count up from `first` (never 0: 0 is silence).
std::vector<float> ramp(float first, std::size_t frames) {
    std::vector<float> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = first + float(i);
    return samples;
}

std::vector<float> fill(PlaybackBuffer& buffer, std::uint32_t frames) {
    std::vector<float> out(std::size_t(frames) * 2, -1.0f);
    buffer.fill(out.data(), frames);
    return out;
}

} // namespace

TEST(PlaybackBuffer, HandsOutItsGenerationsAudioInOrderOnceItFlowsAndCountsWhatWasHeard) {
    PlaybackBuffer buffer(2, 8);
    buffer.restart(1);
    auto first = ramp(1, 6);
    EXPECT_EQ(buffer.push(1, first.data(), 6).frames, 6u);
    auto more = ramp(7, 6);
    PlaybackBuffer::Pushed pushed = buffer.push(1, more.data(), 6);
    EXPECT_EQ(pushed.frames, 2u) << "only what fits";
    EXPECT_FALSE(pushed.stale);
    EXPECT_EQ(buffer.push(1, more.data(), 6).frames, 0u) << "full";
    EXPECT_TRUE(buffer.waitForData(8, std::chrono::milliseconds(0)));

    EXPECT_EQ(fill(buffer, 3), std::vector<float>(6, 0.0f)) << "held back until it flows";
    buffer.resume();
    EXPECT_EQ(fill(buffer, 5), (std::vector<float>{1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
    auto late = ramp(9, 4);
    EXPECT_EQ(buffer.push(1, late.data(), 4).frames, 4u) << "wraps around the end";
    buffer.finish(1);
    EXPECT_EQ(fill(buffer, 9),
              (std::vector<float>{6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 0, 0, 0, 0}));

    PlaybackBuffer::Progress progress = buffer.progress();
    EXPECT_EQ(progress.written, 14u) << "silence after the end counts as written";
    EXPECT_EQ(progress.fileStart, 0u);
    EXPECT_EQ(progress.fileFrames, 12u);
    EXPECT_EQ(progress.endAt, 12u);

    // A new generation drops the old audio, refuses the old one's frames and starts uncounted.
    buffer.restart(2);
    EXPECT_TRUE(buffer.push(1, late.data(), 4).stale);
    EXPECT_FALSE(buffer.waitForData(1, std::chrono::milliseconds(0)));
    buffer.finish(1); // a stale end changes nothing
    EXPECT_FALSE(buffer.waitForData(1, std::chrono::milliseconds(0)));
    EXPECT_EQ(buffer.push(2, late.data(), 2).frames, 2u);
    buffer.resume();
    EXPECT_EQ(buffer.progress().written, 0u);
    EXPECT_EQ(buffer.progress().fileStart, PlaybackBuffer::none);
    EXPECT_EQ(fill(buffer, 3), (std::vector<float>{9, 9, 10, 10, 0, 0}));
    EXPECT_EQ(buffer.progress().written, 3u);
    EXPECT_EQ(buffer.progress().fileFrames, 2u);
    EXPECT_EQ(buffer.progress().endAt, PlaybackBuffer::none) << "not finished: a gap, not the end";
}

TEST(PlaybackBuffer, ADecoderAFillerAndAReaderAtOnceLoseAndReorderNothing) {
    constexpr std::size_t total = 200000;
    constexpr std::size_t chunk = 333;
    PlaybackBuffer buffer(2, 4096);
    buffer.restart(7);
    buffer.resume();

    std::thread decoder([&] {
        for (std::size_t at = 0; at < total;) {
            std::size_t count = std::min(chunk, total - at);
            auto samples = ramp(float(at + 1), count);
            std::size_t taken = buffer.push(7, samples.data(), count).frames;
            if (taken == 0)
                std::this_thread::yield(); // full: the filler makes room
            at += taken;
        }
        buffer.finish(7);
    });
    std::vector<float> heard;
    std::thread filler([&] {
        std::vector<float> out(512 * 2);
        while (buffer.progress().endAt == PlaybackBuffer::none) {
            buffer.fill(out.data(), 512);
            for (std::size_t i = 0; i < 512; ++i)
                if (out[2 * i] != 0.0f)
                    heard.push_back(out[2 * i]);
        }
    });
    std::uint64_t lastWritten = 0;
    bool monotonic = true;
    while (buffer.progress().endAt == PlaybackBuffer::none) {
        std::uint64_t written = buffer.progress().written;
        monotonic = monotonic && written >= lastWritten;
        lastWritten = written;
    }
    decoder.join();
    filler.join();

    EXPECT_TRUE(monotonic);
    ASSERT_EQ(heard.size(), total);
    std::size_t misplaced = 0;
    for (std::size_t i = 0; i < total; ++i)
        misplaced += heard[i] == float(i + 1) ? 0 : 1;
    EXPECT_EQ(misplaced, 0u);
    EXPECT_EQ(buffer.progress().fileFrames, total);
}
