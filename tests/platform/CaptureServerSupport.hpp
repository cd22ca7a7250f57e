#pragma once

// The fixtures of the capture tests against the private sound server: a recording store to
// capture into, tone measurements, health watching and sources kept warm.
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/capture/CaptureSource.hpp"
#include "NuvelKit/capture/StoreLiveAudioSink.hpp"
#include "NuvelKit/store/RecordingStore.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <utility>

namespace nuvel::test {

// A workspace store in a temporary folder with one recording to capture into.
struct StoreFixture {
    TempDir folder{"capture-store"};
    std::shared_ptr<RecordingStore> store =
        std::make_shared<RecordingStore>(folder.path() / "root", SymmetricKey::random());
    Uuid id = Uuid::random();
    std::shared_ptr<StoreLiveAudioSink> sink = std::make_shared<StoreLiveAudioSink>(store);

    StoreFixture() {
        store->saveManifest(LocalRecording::make("account", std::nullopt, "Capture", false, Date::now(), id));
    }

    // Every segment must be sealed (its asset there, no clear live file left); their audio,
    // decrypted, in order.
    std::vector<float> sealedAudio(const LocalRecording& recording, double expectedRate) {
        const auto folderPath = store->recordingDirectory(recording.id);
        for (const auto& entry : std::filesystem::directory_iterator(folderPath))
            EXPECT_NE(entry.path().filename().string().rfind("live-", 0), 0u) << entry.path();
        std::vector<float> all;
        for (const auto& segment : recording.segments) {
            EXPECT_EQ(segment.captureFileKind, "live");
            EXPECT_TRUE(std::filesystem::exists(folderPath / (segment.id.uppercase() + ".nuvel")));
            auto clear = store->openClearCopy(recording.id, segment.id, "caf");
            CafReader reader = CafReader::open(clear);
            EXPECT_EQ(reader.format().sampleRate, expectedRate);
            EXPECT_EQ(reader.format().channels, 1);
            std::vector<float> samples(std::size_t(reader.format().frames));
            samples.resize(reader.read(samples));
            EXPECT_NEAR(double(samples.size()) / expectedRate, segment.duration, 1e-9);
            all.insert(all.end(), samples.begin(), samples.end());
            store->removeWorkingFiles(clear);
        }
        return all;
    }
};

// Of several measurements of one steady sound: on PulseAudio their upper quartile, on PipeWire
// the best of them. The phase of a source may step by a fraction of a millisecond where its
// stream re-anchored or a stretch began, and under load the test microphone's own feed may
// stutter; either spoils one long measurement but only a few windows. Under load, too, a starved
// player underruns, and a stream whose audio comes later than the mix waits for leaves a gap.
// PipeWire's server, on a machine whose every core is busy, holds one stream's audio back for
// up to 0.7 s at a time while its others flow: that audio is cut, so there the tone must be
// heard at its level in one window.
inline double steadyLevel(std::vector<double> measured) {
    if (measured.empty())
        return 0;
    const std::size_t rank = onPipeWire() ? measured.size() - 1 : measured.size() * 3 / 4;
    std::nth_element(measured.begin(), measured.begin() + std::ptrdiff_t(rank), measured.end());
    return measured[rank];
}

// A tone's amplitude over half-second windows, as a steady level of them.
inline double windowedAmplitude(const std::vector<float>& samples, double frequency, double rate) {
    const auto window = std::size_t(rate / 2);
    std::vector<double> amplitudes;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        std::vector<float> part(samples.begin() + std::ptrdiff_t(at),
                                samples.begin() + std::ptrdiff_t(at + window));
        amplitudes.push_back(toneAmplitude(part, frequency, rate));
    }
    return steadyLevel(std::move(amplitudes));
}

inline void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Watches a running source for `seconds`, failing on any unhealthy poll.
inline void expectHealthyFor(const CaptureSource& capture, double seconds) {
    const double end = hostTimeSeconds() + seconds;
    while (hostTimeSeconds() < end) {
        ASSERT_TRUE(capture.isHealthy());
        sleepSeconds(0.1);
    }
}

// Few intervals: a steady source stays one interval per span, with an occasional new one
// after a hole or a re-anchored stream. PipeWire's server, under load, stalls every stream for
// a moment when a stream comes or goes; what then arrives too late is cut, leaving more gaps.
inline void expectFewIntervals(const CaptureTimeline& timeline) {
    const int most = onPipeWire() ? 8 : 3;
    for (std::size_t span = 0; span < timeline.spans.size(); ++span)
        for (const char* source : {"system", "microphone"}) {
            int count = 0;
            for (const auto& interval : timeline.intervals)
                count += interval.span == std::int64_t(span) && interval.source == source;
            EXPECT_GE(count, 1) << source << " in span " << span;
            EXPECT_LE(count, most) << source << " in span " << span;
        }
}

// The test server's null sinks (the microphone's feed among them) render in blocks of up to two
// seconds until a client asks for less, so a fresh sink delivers its first audio that late. A
// stream of the test's own, open for the whole test, keeps a source quick to deliver.
class WarmSource {
public:
    explicit WarmSource(const std::string& source) {
        std::string why;
        connection_ = tryConnect(why);
        if (!connection_)
            return;
        PulseRecordStream::Options options;
        options.source = source;
        stream_ = std::make_unique<PulseRecordStream>(connection_, options, recording_.consumer(),
                                                      recording_.problems());
        // PipeWire's server holds back a fresh record stream's first audio, seconds under load.
        warm_ = recording_.waitForSeconds(0.05, 30.0);
    }
    bool warm() const { return warm_; }

private:
    // Its own connection, as another program recording the source would have: on a busy machine
    // PipeWire's server holds back one stream of a connection that carries many for seconds, so
    // the streams under test keep the connection to themselves.
    std::shared_ptr<PulseConnection> connection_;
    Recording recording_;
    std::unique_ptr<PulseRecordStream> stream_;
    bool warm_ = false;
};

// One application playing a 30 s, 1000 Hz tone into a private sink, with that sink's monitor and
// the test microphone both delivering before the test begins.
struct MeetingOnPrivateSink {
    explicit MeetingOnPrivateSink(const std::string& stem)
        : sinkName(uniqueName(stem)), sink(privateSink(sinkName)),
          meeting({"paplay", "-d", sinkName, toneFile(tones)}), output(sinkName + ".monitor"),
          microphone("testmic") {}

    bool ready(PulseConnection& connection) const {
        return sink->loaded() && sinkInputOf(connection, meeting.pid()) && output.warm() && microphone.warm();
    }

    static std::string toneFile(const TempDir& folder) {
        writeToneWav(folder / "meeting.wav", 1000, 30, 0.5);
        return (folder / "meeting.wav").string();
    }

    std::string sinkName;
    std::unique_ptr<LoadedModule> sink;
    TempDir tones{"capture-tones"};
    ChildProcess meeting;
    WarmSource output;
    WarmSource microphone;
};

} // namespace nuvel::test
