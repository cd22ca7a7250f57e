#pragma once

#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/SystemAudioService.hpp"

#include <memory>
#include <optional>
#include <string>

namespace nuvel {

// Application and system audio over the sound server.
//
// - The capturable applications are the sink-inputs (playback streams) of other processes that
//   name their process: one entry per process, in the server's order, with the process id from
//   application.process.id, the name from application.name and the bundle-style id from
//   application.id or else application.process.binary. An application without an open
//   playback stream has nothing to capture and is not listed.
// - "All system audio" is the monitor of the default sink (or of `Options::systemOutputSink`).
// - An application's stream records every playback stream of its process, also those it opens
//   later, summed onto one timeline (PulseApplicationAudio); it is chosen by the filter's
//   process. All system audio is the monitor, recorded as one stream. Both deliver mono 32-bit
//   float at 48000 Hz; a hole in the data, a suspension and the end of the server are reported
//   to the output as a stop.
// - There is no permission to ask for: the preflight answers "allowed".
class PulseSystemAudioService final : public SystemAudioService {
public:
    struct Options {
        // The sink whose monitor is "all system audio"; absent = the server's default sink.
        std::optional<std::string> systemOutputSink;
    };

    PulseSystemAudioService(std::shared_ptr<PulseConnection> connection, Options options);
    explicit PulseSystemAudioService(std::shared_ptr<PulseConnection> connection)
        : PulseSystemAudioService(std::move(connection), Options{}) {}

    bool preflightAccess() override { return true; }
    Content shareableContent() override;
    std::unique_ptr<SystemAudioStream> makeStream(const Filter& filter,
                                                  std::shared_ptr<SystemAudioOutput> output) override;
    std::optional<ProcessIdentity> identifyProcess(std::int32_t processID) override;
    bool isRunning(const ProcessIdentity& process) override;

private:
    std::shared_ptr<PulseConnection> connection_;
    Options options_;
};

} // namespace nuvel
