#include "Nuvel/platform/MicrophoneDevices.hpp"

#include "Nuvel/platform/PulseIntrospection.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>

namespace nuvel::MicrophoneDevices {

DeviceError::DeviceError(Case kind, std::int32_t status, std::string description)
    : Error(description), kind_(kind), status_(status), description_(std::move(description)) {}

DeviceError DeviceError::configuration(std::int32_t status) {
    return DeviceError(Case::configuration, status,
                       "The selected microphone could not be configured (" + std::to_string(status) + ").");
}

DeviceError DeviceError::unavailable() {
    return DeviceError(Case::unavailable, 0,
                       "The selected microphone is unavailable. Choose another microphone.");
}

std::vector<Device> inputDevices(PulseConnection& connection) {
    std::vector<PulseSourceInfo> sources;
    try {
        sources = listSources(connection);
    } catch (const PulseError& error) {
        throw DeviceError::configuration(error.code());
    }
    std::vector<Device> devices;
    for (const auto& source : sources)
        if (!source.isMonitor)
            devices.push_back(Device{source.index, source.description, source.name});
    std::stable_sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return unicode::localizedStandardCompare(a.name, b.name) < 0;
    });
    return devices;
}

std::optional<Device> device(PulseConnection& connection, std::string_view uid) {
    for (auto& candidate : inputDevices(connection))
        if (candidate.uid == uid)
            return candidate;
    return std::nullopt;
}

std::optional<std::string> apply(PulseConnection& connection, std::optional<std::uint32_t> id) {
    if (!id)
        return std::nullopt;
    for (auto& candidate : inputDevices(connection))
        if (candidate.id == *id)
            return candidate.uid;
    throw DeviceError::unavailable();
}

} // namespace nuvel::MicrophoneDevices
