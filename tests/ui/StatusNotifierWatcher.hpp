#pragma once

// The tray host's side of the desktop's status-notifier protocol, for a test session that has no
// panel: it owns org.kde.StatusNotifierWatcher on the session bus and says a host is there, so
// that a program started afterwards offers its tray icon over D-Bus (Qt decides once, when it
// first looks), and it keeps the items that register. A test clicks an item as a panel would.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <optional>

namespace nuvel::test {

class StatusNotifierWatcher final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    // Takes the watcher's name and path on the session bus; `owned()` says whether it could.
    StatusNotifierWatcher();
    ~StatusNotifierWatcher() override;
    StatusNotifierWatcher(const StatusNotifierWatcher&) = delete;
    StatusNotifierWatcher& operator=(const StatusNotifierWatcher&) = delete;

    bool owned() const { return owned_; }
    QStringList registeredItems() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    // The bus name of the item that the process `pid` registered, once it has. Other programs
    // of the session may register theirs while this watcher is up.
    std::optional<QString> itemOf(qint64 pid) const;
    // A primary click on the item at `x`, `y` on the screen, as a panel sends it; it does not
    // wait for the program's answer.
    bool activate(const QString& item, int x, int y) const;

public Q_SLOTS:
    // An item's bus name, or its object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message);
    void RegisterStatusNotifierHost(const QString& service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QDBusConnection bus_;
    QStringList items_;
    bool owned_ = false;
};

} // namespace nuvel::test
