// One Nuvel per user, with real processes: a second launch hands its nuvel:// address, or a
// request to show the window again, to the running one and exits; a socket left behind by a
// killed Nuvel does not keep a new one from starting.
#include <gtest/gtest.h>

#include <QElapsedTimer>

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
    if (!second.waitForFinished(60000)) {
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
    ASSERT_TRUE(waitForLine(first, seen, "primary\n", 60000)) << seen.toStdString();

    const std::string code(64, 'a');
    const QString address = QString::fromStdString("nuvel://auth?code=" + code);
    const QString program = QString::fromStdString(builtNuvel().string());
    EXPECT_EQ(secondLaunch(home, program, {address}), 0);
    EXPECT_TRUE(waitForLine(first, seen, "message: open " + address.toUtf8() + "\n", 60000)) << seen.toStdString();
    EXPECT_EQ(secondLaunch(home, program, {}), 0);
    EXPECT_TRUE(waitForLine(first, seen, "message: reopen\n", 60000)) << seen.toStdString();

    // The socket is this user's alone.
    struct stat info {};
    ASSERT_EQ(stat((home.path("run") / "nuvel-instance").c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);

    first.closeWriteChannel();
    EXPECT_TRUE(first.waitForFinished(30000));
}

TEST(SingleInstance, ASocketLeftByAKilledNuvelDoesNotBlockANewStart) {
    application();
    PrivateHome home;
    InstalledNuvel nuvel("http://127.0.0.1:9"); // nothing answers there: the app starts offline
    const auto socket = home.path("run") / "nuvel-instance";

    QProcess first;
    first.setProcessEnvironment(home.environment());
    first.start(nuvel.program(), {});
    // Waiting on the process itself: it returns early should the program end.
    QElapsedTimer timer;
    timer.start();
    while (!std::filesystem::exists(socket) && timer.elapsed() < 60000 && !first.waitForFinished(50)) {
    }
    ASSERT_TRUE(std::filesystem::exists(socket)) << first.readAllStandardError().toStdString();
    first.kill();
    ASSERT_TRUE(first.waitForFinished(15000));
    struct stat left {};
    ASSERT_EQ(stat(socket.c_str(), &left), 0) << "a killed process leaves its socket behind";

    QProcess next;
    next.setProcessEnvironment(home.environment());
    next.start(nuvel.program(), {});
    ASSERT_TRUE(next.waitForStarted());
    // A later launch only once the new one has put its own socket in place of the one left
    // behind: a launch before that would find nobody listening and itself start in its place.
    timer.restart();
    const auto replaced = [&] {
        struct stat now {};
        return stat(socket.c_str(), &now) == 0 && now.st_ino != left.st_ino;
    };
    while (!replaced() && timer.elapsed() < 60000 && !next.waitForFinished(50)) {
    }
    ASSERT_TRUE(replaced()) << next.readAllStandardError().toStdString();
    // The new one listens: a later launch is forwarded to it and exits 0, and it keeps running.
    // One still setting itself up on a loaded machine may not answer within a launch's patience.
    int forwarded = -1;
    timer.restart();
    while (forwarded != 0 && timer.elapsed() < 120000) {
        ASSERT_EQ(next.state(), QProcess::Running) << next.readAllStandardError().toStdString();
        forwarded = secondLaunch(home, nuvel.program(), {});
    }
    EXPECT_EQ(forwarded, 0) << next.readAllStandardError().toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);

    // A termination signal with nothing running ends it cleanly.
    next.terminate();
    ASSERT_TRUE(next.waitForFinished(60000));
    EXPECT_EQ(next.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(socket)) << "a clean end removes the socket";
}

} // namespace
