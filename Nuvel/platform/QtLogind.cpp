#include "Nuvel/platform/QtLogind.hpp"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace nuvel {

namespace {
const QString path = QStringLiteral("/org/freedesktop/login1");
const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int callTimeoutMs = 5000;
constexpr const char* delayReason = "Stopping a running recording before sleep";
} // namespace

// A lock that logind holds for as long as its file descriptor stays open. The descriptor may
// arrive after the lock was already given up: it is then closed on arrival.
class InhibitorLock {
public:
    ~InhibitorLock() { release(); }

    void adopt(int fd) {
        std::lock_guard guard(mutex_);
        if (released_ || fd_ >= 0) {
            ::close(fd);
            return;
        }
        fd_ = fd;
    }
    void release() {
        std::lock_guard guard(mutex_);
        released_ = true;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    std::mutex mutex_;
    int fd_ = -1;
    bool released_ = false;
};

namespace {

// Asks logind for a lock; the descriptor lands in `lock` when the answer comes.
void inhibit(QDBusConnection& bus, const QString& service, QObject* context, const QString& what,
             const std::string& why, const QString& mode, const std::shared_ptr<InhibitorLock>& lock) {
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, manager, QStringLiteral("Inhibit"));
    call << what << QStringLiteral("Nuvel") << QString::fromStdString(why) << mode;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), context);
    std::weak_ptr<InhibitorLock> weak = lock;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [weak](QDBusPendingCallWatcher* done) {
                         QDBusPendingReply<QDBusUnixFileDescriptor> reply = *done;
                         done->deleteLater();
                         if (reply.isError() || !reply.value().isValid())
                             return; // no logind: nothing to hold
                         int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
                         if (fd < 0)
                             return;
                         if (auto target = weak.lock())
                             target->adopt(fd);
                         else
                             ::close(fd);
                     });
}

class LogindActivity final : public KeepAwakeActivity {
public:
    explicit LogindActivity(std::shared_ptr<InhibitorLock> lock) : lock_(std::move(lock)) {}
    ~LogindActivity() override { lock_->release(); }

private:
    std::shared_ptr<InhibitorLock> lock_;
};

} // namespace

// Receives logind's PrepareForSleep signal; QtDBus delivers signals to slots only.
class LogindSleepReceiver : public QObject {
    Q_OBJECT
public:
    explicit LogindSleepReceiver(QtLogindSleepNotices* owner) : owner_(owner) {}
public Q_SLOTS:
    void prepareForSleep(bool starting) { owner_->prepareForSleep(starting); }

private:
    QtLogindSleepNotices* owner_;
};

// ---- Sleep notices ----

QtLogindSleepNotices::QtLogindSleepNotices(QDBusConnection bus, QString service)
    : bus_(std::move(bus)), service_(std::move(service)) {}

QtLogindSleepNotices::~QtLogindSleepNotices() {
    stop();
}

void QtLogindSleepNotices::start(std::function<void(std::function<void()>)> willSleep) {
    stop();
    if (!willSleep || !bus_.isConnected())
        return;
    willSleep_ = std::move(willSleep);
    receiver_ = std::make_unique<LogindSleepReceiver>(this);
    bus_.connect(service_, path, manager, QStringLiteral("PrepareForSleep"), receiver_.get(),
                 SLOT(prepareForSleep(bool)));
    takeDelayLock();
}

void QtLogindSleepNotices::stop() {
    if (receiver_) {
        bus_.disconnect(service_, path, manager, QStringLiteral("PrepareForSleep"), receiver_.get(),
                        SLOT(prepareForSleep(bool)));
        receiver_.reset(); // also drops the watchers of pending lock requests
    }
    if (delayLock_)
        delayLock_->release();
    delayLock_.reset();
    willSleep_ = nullptr;
}

void QtLogindSleepNotices::takeDelayLock() {
    if (delayLock_)
        delayLock_->release();
    delayLock_ = std::make_shared<InhibitorLock>();
    inhibit(bus_, service_, receiver_.get(), QStringLiteral("sleep"), delayReason, QStringLiteral("delay"),
            delayLock_);
}

void QtLogindSleepNotices::prepareForSleep(bool starting) {
    if (!willSleep_)
        return;
    if (!starting) {
        takeDelayLock(); // awake again: be ready for the next sleep
        return;
    }
    std::shared_ptr<InhibitorLock> lock = std::move(delayLock_);
    delayLock_.reset();
    willSleep_([lock] {
        if (lock)
            lock->release();
    });
}

// ---- Keep-awake ----

QtLogindKeepAwake::QtLogindKeepAwake(QDBusConnection bus, QString service)
    : bus_(std::move(bus)), service_(std::move(service)), context_(std::make_unique<QObject>()) {}

QtLogindKeepAwake::~QtLogindKeepAwake() = default;

std::unique_ptr<KeepAwakeActivity> QtLogindKeepAwake::begin(const std::string& reason) {
    auto lock = std::make_shared<InhibitorLock>();
    inhibit(bus_, service_, context_.get(), QStringLiteral("sleep:idle"), reason, QStringLiteral("block"),
            lock);
    return std::make_unique<LogindActivity>(std::move(lock));
}

} // namespace nuvel

#include "QtLogind.moc"
