// An update of the real installed program, as a user takes it: Nuvel installed with
// `cmake --install` into a folder of its own, a signed newer build served by a local web server,
// and under an X server of its own Nuvel ▸ Check for Updates… then "Install Update", driven over
// the accessibility bus. The new build then runs from the same folder, the old one is gone, and
// the user's store is as it was.
#include "tests/ui/AccessibilityDriver.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QProcess>
#include <QStandardPaths>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

// Runs a helper program to its end; its standard output, or none when it failed.
std::optional<std::string> run(const QString& program, const QStringList& arguments,
                               int milliseconds = 120000) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(milliseconds) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        return std::nullopt;
    }
    return process.readAllStandardOutput().toStdString();
}

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

// `cmake --install` of this build into `prefix`, with an Info.json of the test's own.
bool installInto(const fs::path& prefix, const std::string& info) {
    if (!run("cmake", {"--install", NUVEL_BINARY_DIR, "--prefix", q(prefix)}))
        return false;
    std::ofstream(prefix / "lib" / "nuvel" / "Info.json", std::ios::trunc) << info;
    return fs::is_regular_file(prefix / "lib" / "nuvel" / "nuvel");
}

std::string infoJSON(const std::string& feedURL, const std::string& publicKey, const std::string& build) {
    return R"({"NuvelServiceOrigin": "http://127.0.0.1:9", "NuvelEnableUpdates": "YES", "SUFeedURL": ")" +
           feedURL + R"(", "SUPublicEDKey": ")" + publicKey +
           R"(", "SURequireSignedFeed": true, "SUVerifyUpdateBeforeExtraction": true, )"
           R"("SUAutomaticallyUpdate": false, "SUAllowsAutomaticUpdates": false, "TestBuild": ")" +
           build + "\"}\n";
}

// Every file under `root` with its bytes.
std::map<fs::path, std::string> contents(const fs::path& root) {
    std::map<fs::path, std::string> found;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file())
            found[it->path().lexically_relative(root)] = fileContents(it->path());
    return found;
}

// The processes (other than `except`) whose program is `executable`.
std::vector<int> processesOf(const fs::path& executable, int except) {
    std::vector<int> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == except)
            continue;
        std::error_code error;
        const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe == executable)
            found.push_back(std::stoi(name));
    }
    return found;
}

