// The whole road of one recording through the real program's own interface, driven over the
// accessibility bus as an assistive tool would: Nuvel on an X server of its own signs in with
// the stand-in service through the browser, opens the new-recording sheet, takes the consent,
// runs the source check on the test microphone, records for three seconds on the wall clock,
// stops and saves, plays it to its end, exports the audio, sends the recording, finds the
// meeting the service made of it in the Nuvel library, opens it, exports it as Markdown through
// the save panel, corrects a word, makes a view-only link and quits from the menu.
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
#include "tests/ui/DisplayKeyboard.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/StatusNotifierWatcher.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <utility>

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
    bool holds(const AccessibleQuery& query, bool (AccessibleElement::*state)() const,
               int milliseconds = 60000) {
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

    // The elements that say they have the keyboard focus: the control, and a list's row with
    // its list. A group that passes its focus on to a child (a message box's row of buttons)
    // says it has it too: the child is the one.
    std::vector<AccessibleElement> focusedElements() {
        std::vector<AccessibleElement> found;
        if (const auto application = bus_.application(int(process_.processId())))
            for (const AccessibleElement& element : application->findAll({}))
                if (element.focused() && element.role() != "panel")
                    found.push_back(element);
        return found;
    }
    // The element that has the keyboard focus.
    std::optional<AccessibleElement> focusedElement() {
        std::vector<AccessibleElement> found = focusedElements();
        if (found.empty())
            return std::nullopt;
        return found.front();
    }
    // Its role and name ("" when none has the focus).
    std::string focused() {
        const std::optional<AccessibleElement> element = focusedElement();
        return element ? "[" + element->role() + "] " + element->name() : std::string();
    }
    // Whether the focus is on the detail side of the divider.
    bool focusOnDetailSide() {
        const std::optional<AccessibleElement> element = focusedElement();
        const std::optional<AccessibleElement> divider = waitFor({"", "Divider"}, 0);
        const auto at = element ? element->box() : std::nullopt;
        const auto line = divider ? divider->box() : std::nullopt;
        return at && line && (*at)[0] > (*line)[0];
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

// Signs in through the browser, which comes back to the window.
void signIn(RunningNuvel& app, const SignInDesktop& desktop) {
    ASSERT_TRUE(app.act({"push button", "Sign in to Nuvel"})) << app.state();
    ASSERT_TRUE(app.waitFor({"label", "you@nuvel.test"}, 60000))
        << "pages: " << desktop.pages() << " handed over: " << desktop.handedOver() << "\n"
        << app.state();
}

// Signs in, then records the test microphone under `title` from the new-recording sheet, past
// its consent and source check.
void signInAndStartRecording(RunningNuvel& app, const SignInDesktop& desktop, const char* title) {
    signIn(app, desktop);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());

    // The sheet: a title, the consent, then the source check on the test microphone.
    ASSERT_TRUE(app.act({"push button", "New recording"})) << app.state();
    const std::optional<AccessibleElement> sheet = app.waitFor({"dialog", "", false});
    ASSERT_TRUE(sheet) << app.state();
    const std::optional<AccessibleElement> titleField = sheet->find({"text", ""});
    ASSERT_TRUE(titleField && titleField->setText(title)) << app.state();
    ASSERT_TRUE(
        app.act({"check box", "I have permission to record and process this conversation."}, "Toggle"))
        << app.state();
    ASSERT_TRUE(app.act({"push button", "Check sources"})) << app.state();
    // "Start recording" comes on once the microphone has been heard.
    ASSERT_TRUE(app.act({"push button", "Start recording"})) << app.state();
}

// What the service holds for the signed-in account, asked as the website would.
class CloudMeetings {
public:
    CloudMeetings(const std::string& origin, std::string token)
        : api_(origin, std::make_shared<CurlTransport>()), token_(std::move(token)) {}

    // The personal workspace's meetings, newest first.
    json::Value listed() const {
        return json::parse(api_.send("meetings", "GET", token_, std::nullopt, false,
                                     {{"workspace_id", "ws_personal"}}))
            .at("meetings");
    }
    // The meeting's corrected transcript: its words and speakers.
    json::Value transcript(const std::string& meetingID) const {
        return json::parse(api_.send("meetings/" + meetingID + "/transcript", "GET", token_, std::nullopt,
                                     false, {{"layer", "corrected"}}))
            .at("transcript");
    }

    // Who the meeting is shared with and its view-only links.
    json::Value sharing(const std::string& meetingID) const {
        return json::parse(
            api_.send("meetings/" + meetingID + "/sharing", "GET", token_, std::nullopt, false, {}));
    }

private:
    mutable NuvelAPI api_;
    std::string token_;
};

// The desktop each case runs Nuvel on: its own X server, the session's accessibility bus and
// keyring (signed out before and after), the stand-in service and a private home.
class RecordingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        NUVEL_CONNECT_PULSE(pulse);
        ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
        ASSERT_TRUE(SignInDesktop::missingPrograms().isEmpty())
            << "needed (scripts/install-deps installs them):"
            << SignInDesktop::missingPrograms().toStdString();
        const QString sessionBus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_FALSE(sessionBus.isEmpty()) << "a session bus is needed: run inside scripts/test-env";
        bus = std::make_unique<AccessibilityBus>();
        ASSERT_TRUE(bus->connected()) << "the accessibility bus did not start (at-spi2-core)";
        ASSERT_FALSE(standin.origin().empty()) << standin.banner();
        installFor(standin);
        ASSERT_FALSE(HasFatalFailure());
        vault.remove(KeychainVault::deviceSessionAccount);
        keyboard = std::make_unique<DisplayKeyboard>(display.name().toStdString());
        ASSERT_TRUE(keyboard->connected()) << "the X server has no test extension";
    }
    // The session's keyring outlives the test: it leaves no session behind.
    void TearDown() override { vault.remove(KeychainVault::deviceSessionAccount); }

    // Nuvel installed for `service`, on a desktop that hands its sign-in back to it.
    void installFor(const StandinProcess& service) {
        nuvel = std::make_unique<InstalledNuvel>(service.origin());
        desktop = std::make_unique<SignInDesktop>(home, *nuvel, display);
        ASSERT_FALSE(desktop->registerNuvel());
        // On the session's bus, where its accessibility bus and keyring are.
        desktop->environment().insert("DBUS_SESSION_BUS_ADDRESS",
                                      qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
        desktop->environment().insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    }

    std::unique_ptr<RunningNuvel> start() {
        return std::make_unique<RunningNuvel>(*bus, *nuvel, desktop->environment());
    }

    // Gives the keyboard to the newest window on screen titled `title`, as a click on it would.
    bool focusWindow(const std::string& title) {
        std::vector<unsigned long> found;
        return eventually([&] { return !(found = keyboard->windows(title)).empty(); }, 60000) &&
               keyboard->focus(found.back());
    }

    // Presses Tab (Shift+Tab `backwards`) until the focus is on `wanted`: "[role] name", or a
    // name alone, of any role.
    testing::AssertionResult tabTo(RunningNuvel& app, const std::string& wanted, bool backwards = false) {
        std::string walked;
        for (int tabs = 0; tabs < 60; ++tabs) {
            const std::string now = app.focused();
            if (now == wanted || (now.ends_with("] " + wanted) && wanted.find(']') == std::string::npos))
                return testing::AssertionSuccess() << walked;
            walked += now + " | ";
            if (!keyboard->type({backwards ? "shift+Tab" : "Tab"}))
                break;
            // The focus moves before the next Tab goes.
            eventually([&] { return app.focused() != now; }, 10000);
        }
        return testing::AssertionFailure() << "walked: " << walked << "\n" << app.state();
    }

    // Selects the whole transcript and chooses More ▸ Correct selection…. The menu's item comes on
    // with a selection; the keys again should they have come before the window had the keyboard.
    bool chooseCorrectSelection(RunningNuvel& app) {
        return eventually(
            [&] {
                if (!keyboard->type({"ctrl+a"}) || !app.act({"push button", "More"}, "ShowMenu"))
                    return false;
                const auto item = app.waitFor({"menu item", "Correct selection…"}, 3000);
                if (item && item->enabled())
                    return item->perform("Press");
                keyboard->type({"Escape"});
                eventually([&] { return !app.waitFor({"menu item", "Rename…"}, 0); }, 5000);
                return false;
            },
            30000);
    }

    // The keys that type `text` on the server's US layout: letters, digits, spaces and full stops.
    static std::vector<std::string> keysOf(const std::string& text) {
        std::vector<std::string> keys;
        for (const char c : text)
            keys.push_back(c == ' '   ? std::string("space")
                           : c == '.' ? std::string("period")
                           : std::isupper(static_cast<unsigned char>(c))
                               ? "shift+" + std::string(1, char(std::tolower(static_cast<unsigned char>(c))))
                               : std::string(1, c));
        return keys;
    }

    QApplication& app_ = application();
    VirtualDisplay display;
    std::unique_ptr<AccessibilityBus> bus;
    StandinProcess standin;
    PrivateHome home;
    std::unique_ptr<InstalledNuvel> nuvel;
    std::unique_ptr<SignInDesktop> desktop;
    std::unique_ptr<DisplayKeyboard> keyboard;
    const KeychainVault vault{AppModel::keychainService, makeSystemSecretBackend()};
};

