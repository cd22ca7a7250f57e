#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/capture/CaptureMixer.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <vector>

namespace nuvel {
namespace {

using Source = CaptureMixer::Source;
constexpr double origin = 1000.0;

// Host time at which output frame f begins (for stamping appends).
double at(std::int64_t frame) {
    return origin + double(frame) / 48000.0;
}
// A render time inside frame f, so that rendering stops just before f whatever the rounding of
// the host-time arithmetic.
double upTo(std::int64_t frame) {
    return origin + (double(frame) + 0.5) / 48000.0;
}

void expectRefused(CaptureMixer& mixer, const std::vector<float>& samples, Source source, double rate,
                   double hostTime) {
    try {
        mixer.append(samples, source, rate, hostTime);
        ADD_FAILURE() << "append accepted " << samples.size() << " samples at " << rate << " Hz";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::invalidTransport);
    }
}

// Renders everything up to `frames` output frames and returns it in one array.
std::vector<float> renderAll(CaptureMixer& mixer, std::int64_t frames) {
    std::vector<float> all;
    for (;;) {
        auto chunk = mixer.render(upTo(frames), 4800);
        if (chunk.empty()) {
            return all;
        }
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
}

TEST(CaptureMixer, RendersSilenceUpToTheRequestedTimeInChunks) {
    CaptureMixer mixer(144000, origin);
    for (int call = 0; call < 5; ++call) {
        auto chunk = mixer.render(1000.5, 4800);
        ASSERT_EQ(chunk.size(), 4800u);
        for (float s : chunk) {
            ASSERT_EQ(s, 0.0f);
        }
        EXPECT_EQ(mixer.renderedFrames(), 4800 * (call + 1));
    }
    EXPECT_TRUE(mixer.render(1000.5, 4800).empty());
    EXPECT_EQ(mixer.renderedFrames(), 24000);
    // A time before the render position, or a limit of 0, renders nothing.
    EXPECT_TRUE(mixer.render(1000.1, 4800).empty());
    EXPECT_TRUE(mixer.render(1002.0, 0).empty());
    // Never more than the capacity in one call.
    CaptureMixer small(100, origin);
    EXPECT_EQ(small.render(1001.0, 4800).size(), 100u);
    EXPECT_EQ(small.renderedFrames(), 100);
}

TEST(CaptureMixer, PlacesABufferByItsHostTime) {
    CaptureMixer mixer(144000, origin);
    std::vector<float> samples(480);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = float(i) / 480.0f;
    }
    mixer.append(samples, Source::system, 48000, 1000.5);
    auto out = renderAll(mixer, 24480 + 100);
    ASSERT_EQ(out.size(), 24580u);
    for (std::size_t f = 0; f < 24000; ++f) {
        ASSERT_EQ(out[f], 0.0f) << f;
    }
    for (std::size_t i = 0; i < 480; ++i) {
        ASSERT_EQ(out[24000 + i], samples[i] * 0.5f) << i;
    }
    EXPECT_EQ(out[24480], 0.0f);
}

TEST(CaptureMixer, MixIsTheClampedMean) {
    struct Case {
        float microphone, system, expected;
    };
    for (const Case& c : {Case{0.8f, 0.8f, 0.8f}, Case{1.0f, 1.0f, 1.0f}, Case{-1.0f, -0.6f, -0.8f},
                          Case{1.6f, 1.0f, 1.0f}, Case{-3.0f, -1.0f, -1.0f}}) {
        CaptureMixer mixer(4800, origin);
        mixer.append(std::vector<float>(10, c.microphone), Source::microphone, 48000, at(0));
        mixer.append(std::vector<float>(10, c.system), Source::system, 48000, at(0));
        auto out = mixer.render(upTo(10), 4800);
        ASSERT_EQ(out.size(), 10u);
        EXPECT_FLOAT_EQ(out[0], c.expected) << c.microphone << " + " << c.system;
        EXPECT_FLOAT_EQ(out[9], c.expected);
    }
}

TEST(CaptureMixer, ResamplesFrom44100ByLinearInterpolation) {
    CaptureMixer mixer(144000, origin);
    std::vector<float> samples(441);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = float(i) / 441.0f;
    }
    mixer.append(samples, Source::microphone, 44100, at(1000));
    // Only the microphone: what comes out is half the interpolated input.
    auto out = renderAll(mixer, 1000 + 481);
    ASSERT_EQ(out.size(), 1481u);
    EXPECT_EQ(out[999], 0.0f);
    for (std::int64_t i = 0; i < 480; ++i) {
        const double pos = double(i) * 44100.0 / 48000.0;
        const auto k = std::min<std::int64_t>(std::int64_t(pos), 440);
        const auto k1 = std::min<std::int64_t>(k + 1, 440);
        const float w = float(pos - double(k));
        const float expected = (samples[k] + (samples[k1] - samples[k]) * w) * 0.5f;
        ASSERT_EQ(out[std::size_t(1000 + i)], expected) << i;
    }
    EXPECT_EQ(out[1000 + 479], samples[440] * 0.5f); // the last frame repeats the last sample
    EXPECT_EQ(out[1000 + 480], 0.0f);                // 441 samples cover exactly 480 frames
}

