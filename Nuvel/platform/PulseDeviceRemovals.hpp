#pragma once

#include "Nuvel/model/SystemServices.hpp"
#include "Nuvel/platform/PulseConnection.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace nuvel {

// Tells when an audio input device goes away: the sound server removed a source that is not
// the monitor of a sink. Without a connection it tells nothing.
class PulseDeviceRemovals final : public DeviceRemovalNotices {
public:
    explicit PulseDeviceRemovals(std::shared_ptr<PulseConnection> connection);
    ~PulseDeviceRemovals() override;
    PulseDeviceRemovals(const PulseDeviceRemovals&) = delete;
    PulseDeviceRemovals& operator=(const PulseDeviceRemovals&) = delete;

    // `removed` runs on the sound server's thread. Call start and stop off that thread.
    void start(std::function<void()> removed) override;
    void stop() override;

    // The events that count: a removed source that is not a sink's monitor.
    static bool isInputDeviceRemoval(const PulseEvent& event);

private:
    std::shared_ptr<PulseConnection> connection_;
    std::optional<PulseConnection::HandlerID> handler_;
};

} // namespace nuvel