TEST_F(RecordingEndToEnd, RecordSendOpenAndExportAMeetingThroughTheInterface) {
    // A screen reader listens all along; and the home has the empty Music folder of a new
    // desktop user, where the audio export's save panel opens.
    ShowingEvents screenReader;
    ASSERT_TRUE(screenReader.listening());
    std::filesystem::create_directories(home.path("home") / "Music");
    auto app = start();
    signInAndStartRecording(*app, *desktop, title);
    ASSERT_FALSE(HasFatalFailure());

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
        assets +=
            entry.path().extension() == ".nuvel" && name != "manifest.nuvel" && name != "annotations.nuvel";
        live += name.starts_with("live-");
    }
    EXPECT_GE(assets, 1u);
    EXPECT_EQ(live, 0u);

    // Played to its end: the pane offers Play again, the player's stream has closed and no clear
    // copy of the audio is left beside the sealed one.
    NUVEL_CONNECT_PULSE(pulse);
    const auto playerStreams = [&] {
        std::size_t streams = 0;
        for (const PulseSinkInputInfo& input : listSinkInputs(*pulse))
            streams += input.processID == app->process().processId();
        return streams;
    };
    const auto listing = [&] {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folders.front()))
            names.insert(entry.path().filename().string());
        return names;
    };
    const auto show = [&](const char* when) {
        std::string names;
        for (const std::string& name : listing())
            names += "  " + name + "\n";
        std::printf("The recording's folder %s:\n%s", when, names.c_str());
    };
    const std::set<std::string> sealed = listing();
    ASSERT_TRUE(app->act({"push button", "Play"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Pause playback"}, 60000)) << app->state();
    EXPECT_TRUE(eventually([&] { return playerStreams() == 1; }, 10000)) << "no stream plays";
    EXPECT_EQ(listing().size(), sealed.size() + 1) << "the clear copy being played";
    show("while it plays");
    ASSERT_TRUE(app->waitFor({"push button", "Play"}, 60000)) << app->state();
    EXPECT_TRUE(eventually([&] { return playerStreams() == 0; }, 10000)) << "the player's stream stayed open";
    EXPECT_TRUE(eventually([&] { return listing() == sealed; }, 10000));
    show("once its playback ended");

    // The audio, exported through the save panel.
    const std::filesystem::path audio = home.path("home") / "Standup.m4a";
    ASSERT_TRUE(app->act({"push button", "Export audio…"})) << app->state();
    const std::optional<AccessibleElement> audioPanel = app->waitFor({"dialog", "Save As"});
    ASSERT_TRUE(audioPanel) << app->state();
    // Shown as a list, its files are none in the empty folder.
    ASSERT_TRUE(app->act({"push button", "List View"})) << app->state();
    const std::optional<AccessibleElement> files = app->waitFor({"list", "Files"});
    ASSERT_TRUE(files) << app->state();
    EXPECT_TRUE(files->children().empty()) << files->describe();
    const std::optional<AccessibleElement> audioName = audioPanel->find({"text", "File name:"});
    ASSERT_TRUE(audioName && audioName->setText(audio.string())) << app->state();
    ASSERT_TRUE(app->act({"push button", "Save"})) << app->state();
    ASSERT_TRUE(eventually(
        [&] { return std::filesystem::exists(audio) && std::filesystem::file_size(audio) > 0; }, 60000))
        << app->state();
    ASSERT_TRUE(eventually([&] { return !app->waitFor({"dialog", "Save As"}, 0); }, 30000)) << app->state();

    // Not in the cloud until it is sent.
    const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
    ASSERT_TRUE(stored);
    const DeviceSession session = DeviceSession::decode(
        std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
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
    ASSERT_TRUE(app->act({"page tab", "Nuvel library"})) << app->state();
    ASSERT_TRUE(app->holds({"page tab", "Nuvel library"}, &AccessibleElement::selected)) << app->state();
    ASSERT_TRUE(app->act({"list item", title}, "Toggle")) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Export meeting"}, 60000)) << app->state();

    // Markdown, saved where the save panel is told.
    const std::filesystem::path exported = home.path("home") / "Standup notes.md";
    // The export button opens its menu, which shows in the tree while it is open, and its
    // Markdown item is pressed there.
    ASSERT_TRUE(app->act({"push button", "Export meeting"}, "ShowMenu")) << app->state();
    ASSERT_TRUE(app->holds({"push button", "Export meeting"}, &AccessibleElement::pressed)) << app->state();
    ASSERT_TRUE(app->waitFor({"menu item", "Markdown"})) << app->state();
    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-export-menu-open.png"));
    ASSERT_TRUE(app->act({"menu item", "Markdown"})) << app->state();
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
        const std::string speaker =
            transcript.at("speakers").at(word.at("speaker").get<std::string>()).at("label");
        const std::string line = "] " + speaker + ": " + word.at("text").get<std::string>() + "\n";
        lines += markdown.find(line) != std::string::npos;
    }
    EXPECT_EQ(lines, words.size()) << markdown;
    EXPECT_EQ(std::count(markdown.begin(), markdown.end(), '['), std::ptrdiff_t(words.size())) << markdown;

    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-meeting-exported.png"));
    ASSERT_TRUE(eventually([&] { return !app->waitFor({"dialog", "Save As"}, 0); }, 30000)) << app->state();

    // A word corrected: the transcript's words selected with the keyboard, "Correct selection…"
    // from the More menu, the draft retyped and saved.
    const std::string meetingID = meeting.at("id");
    ASSERT_TRUE(app->act({"page tab", "Transcript"})) << app->state();
    const std::optional<AccessibleElement> shownTranscript = app->waitFor({"", "Meeting transcript"});
    ASSERT_TRUE(shownTranscript && focusWindow("Nuvel") && shownTranscript->perform("SetFocus"))
        << app->state();
    ASSERT_TRUE(app->holds({"", "Meeting transcript"}, &AccessibleElement::focused)) << app->state();
    ASSERT_TRUE(chooseCorrectSelection(*app)) << app->state();
    const std::optional<AccessibleElement> draft = app->waitFor({"text", "Correction draft"});
    ASSERT_TRUE(draft && draft->setText("Corrected")) << app->state();
    ASSERT_TRUE(app->act({"push button", "Save correction"})) << app->state();
    ASSERT_TRUE(eventually(
        [&] {
            const json::Value corrected = cloud.transcript(meetingID).at("words");
            return !corrected.empty() && corrected.front().at("text") == "Corrected";
        },
        60000))
        << cloud.transcript(meetingID).dump() << app->state();
    ASSERT_TRUE(eventually(
        [&] {
            return !app->waitFor({"dialog", "Correct transcript"}, 0);
        },
        30000))
        << app->state();

    // Shared: a view-only link.
    ASSERT_TRUE(app->act({"push button", "Share…"})) << app->state();
    ASSERT_TRUE(app->waitFor({"dialog", "Sharing"})) << app->state();
    ASSERT_TRUE(app->act({"push button", "Create link"})) << app->state();
    EXPECT_TRUE(eventually([&] { return cloud.sharing(meetingID).at("links").size() == 1; }, 60000))
        << cloud.sharing(meetingID).dump();
    ASSERT_TRUE(eventually([&] { return !app->waitFor({"dialog", "Sharing"}, 0); }, 30000)) << app->state();

    // Quit from the menu. All along, nothing was written to the error stream: it is for faults.
    ASSERT_TRUE(app->act({"menu item", "Quit Nuvel", false, true})) << app->state();
    ASSERT_TRUE(app->process().waitForFinished(60000)) << app->state();
    EXPECT_EQ(app->process().exitCode(), 0) << app->state();
    const std::string said = app->process().readAllStandardError().toStdString();
    std::ofstream(artifactsFolder() / "e2e-session-stderr.txt") << said;
    EXPECT_EQ(said, "");

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

// The main road with the keyboard alone, as someone without a mouse or a screen reader takes it:
// Ctrl+N, the consent with Space, Return for the check and for the start, then Tab to "Stop and
// save" and to "Send to Nuvel". Each redraw leaves the keyboard in the recording's pane, though
// the button that had it is gone.
TEST_F(RecordingEndToEnd, TheKeyboardAloneRecordsStopsAndSends) {
    auto app = start();
    signIn(*app, *desktop);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(focusWindow("Nuvel")) << app->state();
    ASSERT_TRUE(keyboard->type({"ctrl+n"}));
    ASSERT_TRUE(app->waitFor({"check box", "I have permission to record and process this conversation."}))
        << app->state();
    // The sheet gives its consent box the keyboard; its default button checks the sources.
    ASSERT_TRUE(focusWindow("Nuvel") && keyboard->type({"space", "Return"})) << app->state();
    ASSERT_TRUE(focusWindow("Check recording sources")) << app->state();
    // "Start recording" is the default button once the microphone has been heard.
    ASSERT_TRUE(app->waitFor({"push button", "Start recording"})) << app->state();
    ASSERT_TRUE(keyboard->type({"Return"}));
    ASSERT_TRUE(app->waitFor({"push button", "Stop and save"})) << app->state();

    // Tab to a button of the pane; no control keeps the Tab key (the notes editor passes it on).
    ASSERT_TRUE(focusWindow("Nuvel")) << app->state();
    ASSERT_TRUE(tabTo(*app, "[push button] Stop and save"));
    ASSERT_TRUE(
        app->showsLabel([](const std::string& text) { return text.size() == 5 && text >= "00:02"; }, 60000));
    ASSERT_TRUE(keyboard->type({"space"}));
    ASSERT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 60000)) << app->state();
    // The pane was rebuilt without "Stop and save": the keyboard stayed in it.
    EXPECT_TRUE(eventually([&] { return app->focusOnDetailSide(); }, 10000)) << app->focused();
    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-keyboard-after-stop.png"));
    ASSERT_TRUE(tabTo(*app, "[push button] Send to Nuvel"));
    ASSERT_TRUE(keyboard->type({"space"}));

    const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
    ASSERT_TRUE(stored);
    const DeviceSession session = DeviceSession::decode(
        std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
    const CloudMeetings cloud(standin.origin(), session.token);
    ASSERT_TRUE(eventually([&] { return cloud.listed().size() == 1; }, 60000)) << app->state();
    // And again without "Send to Nuvel".
    EXPECT_TRUE(eventually([&] { return app->focusOnDetailSide(); }, 10000)) << app->focused();
}

// A cloud meeting with the keyboard alone, left to right and then under an Arabic interface: the
// library's side chosen with Tab, Space and the arrows, the meeting's row with Return, the
// transcript shown, a word found with Ctrl+F, corrected through More (Return opens it) and saved
// with Return; the audio played and paused with Return, a view-only link made in the sharing
// sheet with Return on its buttons, Markdown exported through the Export menu, the meeting
// deleted. The second time the word is corrected through the transcript's own menu, the
// Menu key's. Each change reaches the service; after the correction the keyboard is back in
// the transcript, after the deletion in the list.
TEST_F(RecordingEndToEnd, TheKeyboardAloneWorksThroughACloudMeeting) {
    StandinProcess seeded({"--seed"});
    ASSERT_FALSE(seeded.origin().empty()) << seeded.banner();
    installFor(seeded);
    ASSERT_FALSE(HasFatalFailure());
    std::optional<CloudMeetings> cloud;
    const auto meetingTitled = [&](const std::string& wanted) -> std::string {
        for (const json::Value& meeting : cloud->listed())
            if (meeting.at("title") == wanted)
                return meeting.at("id");
        return {};
    };
    const auto press = [&](RunningNuvel& app, const std::vector<std::string>& keys) {
        return keyboard->type(keys) ? testing::AssertionSuccess()
                                    : testing::AssertionFailure() << app.state();
    };
    // Tab reaches the chosen segment of a pair, the arrows the other; Space chooses it.
    const auto choose = [&](RunningNuvel& app, const std::vector<std::string>& pair,
                            const std::string& wanted) {
        if (!tabTo(app, pair[0]) && !tabTo(app, pair[1]))
            return testing::AssertionFailure() << "Tab reaches neither segment\n" << app.state();
        for (const char* arrow : {"Right", "Left"})
            if (!app.focused().ends_with("] " + wanted)) {
                const std::string was = app.focused();
                keyboard->type({arrow});
                eventually([&] { return app.focused() != was; }, 5000);
            }
        if (!app.focused().ends_with("] " + wanted))
            return testing::AssertionFailure() << "the arrows went to " << app.focused();
        return press(app, {"space"});
    };
    for (const bool arabic : {false, true}) {
        SCOPED_TRACE(arabic ? "Arabic" : "left to right");
        const std::string suffix = arabic ? "-arabic" : "-ltr";
        // The library window's title: the product's name, in Arabic script under an Arabic interface.
        const std::string window = arabic ? "نوفل" : "Nuvel";
        if (arabic)
            desktop->environment().insert("LANGUAGE", "ar_EG:en_US");
        auto app = start();
        if (!arabic) {
            signIn(*app, *desktop);
            ASSERT_FALSE(HasFatalFailure());
            const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
            ASSERT_TRUE(stored);
            cloud.emplace(seeded.origin(),
                          DeviceSession::decode(
                              std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()))
                              .token);
        }
        ASSERT_TRUE(app->waitFor({"label", "you@nuvel.test"})) << app->state();
        ASSERT_TRUE(focusWindow(window)) << app->state();

        // The Nuvel library, its newest meeting opened from the list, its transcript shown.
        const std::string title = arabic ? "Weekly design sync" : "Beta launch review";
        const std::string meetingID = meetingTitled(title);
        ASSERT_FALSE(meetingID.empty()) << cloud->listed().dump();
        ASSERT_TRUE(choose(*app, {"On this computer", "Nuvel library"}, "Nuvel library"));
        ASSERT_TRUE(app->waitFor({"list item", title})) << app->state();
        ASSERT_TRUE(tabTo(*app, "Recordings") || tabTo(*app, title));
        // Return chooses the row the keyboard is on, as Space does.
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(app->waitFor({"push button", "Export meeting"})) << app->state();
        ASSERT_TRUE(choose(*app, {"Notes", "Transcript"}, "Transcript"));
        ASSERT_TRUE(app->waitFor({"", "Meeting transcript"})) << app->state();
        // Tab goes round the window through named controls that show where the keyboard is:
        // never the frame the meeting scrolls in, nor the one-pixel divider.
        if (!arabic) {
            const std::string first = app->focused();
            std::string now = first, walk, astray;
            for (int tabs = 0; tabs < 60 && (tabs == 0 || now != first); ++tabs) {
                walk += now + " | ";
                if (now.ends_with("] ") || now.ends_with("] Divider"))
                    astray += now + " | ";
                ASSERT_TRUE(press(*app, {"Tab"}));
                const std::string was = now;
                eventually([&] { return (now = app->focused()) != was; }, 5000);
            }
            EXPECT_EQ(now, first) << walk;
            EXPECT_EQ(astray, "") << walk;
        }

        // The word found, then the correction sheet over it.
        ASSERT_TRUE(press(*app, {"ctrl+f"}));
        ASSERT_TRUE(eventually([&] { return app->focused().ends_with("] Find in this meeting"); }, 10000))
            << app->focused();
        std::vector<std::string> find = keysOf("Thanks");
        find.push_back("Return");
        ASSERT_TRUE(press(*app, find));
        ASSERT_TRUE(tabTo(*app, "Meeting transcript"));
        if (!arabic) {
            ASSERT_TRUE(tabTo(*app, "More"));
            ASSERT_TRUE(press(*app, {"Return"}));
            ASSERT_TRUE(app->waitFor({"menu item", "Correct selection…"})) << app->state();
            ASSERT_TRUE(press(*app, {"Down", "Return"}));
        } else {
            ASSERT_TRUE(press(*app, {"Menu", "Down", "Down", "Down", "Return"}));
        }
        const std::optional<AccessibleElement> sheet = app->waitFor({"dialog", "Correct transcript"});
        ASSERT_TRUE(sheet) << app->state();
        const std::optional<AccessibleElement> draft = sheet->find({"text", "Correction draft"});
        ASSERT_TRUE(draft) << app->state();
        EXPECT_EQ(draft->text(), "Thanks");
        ASSERT_TRUE(eventually([&] { return app->focused().ends_with("] Correction draft"); }, 10000))
            << app->focused();
        EXPECT_TRUE(display.screenshot(artifactsFolder() / ("e2e-keyboard-correction" + suffix + ".png")));
        std::vector<std::string> correction = {"ctrl+a"};
        for (const std::string& key : keysOf(arabic ? "Thank you all" : "Thank you"))
            correction.push_back(key);
        correction.push_back("Return");
        const std::string corrected = arabic ? "Thank you all" : "Thank you";
        const std::vector<unsigned long> library = keyboard->windows(window);
        ASSERT_FALSE(library.empty());
        ASSERT_TRUE(press(*app, correction));
        // With no window manager on this server, the window gets the keyboard back as from one:
        // the moment the sheet over it has gone, while the meeting loads again with the correction.
        QElapsedTimer waited;
        waited.start();
        while (!keyboard->windows("Correct transcript").empty() && waited.elapsed() < 60000)
            QThread::usleep(500);
        ASSERT_TRUE(keyboard->focus(library.back())) << app->state();
        ASSERT_TRUE(eventually(
            [&] {
                const json::Value words = cloud->transcript(meetingID).at("words");
                return !words.empty() && words.front().at("text") == corrected;
            },
            60000))
            << cloud->transcript(meetingID).dump() << app->state();
        // Back in the transcript, on the words corrected.
        EXPECT_TRUE(eventually(
            [&] {
                const std::optional<AccessibleElement> now = app->focusedElement();
                return now && now->name() == "Meeting transcript" && now->selectedText() == corrected;
            },
            10000))
            << "after the correction the keyboard is at " << app->focused() << ", on \""
            << (app->focusedElement() ? app->focusedElement()->selectedText() : std::string()) << "\"";
        EXPECT_TRUE(
            display.screenshot(artifactsFolder() / ("e2e-keyboard-after-correction" + suffix + ".png")));
        if (arabic)
            continue;

        // The audio played and paused with Return, as with Space: the position moves on, then stays.
        ASSERT_TRUE(tabTo(*app, "[push button] Play"));
        ASSERT_TRUE(press(*app, {"Return"}));
        EXPECT_TRUE(app->showsLabel(
            [](const std::string& text) {
                return text.find(" / ") != std::string::npos && !text.starts_with("0:00 ");
            },
            30000))
            << app->state();
        ASSERT_TRUE(eventually([&] { return app->focused() == "[push button] Pause"; }, 10000))
            << app->focused();
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(eventually([&] { return app->focused() == "[push button] Play"; }, 10000))
            << app->focused();

        // A view-only link, with Return on each button.
        ASSERT_TRUE(tabTo(*app, "Share…"));
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(app->waitFor({"dialog", "Sharing"})) << app->state();
        ASSERT_TRUE(tabTo(*app, "Create link"));
        ASSERT_TRUE(press(*app, {"Return"}));
        EXPECT_TRUE(eventually([&] { return cloud->sharing(meetingID).at("links").size() == 1; }, 60000))
            << cloud->sharing(meetingID).dump();
        ASSERT_TRUE(eventually(
            [&] {
                return !app->waitFor({"dialog", "Sharing"}, 0);
            },
            30000))
            << app->state();
        ASSERT_TRUE(focusWindow(window)) << app->state();

        // Markdown through the Export menu, which Return opens.
        ASSERT_TRUE(tabTo(*app, "Export meeting"));
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(app->waitFor({"menu item", "Markdown"})) << app->state();
        ASSERT_TRUE(press(*app, {"Down", "Return"}));
        const std::optional<AccessibleElement> panel = app->waitFor({"dialog", "Save As"}, 180000);
        ASSERT_TRUE(panel) << app->state();
        const std::filesystem::path exported = home.path("home") / "Launch review.md";
        const std::optional<AccessibleElement> fileName = panel->find({"text", "File name:"});
        ASSERT_TRUE(fileName && fileName->setText(exported.string())) << app->state();
        ASSERT_TRUE(eventually([&] { return app->focused().ends_with("] File name:"); }, 10000))
            << app->focused();
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(exported); }, 60000)) << app->state();
        EXPECT_NE(fileContents(exported).find("Thank you"), std::string::npos) << fileContents(exported);
        ASSERT_TRUE(eventually(
            [&] {
                return !app->waitFor({"dialog", "Save As"}, 0);
            },
            30000))
            << app->state();
        ASSERT_TRUE(focusWindow(window)) << app->state();

        // Deleted, after the question; the keyboard stays in the list, on the meeting now in its place.
        ASSERT_TRUE(tabTo(*app, "More"));
        ASSERT_TRUE(press(*app, {"Return"}));
        ASSERT_TRUE(app->waitFor({"menu item", "Delete meeting…"})) << app->state();
        ASSERT_TRUE(press(*app, {"Up", "Return"}));
        ASSERT_TRUE(app->waitFor({"push button", "Delete meeting"})) << app->state();
        ASSERT_TRUE(tabTo(*app, "[push button] Delete meeting"));
        ASSERT_TRUE(press(*app, {"space"}));
        ASSERT_TRUE(eventually([&] { return meetingTitled(title).empty(); }, 60000))
            << cloud->listed().dump();
        ASSERT_TRUE(eventually(
            [&] {
                return !app->waitFor({"list item", title}, 0);
            },
            30000))
            << app->state();
        ASSERT_TRUE(focusWindow(window)) << app->state();
        EXPECT_TRUE(eventually(
            [&] {
                const std::string now = app->focused();
                return now == "[list] Recordings" || now.starts_with("[list item] ");
            },
            10000))
            << "after the deletion the keyboard is at " << app->focused();
        ::kill(pid_t(app->process().processId()), SIGTERM);
        ASSERT_TRUE(app->process().waitForFinished(60000));
    }
}

