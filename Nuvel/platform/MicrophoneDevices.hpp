#pragma once

#include "Nuvel/platform/PulseConnection.hpp"
#include "NuvelKit/support/Error.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The microphones the user can choose from: the sound server's sources that are not the
// monitor of a sink.
namespace MicrophoneDevices {

struct Device {
    std::uint32_t id = 0; // the source's index, valid while the source exists
    std::string name;     // the source's description
    std::string uid;      // the source's name, stable across restarts: find it again by this

    bool operator==(const Device&) const = default;
};

class DeviceError : public Error {
public:
    enum class Case { configuration, unavailable };

    // `status` is the sound server's error code.
    static DeviceError configuration(std::int32_t status);
    static DeviceError unavailable();

    Case kind() const { return kind_; }
    std::int32_t status() const { return status_; }
    // The text shown to the user.
    const std::string& description() const { return description_; }

private:
    DeviceError(Case kind, std::int32_t status, std::string description);
    Case kind_;
    std::int32_t status_;
    std::string description_;
};

// The input devices, sorted by name (numbers by value). Throws `DeviceError::configuration`.
std::vector<Device> inputDevices(PulseConnection& connection);

// The first input device whose uid is exactly `uid`, or none.
std::optional<Device> device(PulseConnection& connection, std::string_view uid);

// Resolves the chosen device to the source name a record stream opens. No id keeps the
// default source (none is returned). An id that is no longer an input device throws
// `DeviceError::unavailable`.
std::optional<std::string> apply(PulseConnection& connection, std::optional<std::uint32_t> id);

} // namespace MicrophoneDevices

} // namespace nuvel
