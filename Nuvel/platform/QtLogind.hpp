#pragma once

#include "Nuvel/model/SystemServices.hpp"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace nuvel {

class InhibitorLock;
class LogindSleepReceiver;

// logind, the system's login manager, over D-Bus: the notice before sleep and keep-awake locks.
// Without the bus or without logind both do nothing. Made and used on the GUI thread of a
// running QCoreApplication; calls to logind never block it.

// The notice before sleep. While started it holds a delay lock, so the system waits (at most
// logind's InhibitDelayMaxSec) until `ready` is called; after waking it takes a new one.
class QtLogindSleepNotices final : public SleepNotices {
public:
    // `service` is logind's bus name; tests give a stand-in's.
    explicit QtLogindSleepNotices(QDBusConnection bus = QDBusConnection::systemBus(),
                                  QString service = QStringLiteral("org.freedesktop.login1"));
    ~QtLogindSleepNotices() override;

    void start(std::function<void(std::function<void()> ready)> willSleep) override;
    void stop() override;

    // Whether the bus answers (logind itself may still be missing).
    bool isAvailable() const { return bus_.isConnected(); }

private:
    friend class LogindSleepReceiver;
    void prepareForSleep(bool starting);
    void takeDelayLock();

    QDBusConnection bus_;
    QString service_;
    std::unique_ptr<LogindSleepReceiver> receiver_;
    std::function<void(std::function<void()>)> willSleep_;
    std::shared_ptr<InhibitorLock> delayLock_;
};

// Keeps the system from sleeping, on its own and when idle, while an activity lives.
class QtLogindKeepAwake final : public KeepAwake {
public:
    explicit QtLogindKeepAwake(QDBusConnection bus = QDBusConnection::systemBus(),
                               QString service = QStringLiteral("org.freedesktop.login1"));
    ~QtLogindKeepAwake() override;

    std::unique_ptr<KeepAwakeActivity> begin(const std::string& reason) override;
    bool isAvailable() const { return bus_.isConnected(); }

private:
    QDBusConnection bus_;
    QString service_;
    std::unique_ptr<QObject> context_; // the pending calls' watchers
};

} // namespace nuvel
