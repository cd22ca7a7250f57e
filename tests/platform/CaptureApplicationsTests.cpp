// The capturable applications renamed to the identifiers detection uses, over a /proc of our own.
#include "Nuvel/platform/CaptureApplications.hpp"
#include "tests/support/TempDir.hpp"

#include <fstream>
#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

TEST(CaptureApplications, EachApplicationTakesTheIdentifierItsProcessIsKnownBy) {
    const std::string session = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    TempDir proc("capture-proc");
    auto add = [&proc](int pid, const std::string& executable, const std::string& cgroup) {
        auto folder = proc.path() / std::to_string(pid);
        std::filesystem::create_directories(folder);
        std::filesystem::create_symlink(executable, folder / "exe");
        std::ofstream(folder / "cgroup") << cgroup;
    };
    add(10, "/opt/zoom/zoom", "0::/\n");
    add(11, "/usr/lib/firefox-esr/firefox-esr", session + "app-gnome-firefox\\x2desr-4242.scope\n");
    add(12, "/usr/bin/rhythmbox", "0::/\n");
    struct Row {
        std::int32_t pid;
        std::string given, expected;
    };
    const std::vector<Row> rows = {
        {10, "zoom", "us.zoom.Zoom"},               // a known executable
        {11, "firefox-esr", "org.mozilla.firefox"}, // a known desktop entry
        {12, "rhythmbox", "rhythmbox"},             // nothing known: the sound server's
        {13, "gone", "gone"},                       // no such process any more
    };
    std::vector<SystemAudioCapture::Application> applications;
    for (const Row& row : rows)
        applications.push_back({row.pid, "App " + std::to_string(row.pid), row.given});
    useDetectionIdentifiers(applications, ProcessScanner(proc.path()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].given);
        EXPECT_EQ(applications[i].bundleIdentifier, rows[i].expected);
        EXPECT_EQ(applications[i].id, rows[i].pid);
        EXPECT_EQ(applications[i].name, "App " + std::to_string(rows[i].pid));
    }
}
