// One Nuvel per user, with real processes: a second launch hands its nuvel:// address, or a
// request to show the window again, to the running one and exits; a socket left behind by a
// killed Nuvel does not keep a new one from starting.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

using namespace nuvel::test;

namespace {

QString probeProgram() {
    return QString::fromStdString((std::filesystem::path(NUVEL_BINARY_DIR) / "tests" / "single-instance-probe").string());
}

// Runs a second launch of the built program to its end; its exit status.
int secondLaunch(const PrivateHome& home, const QString& program, const QStringList& arguments) {
    QProcess second;
    second.setProcessEnvironment(home.environment());
    second.start(program, arguments);
    if (!second.waitForFinished(15000)) {
        second.kill();
        second.waitForFinished();
        return -1;
    }
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
}

TEST(SingleInstance, ASecondLaunchHandsItsAddressOrAReopenToTheRunningOneAndExits) {
    application();
    PrivateHome home;
    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(probeProgram(), {});
    QByteArray seen;
    ASSERT_TRUE(waitForLine(first, seen, "primary\n")) << seen.toStdString();

    const std::string code(64, 'a');
    const QString address = QString::fromStdString("nuvel://auth?code=" + code);
    const QString program = QString::fromStdString(builtNuvel().string());
    EXPECT_EQ(secondLaunch(home, program, {address}), 0);
    EXPECT_TRUE(waitForLine(first, seen, "message: open " + address.toUtf8() + "\n")) << seen.toStdString();
    EXPECT_EQ(secondLaunch(home, program, {}), 0);
    EXPECT_TRUE(waitForLine(first, seen, "message: reopen\n")) << seen.toStdString();

    // The socket is this user's alone.
    struct stat info {};
    ASSERT_EQ(stat((home.path("run") / "nuvel-instance").c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);

    first.closeWriteChannel();
    EXPECT_TRUE(first.waitForFinished(5000));
}

TEST(SingleInstance, ASocketLeftByAKilledNuvelDoesNotBlockANewStart) {
    application();
    PrivateHome home;
    InstalledNuvel nuvel("http://127.0.0.1:9"); // nothing answers there: the app starts offline
    const auto socket = home.path("run") / "nuvel-instance";

    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(nuvel.program(), {});
    QElapsedTimer timer;
    timer.start();
    while (!std::filesystem::exists(socket) && timer.elapsed() < 15000)
        QThread::msleep(50);
    ASSERT_TRUE(std::filesystem::exists(socket)) << first.readAllStandardError().toStdString();
    first.kill();
    ASSERT_TRUE(first.waitForFinished(5000));
    ASSERT_TRUE(std::filesystem::exists(socket)) << "a killed process leaves its socket behind";

    QProcess next;
    next.setProcessEnvironment(home.environment());
    next.start(nuvel.program(), {});
    ASSERT_TRUE(next.waitForStarted());
    // The new one listens: a later launch is forwarded to it and exits 0, and it keeps running.
    int forwarded = -1;
    for (int attempt = 0; attempt < 50 && forwarded != 0; ++attempt) {
        QThread::msleep(200);
        ASSERT_EQ(next.state(), QProcess::Running) << next.readAllStandardError().toStdString();
        forwarded = secondLaunch(home, nuvel.program(), {});
    }
    EXPECT_EQ(forwarded, 0) << next.readAllStandardError().toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);

    // A termination signal with nothing running ends it cleanly.
    next.terminate();
    ASSERT_TRUE(next.waitForFinished(15000));
    EXPECT_EQ(next.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket)) << "a clean end removes the socket";
}

} // namespace
