// How running processes and recording clients become the bundle-style identifiers of the
// detection tables: control groups, the table of known applications, a /proc scan.
#include "Nuvel/platform/ProcessLiveness.hpp"
#include "Nuvel/platform/SystemMeetingSignals.hpp"
#include "NuvelKit/detection/MeetingApp.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

using Ids = std::vector<std::string>;
const std::string session = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

// A /proc of our own: one folder per process with its control group and executable link.
struct FakeProc {
    TempDir root{"fake-proc"};
    void add(int pid, const std::string& executable, const std::string& cgroup = "0::/\n") {
        auto folder = root / std::to_string(pid);
        std::filesystem::create_directories(folder);
        if (!executable.empty())
            std::filesystem::create_symlink(executable, folder / "exe");
        std::ofstream(folder / "cgroup") << cgroup;
    }
};

} // namespace

TEST(ApplicationIdentity, ReadsTheLaunchedApplicationFromTheControlGroup) {
    using Id = std::optional<std::string>;
    const std::vector<std::tuple<std::string, Id, Id>> cases{
        {session + "app-gnome-firefox\\x2desr-4242.scope\n", std::nullopt, "firefox-esr"},
        {session + "app-flatpak-us.zoom.Zoom-98765.scope\n", "us.zoom.Zoom", std::nullopt},
        {session + "app-org.kde.konsole-1234.scope\n", std::nullopt, "org.kde.konsole"},
        {session + "app-gnome-org.gnome.Nautilus@12.service\n", std::nullopt, "org.gnome.Nautilus"},
        {session + "app-slack.desktop.service\n", std::nullopt, "slack"},
        // A shell of a terminal sits in a scope of the terminal's own, outside any application unit.
        {session + "app-org.gnome.Terminal.slice/vte-spawn-5f0c.scope\n", std::nullopt, std::nullopt},
        // The innermost application unit of a nested path.
        {session + "app-gnome-google\\x2dchrome-77.scope/renderer\n", std::nullopt, "google-chrome"},
        {"12:pids:/\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
         "app-gnome-Zoom-5.scope\n0::/\n",
         std::nullopt, std::nullopt},
        {"12:pids:/\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/app-gnome-Zoom-5.scope\n",
         std::nullopt, "Zoom"},
        {session + "app-gnome-.scope\n", std::nullopt, std::nullopt},
        {session + "app-x.slice\n", std::nullopt, std::nullopt},
        {"0::/\n", std::nullopt, std::nullopt},
        {"garbage", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& [text, flatpak, desktop] : cases) {
        auto identity = identityFromControlGroup(text);
        EXPECT_EQ(identity.flatpakID, flatpak) << text;
        EXPECT_EQ(identity.desktopID, desktop) << text;
    }
}

TEST(ApplicationIdentity, MapsLinuxIdentitiesToTheDetectionTables) {
    using Id = std::optional<std::string>;
    auto flatpak = [](std::string id, std::string exe = "") {
        return ApplicationIdentity{id, std::nullopt, exe};
    };
    auto desktop = [](std::string id, std::string exe = "") {
        return ApplicationIdentity{std::nullopt, id, exe};
    };
    auto executable = [](std::string exe) { return ApplicationIdentity{std::nullopt, std::nullopt, exe}; };
    const std::vector<std::tuple<ApplicationIdentity, Id, std::optional<MeetingApp>>> cases{
        {flatpak("us.zoom.Zoom", "zoom"), "us.zoom.Zoom", MeetingApp::zoom},
        {flatpak("com.slack.Slack"), "com.tinyspeck.slackmacgap", MeetingApp::slack},
        {flatpak("com.github.IsmaelMartinez.teams_for_linux"), "com.microsoft.teams", MeetingApp::teams},
        {flatpak("org.chromium.Chromium"), "com.google.Chrome.Chromium", MeetingApp::browser},
        {flatpak("com.opera.Opera"), "com.operasoftware.Opera", MeetingApp::browser},
        {flatpak("com.microsoft.Edge"), "com.microsoft.edgemac", MeetingApp::browser},
        // A sandbox is what it says, whatever runs inside it.
        {flatpak("org.gnome.Boxes", "zoom"), "org.gnome.Boxes", std::nullopt},
        {desktop("firefox-esr"), "org.mozilla.firefox", MeetingApp::browser},
        {desktop("google-chrome", "chrome"), "com.google.Chrome", MeetingApp::browser},
        {desktop("Zoom", "zoom"), "us.zoom.Zoom", MeetingApp::zoom},
        {desktop("vivaldi-stable"), "com.vivaldi.Vivaldi", MeetingApp::browser},
        // Started from a terminal: the program's own executable names it.
        {desktop("org.gnome.Terminal", "zoom"), "us.zoom.Zoom", MeetingApp::zoom},
        {desktop("org.gnome.Terminal", "bash"), "org.gnome.Terminal", std::nullopt},
        {executable("zoom"), "us.zoom.Zoom", MeetingApp::zoom},
        {executable("CiscoCollabHost"), "com.cisco.webex", MeetingApp::webex},
        {executable("teams-for-linux"), "com.microsoft.teams", MeetingApp::teams},
        {executable("slack"), "com.tinyspeck.slackmacgap", MeetingApp::slack},
        {executable("chromium"), "com.google.Chrome.Chromium", MeetingApp::browser},
        {executable("firefox-esr"), "org.mozilla.firefox", MeetingApp::browser},
        {executable("brave"), "com.brave.Browser", MeetingApp::browser},
        {executable("msedge"), "com.microsoft.edgemac", MeetingApp::browser},
        {executable("Zoom"), std::nullopt, std::nullopt},
        {executable("pacat"), std::nullopt, std::nullopt},
        {executable(""), std::nullopt, std::nullopt},
    };
    for (const auto& [identity, bundleID, app] : cases) {
        auto mapped = bundleIDFor(identity);
        EXPECT_EQ(mapped, bundleID) << identity.executable << " " << identity.desktopID.value_or("-");
        EXPECT_EQ(mapped ? meetingAppForBundleID(*mapped) : std::nullopt, app) << mapped.value_or("none");
    }
}

TEST(RunningApplications, ScansTheUsersProcessesIntoApplications) {
    FakeProc proc;
    proc.add(9, "/app/bin/slack", session + "app-flatpak-com.slack.Slack-9.scope\n");
    proc.add(10, "/opt/zoom/zoom", session + "app-gnome-Zoom-10.scope\n");
    proc.add(11, "/opt/zoom/zoom", session + "app-gnome-Zoom-10.scope\n");
    proc.add(12, "/usr/bin/bash", session + "app-org.gnome.Terminal.slice/vte-spawn-1.scope\n");
    proc.add(13, "/usr/lib/firefox-esr/firefox-esr (deleted)",
             session + "app-gnome-firefox\\x2desr-13.scope\n");
    proc.add(14, ""); // a kernel thread: no executable
    proc.add(101, "/tmp/x/zoom");
    std::filesystem::create_directories(proc.root / "self");
    std::ofstream(proc.root / "uptime") << "1 1\n";

    ProcessScanner scanner(proc.root.path());
    auto user = static_cast<uid_t>(::getuid());
    const std::vector<RunningApplication> expected{
        {"com.tinyspeck.slackmacgap", 9, "com.slack.Slack"},
        {"us.zoom.Zoom", 10, "Zoom"},
        {"org.mozilla.firefox", 13, "firefox-esr"},
    };
    EXPECT_EQ(scanner.runningApplications(user), expected);
    EXPECT_TRUE(scanner.runningApplications(user + 1).empty()) << "another user's processes";
    EXPECT_EQ(scanner.identity(101), (ApplicationIdentity{std::nullopt, std::nullopt, "zoom"}));
    EXPECT_FALSE(scanner.identity(14));
    EXPECT_FALSE(scanner.identity(999));
    EXPECT_TRUE(ProcessScanner(proc.root / "missing").runningApplications(user).empty());

    // Later scans: a process that runs another program is read again, and so is one that its
    // launcher moved into the application's unit just after the first scan saw it.
    std::filesystem::remove(proc.root / "13" / "exe");
    std::filesystem::create_symlink("/usr/bin/bash", proc.root / "13" / "exe");
    std::ofstream(proc.root / "13" / "cgroup") << "0::/\n";
    std::ofstream(proc.root / "101" / "cgroup") << session + "app-gnome-org.mozilla.firefox-101.scope\n";
    const std::vector<RunningApplication> later{
        {"com.tinyspeck.slackmacgap", 9, "com.slack.Slack"},
        {"us.zoom.Zoom", 10, "Zoom"},
        {"org.mozilla.firefox", 101, "org.mozilla.firefox"},
    };
    EXPECT_EQ(scanner.runningApplications(user), later);

    // Who recorded: a process by its identity when it runs the declared executable; this
    // process counts as seen but adds nothing; clients that name nothing are dropped.
    using Client = InputActivity::Client;
    using Ids = std::optional<std::vector<std::string>>;
    auto inputs = [&](std::vector<Client> clients) {
        return SystemMeetingSignals::inputBundleIDs(InputActivity{true, true, std::move(clients)}, scanner,
                                                    500);
    };
    const std::vector<std::tuple<const char*, std::vector<Client>, Ids>> cases{
        {"nobody", {}, std::nullopt},
        {"only unknown programs", {{1, 12, "bash"}, {2, std::nullopt, ""}}, std::nullopt},
        {"only this process", {{1, 500, "nuvel"}}, std::vector<std::string>{}},
        {"this process and an unknown one", {{1, 12, "bash"}, {2, 500, "nuvel"}}, std::vector<std::string>{}},
        {"by the process's identity, in order, duplicates kept",
         {{1, 13, "firefox-esr"}, {2, 9, "slack"}, {3, 13, "firefox-esr"}},
         std::vector<std::string>{"org.mozilla.firefox", "com.tinyspeck.slackmacgap", "org.mozilla.firefox"}},
        {"a process id that runs another program: the declared executable counts",
         {{1, 12, "zoom"}},
         std::vector<std::string>{"us.zoom.Zoom"}},
        {"a process id that is gone",
         {{1, 4000, "teams-for-linux"}},
         std::vector<std::string>{"com.microsoft.teams"}},
        {"no process id", {{1, std::nullopt, "zoom"}}, std::vector<std::string>{"us.zoom.Zoom"}},
    };
    for (const auto& [name, clients, ids] : cases)
        EXPECT_EQ(inputs(clients), ids) << name;
}

TEST(RunningApplications, FindsAProgramNamedLikeAMeetingAppInTheRealProc) {
    TempDir folder("named-zoom");
    auto zoom = folder / "zoom";
    std::filesystem::copy_file("/bin/sleep", zoom);
    std::filesystem::permissions(zoom, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    ChildProcess child({zoom.string(), "30"});
    ASSERT_GT(child.pid(), 0);

    ProcessScanner scanner;
    auto own = scanner.identity(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(own->executable, "platform_MeetingIdentityTests");
    ASSERT_TRUE(waitFor(
        [&] { return scanner.identity(child.pid()).value_or(ApplicationIdentity{}).executable == "zoom"; },
        5));
    // Unless the test runs inside an application's scope, the executable names it.
    auto running = scanner.runningApplications(::getuid());
    auto found = std::find_if(running.begin(), running.end(),
                              [&](const RunningApplication& a) { return a.processID == child.pid(); });
    if (!scanner.identity(child.pid())->desktopID) {
        ASSERT_NE(found, running.end());
        EXPECT_EQ(found->bundleID, "us.zoom.Zoom");
    }
}

TEST(ProcessLiveness, AProcessEndingWhileItIsReadIsNotRunningRatherThanAnError) {
    // Reading /proc/<pid>/stat fails with ESRCH when the process is reaped between the open and
    // the read; a recording's liveness check must take that for "ended", never throw out of it.
    std::uint64_t reads = 0;
    std::string thrown;
    for (int i = 0; i < 600 && thrown.empty(); ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            ::_exit(0);
        std::thread reaper([child] { ::waitpid(child, nullptr, 0); });
        try {
            for (int k = 0; k < 20; ++k) {
                auto start = ProcessLiveness::startTime(child);
                ProcessLiveness::isRunning(child, start.value_or(0));
                if (!start)
                    break;
                ++reads;
            }
        } catch (const std::exception& error) {
            thrown = error.what();
        }
        reaper.join();
    }
    EXPECT_EQ(thrown, "");
    EXPECT_GT(reads, 0u);
}
