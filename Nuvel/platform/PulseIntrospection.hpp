#pragma once

#include "Nuvel/platform/PulseConnection.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// What the server reports about the sound devices and the streams of the applications. Every
// call blocks its caller (never the mainloop thread) for at most the connection's time limit
// and throws `PulseError`.

struct PulseSampleSpec {
    std::string format; // as the server names it: "float32le", "s16le", ...
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
};

struct PulseSourceInfo {
    std::uint32_t index = UINT32_MAX;
    std::string name;        // stable across restarts: what a record stream opens
    std::string description; // for people
    bool isMonitor = false;  // the monitor of a sink (what that sink plays), not a microphone
    PulseSampleSpec sampleSpec;
};

struct PulseSinkInfo {
    std::uint32_t index = UINT32_MAX;
    std::string name;
    std::string description;
    std::string monitorSourceName;
    PulseSampleSpec sampleSpec;
};

struct PulseServerInfo {
    std::string defaultSourceName;
    std::string defaultSinkName;
};

// One application's playback stream.
struct PulseSinkInputInfo {
    std::uint32_t index = UINT32_MAX;
    std::uint32_t sink = UINT32_MAX;
    std::optional<std::int32_t> processID;    // application.process.id
    std::string applicationName;              // application.name
    std::string processBinary;                // application.process.binary
    std::optional<std::string> applicationID; // application.id, when the application sets one
    bool corked = false;                      // the application has paused its sound
    PulseSampleSpec sampleSpec;
};

std::vector<PulseSourceInfo> listSources(PulseConnection& connection);
// By name; "@DEFAULT_SOURCE@" names the default source. Absent when there is no such source.
std::optional<PulseSourceInfo> sourceInfo(PulseConnection& connection, const std::string& name);

std::optional<PulseSinkInfo> sinkInfo(PulseConnection& connection, std::uint32_t index);
std::optional<PulseSinkInfo> sinkInfo(PulseConnection& connection, const std::string& name);

PulseServerInfo serverInfo(PulseConnection& connection);
// The monitor source of the default sink ("all system audio"); absent when there is no sink.
std::optional<std::string> defaultSinkMonitorSourceName(PulseConnection& connection);

std::vector<PulseSinkInputInfo> listSinkInputs(PulseConnection& connection);
// The sink-inputs whose application.process.id is not this process's own.
std::vector<PulseSinkInputInfo> sinkInputsOfOtherProcesses(PulseConnection& connection);
std::optional<PulseSinkInputInfo> sinkInputInfo(PulseConnection& connection, std::uint32_t index);

} // namespace nuvel