// A local web server over `folder` on an unused port of the loopback interface.
class FolderServer {
public:
    explicit FolderServer(const fs::path& folder) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("python3",
                       {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", q(folder)});
        QByteArray seen;
        if (!waitForLine(process_, seen, ")"))
            return;
        // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
        const qsizetype at = seen.indexOf("port ");
        if (at >= 0)
            port_ = seen.mid(at + 5).split(' ').first().toInt();
    }
    ~FolderServer() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    bool ready() const { return port_ > 0; }

private:
    QProcess process_;
    int port_ = 0;
};

TEST(UpdateEndToEnd, CheckForUpdatesInstallsTheSignedBuildAndRelaunchesItFromTheSameFolder) {
    VirtualDisplay display;
    ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    const QString sessionBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_FALSE(sessionBus.isEmpty()) << "a session bus is needed: run inside scripts/test-env";
    ASSERT_FALSE(QStandardPaths::findExecutable("python3").isEmpty());
    application();
    const AccessibilityBus bus;
    ASSERT_TRUE(bus.connected()) << "the accessibility bus did not start (at-spi2-core)";

    // The release key, the served folder and the two installs.
    TempDir root("update-e2e");
    const QString signUpdate = QString(NUVEL_SOURCE_DIR) + "/scripts/sign-update";
    const std::optional<std::string> key = run(signUpdate, {"keygen", q(root / "key.pem")});
    ASSERT_TRUE(key);
    const std::string publicKey = QString::fromStdString(*key).trimmed().toStdString();
    fs::create_directories(root / "served");
    FolderServer server(root / "served");
    ASSERT_TRUE(server.ready());
    const std::string feedURL = server.url("/feed.json");
    const fs::path installed = root / "installed";
    const fs::path newer = root / "newer";
    ASSERT_TRUE(installInto(installed, infoJSON(feedURL, publicKey, "old")));
    ASSERT_TRUE(installInto(newer, infoJSON(feedURL, publicKey, "new")));
    // The codecs, the calendar client, the keyring, the HTTP transport and the archive reader
    // come with modules beside the program, loaded when first used: the program itself needs
    // none of their libraries to start.
    const std::optional<std::string> needed =
        run("readelf", {"-d", q(installed / "lib" / "nuvel" / "nuvel")});
    ASSERT_TRUE(needed);
    for (const char* library : {"libavcodec", "libavformat", "libavfilter", "libecal", "libedataserver",
                                "libsecret", "libcurl", "libarchive"})
        EXPECT_EQ(needed->find(library), std::string::npos) << library;
    for (const char* module : {"nuvel-media.so", "nuvel-calendar.so", "nuvel-keyring.so",
                               "nuvel-transport.so", "nuvel-archive.so"})
        EXPECT_TRUE(fs::is_regular_file(installed / "lib" / "nuvel" / module)) << module;
    ASSERT_TRUE(run(signUpdate, {"archive", q(newer), "999.0", q(root / "served" / "nuvel.tar.gz")}));
    ASSERT_TRUE(run(signUpdate, {"feed", q(root / "key.pem"), "999.0",
                                 QString::fromStdString(server.url("/nuvel.tar.gz")),
                                 q(root / "served" / "nuvel.tar.gz"), q(root / "served" / "feed.json")}));

    // The user's home, with a store that holds something of theirs.
    PrivateHome home;
    const fs::path store = home.path("data") / "Nuvel";
    fs::create_directories(store / "production");
    std::ofstream(store / "production" / "kept.txt") << "the user's own";
    QProcessEnvironment env = home.environment();
    env.insert("DISPLAY", display.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // The session's bus carries the accessibility bus; the keyring there is locked for this
    // program's run (see tests/CMakeLists.txt), and nobody is signed in.
    env.insert("DBUS_SESSION_BUS_ADDRESS", sessionBus);

    const fs::path program = fs::canonical(installed / "lib" / "nuvel" / "nuvel");
    struct stat oldProgram {};
    ASSERT_EQ(::stat(program.c_str(), &oldProgram), 0);

    QProcess old;
    old.setProcessEnvironment(env);
    // The relaunched build inherits these, not the test's pipes.
    old.setStandardOutputFile(q(root / "old.out"));
    old.setStandardErrorFile(q(root / "old.err"));
    old.start(q(installed / "bin" / "nuvel"), {});
    ASSERT_TRUE(old.waitForStarted());
    const int oldPID = int(old.processId());
    auto describe = [&](int pid) {
        std::string text = "old said: " + fileContents(root / "old.err");
        if (const auto app = bus.application(pid))
            text += "\nits windows:\n" + app->describe();
        return text;
    };
    auto waitFor = [&](int pid, const AccessibleQuery& query, int milliseconds = 20000) {
        std::optional<AccessibleElement> found;
        eventually(
            [&] {
                if (const auto app = bus.application(pid))
                    found = app->find(query);
                return found && found->enabled();
            },
            milliseconds);
        return found;
    };
    ASSERT_TRUE(waitFor(oldPID, {"frame", "Nuvel"}, 30000)) << describe(oldPID);
    const std::map<fs::path, std::string> storeBefore = contents(store);

    // Nuvel ▸ Check for Updates…, then the confirmation's "Install Update".
    const std::optional<AccessibleElement> check =
        waitFor(oldPID, {"menu item", "Check for Updates…", false, true});
    ASSERT_TRUE(check && check->perform(check->actions().empty() ? "Press" : check->actions().front()))
        << describe(oldPID);
    const std::optional<AccessibleElement> install =
        waitFor(oldPID, {"push button", "Install Update"}, 60000);
    ASSERT_TRUE(install) << describe(oldPID);
    ASSERT_TRUE(install->perform("Press")) << describe(oldPID);

    // The old build ends on its own, through its quit path.
    ASSERT_TRUE(old.waitForFinished(60000)) << describe(oldPID);
    EXPECT_EQ(old.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(old.exitCode(), 0) << fileContents(root / "old.err");

    // The new build runs from the same folder and shows its window.
    std::vector<int> relaunched;
    ASSERT_TRUE(eventually(
        [&] {
            relaunched = processesOf(program, oldPID);
            return !relaunched.empty();
        },
        30000))
        << fileContents(root / "old.err");
    ASSERT_EQ(relaunched.size(), 1u);
    const int newPID = relaunched.front();
    struct Ended {
        int pid;
        ~Ended() {
            ::kill(pid, SIGTERM);
            eventually([this] { return !fs::exists("/proc/" + std::to_string(pid)); }, 20000);
            ::kill(pid, SIGKILL);
        }
    } endsAfterwards{newPID};
    EXPECT_TRUE(waitFor(newPID, {"frame", "Nuvel"}, 30000)) << describe(newPID);
    EXPECT_NE(fileContents(installed / "lib" / "nuvel" / "Info.json").find("\"TestBuild\": \"new\""),
              std::string::npos);
    struct stat newProgram {};
    ASSERT_EQ(::stat(program.c_str(), &newProgram), 0);
    EXPECT_NE(newProgram.st_ino, oldProgram.st_ino) << "the program file is the new build's";

    // Nothing of the old build or the staging is left beside the program folder.
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(installed / "lib"))
        beside.push_back(entry.path().filename().string());
    EXPECT_EQ(beside, std::vector<std::string>{"nuvel"});
    // The user's store: whatever was there is there as it was.
    const std::map<fs::path, std::string> storeAfter = contents(store);
    for (const auto& [file, bytes] : storeBefore) {
        const auto it = storeAfter.find(file);
        ASSERT_NE(it, storeAfter.end()) << file;
        EXPECT_EQ(it->second, bytes) << file;
    }
}

} // namespace
