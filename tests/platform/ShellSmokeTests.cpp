// The real program on an X server (Xvfb) with a private home, the private sound server and the
// stand-in service: it starts signed in, opens its settings, records three seconds from the File menu through
// the real microphone path, quits on SIGTERM, and leaves the recording saved and sealed.
#include "Nuvel/model/AppModel.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/ui/DisplayKeyboard.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <signal.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

TEST(ShellSmoke, RecordsThreeSecondsFromTheMenuAndSavesThemOnSigterm) {
    NUVEL_CONNECT_PULSE(connection);
    application();

    // The stand-in service, and a device session it issued, as the keyring would hold it.
    auto standin = std::make_unique<StandinProcess>(QStringList{"--seed"});
    ASSERT_FALSE(standin->origin().empty()) << standin->banner();
    const std::string origin = standin->origin();
    auto transport = std::make_shared<CurlTransport>();
    PKCEAttempt attempt = PKCEAttempt::make();
    HttpRequest approve;
    approve.url = origin + "/device/approve?challenge=" + attempt.challenge() + "&account=acct_standin";
    const HttpResponse approved = transport->send(approve, {});
    ASSERT_EQ(approved.status, 302);
    const std::string location = approved.header("Location").value_or("");
    const std::string code = location.substr(location.find("code=") + 5);
    const DeviceSession session =
        NuvelAPI(origin, transport).exchangeCode(code, attempt.verifier(), "Smoke test");

    PrivateHome home;
    auto keyring = std::make_shared<FileSecretBackend>(home.path("data") / "Nuvel" / "keyring");
    const KeychainVault vault(AppModel::keychainService, keyring);
    const std::string stored = session.encode();
    vault.save(ByteView(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()),
               KeychainVault::deviceSessionAccount);
    InstalledNuvel nuvel(origin);

    // The X server.
    auto display = std::make_unique<VirtualDisplay>();
    ASSERT_TRUE(display->ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    QProcessEnvironment env = home.environment();
    env.insert("DISPLAY", display->name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    // Gone before its X server is: Xlib ends a program whose server goes away.
    auto keyboard = std::make_unique<DisplayKeyboard>(display->name().toStdString());
    ASSERT_TRUE(keyboard->connected()) << "the X server has no test extension";

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(nuvel.program(), {});
    ASSERT_TRUE(app.waitForStarted());
    // The windows on screen titled `title`, once their number is `count`.
    auto windows = [&](const std::string& title, std::size_t count) {
        std::vector<unsigned long> found;
        const bool seen = eventually(
            [&] {
                found = keyboard->windows(title);
                return found.size() == count;
            },
            60000);
        return seen ? found : std::vector<unsigned long>{};
    };
    const std::vector<unsigned long> main = windows("Nuvel", 1);
    ASSERT_EQ(main.size(), 1u) << app.readAllStandardError().toStdString();
    const unsigned long windowID = main.front();
    const auto production = home.path("data") / "Nuvel" / "production";
    // Signed in: the workspace's store is open once its folder exists.
    ASSERT_TRUE(eventually(
        [&] {
            std::error_code error;
            for (auto it = std::filesystem::recursive_directory_iterator(production, error);
                 !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
                if (const std::string name = it->path().filename().string();
                    name == "personal" || name.starts_with("workspace-"))
                    return true;
            return false;
        },
        60000))
        << app.readAllStandardError().toStdString();

    // File ▸ New recording, the permission box, "Check sources"; once the check lets it,
    // "Start recording". Each key goes to a window seen on the screen, not after a pause.
    auto keys = [&](unsigned long window, const std::vector<std::string>& sequence) {
        return keyboard->focus(window) && keyboard->type(sequence);
    };
    ASSERT_TRUE(keys(windowID, {"ctrl+n"}));
    // The sheet is a second window with the program's name, the newest. A loaded machine has
    // been seen to lose the first key press of a program just started: the key again after a while.
    unsigned long sheet = 0;
    QElapsedTimer pressed;
    pressed.start();
    ASSERT_TRUE(eventually(
        [&] {
            if (pressed.elapsed() > 10000 && keys(windowID, {"ctrl+n"}))
                pressed.restart();
            const std::vector<unsigned long> named = keyboard->windows("Nuvel");
            sheet = named.size() >= 2 ? (named.back() == windowID ? named.front() : named.back()) : 0;
            return sheet != 0;
        },
        60000))
        << "no new-recording sheet: " << app.readAllStandardError().toStdString();
    ASSERT_TRUE(keys(sheet, {"space", "Return"}));
    const std::vector<unsigned long> check = windows("Check recording sources", 1);
    ASSERT_EQ(check.size(), 1u) << "no source check: " << app.readAllStandardError().toStdString();
    // "Start recording" is the default button, enabled once the sources answered: Return until
    // the check closes.
    ASSERT_TRUE(eventually(
        [&] {
            keys(check.front(), {"Return"});
            return !recordingFolders(production).empty();
        },
        60000))
        << "no recording started: " << app.readAllStandardError().toStdString();
    // While it records, Nuvel ▸ Settings… opens the settings window on its first section.
    ASSERT_TRUE(keys(windowID, {"ctrl+comma"}));
    EXPECT_EQ(windows("General", 1).size(), 1u)
        << "no settings window: " << app.readAllStandardError().toStdString();
    // Three seconds of audio in the live file. Its folder comes before the first audio, which on
    // a loaded machine may be seconds later: a clock started with the folder recorded 1.4 s.
    const auto folder = recordingFolders(production).front();
    EXPECT_TRUE(eventually(
        [&] {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                if (entry.path().extension() != ".caf")
                    continue;
                try {
                    const CafFormat format = CafReader::open(entry.path()).format();
                    return format.sampleRate > 0 && double(format.frames) >= 3.3 * format.sampleRate;
                } catch (const std::exception&) {
                    return false; // its header not yet written
                }
            }
            return false;
        },
        60000))
        << "the live recording did not reach three seconds";

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(60000)) << "Nuvel did not end after SIGTERM";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
    keyboard.reset();
    display.reset();
    standin.reset();

    // Saved and sealed: nothing clear left in its folder, and recovery reads it back whole.
    const auto folders = recordingFolders(production);
    ASSERT_EQ(folders.size(), 1u);
    for (const auto& entry : std::filesystem::directory_iterator(folders[0]))
        EXPECT_TRUE(entry.path().filename().string().ends_with(".nuvel")) << entry.path();
    const SymmetricKey key = vault.mediaKey(session.account.id, true);
    RecordingWorkspaceStore store(folders[0].parent_path(), key);
    const RecoveryReport report = store.recover(session.account.id);
    EXPECT_EQ(report.unreadable, 0);
    ASSERT_EQ(report.recordings.size(), 1u);
    const LocalRecording& saved = report.recordings[0];
    EXPECT_EQ(saved.capture, CaptureState::saved);
    EXPECT_EQ(saved.captureMode, "room");
    EXPECT_GT(saved.totalDuration(), 2.5);
    EXPECT_LT(saved.totalDuration(), 60.0);
    ASSERT_FALSE(saved.segments.empty());
    auto clear = store.openClearCopy(saved.id, saved.segments.front().id, "caf");
    CafReader reader = CafReader::open(clear);
    std::vector<float> samples(std::size_t(reader.format().frames));
    samples.resize(reader.read(samples));
    EXPECT_GT(rms(samples), 0.1) << "the test microphone's tone was recorded";
    store.removeWorkingFiles(clear);
}

} // namespace
