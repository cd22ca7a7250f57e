#pragma once

#include "NuvelKit/capture/SystemAudioOutput.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// A running stream of one application's audio or of all system audio, delivering to a
// SystemAudioOutput on the stream's own audio thread.
class SystemAudioStream {
public:
    virtual ~SystemAudioStream() = default;
    // Starts delivering; blocks until the stream records. Throws the platform's error.
    virtual void startCapture() = 0;
    // Stops delivering; blocks until no callback runs any more. Never throws; stopping a stream
    // that never started does nothing.
    virtual void stopCapture() = 0;
};

// What the system-audio capture needs of the platform's screen-capture service: whether
// capturing is allowed, what can be captured, a stream for the choice, and the liveness of the
// chosen application. `PulseSystemAudioService` is the real one.
//
// Threads: `preflightAccess`, `identifyProcess` and `isRunning` are quick and called on the main
// actor; `shareableContent` and the streams' start and stop block and are called off it.
class SystemAudioService {
public:
    // One application that has audio to capture.
    struct Application {
        std::int32_t processID = 0;
        std::string name;             // as the service reports it; may be empty
        std::string bundleIdentifier; // as the service reports it; may be empty
        std::uint32_t stream = 0;     // the service's handle of the application's audio output
    };

    struct Content {
        // In the service's order; this program is not excluded here.
        std::vector<Application> applications;
        // The handle of "all system audio"; absent when there is nothing to capture it from.
        std::optional<std::string> systemOutput;
    };

    // Which audio a stream carries: one application's output, or all system audio. An
    // application is named by its listed stream and its process; a service that records
    // processes records all of that process's output.
    struct Filter {
        std::optional<std::uint32_t> applicationStream;
        std::optional<std::int32_t> applicationProcess;
        std::optional<std::string> systemOutput;
    };

    // A process as seen when the capture started, so that a later process reusing its id is
    // not taken for it.
    struct ProcessIdentity {
        std::int32_t processID = 0;
        std::uint64_t startTime = 0;
        bool operator==(const ProcessIdentity&) const = default;
    };

    virtual ~SystemAudioService() = default;

    // Whether screen and system audio recording is allowed, asked without prompting.
    virtual bool preflightAccess() = 0;
    // Throws the platform's error when the content cannot be read.
    virtual Content shareableContent() = 0;
    // A stream (not yet started) of the filter's audio into `output`. Throws the platform's
    // error when the stream cannot be made.
    virtual std::unique_ptr<SystemAudioStream> makeStream(const Filter& filter,
                                                          std::shared_ptr<SystemAudioOutput> output) = 0;
    // The running process with this id, or none.
    virtual std::optional<ProcessIdentity> identifyProcess(std::int32_t processID) = 0;
    // The process is still the one identified, and has not terminated.
    virtual bool isRunning(const ProcessIdentity& process) = 0;
};

} // namespace nuvel