TEST(CaptureMixer, LateBuffersAfterRenderingBegan) {
    CaptureMixer mixer(144000, origin);
    ASSERT_EQ(mixer.render(upTo(10000), 48000).size(), 10000u);
    const std::int64_t lateBefore = CaptureLossTally::shared().snapshot().mixerLateFrames;

    // 300 frames late: the first 300 are dropped, the rest land at the render position.
    std::vector<float> samples(1000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.001f * float(i);
    }
    mixer.append(samples, Source::system, 48000, at(10000 - 300));
    auto out = mixer.render(upTo(10700), 4800);
    ASSERT_EQ(out.size(), 700u);
    EXPECT_EQ(out[0], samples[300] * 0.5f);
    EXPECT_EQ(out[699], samples[999] * 0.5f);
    // 300 frames late again, but over what its source had there already: dropped, not lost.
    mixer.append(samples, Source::system, 48000, at(10700 - 300));
    ASSERT_EQ(mixer.render(upTo(11400), 4800).size(), 700u);

    // 481 frames late: refused as a whole.
    expectRefused(mixer, samples, Source::system, 48000, at(11400 - 481));
    // A buffer wholly before the render position but within the allowance is dropped silently.
    mixer.append(std::vector<float>(100, 0.5f), Source::microphone, 48000, at(11400 - 400));
    auto after = mixer.render(upTo(11500), 4800);
    ASSERT_EQ(after.size(), 100u);
    for (float s : after) {
        ASSERT_EQ(s, 0.0f);
    }
    // The drops over a gap are counted as lost audio; the refused buffer is the capture's failure
    // instead.
    EXPECT_EQ(CaptureLossTally::shared().snapshot().mixerLateFrames - lateBefore, 300 + 100);
}

TEST(CaptureMixer, BuffersBeforeTheOriginBeforeRenderingBegan) {
    CaptureMixer mixer(144000, origin);
    // Begins 1000 frames before the origin and covers 1500: its last 500 land at 0..499.
    std::vector<float> samples(1500);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.0005f * float(i);
    }
    const std::int64_t lateBefore = CaptureLossTally::shared().snapshot().mixerLateFrames;
    mixer.append(samples, Source::microphone, 48000, at(-1000));
    // What lies before the first frame rendered is the start's cut, not lost audio.
    EXPECT_EQ(CaptureLossTally::shared().snapshot().mixerLateFrames, lateBefore);
    auto out = mixer.render(upTo(600), 4800);
    ASSERT_EQ(out.size(), 600u);
    EXPECT_EQ(out[0], samples[1000] * 0.5f);
    EXPECT_EQ(out[499], samples[1499] * 0.5f);
    EXPECT_EQ(out[500], 0.0f);

    CaptureMixer fresh(144000, origin);
    expectRefused(fresh, std::vector<float>(1000, 0.5f), Source::microphone, 48000, at(-1000));
    expectRefused(fresh, {}, Source::microphone, 48000, at(-1000));
}