// What the window shows stays what is true along the road of one recording beside a library of
// three processed meetings: the pane comes back from an export started with the keyboard (whose
// redraw leaves the keyboard in the notes editor), a sent recording's pane follows the service's
// processing to its end at each refresh, the library opened from the pane lists the new meeting
// and highlights it alone (the sentence about the sending stays with the recording), and after
// the meeting is deleted no row is highlighted until one is chosen, which then opens; the
// recording then reads as sent, with no processing state and no way to the meeting, also after
// a restart.
TEST_F(RecordingEndToEnd, ThePaneAndTheListFollowAnExportASendAndADelete) {
    const StandinProcess samples({"--seed"});
    ASSERT_FALSE(samples.origin().empty()) << samples.banner();
    installFor(samples);
    ASSERT_FALSE(HasFatalFailure());
    constexpr const char* sent = "Retro on the pane road";
    auto app = start();
    signInAndStartRecording(*app, *desktop, sent);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(
        app->showsLabel([](const std::string& text) { return text.size() == 5 && text >= "00:02"; }, 60000))
        << app->state();
    ASSERT_TRUE(app->act({"push button", "Stop and save"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 60000)) << app->state();
    const auto showsText = [&](const std::string& wanted, int milliseconds = 30000) {
        return app->showsLabel([&](const std::string& text) { return text == wanted; }, milliseconds);
    };
    const auto highlighted = [&] {
        std::string rows;
        if (const auto application = bus->application(int(app->process().processId())))
            for (const AccessibleElement& row : application->findAll({"list item", ""}))
                if (row.selected())
                    rows += "[" + row.name() + "]";
        return rows;
    };
    const std::string choose = "Choose a meeting to review its notes, transcript and evidence.";

    // The library read while this computer's recording is highlighted: no meeting is open, so
    // none of its rows is.
    ASSERT_TRUE(app->act({"page tab", "Nuvel library"})) << app->state();
    ASSERT_TRUE(app->waitFor({"list item", "Beta launch review"})) << app->state();
    EXPECT_TRUE(showsText(choose)) << app->state();
    EXPECT_TRUE(eventually([&] { return highlighted().empty(); }, 10000)) << highlighted();
    ASSERT_TRUE(app->act({"page tab", "On this computer"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 60000)) << app->state();

    // Export audio with the keyboard; Save in the panel.
    ASSERT_TRUE(focusWindow("Nuvel")) << app->state();
    ASSERT_TRUE(tabTo(*app, "[push button] Export audio…"));
    ASSERT_TRUE(keyboard->type({"space"}));
    const std::optional<AccessibleElement> panel = app->waitFor({"dialog", "Save As"});
    ASSERT_TRUE(panel) << app->state();
    const std::filesystem::path exported = home.path("home") / "Retro.m4a";
    const std::optional<AccessibleElement> fileName = panel->find({"text", "File name:"});
    ASSERT_TRUE(fileName && fileName->setText(exported.string())) << app->state();
    ASSERT_TRUE(app->act({"push button", "Save"})) << app->state();
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(exported); }, 60000)) << app->state();
    EXPECT_TRUE(showsText("Audio exported. Private notes were not included.")) << app->state();
    EXPECT_TRUE(app->waitFor({"push button", "Remove local copy…"}, 10000)) << app->state();
    EXPECT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 10000)) << app->state();
    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-pane-after-export.png"));

    // Sent, then refreshed: the stand-in moves the meeting on at each read, to its end.
    ASSERT_TRUE(app->act({"push button", "Send to Nuvel"})) << app->state();
    ASSERT_TRUE(showsText("Sent to Nuvel · Queued", 60000)) << app->state();
    for (const char* state : {"Processing", "Completed"}) {
        ASSERT_TRUE(app->act({"push button", "Refresh status"})) << app->state();
        ASSERT_TRUE(showsText(std::string("Sent to Nuvel · ") + state)) << state << "\n" << app->state();
    }
    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-pane-after-send.png"));
    const std::string sentSentence = "Sent to Nuvel. Your local audio is kept until you choose to remove it.";
    EXPECT_TRUE(showsText(sentSentence, 0)) << app->state();

    // Opened from the pane: the list, read before the meeting was made, shows it, highlighted.
    ASSERT_TRUE(app->act({"push button", "Open in Nuvel library"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Export meeting"}, 60000)) << app->state();
    EXPECT_TRUE(eventually([&] { return !showsText(sentSentence, 0); }, 10000))
        << "the recording's sentence over its meeting\n"
        << app->state();
    EXPECT_TRUE(eventually([&] { return highlighted() == "[" + std::string(sent) + "]"; }, 30000))
        << highlighted() << "\n"
        << app->state();

    // Deleted: the meeting leaves the list, and no row is highlighted.
    ASSERT_TRUE(app->act({"push button", "More"}, "ShowMenu")) << app->state();
    ASSERT_TRUE(app->act({"menu item", "Delete meeting…"})) << app->state();
    ASSERT_TRUE(app->act({"push button", "Delete meeting"})) << app->state();
    ASSERT_TRUE(eventually([&] { return !app->waitFor({"list item", sent}, 0); }, 60000)) << app->state();
    EXPECT_TRUE(showsText(choose)) << app->state();
    EXPECT_TRUE(eventually([&] { return highlighted().empty(); }, 10000)) << highlighted();
    EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-library-after-delete.png"));
    // The row in its place opens its meeting when chosen.
    ASSERT_TRUE(app->act({"list item", "Beta launch review"}, "Toggle")) << app->state();
    EXPECT_TRUE(app->waitFor({"push button", "Export meeting"}, 60000)) << app->state();
    EXPECT_TRUE(eventually([&] { return highlighted() == "[Beta launch review]"; }, 30000)) << highlighted();

    // Back on this computer, the recording reads as sent, no more; and so after a restart.
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "after the deletion" : "after a restart");
        ASSERT_TRUE(app->act({"page tab", "On this computer"})) << app->state();
        ASSERT_TRUE(app->act({"list item", sent}, "Toggle")) << app->state();
        EXPECT_TRUE(showsText("Sent to Nuvel")) << app->state();
        EXPECT_FALSE(showsText("Sent to Nuvel · Completed", 0)) << app->state();
        EXPECT_FALSE(app->waitFor({"push button", "Open in Nuvel library"}, 0)) << app->state();
        EXPECT_FALSE(app->waitFor({"push button", "Send to Nuvel"}, 0)) << app->state();
        if (run == 0) {
            EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-pane-after-delete.png"));
            ::kill(pid_t(app->process().processId()), SIGTERM);
            ASSERT_TRUE(app->process().waitForFinished(60000));
            app = start();
        }
    }
}

