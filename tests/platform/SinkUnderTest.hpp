#pragma once

#include "Nuvel/platform/PulseIntrospection.hpp"
#include "tests/platform/PulseTestSupport.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel::test {

// A private sink for one test, its monitor recorded as mono 48000 Hz.
//
// A null sink with no one asking for low latency renders two seconds ahead, and a stream that
// joins it waits that long before its audio is taken. The recording asks for short fragments;
// suspending and resuming the sink then restarts its clock at that latency.
struct SinkUnderTest {
    std::string name;
    std::unique_ptr<LoadedModule> module;
    Recording recording;
    std::unique_ptr<PulseRecordStream> monitor;

    SinkUnderTest(const std::shared_ptr<PulseConnection>& connection, const std::string& stem)
        : name(uniqueName(stem)), module(privateSink(name)) {
        if (!module->loaded())
            return;
        PulseRecordStream::Options options;
        options.source = name + ".monitor";
        options.sampleRate = 48000;
        options.channels = 1;
        monitor = std::make_unique<PulseRecordStream>(connection, options, recording.consumer(),
                                                      recording.problems());
        runProgram({"pactl", "suspend-sink", name, "1"});
        runProgram({"pactl", "suspend-sink", name, "0"});
    }
    bool ready() const { return monitor != nullptr; }

    // The recorded samples that carry sound (in 10 ms windows), joined: all the sink played up
    // to this call. The monitor's latency (up to about 0.15 s on PipeWire under load) keeps the
    // last of it on the way for a moment: it is waited for, not cut.
    std::vector<float> audible() {
        const double now = hostTimeSeconds();
        waitFor(
            [&] {
                const std::vector<Piece> pieces = recording.pieces();
                return !pieces.empty() && pieces.back().hostTime + double(pieces.back().samples.size()) /
                                                                       pieces.back().sampleRate >=
                                              now;
            },
            30.0);
        monitor->close();
        return sounding(joined(recording.pieces()));
    }
    std::optional<std::uint32_t> playerSinkInput(PulseConnection& connection) {
        auto sink = sinkInfo(connection, name);
        if (!sink)
            return std::nullopt;
        for (const auto& input : listSinkInputs(connection))
            if (input.sink == sink->index)
                return input.index;
        return std::nullopt;
    }
};

} // namespace nuvel::test