TEST(CaptureMixer, CapacityWindowAhead) {
    CaptureMixer mixer(144000, origin);
    ASSERT_EQ(mixer.render(upTo(1000), 4800).size(), 1000u);
    // Ends exactly `capacity` frames after the render position.
    mixer.append(std::vector<float>(480, 0.5f), Source::system, 48000, at(1000 + 144000 - 480));
    expectRefused(mixer, std::vector<float>(480, 0.5f), Source::system, 48000, at(1000 + 144000 - 479));
    // The accepted one comes out at the far end of the window, although the buffer indices wrap.
    std::vector<float> all = renderAll(mixer, 1000 + 144000);
    ASSERT_EQ(all.size(), 144000u);
    EXPECT_EQ(all[144000 - 481], 0.0f);
    EXPECT_EQ(all[144000 - 480], 0.25f);
    EXPECT_EQ(all.back(), 0.25f);
}

TEST(CaptureMixer, RefusesBadInputAndWritesNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    CaptureMixer mixer(4800, origin);
    mixer.append(std::vector<float>(100, 0.4f), Source::microphone, 48000, at(0));

    std::vector<float> withNaN(100, 0.9f);
    withNaN[50] = nan;
    expectRefused(mixer, withNaN, Source::microphone, 48000, at(0));
    expectRefused(mixer, {0.1f, float(inf)}, Source::system, 48000, at(0));
    expectRefused(mixer, {0.1f}, Source::system, 7999, at(0));
    expectRefused(mixer, {0.1f}, Source::system, 192001, at(0));
    expectRefused(mixer, {0.1f}, Source::system, std::nan(""), at(0));
    expectRefused(mixer, {0.1f}, Source::system, 48000, inf);
    expectRefused(mixer, {0.1f}, Source::system, 48000, 1e300);
    expectRefused(mixer, {0.1f}, Source::system, 48000, origin + 1.0e14);

    auto out = mixer.render(upTo(200), 4800);
    ASSERT_EQ(out.size(), 200u);
    for (std::size_t i = 0; i < 100; ++i) {
        ASSERT_EQ(out[i], 0.2f);
    }
    for (std::size_t i = 100; i < 200; ++i) {
        ASSERT_EQ(out[i], 0.0f);
    }
    // The rate bounds themselves are accepted.
    mixer.append(std::vector<float>{0.1f, 0.2f}, Source::system, 8000, at(300));
    mixer.append(std::vector<float>{0.1f, 0.2f}, Source::system, 192000, at(400));
}

TEST(CaptureMixer, LaterAppendOfTheSameSourceWins) {
    CaptureMixer mixer(4800, origin);
    mixer.append(std::vector<float>(100, 0.2f), Source::system, 48000, at(0));
    mixer.append(std::vector<float>(50, 0.6f), Source::system, 48000, at(25));
    auto out = mixer.render(upTo(100), 4800);
    ASSERT_EQ(out.size(), 100u);
    EXPECT_EQ(out[24], 0.1f);
    EXPECT_EQ(out[25], 0.3f);
    EXPECT_EQ(out[74], 0.3f);
    EXPECT_EQ(out[75], 0.1f);
}

TEST(CaptureMixer, HugeNeighbouringSamplesStayFinite) {
    // Their single-precision difference overflows; the mix must still be a clamped number.
    CaptureMixer mixer(4800, origin);
    mixer.append(std::vector<float>{3.0e38f, -3.0e38f}, Source::microphone, 48000, at(0));
    mixer.append(std::vector<float>{3.0e38f, -3.0e38f, 3.0e38f}, Source::system, 44100, at(10));
    auto out = mixer.render(upTo(20), 4800);
    ASSERT_EQ(out.size(), 20u);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[1], -1.0f);
    for (float s : out) {
        ASSERT_TRUE(std::isfinite(s));
        ASSERT_LE(std::fabs(s), 1.0f);
    }
}

TEST(CaptureMixer, CallerErrorsAreReportedNotUndefined) {
    EXPECT_THROW(CaptureMixer(-1, origin), std::invalid_argument);
    CaptureMixer empty(0, origin);
    EXPECT_THROW(empty.render(1001.0, 10), std::invalid_argument);
    CaptureMixer mixer(100, origin);
    EXPECT_THROW(mixer.render(std::nan(""), 10), std::invalid_argument);
    EXPECT_THROW(mixer.render(1e300, 10), std::invalid_argument);
    EXPECT_THROW(mixer.render(1001.0, -1), std::invalid_argument);
    EXPECT_EQ(mixer.renderedFrames(), 0);
}

} // namespace
} // namespace nuvel