// Every control on screen in each state of the windows has a name a screen reader says and an
// action it can take; every window, the status item's panel included, is named as a window; no
// name, description or text holds direction marks or markup; and each Tab stop is a named
// control that takes the keyboard, with nothing else saying it has it. The count per state is
// printed, so that a new control shows in it.
TEST_F(RecordingEndToEnd, EveryControlOnScreenHasANameAndAnAction) {
    // A panel's tray on the session bus before the program looks for one, so that it shows its
    // status item, whose click opens the popover.
    const StatusNotifierWatcher tray;
    ASSERT_TRUE(tray.owned()) << "another tray host holds the session's watcher";
    // Listening as a screen reader does, before the program starts.
    ShowingEvents showing;
    ASSERT_TRUE(showing.listening());
    auto app = start();
    // Clicks the program's tray icon, as a panel at the top right of the screen does.
    const auto clickTrayIcon = [&] {
        std::optional<QString> item;
        return eventually([&] { return (item = tray.itemOf(app->process().processId())).has_value(); },
                          60000) &&
               tray.activate(*item, 1260, 12);
    };
    const auto close = [&](const char* button) { return app->act({"push button", button}); };
    // Closes the dialog with its button and waits for it to go: a menu opened while it goes would
    // close with it, as the library window takes the activation back.
    const auto closeDialog = [&](const char* button, const char* dialog) {
        return close(button) && eventually([&] { return !app->waitFor({"dialog", dialog}, 0); }, 60000);
    };
    struct State {
        const char* name;
        std::function<bool()> reach;
        // The window Tab goes round: its title on the screen and its accessible name.
        std::string window = "Nuvel";
        std::string windowName = "Nuvel";
        // Whether Tab is followed round it: not in a menu, which arrows go through, nor in the
        // meeting prompt, which never takes the keyboard from the application in front, nor in
        // the toolkit's own file panels (their file list takes the focus cell by cell).
        bool tabRound = true;
        // The role of the window Tab goes round, where another window is titled as it is (a
        // message box is titled as the library window); empty for any.
        std::string windowRole;
        // Texts the state shows that a screen reader must be able to read.
        std::vector<std::string> reads = {};
        // Whether the keyboard is to reach every control that acts: not in a window that never
        // takes it, nor in the toolkit's own panels.
        bool keyboard = true;
        // How the screen reader hears of a window that comes by itself: "[role] name".
        std::optional<std::string> announced = std::nullopt;
        // In a file panel, what its list of files reads: each file and folder it shows, once.
        std::optional<std::vector<std::string>> files = std::nullopt;
    };
    // A program named like a meeting application, recording the test microphone while a row
    // needs it.
    const std::filesystem::path zoom = home.path("run") / "zoom";
    std::filesystem::copy_file("/usr/bin/pacat", zoom);
    std::filesystem::permissions(zoom, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
    std::unique_ptr<ChildProcess> meetingApp;
    // An audio file to import, which the import sheet offers once it is chosen.
    const std::filesystem::path audio = home.path("home") / "Interview.wav";
    writeToneWav(audio, 440, 1.0, 0.5);
    // The meeting's provenance, as its info popover reads.
    const auto provenance = [](const std::string& text) {
        return text.find("Source revision") != std::string::npos;
    };
    const State states[] = {
        {"library, this computer, signed out", [] { return true; }},
        {"library, Nuvel library, signed out",
         [&] {
             return app->act({"page tab", "Nuvel library"});
         }},
        {"library, this computer, signed in",
         [&] {
             signIn(*app, *desktop);
             return !HasFatalFailure() && app->act({"page tab", "On this computer"});
         }},
        {"library, Nuvel library, signed in",
         [&] {
             return app->act({"page tab", "Nuvel library"});
         }},
        {"new-recording sheet",
         [&] {
             return app->act({"page tab", "On this computer"}) &&
                    app->act({"push button", "New recording"}) && app->waitFor({"dialog", ""}).has_value();
         },
         "", "Nuvel", true, "dialog"},
        {"settings, General",
         [&] {
             return close("Cancel") && app->act({"menu item", "Settings…", false, true});
         },
         "General", "General"},
        {"settings, Account",
         [&] {
             return app->act({"page tab", "Account"});
         },
         "Account", "Account"},
        {"settings, Capture",
         [&] {
             return app->act({"page tab", "Capture"});
         },
         "Capture", "Capture"},
        {"settings, Meetings",
         [&] {
             return app->act({"page tab", "Meetings"});
         },
         "Meetings", "Meetings"},
        {"settings, Privacy & Storage",
         [&] {
             return app->act({"page tab", "Privacy & Storage"});
         },
         "Privacy & Storage", "Privacy & Storage"},
        {"settings, Diagnostics",
         [&] {
             return app->act({"page tab", "Diagnostics"});
         },
         "Diagnostics", "Diagnostics"},
        {"source check",
         [&] {
             // Titled, so that the meeting made of it is found in the Nuvel library.
             const auto titled = [&] {
                 const std::optional<AccessibleElement> sheet = app->waitFor({"dialog", "", false});
                 const std::optional<AccessibleElement> field =
                     sheet ? sheet->find({"text", ""}) : std::nullopt;
                 return field && field->setText(title);
             };
             return app->act({"push button", "New recording"}) && titled() &&
                    app->act({"check box", "I have permission to record and process this conversation."},
                             "Toggle") &&
                    app->act({"push button", "Check sources"}) &&
                    app->waitFor({"push button", "Start recording"});
         },
         "Check recording sources", "Check recording sources"},
        {"library, recording",
         [&] {
             return app->act({"push button", "Start recording"}) &&
                    app->waitFor({"push button", "Stop and save"});
         }},
        // The popover a click on the status item opens, with the recording's remote control.
        {"popover, recording",
         [&] {
             if (!clickTrayIcon() || !app->waitFor({"push button", "Open library"}))
                 return false;
             EXPECT_TRUE(display.screenshot(artifactsFolder() / "e2e-popover-open.png"));
             return true;
         },
         "", "Nuvel", true, "dialog"},
        {"library, saved recording",
         [&] {
             // A second click closes the popover.
             return clickTrayIcon() &&
                    eventually(
                        [&] {
                            return !app->waitFor({"push button", "Open library"}, 0);
                        },
                        10000) &&
                    app->act({"push button", "Stop and save"}) &&
                    app->waitFor({"push button", "Send to Nuvel"});
         }},
        // The meeting the service made of the recording, opened from the Nuvel library.
        {"meeting, notes",
         [&] {
             const auto sent = [](const std::string& text) { return text.starts_with("Sent to Nuvel."); };
             return app->act({"push button", "Send to Nuvel"}) && app->showsLabel(sent, 60000) &&
                    app->act({"page tab", "Nuvel library"}) && app->act({"list item", title}, "Toggle") &&
                    app->waitFor({"push button", "Export meeting"});
         },
         "Nuvel",
         "Nuvel",
         true,
         "",
         {title}},
        {"meeting, transcript",
         [&] {
             return app->act({"page tab", "Transcript"}) &&
                    app->holds({"page tab", "Transcript"}, &AccessibleElement::selected);
         },
         "Nuvel",
         "Nuvel",
         true,
         "",
         {title}},
        // A word the meeting does not hold, looked for with the find field's Return: the status
        // line says so.
        {"meeting, find without a match",
         [&] {
             const std::optional<AccessibleElement> find = app->waitFor({"text", "Find in this meeting"});
             if (!find || !find->setText("xylophone") || !focusWindow("Nuvel") ||
                 !find->perform("SetFocus") ||
                 !app->holds({"text", "Find in this meeting"}, &AccessibleElement::focused) ||
                 !keyboard->type({"Return"}))
                 return false;
             // The sentence shows at once; whether it reads is the audit's to say.
             const auto said = [](const std::string& text) {
                 return text.find("No matches") != std::string::npos;
             };
             eventually(
                 [&] {
                     const auto application = bus->application(int(app->process().processId()));
                     if (application)
                         for (const AccessibleElement& element : application->findAll({}))
                             if (said(element.text()) || said(element.name()))
                                 return true;
                     return false;
                 },
                 10000);
             return true;
         },
         "Nuvel",
         "Nuvel",
         false,
         "",
         {title, "No matches in this meeting."}},
        {"meeting, sharing sheet",
         [&] {
             return app->act({"push button", "Share…"}) && app->waitFor({"dialog", "Sharing"});
         },
         "Sharing", "Sharing"},
        {"meeting, export menu",
         [&] {
             return closeDialog("Done", "Sharing") &&
                    app->act({"push button", "Export meeting"}, "ShowMenu") &&
                    app->waitFor({"menu item", "Markdown"});
         },
         "", "", false},
        // The toolkit's save panel, for Markdown, shown as a list; cancelled, it writes nothing. A
        // loaded machine may take long to show it.
        {"meeting, export save panel",
         [&] {
             return app->act({"menu item", "Markdown"}) && app->waitFor({"dialog", "Save As"}, 180000) &&
                    app->act({"push button", "List View"});
         },
         "",
         "",
         false,
         "",
         {},
         false,
         std::nullopt,
         std::vector<std::string>{}},
        {"meeting, more menu",
         [&] {
             return closeDialog("Cancel", "Save As") && app->act({"push button", "More"}, "ShowMenu") &&
                    app->waitFor({"menu item", "Rename…"});
         },
         "", "", false},
        {"meeting, rename sheet",
         [&] {
             return app->act({"menu item", "Rename…"}) && app->waitFor({"dialog", "Rename meeting"});
         },
         "Rename meeting", "Rename meeting"},
        // The transcript's words, selected with the keyboard, are corrected from the menu.
        {"meeting, correction sheet",
         [&] {
             const std::optional<AccessibleElement> transcript = app->waitFor({"", "Meeting transcript"});
             if (!close("Cancel") || !transcript || !focusWindow("Nuvel") ||
                 !transcript->perform("SetFocus") ||
                 !app->holds({"", "Meeting transcript"}, &AccessibleElement::focused))
                 return false;
             return chooseCorrectSelection(*app) && app->waitFor({"dialog", "Correct transcript"});
         },
         "Correct transcript", "Correct transcript"},
        // The meeting's provenance, in a panel under the More button, which Escape closes.
        {"meeting, info popover",
         [&] {
             return closeDialog("Cancel", "Correct transcript") &&
                    app->act({"push button", "More"}, "ShowMenu") && app->act({"menu item", "Show Info"}) &&
                    app->showsLabel(provenance, 60000);
         },
         "", "", false},
        // Deleting the meeting asks first; the audit cancels, and the meeting stays.
        {"meeting, delete confirmation",
         [&] {
             return keyboard->type({"Escape"}) &&
                    eventually([&] { return !app->showsLabel(provenance, 0); }, 10000) &&
                    app->act({"push button", "More"}, "ShowMenu") &&
                    app->act({"menu item", "Delete meeting…"}) &&
                    app->waitFor({"push button", "Delete meeting"});
         },
         "Nuvel", "Nuvel", true, "alert"},
        {"import, open panel",
         [&] {
             // Cancelled, the deletion leaves the meeting in the library.
             return close("Cancel") && app->waitFor({"list item", title}) &&
                    app->act({"push button", "Import audio…"}) && app->waitFor({"dialog", "Open"}) &&
                    app->act({"push button", "List View"});
         },
         "",
         "",
         false,
         "",
         {},
         false,
         std::nullopt,
         std::vector<std::string>{"Interview.wav"}},
        {"import, confirmation",
         [&] {
             const std::optional<AccessibleElement> panel = app->waitFor({"dialog", "Open"});
             const std::optional<AccessibleElement> name =
                 panel ? panel->find({"text", "File name:"}) : std::nullopt;
             return name && name->setText(audio.string()) && app->act({"push button", "Open"}) &&
                    app->waitFor({"push button", "Confirm and import"});
         },
         "Nuvel", "Nuvel", true, "alert"},
        {"meeting prompt",
         [&] {
             meetingApp = std::make_unique<ChildProcess>(
                 std::vector<std::string>{zoom.string(), "--record", "-d", "testmic", "/dev/null"});
             return close("Cancel") && app->waitFor({"push button", "Dismiss"});
         },
         "",
         "",
         false,
         "",
         {},
         false,
         "[notification] "},
    };
    const std::set<std::string> actionable = {"push button", "check box",   "toggle button", "radio button",
                                              "menu item",   "combo box",   "text",          "list item",
                                              "slider",      "spin button", "page tab"};
    // Roles that say nothing of what a control does: a Tab stop with one is a trap.
    const std::set<std::string> noControl = {"filler", "panel", "label", "unknown", "redundant object"};
    const auto identity = [](const AccessibleElement& element) {
        const auto box = element.box();
        return "[" + element.role() + "] \"" + element.name() + "\" at " +
               (box ? std::to_string((*box)[0]) + "," + std::to_string((*box)[1]) : std::string("?"));
    };
    // What a screen reader is never to be handed: the invisible marks that set a text's writing
    // direction, which belong to the text as drawn, or markup, which it would read as written.
    const auto unreadable = [](const std::string& text) -> const char* {
        for (const char* mark : {"\u200E", "\u200F", "\u202A", "\u202B", "\u202C", "\u202D", "\u202E",
                                 "\u2066", "\u2067", "\u2068", "\u2069"})
            if (text.find(mark) != std::string::npos)
                return "direction marks";
        static const std::regex markup(
            R"(<\s*/?[A-Za-z][A-Za-z0-9]*(\s[^<>]*)?/?>|&(lt|gt|amp|quot|nbsp|#[0-9]+);)");
        return std::regex_search(text, markup) ? "markup" : nullptr;
    };
    // The roles a screen reader announces as a window, by its name.
    const std::set<std::string> windowRoles = {"frame", "dialog", "alert", "notification", "file chooser"};
    // A button inside a text field (its clear button) acts on what the field's keys edit too.
    const auto inField = [](const AccessibleElement& element) {
        const std::optional<AccessibleElement> parent = element.parent();
        return parent && parent->role() == "text" && parent->focusable();
    };
    // What can be done to it besides taking the focus.
    const auto acts = [](const AccessibleElement& element) {
        for (const std::string& action : element.actions())
            if (action != "SetFocus")
                return true;
        return false;
    };
    std::string counts;
    for (const State& state : states) {
        SCOPED_TRACE(state.name);
        ASSERT_TRUE(state.reach()) << app->state();
        // The state's controls settle: the same counts twice in a row.
        std::string walked, before = "-";
        std::string faults;
        // Per window: the controls, and those a keyboard cannot reach; the texts read.
        std::map<std::string, std::vector<AccessibleElement>> unreachable;
        std::string hidden;
        ASSERT_TRUE(eventually(
            [&] {
                const auto application = bus->application(int(app->process().processId()));
                if (!application)
                    return false;
                walked.clear();
                faults.clear();
                unreachable.clear();
                hidden.clear();
                std::vector<std::string> unread(state.reads.begin(), state.reads.end());
                for (const AccessibleElement& window : application->children()) {
                    if (!window.showing())
                        continue;
                    const std::string windowKey = window.role() + " \"" + window.name() + "\"";
                    std::size_t controls = 0, unnamed = 0, noKeyboard = 0, valueNames = 0, unreadables = 0;
                    if (window.name().empty() || !windowRoles.contains(window.role())) {
                        ++unnamed;
                        faults += "a window a screen reader cannot name: " + windowKey + "\n";
                    }
                    // The window's menu bar commands, which the keyboard reaches through the bar.
                    std::set<std::string> commands;
                    for (const AccessibleElement& bar : window.findAll({"menu bar", ""}))
                        for (const AccessibleElement& item : bar.findAll({"menu item", "", false, true}))
                            commands.insert(item.name());
                    bool pageTabFocusable = false;
                    std::vector<AccessibleElement> pageTabs;
                    for (const AccessibleElement& element : window.findAll({})) {
                        const std::string role = element.role();
                        // The texts the user reads there, each exposed as text: a label's name is
                        // its text; anything else must offer the text interface.
                        const std::string said = element.hasText() ? element.text()
                                                 : role == "label" ? element.name()
                                                                   : std::string();
                        std::erase_if(unread, [&](const std::string& text) {
                            return !said.empty() && said.find(text) != std::string::npos;
                        });
                        for (const auto& [what, text] :
                             {std::pair{"name", element.name()},
                              std::pair{"description", element.description()}, std::pair{"text", said}})
                            if (const char* fault = unreadable(text)) {
                                ++unreadables;
                                faults += std::string(fault) + " in the " + what + " of " +
                                          identity(element) + ": " + text + "\n";
                                break;
                            }
                        if (!actionable.contains(role) || (role == "text" && !element.focusable()))
                            continue;
                        // The menu bar's closed menus are left to the menu bar.
                        if (role == "menu item" && !element.box())
                            continue;
                        ++controls;
                        // A control that is off offers nothing to do, but is still named.
                        if (element.name().empty() || (element.enabled() && element.actions().empty())) {
                            ++unnamed;
                            faults += "[" + role + "] \"" + element.name() + "\" " +
                                      std::to_string(element.actions().size()) + " actions\n";
                        }
                        // A choice is named for its purpose, not by one of its values.
                        if (role == "combo box" && state.keyboard)
                            for (const AccessibleElement& item :
                                 element.findAll({"list item", element.name(), false, true}))
                                if (!element.name().empty() && item.name() == element.name()) {
                                    ++valueNames;
                                    faults += "named by its value: " + identity(element) + "\n";
                                    break;
                                }
                        // Reached by the keyboard: a control that acts takes the focus, or is a
                        // row or item its list or menu goes through with the arrows, or a page
                        // tab among others one of which takes it.
                        if (!state.keyboard || !element.enabled() || !acts(element) || role == "menu item" ||
                            role == "list item")
                            continue;
                        if (role == "page tab") {
                            pageTabs.push_back(element);
                            pageTabFocusable = pageTabFocusable || element.focusable();
                        } else if (element.focusable()) {
                            unreachable[windowKey].push_back(element);
                        } else if (!commands.contains(element.name()) && !inField(element)) {
                            ++noKeyboard;
                            faults += "no keyboard reaches " + identity(element) + "\n";
                        }
                    }
                    for (const AccessibleElement& tab : pageTabs) {
                        if (!pageTabFocusable) {
                            ++noKeyboard;
                            faults += "no keyboard reaches " + identity(tab) + "\n";
                        } else if (tab.focusable()) {
                            unreachable[windowKey].push_back(tab);
                        }
                    }
                    walked += " " + windowKey + " " + std::to_string(controls);
                    for (const auto& [count, what] :
                         {std::pair{unnamed, "unnamed"}, std::pair{noKeyboard, "without keyboard"},
                          std::pair{valueNames, "named by value"},
                          std::pair{unreadables, "with direction marks or markup"}})
                        if (count > 0)
                            walked += ", " + std::to_string(count) + " " + what;
                    walked += ";";
                }
                for (const std::string& text : unread)
                    hidden += "\"" + text + "\" is shown but not exposed as text\n";
                if (!unread.empty())
                    walked += " " + std::to_string(unread.size()) + " texts not exposed;";
                return std::exchange(before, walked) == walked;
            },
            30000));
        EXPECT_TRUE(faults.empty()) << faults;
        EXPECT_TRUE(hidden.empty()) << hidden << app->state();
        if (state.files) {
            std::vector<std::string> listed;
            if (const std::optional<AccessibleElement> list = app->waitFor({"list", "Files"}, 0))
                for (const AccessibleElement& item : list->children())
                    listed.push_back(item.name());
            EXPECT_EQ(listed, *state.files) << app->state();
        }
        if (state.announced) {
            // The window that came by itself was announced as it showed.
            const std::vector<std::string>& shown = showing.shown();
            EXPECT_TRUE(
                std::any_of(shown.begin(), shown.end(),
                            [&](const std::string& one) { return one.starts_with(*state.announced); }))
                << "announced:\n"
                << std::accumulate(shown.begin(), shown.end(), std::string(),
                                   [](std::string all, const std::string& one) { return all + one + "\n"; });
        }

        // Tab goes round the state's window through every control that takes the focus; each
        // place it stops is on screen and named.
        if (!state.tabRound) {
            counts += std::string(state.name) + ":" + walked + "\n";
            continue;
        }
        const auto focusedNow = [&] {
            const std::optional<AccessibleElement> element = app->focusedElement();
            return element ? identity(*element) : std::string();
        };
        // An untitled panel takes the keyboard itself when it shows.
        if (!state.window.empty()) {
            ASSERT_TRUE(focusWindow(state.window)) << app->state();
        }
        std::set<std::string> visited;
        std::string first = focusedNow(), now = first, walk, badStops;
        std::size_t stops = 0;
        for (int tabs = 0; tabs < 80 && (tabs == 0 || now != first); ++tabs) {
            visited.insert(now);
            walk += now + "\n";
            ++stops;
            // Every element that says it has the keyboard is a control that takes it; a stop
            // where none says so leaves a screen reader silent.
            const std::vector<AccessibleElement> holders = app->focusedElements();
            if (holders.empty())
                badStops += "none says it has the keyboard\n";
            for (const AccessibleElement& element : holders) {
                const auto box = element.box();
                if (element.name().empty() || !element.showing() || !box || !element.focusable() ||
                    noControl.contains(element.role()))
                    badStops += identity(element) + (element.focusable() ? "" : " (not focusable)") + "\n";
            }
            ASSERT_TRUE(keyboard->type({"Tab"}));
            const std::string was = now;
            eventually([&] { return (now = focusedNow()) != was; }, 5000);
        }
        EXPECT_EQ(now, first) << "Tab did not come back";
        EXPECT_TRUE(badStops.empty()) << "Tab stops unnamed or out of sight:\n"
                                      << badStops << "Tab went:\n"
                                      << walk;
        std::string missed;
        std::size_t missedCount = 0;
        bool pageTabVisited = false;
        for (const std::string& place : visited)
            pageTabVisited = pageTabVisited || place.starts_with("[page tab]");
        for (const auto& [windowKey, elements] : unreachable) {
            if (windowKey != state.windowRole + " \"" + state.windowName + "\"" &&
                !(state.windowRole.empty() && windowKey.ends_with(" \"" + state.windowName + "\"")))
                continue;
            for (const AccessibleElement& element : elements)
                if (!visited.contains(identity(element)) &&
                    !(element.role() == "page tab" && pageTabVisited)) {
                    missed += identity(element) + "\n";
                    ++missedCount;
                }
        }
        EXPECT_TRUE(missed.empty()) << "Tab never reached:\n" << missed << "Tab went:\n" << walk;
        std::size_t bad = std::count(badStops.begin(), badStops.end(), '\n');
        counts += std::string(state.name) + ":" + walked + " Tab: " + std::to_string(stops) + " stops" +
                  (bad > 0 ? ", " + std::to_string(bad) + " unnamed or unseen" : std::string()) +
                  (missedCount > 0 ? ", " + std::to_string(missedCount) + " never reached" : std::string()) +
                  "\n";
    }
    std::ofstream(artifactsFolder() / "accessibility-audit.txt") << counts;
    std::printf("%s", counts.c_str());
}

// Settings with the keyboard alone, left to right and in Arabic: Ctrl+, opens the window, Tab
// reaches the row of sections, the arrows, Ctrl+Tab and Ctrl+Page Down go from section to
// section and back, Tab goes through each section's controls and Space toggles one, and Escape
// closes the window.
TEST_F(RecordingEndToEnd, TheKeyboardAloneGoesThroughEverySettingsSection) {
    const std::vector<std::pair<std::string, std::string>> sections = {
        {"General", "[check box] Launch Nuvel at login"},
        {"Account", "[push button] Sign in"},
        {"Capture", "[check box] Enable AI notes for new recordings"},
        {"Meetings", "[check box] Ask to record when a call starts"},
        {"Privacy & Storage", "[push button] Clear cached cloud meetings…"},
        {"Diagnostics", "[push button] Preview diagnostics…"}};
    // The library window is titled in the language.
    for (const auto& [language, library] :
         {std::pair{"en_US", "Nuvel"}, std::pair{"ar_EG", "\u0646\u0648\u0641\u0644"}}) {
        SCOPED_TRACE(language);
        desktop->environment().insert("LANGUAGE", language);
        auto app = start();
        ASSERT_TRUE(app->waitFor({"push button", "Import audio…"})) << app->state();
        ASSERT_TRUE(focusWindow(library)) << app->state();
        ASSERT_TRUE(keyboard->type({"ctrl+comma"}));
        ASSERT_TRUE(focusWindow("General")) << app->state();

        // Tab until the keyboard is on `wanted`; the places it went, for failure messages.
        const auto tabTo = [&](const std::string& wanted, std::set<std::string>* visited = nullptr) {
            std::string walked;
            for (int tabs = 0; tabs < 30; ++tabs) {
                const std::string now = app->focused();
                if (visited != nullptr)
                    visited->insert(now);
                if (now == wanted && (tabs > 0 || visited == nullptr))
                    return testing::AssertionSuccess() << walked;
                walked += now + " | ";
                if (!keyboard->type({"Tab"}))
                    break;
                eventually([&] { return app->focused() != now; }, 5000);
            }
            return testing::AssertionFailure() << "walked: " << walked << "\n" << app->state();
        };
        const auto shows = [&](const std::string& section) {
            return eventually(
                [&] {
                    const std::optional<AccessibleElement> tab = app->waitFor({"page tab", section}, 0);
                    return tab && tab->selected() && tab->focused() && !keyboard->windows(section).empty();
                },
                10000);
        };
        ASSERT_TRUE(tabTo("[page tab] General"));
        // The next section lies to the right, or under Arabic to the left.
        const auto general = app->waitFor({"page tab", "General"});
        const auto account = app->waitFor({"page tab", "Account"});
        ASSERT_TRUE(general && account && general->box() && account->box()) << app->state();
        const bool mirrored = (*account->box())[0] < (*general->box())[0];
        EXPECT_EQ(mirrored, std::string(language).starts_with("ar"));
        const std::string next = mirrored ? "Left" : "Right", previous = mirrored ? "Right" : "Left";
        const std::vector<std::string> forward = {"", next, "ctrl+Tab", "ctrl+Next", next, "ctrl+Tab"};
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const auto& [section, control] = sections[i];
            SCOPED_TRACE(section);
            if (!forward[i].empty()) {
                ASSERT_TRUE(keyboard->type({forward[i]}));
            }
            ASSERT_TRUE(shows(section)) << app->focused() << "\n" << app->state();
            // Round the section and back to its tab, past its control.
            std::set<std::string> visited;
            ASSERT_TRUE(tabTo("[page tab] " + section, &visited));
            EXPECT_TRUE(visited.contains(control)) << control;
            if (section != "Meetings")
                continue;
            ASSERT_TRUE(tabTo(control));
            const std::optional<AccessibleElement> ask = app->waitFor({"check box", control.substr(12)});
            ASSERT_TRUE(ask) << app->state();
            const bool was = ask->checked();
            ASSERT_TRUE(keyboard->type({"space"}));
            EXPECT_TRUE(eventually([&] { return ask->checked() != was; }, 10000));
            EXPECT_TRUE(display.screenshot(
                artifactsFolder() / ("settings-meetings-by-keyboard-" + std::string(language, 2) + ".png")));
            ASSERT_TRUE(tabTo("[page tab] Meetings"));
        }
        // Back, and back again from the first to the last.
        ASSERT_TRUE(keyboard->type({"ctrl+Prior"}));
        ASSERT_TRUE(shows("Privacy & Storage")) << app->state();
        ASSERT_TRUE(keyboard->type({previous, "Home"}));
        ASSERT_TRUE(shows("General")) << app->state();
        ASSERT_TRUE(keyboard->type({"ctrl+shift+Tab"}));
        ASSERT_TRUE(shows("Diagnostics")) << app->state();
        // Escape closes the window from one of its controls.
        ASSERT_TRUE(tabTo("[push button] Preview diagnostics…"));
        ASSERT_TRUE(keyboard->type({"Escape"}));
        EXPECT_TRUE(eventually([&] { return keyboard->windows("Diagnostics").empty(); }, 10000))
            << app->state();
    }
}

