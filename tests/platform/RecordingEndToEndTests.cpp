// The whole road of one recording through the real program's own interface, driven over the
// accessibility bus as an assistive tool would: Nuvel on an X server of its own signs in with
// the stand-in service through the browser, opens the new-recording sheet, takes the consent,
// runs the source check on the test microphone, records for three seconds on the wall clock,
// stops and saves, sends the recording, finds the meeting the service made of it in the Nuvel
// library, opens it and exports it as Markdown through the save panel.
#include <gtest/gtest.h>

#include <QProcess>

#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/WorkspaceStore.hpp"
#include "Nuvel/platform/LibsecretBackend.hpp"
#include "NuvelKit/capture/CafFile.hpp"
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
            process_.waitForFinished(60000);
        }
    }

    // The first element on screen that matches, once one does.
    std::optional<AccessibleElement> waitFor(const AccessibleQuery& query, int milliseconds = 60000) {
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

    // Whether the element comes to have the state.
    bool holds(const AccessibleQuery& query, bool (AccessibleElement::*state)() const, int milliseconds = 60000) {
        return eventually(
            [&] {
                const std::optional<AccessibleElement> element = waitFor(query, 0);
                return element && (*element.*state)();
            },
            milliseconds);
    }

    // Whether a label on screen comes to read a text that `wanted` accepts.
    bool showsLabel(const std::function<bool(const std::string&)>& wanted, int milliseconds) {
        return eventually(
            [&] {
                const auto application = bus_.application(int(process_.processId()));
                if (!application)
                    return false;
                for (const AccessibleElement& label : application->findAll({"label", ""}))
                    if (wanted(label.name()))
                        return true;
                return false;
            },
            milliseconds);
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

// What the service holds for the signed-in account, asked as the website would.
class CloudMeetings {
public:
    CloudMeetings(const std::string& origin, std::string token)
        : api_(origin, std::make_shared<CurlTransport>()), token_(std::move(token)) {}

    // The personal workspace's meetings, newest first.
    json::Value listed() const {
        return json::parse(api_.send("meetings", "GET", token_, std::nullopt, false, {{"workspace_id", "ws_personal"}}))
            .at("meetings");
    }
    // The meeting's corrected transcript: its words and speakers.
    json::Value transcript(const std::string& meetingID) const {
        return json::parse(api_.send("meetings/" + meetingID + "/transcript", "GET", token_, std::nullopt, false,
                                     {{"layer", "corrected"}}))
            .at("transcript");
    }

private:
    mutable NuvelAPI api_;
    std::string token_;
};

TEST(RecordingEndToEnd, RecordSendOpenAndExportAMeetingThroughTheInterface) {
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
    // The session's keyring outlives the test: it starts signed out and leaves no session behind.
    const KeychainVault vault(AppModel::keychainService, makeSystemSecretBackend());
    vault.remove(KeychainVault::deviceSessionAccount);
    struct SignedOut {
        const KeychainVault& vault;
        ~SignedOut() { vault.remove(KeychainVault::deviceSessionAccount); }
    } signedOutAfterwards{vault};

    auto app = std::make_unique<RunningNuvel>(bus, nuvel, desktop.environment());
    // Signing in goes through the browser and comes back to the window.
    ASSERT_TRUE(app->act({"push button", "Sign in to Nuvel"})) << app->state();
    ASSERT_TRUE(app->waitFor({"label", "you@nuvel.test"}, 60000))
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

    // Three seconds on the window's own clock, then the pane's stop.
    const auto pastThreeSeconds = [](const std::string& text) {
        return text.size() == 5 && text >= "00:03" && text <= "00:59";
    };
    ASSERT_TRUE(app->showsLabel(pastThreeSeconds, 60000)) << app->state();
    ASSERT_TRUE(app->act({"push button", "Stop and save"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 60000)) << app->state();

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
    // Not in the cloud until it is sent.
    const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
    ASSERT_TRUE(stored);
    const DeviceSession session =
        DeviceSession::decode(std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
    const CloudMeetings cloud(standin.origin(), session.token);
    EXPECT_TRUE(cloud.listed().empty()) << cloud.listed().dump();

    // Sent, it becomes a meeting of the personal workspace under its title.
    ASSERT_TRUE(app->act({"push button", "Send to Nuvel"})) << app->state();
    json::Value meeting;
    ASSERT_TRUE(eventually(
        [&] {
            const json::Value listed = cloud.listed();
            if (listed.empty())
                return false;
            meeting = listed.front();
            return true;
        },
        60000))
        << app->state();
    EXPECT_EQ(meeting.at("title"), title);
    EXPECT_EQ(cloud.listed().size(), 1u);

    // In the Nuvel library: the meeting's row opens its detail screen.
    ASSERT_TRUE(app->act({"check box", "Nuvel library"}, "Toggle")) << app->state();
    ASSERT_TRUE(app->holds({"check box", "Nuvel library"}, &AccessibleElement::checked)) << app->state();
    ASSERT_TRUE(app->act({"list item", title}, "Toggle")) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Export meeting"}, 60000)) << app->state();

    // Markdown, saved where the save panel is told.
    const std::filesystem::path exported = home.path("home") / "Standup notes.md";
    // The export button opens its menu on a press of the mouse only (its accessible action does
    // nothing), and the open menu is no part of the program's accessible tree: the button is
    // clicked where it shows, and the menu's first item chosen with the keyboard once the menu
    // holds the button down.
    const std::optional<AccessibleElement> exportButton = app->waitFor({"push button", "Export meeting"});
    ASSERT_TRUE(exportButton && exportButton->centre()) << app->state();
    ASSERT_TRUE(desktop.click(exportButton->centre()->first, exportButton->centre()->second));
    ASSERT_TRUE(app->holds({"push button", "Export meeting"}, &AccessibleElement::pressed)) << app->state();
    ASSERT_TRUE(desktop.keys({"Down", "Return"}));
    const std::optional<AccessibleElement> panel = app->waitFor({"dialog", "Save As"});
    ASSERT_TRUE(panel) << app->state();
    const std::optional<AccessibleElement> fileName = panel->find({"text", "File name:"});
    ASSERT_TRUE(fileName && fileName->setText(exported.string())) << app->state();
    ASSERT_TRUE(app->act({"push button", "Save"})) << app->state();
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(exported); }, 60000)) << app->state();

    // The title, then every word the service transcribed, each on its line with its time and speaker.
    const json::Value transcript = cloud.transcript(meeting.at("id"));
    const std::string markdown = fileContents(exported);
    EXPECT_EQ(markdown.rfind("# " + std::string(title) + "\n\n## Corrected transcript", 0), 0u) << markdown;
    const json::Value& words = transcript.at("words");
    ASSERT_FALSE(words.empty());
    std::size_t lines = 0;
    for (const json::Value& word : words) {
        const std::string speaker = transcript.at("speakers").at(word.at("speaker").get<std::string>()).at("label");
        const std::string line = "] " + speaker + ": " + word.at("text").get<std::string>() + "\n";
        lines += markdown.find(line) != std::string::npos;
    }
    EXPECT_EQ(lines, words.size()) << markdown;
    EXPECT_EQ(std::count(markdown.begin(), markdown.end(), '['), std::ptrdiff_t(words.size())) << markdown;

    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-meeting-exported.png"));
    ::kill(pid_t(app->process().processId()), SIGTERM);
    ASSERT_TRUE(app->process().waitForFinished(60000));
    EXPECT_EQ(app->process().exitCode(), 0) << app->state();

    // Sent, the local copy stays, and it holds the test microphone's tone for as long as the clock ran.
    RecordingWorkspaceStore store(folders.front().parent_path(), vault.mediaKey(session.account.id, true));
    const RecoveryReport report = store.recover(session.account.id);
    ASSERT_EQ(report.recordings.size(), 1u);
    const LocalRecording& saved = report.recordings.front();
    EXPECT_EQ(saved.title, title);
    EXPECT_EQ(saved.capture, CaptureState::saved);
    EXPECT_GE(saved.totalDuration(), 3.0);
    EXPECT_LT(saved.totalDuration(), 8.0);
    ASSERT_FALSE(saved.segments.empty());
    const auto clear = store.openClearCopy(saved.id, saved.segments.front().id, "caf");
    CafReader reader = CafReader::open(clear);
    std::vector<float> samples(std::size_t(reader.format().frames));
    samples.resize(reader.read(samples));
    EXPECT_GT(rms(samples), 0.1);
    store.removeWorkingFiles(clear);
}

} // namespace
