#include "tests/ui/StatusNotifierWatcher.hpp"

#include <QDBusConnectionInterface>

namespace nuvel::test {

namespace {
const QString serviceName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString objectPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

StatusNotifierWatcher::StatusNotifierWatcher() : bus_(QDBusConnection::sessionBus()) {
    owned_ = bus_.isConnected() &&
             bus_.registerObject(objectPath, this,
                                 QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                     QDBusConnection::ExportAllProperties) &&
             bus_.registerService(serviceName);
}

StatusNotifierWatcher::~StatusNotifierWatcher() {
    if (owned_)
        bus_.unregisterService(serviceName);
    bus_.unregisterObject(objectPath);
}

std::optional<QString> StatusNotifierWatcher::itemOf(qint64 pid) const {
    for (const QString& item : items_)
        if (bus_.interface()->servicePid(item).value() == pid)
            return item;
    return std::nullopt;
}

bool StatusNotifierWatcher::activate(const QString& item, int x, int y) const {
    QDBusMessage click = QDBusMessage::createMethodCall(item, QStringLiteral("/StatusNotifierItem"),
                                                        QStringLiteral("org.kde.StatusNotifierItem"),
                                                        QStringLiteral("Activate"));
    click << x << y;
    return bus_.send(click);
}

void StatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
    const QString item = service.startsWith(QLatin1Char('/')) ? message.service() : service;
    if (!items_.contains(item))
        items_.push_back(item);
    emit StatusNotifierItemRegistered(item);
}

void StatusNotifierWatcher::RegisterStatusNotifierHost(const QString&) {
    emit StatusNotifierHostRegistered();
}

} // namespace nuvel::test
