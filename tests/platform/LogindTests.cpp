// The logind layer against a stand-in logind on the private session bus of scripts/test-env:
// the real D-Bus round trip, the lock descriptors and the PrepareForSleep signal.
#include "Nuvel/platform/QtLogind.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace nuvel;

namespace {

const QString loginPath = QStringLiteral("/org/freedesktop/login1");
const QString loginManager = QStringLiteral("org.freedesktop.login1.Manager");

// Answers Inhibit with the write end of a pipe and keeps the read end: once every copy of
// the write end is closed, the read end reports a hang-up, which is how logind sees a lock go.
class StandInLogind final : public QDBusVirtualObject {
public:
    struct Lock {
        std::string what, who, why, mode;
        int readEnd = -1;
        bool held() const {
            pollfd p{readEnd, POLLIN, 0};
            return ::poll(&p, 1, 0) == 0;
        }
    };

    ~StandInLogind() override {
        for (auto& lock : locks)
            ::close(lock.readEnd);
    }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.login1.Manager\">"
            "<method name=\"Inhibit\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"h\" direction=\"out\"/></method>"
            "<signal name=\"PrepareForSleep\"><arg type=\"b\"/></signal></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != loginManager || message.member() != QStringLiteral("Inhibit"))
            return false;
        const QList<QVariant> args = message.arguments();
        if (args.size() != 4)
            return false;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        QDBusMessage reply = message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1])));
        ::close(fds[1]); // the descriptor object holds its own copy
        connection.send(reply);
        locks.push_back({args[0].toString().toStdString(), args[1].toString().toStdString(),
                         args[2].toString().toStdString(), args[3].toString().toStdString(), fds[0]});
        return true;
    }

    std::vector<Lock> locks;
};

bool waitFor(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Lets the bus traffic in flight arrive (a local round trip takes a few milliseconds).
void settle() {
    QDeadlineTimer deadline(200);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class LogindTest : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
            if (std::getenv("NUVEL_TEST_KEYRING"))
                FAIL() << "scripts/test-env gives a session bus";
            GTEST_SKIP() << "no session bus";
        }
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.registerVirtualObject(loginPath, &logind, QDBusConnection::SingleNode));
        ASSERT_TRUE(bus.registerService(serviceName));
    }
    void TearDown() override {
        bus.unregisterService(serviceName);
        bus.unregisterObject(loginPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in-logind"));
    }

    void prepareForSleep(bool starting) {
        QDBusMessage signal =
            QDBusMessage::createSignal(loginPath, loginManager, QStringLiteral("PrepareForSleep"));
        signal << starting;
        ASSERT_TRUE(bus.send(signal));
    }

    int argc = 1;
    char name[6] = "tests";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    StandInLogind logind;
    // Test programs run side by side on one session bus: each stand-in has a name of its own.
    QString serviceName = QStringLiteral("org.nuvel.test.login1.p%1").arg(QCoreApplication::applicationPid());
    QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stand-in-logind"));
};

} // namespace

TEST_F(LogindTest, AnActivityHoldsABlockLockUntilItEnds) {
    QtLogindKeepAwake keepAwake(QDBusConnection::sessionBus(), serviceName);
    ASSERT_TRUE(keepAwake.isAvailable());
    auto activity = keepAwake.begin("Saving a user-started Nuvel recording");
    ASSERT_TRUE(waitFor([&] { return logind.locks.size() == 1; }));
    const auto& lock = logind.locks[0];
    EXPECT_EQ(lock.what, "sleep:idle");
    EXPECT_EQ(lock.who, "Nuvel");
    EXPECT_EQ(lock.why, "Saving a user-started Nuvel recording");
    EXPECT_EQ(lock.mode, "block");
    // The answer has come back: the activity's own descriptor keeps the lock.
    settle();
    EXPECT_TRUE(logind.locks[0].held());

    activity.reset();
    EXPECT_TRUE(waitFor([&] { return !logind.locks[0].held(); }));
}

TEST_F(LogindTest, AnActivityEndedBeforeTheAnswerCameLetsTheLockGoOnArrival) {
    QtLogindKeepAwake keepAwake(QDBusConnection::sessionBus(), serviceName);
    keepAwake.begin("Saving a user-started Nuvel recording").reset();
    ASSERT_TRUE(waitFor([&] { return logind.locks.size() == 1; }));
    EXPECT_TRUE(waitFor([&] { return !logind.locks[0].held(); }));
}

TEST_F(LogindTest, SleepWaitsForTheCaptureAndAWakingTakesANewDelayLock) {
    QtLogindSleepNotices notices(QDBusConnection::sessionBus(), serviceName);
    std::vector<std::function<void()>> readies;
    notices.start([&](std::function<void()> ready) { readies.push_back(std::move(ready)); });
    ASSERT_TRUE(waitFor([&] { return logind.locks.size() == 1; }));
    EXPECT_EQ(logind.locks[0].what, "sleep");
    EXPECT_EQ(logind.locks[0].mode, "delay");
    settle();
    ASSERT_TRUE(logind.locks[0].held());

    prepareForSleep(true);
    ASSERT_TRUE(waitFor([&] { return readies.size() == 1; }));
    EXPECT_TRUE(logind.locks[0].held()) << "sleep waits until the capture is interrupted";
    readies[0]();
    readies[0](); // a second call does nothing
    EXPECT_TRUE(waitFor([&] { return !logind.locks[0].held(); }));

    prepareForSleep(false);
    ASSERT_TRUE(waitFor([&] { return logind.locks.size() == 2; }));
    EXPECT_EQ(logind.locks[1].mode, "delay");
    settle();
    EXPECT_TRUE(logind.locks[1].held());

    // Stopped: the lock goes and later signals are not told.
    notices.stop();
    EXPECT_TRUE(waitFor([&] { return !logind.locks[1].held(); }));
    prepareForSleep(true);
    settle();
    EXPECT_EQ(readies.size(), 1u);
}
