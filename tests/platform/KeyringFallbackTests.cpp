// A key stored while no Secret Service answered is found, and moved into the keyring, by a
// later run that has one. Each run is a process of its own (libsecret keeps its connection for
// the life of a process), on a private session bus without service activation, so the keyring
// is absent until this test starts gnome-keyring on it.
#include "Nuvel/platform/LibsecretBackend.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace nuvel;
namespace fs = std::filesystem;

namespace {

constexpr const char* service = "com.getnuvel.test.fallback";
const std::string suffix(64, 'e');

bool keyringRequired() {
    return std::getenv("NUVEL_TEST_KEYRING") != nullptr;
}

bool onPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs `body` in a child process; true when it returned true there. Failures are told on stderr.
bool inChild(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        bool ok = false;
        try {
            ok = body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: %s\n", e.what());
        }
        std::fflush(nullptr);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool check(bool condition, const char* what) {
    if (!condition)
        std::fprintf(stderr, "child: %s\n", what);
    return condition;
}

// A program started with extra environment entries; stopped and reaped on destruction.
class Program {
public:
    Program(std::vector<std::string> argv, const std::vector<std::string>& extraEnvironment,
            const std::string& input = "") {
        std::vector<std::string> environment(extraEnvironment);
        for (char** e = environ; *e != nullptr; ++e)
            environment.emplace_back(*e);
        std::vector<char*> args, env;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        for (std::string& e : environment)
            env.push_back(e.data());
        env.push_back(nullptr);

        int pipeFds[2] = {-1, -1};
        if (::pipe(pipeFds) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[0]);
        if (!input.empty())
            (void)!::write(pipeFds[1], input.data(), input.size());
        ::close(pipeFds[1]);
        if (failed != 0)
            pid_ = -1;
    }
    ~Program() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 200; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool secretServiceOwned(const std::string& bus) {
    const std::string command =
        "dbus-send --bus='" + bus +
        "' --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
        "org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr)
        return false;
    std::string reply;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr)
        reply += buffer;
    ::pclose(out);
    return reply.find("boolean true") != std::string::npos;
}

} // namespace

TEST(KeyringFallback, AKeyStoredWithoutTheKeyringMovesIntoItOnceItAnswers) {
    if (!onPath("dbus-daemon") || !onPath("gnome-keyring-daemon") || !onPath("dbus-send")) {
        if (keyringRequired())
            FAIL() << "dbus-daemon, gnome-keyring-daemon or dbus-send is missing";
        GTEST_SKIP() << "needs dbus-daemon and gnome-keyring-daemon";
    }
    test::TempDir dir("keyring-fallback");
    for (const char* folder : {"data", "home", "run", "keyring-data"})
        fs::create_directories(dir / folder);
    ::chmod((dir / "run").c_str(), 0700);

    // A session bus that activates nothing: the Secret Service is there only once started here.
    const std::string bus = "unix:path=" + (dir / "bus").string();
    {
        std::ofstream config(dir / "bus.conf");
        config << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                  "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>"
               << bus
               << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                  "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                  "<allow own=\"*\"/></policy></busconfig>\n";
    }
    Program daemon({"dbus-daemon", "--nofork", "--config-file=" + (dir / "bus.conf").string()}, {});
    ASSERT_TRUE(daemon.started());
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "bus"); })) << "the private bus did not start";

    // Both runs keep the file store in the same place; only the keyring comes and goes.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const fs::path fileStore = dir / "data" / "Nuvel" / "keyring";
    const fs::path keyCopy = dir / "key";

    // First run: no keyring answers, so the new key lands in the file store.
    ASSERT_TRUE(inChild([&] {
        if (!check(!LibsecretBackend::isAvailable(), "a Secret Service answered too early"))
            return false;
        KeychainVault vault(service, makeSystemSecretBackend());
        const SymmetricKey key = vault.mediaKey(suffix, false);
        files::atomicWrite(keyCopy, key.bytes());
        KeychainVault files(service, std::make_shared<FileSecretBackend>(fileStore));
        return check(files.load(KeychainVault::mediaKeyPrefix + suffix).has_value(),
                     "the key is not in the files");
    }));

    // The keyring comes up (as a login's autostart would find it a little later).
    Program keyring({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                    {"HOME=" + (dir / "home").string(), "XDG_RUNTIME_DIR=" + (dir / "run").string(),
                     "XDG_DATA_HOME=" + (dir / "keyring-data").string()},
                    "test");
    ASSERT_TRUE(keyring.started());
    ASSERT_TRUE(waitFor([&] { return secretServiceOwned(bus); }))
        << "gnome-keyring did not come up on the bus";

    // Second run: the key is found though only the files hold it, and moves into the keyring.
    const Bytes stored = files::readFile(keyCopy);
    EXPECT_TRUE(inChild([&] {
        if (!check(LibsecretBackend::isAvailable(), "no Secret Service answers"))
            return false;
        KeychainVault vault(service, makeSystemSecretBackend());
        const SymmetricKey key = vault.mediaKey(suffix, true);
        bool ok = check(Bytes(key.bytes().begin(), key.bytes().end()) == stored, "another key came back");
        KeychainVault keyringOnly(service, std::make_shared<LibsecretBackend>());
        KeychainVault filesOnly(service, std::make_shared<FileSecretBackend>(fileStore));
        ok = check(keyringOnly.load(KeychainVault::mediaKeyPrefix + suffix) == stored,
                   "the keyring lacks the key") &&
             ok;
        ok = check(!filesOnly.load(KeychainVault::mediaKeyPrefix + suffix), "the file copy is still there") &&
             ok;
        keyringOnly.remove(KeychainVault::mediaKeyPrefix + suffix);
        return ok;
    }));
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
