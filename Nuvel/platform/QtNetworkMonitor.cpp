#include "Nuvel/platform/QtNetworkMonitor.hpp"

#include <QNetworkInformation>

namespace nuvel {

namespace {
bool usable(QNetworkInformation::Reachability reachability) {
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

QNetworkInformation* backend() {
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadDefaultBackend();
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info || !info->supports(QNetworkInformation::Feature::Reachability))
        return nullptr;
    return info;
}
} // namespace

QtNetworkMonitor::QtNetworkMonitor() = default;

QtNetworkMonitor::~QtNetworkMonitor() {
    stop();
}

bool QtNetworkMonitor::hasBackend() const {
    return backend() != nullptr;
}

void QtNetworkMonitor::start(std::function<void(bool)> pathChanged) {
    stop();
    if (!pathChanged)
        return;
    context_ = std::make_unique<QObject>();
    QNetworkInformation* info = backend();
    if (!info) {
        pathChanged(true);
        return;
    }
    QObject::connect(
        info, &QNetworkInformation::reachabilityChanged, context_.get(),
        [pathChanged](QNetworkInformation::Reachability reachability) { pathChanged(usable(reachability)); });
    pathChanged(usable(info->reachability()));
}

void QtNetworkMonitor::stop() {
    context_.reset();
}

} // namespace nuvel
