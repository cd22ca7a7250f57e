// The whole road of one recording through the real program's own interface, driven over the
// accessibility bus as an assistive tool would: Nuvel on an X server of its own signs in with
// the stand-in service through the browser, opens the new-recording sheet, takes the consent,
// runs the source check on the test microphone, records for three seconds on the wall clock and
// stops and saves on quitting; started again, it lists the saved recording, which only this
// computer holds.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

#include <signal.h>

#include <filesystem>

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/platform/LibsecretBackend.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/support/Json.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/ui/AccessibilityDriver.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

constexpr const char* title = "Standup on the end-to-end road";

// One running Nuvel and the way to its accessible tree.
class RunningNuvel {
public:
    RunningNuvel(const AccessibilityBus& bus, const InstalledNuvel& nuvel, const QProcessEnvironment& env)
        : bus_(bus) {
        process_.setProcessEnvironment(env);
        process_.start(nuvel.program(), {});
        process_.waitForStarted();
    }
    ~RunningNuvel() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // The first element on screen that matches, once one does.
    std::optional<AccessibleElement> waitFor(const AccessibleQuery& query, int milliseconds = 15000) {
        std::optional<AccessibleElement> found;
        eventually(
            [&] {
                if (const auto application = bus_.application(int(process_.processId())))
                    found = application->find(query);
                return found && (query.hiddenToo || found->enabled());
            },
            milliseconds);
        return found;
    }

    // Waits for the element and performs `action` on it.
    bool act(const AccessibleQuery& query, const std::string& action = "Press") {
        const std::optional<AccessibleElement> element = waitFor(query);
        return element && element->perform(action);
    }

    // The program's accessible tree and what it wrote, for failure messages.
    std::string state() {
        std::string text = "nuvel said: " + process_.readAllStandardError().toStdString();
        if (const auto application = bus_.application(int(process_.processId())))
            text += "\nits windows:\n" + application->describe();
        return text;
    }

    QProcess& process() { return process_; }

private:
    const AccessibilityBus& bus_;
    QProcess process_;
};

// The seconds of an "mm:ss" time at the end of a text; -1 when there is none.
int trailingSeconds(const std::string& text) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("(\\d\\d):(\\d\\d)$")).match(QString::fromStdString(text));
    return match.hasMatch() ? match.captured(1).toInt() * 60 + match.captured(2).toInt() : -1;
}

// The recording folders of every workspace store under `root`.
std::vector<std::filesystem::path> recordingFolders(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        if (it->path().filename() == "manifest.nuvel")
            folders.push_back(it->path().parent_path());
    return folders;
}

TEST(RecordingEndToEnd, SignInRecordThreeSecondsAndStopAndSaveThroughTheInterface) {
    NUVEL_CONNECT_PULSE(pulse);
    VirtualDisplay display;
    ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    ASSERT_TRUE(SignInDesktop::missingPrograms().isEmpty())
        << "needed (scripts/install-deps installs them):" << SignInDesktop::missingPrograms().toStdString();
    const QString sessionBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_FALSE(sessionBus.isEmpty()) << "a session bus is needed: run inside scripts/test-env";
    application();
    const AccessibilityBus bus;
    ASSERT_TRUE(bus.connected()) << "the accessibility bus did not start (at-spi2-core)";

    StandinProcess standin;
    ASSERT_FALSE(standin.origin().empty()) << standin.banner();
    PrivateHome home;
    InstalledNuvel nuvel(standin.origin());
    SignInDesktop desktop(home, nuvel, display);
    ASSERT_FALSE(desktop.registerNuvel());
    // On the session's bus, where its accessibility bus and keyring are.
    desktop.environment().insert("DBUS_SESSION_BUS_ADDRESS", sessionBus);
    desktop.environment().insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");

    auto app = std::make_unique<RunningNuvel>(bus, nuvel, desktop.environment());
    // Signing in goes through the browser and comes back to the window.
    ASSERT_TRUE(app->act({"push button", "Sign in to Nuvel"})) << app->state();
    ASSERT_TRUE(app->waitFor({"label", "you@nuvel.test"}, 30000))
        << "pages: " << desktop.pages() << " handed over: " << desktop.handedOver() << "\n" << app->state();

    // The sheet: a title, the consent, then the source check on the test microphone.
    ASSERT_TRUE(app->act({"push button", "New recording"})) << app->state();
    const std::optional<AccessibleElement> sheet = app->waitFor({"dialog", "", false});
    ASSERT_TRUE(sheet) << app->state();
    const std::optional<AccessibleElement> titleField = sheet->find({"text", ""});
    ASSERT_TRUE(titleField && titleField->setText(title)) << app->state();
    ASSERT_TRUE(app->act({"check box", "I have permission to record and process this conversation."}, "Toggle"))
        << app->state();
    ASSERT_TRUE(app->act({"push button", "Check sources"})) << app->state();
    // "Start recording" comes on once the microphone has been heard.
    ASSERT_TRUE(app->act({"push button", "Start recording"})) << app->state();

    // Three seconds on the window's own clock, then stop and save on the way out.
    const std::optional<AccessibleElement> clock = app->waitFor({"label", "00:03"}, 15000);
    ASSERT_TRUE(clock) << app->state();
    ASSERT_TRUE(app->act({"menu item", "Quit Nuvel", false, true})) << app->state();
    ASSERT_TRUE(app->act({"push button", "Stop, save and quit"})) << app->state();
    ASSERT_TRUE(app->process().waitForFinished(30000)) << app->state();
    EXPECT_EQ(app->process().exitCode(), 0) << app->state();
    app.reset();

    // On this computer: one recording with its sealed audio and no live file left.
    const std::vector<std::filesystem::path> folders = recordingFolders(home.path("data") / "Nuvel");
    ASSERT_EQ(folders.size(), 1u);
    std::size_t assets = 0, live = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folders.front())) {
        const std::string name = entry.path().filename().string();
        assets += entry.path().extension() == ".nuvel" && name != "manifest.nuvel" && name != "annotations.nuvel";
        live += name.starts_with("live-");
    }
    EXPECT_GE(assets, 1u);
    EXPECT_EQ(live, 0u);
    // Not in the cloud: nothing was sent.
    const KeychainVault vault(AppModel::keychainService, makeSystemSecretBackend());
    const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
    ASSERT_TRUE(stored);
    const DeviceSession session =
        DeviceSession::decode(std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
    NuvelAPI api(standin.origin(), std::make_shared<CurlTransport>());
    const json::Value listed = json::parse(
        api.send("meetings", "GET", session.token, std::nullopt, false, {{"workspace_id", "ws_personal"}}));
    EXPECT_TRUE(listed.at("meetings").empty()) << listed.dump();

    // Started again, the window lists it, saved, as long as it was recorded.
    app = std::make_unique<RunningNuvel>(bus, nuvel, desktop.environment());
    const std::optional<AccessibleElement> row = app->waitFor({"list item", title, true}, 20000);
    ASSERT_TRUE(row) << app->state();
    const std::string described = row->name();
    EXPECT_NE(described.find("Saved"), std::string::npos) << described;
    const int seconds = trailingSeconds(described);
    EXPECT_GE(seconds, 3) << described;
    EXPECT_LE(seconds, 6) << described;

    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-recording-saved.png"));
    ::kill(pid_t(app->process().processId()), SIGTERM);
    ASSERT_TRUE(app->process().waitForFinished(30000));
    EXPECT_EQ(app->process().exitCode(), 0) << app->state();
}

} // namespace