// A disk that takes no preference writes (a folder where the defaults file goes) and a umask of
// 000: Nuvel starts, records ten seconds while the divider moves and settings change, stops and
// saves, and quits cleanly; every folder it made is its user's alone and no file it wrote is
// writable by others.
TEST_F(RecordingEndToEnd, AnUnwritableDefaultsFileAndAnOpenUmaskChangeNothingAUserSees) {
    const std::filesystem::path defaults = home.path("config") / "Nuvel" / "defaults.json";
    std::filesystem::create_directories(defaults / "in-the-way");
    const auto everything = [&] {
        std::map<std::filesystem::path, std::filesystem::perms> found;
        for (const char* folder : {"home", "run", "data", "config", "cache"}) {
            std::error_code error;
            for (auto it = std::filesystem::recursive_directory_iterator(home.path(folder), error);
                 !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
                found[it->path()] = it->symlink_status().permissions();
        }
        return found;
    };
    const auto before = everything();
    const mode_t previousUmask = ::umask(0);
    auto app = start();
    ::umask(previousUmask);
    signInAndStartRecording(*app, *desktop, "Unwritable defaults");
    ASSERT_FALSE(HasFatalFailure());
    // The window's frame is saved half a second after the window shows.
    ASSERT_TRUE(
        app->showsLabel([](const std::string& text) { return text.size() == 5 && text >= "00:02"; }, 60000))
        << app->state();

    // The divider, moved 60 points with the keyboard.
    const std::optional<AccessibleElement> handle = app->waitFor({"", "Divider"});
    ASSERT_TRUE(handle) << app->state();
    const auto listWidth = [&]() -> int {
        const std::optional<AccessibleElement> list = app->waitFor({"list", "Recordings"}, 0);
        const auto extents = list ? list->box() : std::nullopt;
        return extents ? (*extents)[2] : 0;
    };
    ASSERT_TRUE(focusWindow("Nuvel")) << app->state();
    ASSERT_TRUE(handle->perform("SetFocus")) << app->state();
    ASSERT_TRUE(app->holds({"", "Divider"}, &AccessibleElement::focused)) << app->state();
    int width = 0;
    // Focused, the divider widens; the list settles before it is measured.
    ASSERT_TRUE(eventually(
        [&] {
            const int now = listWidth();
            const bool settled = now == width && now > 0;
            width = now;
            return settled;
        },
        30000))
        << app->state();
    ASSERT_TRUE(keyboard->type({"Right", "Right", "Right", "shift+Right"}));
    ASSERT_TRUE(eventually([&] { return listWidth() == width + 80; }, 30000))
        << "the divider did not move: " << listWidth() << " from " << width << "\n"
        << app->state();

    // Two settings, and launch at login (which writes an autostart entry), toggled in the
    // Settings window on their sections.
    ASSERT_TRUE(app->act({"menu item", "Settings…", false, true})) << app->state();
    const auto comesTo = [&](const char* setting, bool checked) {
        return eventually(
            [&] {
                const std::optional<AccessibleElement> now = app->waitFor({"check box", setting}, 0);
                return now && now->checked() == checked;
            },
            5000);
    };
    for (const auto& [page, setting] : {std::pair{"General", "Launch Nuvel at login"},
                                        std::pair{"Capture", "Enable AI notes for new recordings"},
                                        std::pair{"Meetings", "Ask to record when a call starts"}}) {
        ASSERT_TRUE(app->act({"page tab", page})) << app->state();
        const std::optional<AccessibleElement> box = app->waitFor({"check box", setting});
        ASSERT_TRUE(box) << app->state();
        const bool was = box->checked();
        ASSERT_TRUE(box->perform("Toggle")) << app->state();
        // Kept for this run although the disk refused it.
        ASSERT_TRUE(comesTo(setting, !was)) << setting << "\n" << app->state();
    }

    // Ten seconds on the window's clock (more when the steps above took longer), then stop and save.
    ASSERT_TRUE(
        app->showsLabel([](const std::string& text) { return text.size() == 5 && text >= "00:10"; }, 30000))
        << app->state();
    ASSERT_TRUE(app->act({"push button", "Stop and save"})) << app->state();
    ASSERT_TRUE(app->waitFor({"push button", "Send to Nuvel"}, 20000)) << app->state();
    ::kill(pid_t(app->process().processId()), SIGTERM);
    ASSERT_TRUE(app->process().waitForFinished(30000));
    EXPECT_EQ(app->process().exitStatus(), QProcess::NormalExit) << app->state();
    EXPECT_EQ(app->process().exitCode(), 0) << app->state();
    EXPECT_TRUE(std::filesystem::is_directory(defaults / "in-the-way"));
    const std::vector<std::filesystem::path> folders = recordingFolders(home.path("data") / "Nuvel");
    ASSERT_EQ(folders.size(), 1u);

    // What it wrote, listed with each mode. The browser stand-in's own notes are the test's.
    std::string listing;
    std::size_t autostart = 0;
    for (const auto& [path, perms] : everything()) {
        if (before.contains(path) || path.filename() == "pages" || path.filename() == "handed-over")
            continue;
        const auto status = std::filesystem::symlink_status(path);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(perms));
        listing += std::string(mode) + " " +
                   path.lexically_relative(home.path("home").parent_path()).string() + "\n";
        if (status.type() == std::filesystem::file_type::directory)
            EXPECT_EQ(perms, std::filesystem::perms::owner_all) << path;
        else
            EXPECT_EQ(perms & (std::filesystem::perms::group_write | std::filesystem::perms::others_write),
                      std::filesystem::perms::none)
                << path;
        autostart += path.parent_path().filename() == "autostart";
    }
    std::ofstream(artifactsFolder() / "umask-000-modes.txt") << listing;
    EXPECT_EQ(autostart, 1u) << listing;
    EXPECT_NE(listing.find("data/Nuvel"), std::string::npos) << listing;
}

} // namespace
