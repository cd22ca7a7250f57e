// One Nuvel per user, with real processes: a second launch hands its nuvel:// address, or a
// request to show the window again, to the running one and exits; a socket left behind by a
// killed Nuvel does not keep a new one from starting.
#include "Nuvel/platform/QtSingleInstance.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QElapsedTimer>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace nuvel::test;

namespace {

QString probeProgram() {
    return QString::fromStdString(
        (std::filesystem::path(NUVEL_BINARY_DIR) / "tests" / "single-instance-probe").string());
}

// Runs a second launch of the built program to its end, in the home's environment unless
// another is given; its exit status.
int secondLaunch(const PrivateHome& home, const QString& program, const QStringList& arguments,
                 const std::optional<QProcessEnvironment>& environment = std::nullopt) {
    QProcess second;
    second.setProcessEnvironment(environment.value_or(home.environment()));
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
    EXPECT_TRUE(waitForLine(first, seen, "message: open " + address.toUtf8() + "\n", 60000))
        << seen.toStdString();
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
    // The file system may give the new socket the inode number the old one freed: its change
    // time tells them apart.
    timer.restart();
    const auto replaced = [&] {
        struct stat now {};
        return stat(socket.c_str(), &now) == 0 &&
               (now.st_ino != left.st_ino || now.st_ctim.tv_sec != left.st_ctim.tv_sec ||
                now.st_ctim.tv_nsec != left.st_ctim.tv_nsec);
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

// Without a runtime folder the socket goes to a folder of the user's own home, whatever another
// user made in the temporary folder and however deep the home lies (a socket's address holds
// 108 bytes); a folder in its place that is not this user's alone fails the claim (Nuvel then
// says it cannot start and ends), so no launch runs without the lock.
TEST(SingleInstance, WithoutARuntimeFolderLaunchesMeetInAFolderOfTheirOwnHome) {
    application();
    const std::string uid = std::to_string(geteuid());
    struct Row {
        const char* name;
        // Prepares the temporary folder and the folder in the home that the socket would go in.
        std::function<void(const std::filesystem::path& tmp, const std::filesystem::path& folder)> take;
        bool starts;
        std::string home = "home"; // the home folder, under the private root
    };
    std::vector<Row> rows = {
        {"free", [](const auto&, const auto&) {}, true},
        {"a home whose socket path is longer than a socket's address holds", [](const auto&, const auto&) {},
         true, "home/" + std::string(80, 'h')},
        {"every name of the temporary folder taken",
         [&](const std::filesystem::path& tmp, const auto&) {
             // What another user's folders would be to this one: names it cannot use.
             for (int i = 0; i < 16; ++i) {
                 const std::string name = "nuvel-" + uid + (i == 0 ? "" : "-" + std::to_string(i));
                 std::ofstream(tmp / name) << "taken";
             }
         },
         true},
        {"the folder open to all",
         [](const auto&, const std::filesystem::path& folder) {
             std::filesystem::create_directories(folder);
             chmod(folder.c_str(), 0777);
         },
         false},
        {"a link in place of the folder",
         [](const auto&, const std::filesystem::path& folder) {
             std::filesystem::create_directories(folder.parent_path());
             std::filesystem::create_directory(folder.string() + "-target");
             chmod((folder.string() + "-target").c_str(), 0700);
             std::filesystem::create_directory_symlink(folder.string() + "-target", folder);
         },
         false},
    };
    // Handing a folder to another user takes root; the rows above run as any user.
    if (geteuid() == 0)
        rows.push_back({"another user's folder in its place",
                        [](const auto&, const std::filesystem::path& folder) {
                            std::filesystem::create_directories(folder);
                            chmod(folder.c_str(), 0700);
                            ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
                        },
                        false});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrivateHome home;
        TempDir tmp("nuvel-tmp");
        const std::filesystem::path homeFolder = home.path("") / row.home;
        std::filesystem::create_directories(homeFolder);
        QProcessEnvironment env = home.environment();
        env.remove("XDG_RUNTIME_DIR");
        env.insert("TMPDIR", QString::fromStdString(tmp.path().string()));
        env.insert("HOME", QString::fromStdString(homeFolder.string()));
        const std::filesystem::path folder = homeFolder / ".local" / "state" / "nuvel";
        row.take(tmp.path(), folder);
        ASSERT_FALSE(HasFatalFailure());

        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(probeProgram(), {});
        QByteArray seen;
        if (!row.starts) {
            EXPECT_TRUE(waitForLine(probe, seen, "failed\n")) << seen.toStdString();
            EXPECT_TRUE(probe.waitForFinished(5000));
            continue;
        }
        ASSERT_TRUE(waitForLine(probe, seen, "primary\n")) << seen.toStdString();
        struct stat info {};
        ASSERT_EQ(lstat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_uid, geteuid());
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        std::vector<std::string> sockets;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.is_socket())
                sockets.push_back(entry.path().filename().string());
        ASSERT_EQ(sockets.size(), 1u);
        EXPECT_TRUE(sockets[0].starts_with("instance-")) << sockets[0];
        for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
            EXPECT_FALSE(entry.is_directory()) << "nothing made in the temporary folder: " << entry.path();
        // A second launch finds the same folder.
        EXPECT_EQ(secondLaunch(home, QString::fromStdString(builtNuvel().string()), {}, env), 0);
        EXPECT_TRUE(waitForLine(probe, seen, "message: reopen\n")) << seen.toStdString();
        probe.closeWriteChannel();
        EXPECT_TRUE(probe.waitForFinished(5000));
    }
}

} // namespace
