#pragma once

#include "Nuvel/platform/PulseConnection.hpp"
#include "NuvelKit/capture/SourceCheck.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstdint>
#include <memory>
#include <optional>

namespace nuvel {

// The three-second check of the microphone alone, on the sound server.
//
// Connects (a connection of its own, like a fresh audio engine), resolves the chosen device
// with MicrophoneDevices::apply (none = the default source) and opens a record stream that
// pushes its pieces into a 64 x 8192 ring from the server's thread; these blocking steps run
// on `executor`. The stream must report a sample rate above 0 and at least one channel, else
// RecordingError(invalidTransport). Then SourceCheck::microphonePasses runs on the calling
// task's main queue against the host clock. A stream that ends (its source went away) counts
// as lost audio, so the next pass fails instead of waiting out the watchdog.
//
// Throws what ends the check: PulseError from connecting or opening, DeviceError, the passes'
// RecordingError, Cancelled. On every exit the stream is closed and the connection released
// before the task ends. `executor` must outlive the task.
Task<void> microphoneSourceCheck(Executor* executor, PulseConnection::Options server,
                                 std::optional<std::uint32_t> microphoneDeviceID,
                                 std::weak_ptr<SourceCheckMeters> meters);

} // namespace nuvel
