#include "Nuvel/platform/PulseDeviceRemovals.hpp"

namespace nuvel {

PulseDeviceRemovals::PulseDeviceRemovals(std::shared_ptr<PulseConnection> connection)
    : connection_(std::move(connection)) {}

PulseDeviceRemovals::~PulseDeviceRemovals() {
    stop();
}

void PulseDeviceRemovals::start(std::function<void()> removed) {
    stop();
    if (!connection_ || !removed)
        return;
    handler_ = connection_->addEventHandler([removed = std::move(removed)](const PulseEvent& event) {
        if (isInputDeviceRemoval(event))
            removed();
    });
}

bool PulseDeviceRemovals::isInputDeviceRemoval(const PulseEvent& event) {
    return event.kind == PulseEvent::Kind::sourceRemoved && !event.isMonitor;
}

void PulseDeviceRemovals::stop() {
    if (handler_ && connection_)
        connection_->removeEventHandler(*handler_);
    handler_.reset();
}

} // namespace nuvel
