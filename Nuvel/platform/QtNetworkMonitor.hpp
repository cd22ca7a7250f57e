#pragma once

#include "Nuvel/model/SystemServices.hpp"

#include <QObject>
#include <functional>
#include <memory>

namespace nuvel {

// Network reachability from Qt's network information backend (NetworkManager on Linux). Only
// "disconnected" counts as unusable: an unknown, local or site-only network is tried. Without
// a backend (no NetworkManager, no system bus) the network counts as usable.
//
// Made, started and stopped on the GUI thread of a running QCoreApplication.
class QtNetworkMonitor final : public NetworkMonitor {
public:
    QtNetworkMonitor();
    ~QtNetworkMonitor() override;

    // Reports the present state at once, then every change.
    void start(std::function<void(bool satisfied)> pathChanged) override;
    void stop() override;

    // Whether a backend reports reachability.
    bool hasBackend() const;

private:
    std::unique_ptr<QObject> context_; // owns the connection to the backend's signal
};

} // namespace nuvel
