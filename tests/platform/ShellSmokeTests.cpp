// The real program on an X server (Xvfb) with a private home, the private sound server and the
// stand-in service: it starts signed in, opens its settings, records three seconds from the File menu through the
// real microphone path, quits on SIGTERM, and leaves the recording saved and sealed.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <signal.h>

#include "Nuvel/model/AppModel.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/platform/PulseTestSupport.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

// Runs a short helper program to its end; its standard output, or none when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
                              int milliseconds = 15000) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(milliseconds)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

TEST(ShellSmoke, RecordsThreeSecondsFromTheMenuAndSavesThemOnSigterm) {
    NUVEL_CONNECT_PULSE(connection);
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    if (xdotool.isEmpty())
        FAIL() << "xdotool is needed (scripts/install-deps installs it)";
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
    const DeviceSession session = NuvelAPI(origin, transport).exchangeCode(code, attempt.verifier(), "Smoke test");

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

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(nuvel.program(), {});
    ASSERT_TRUE(app.waitForStarted());
    std::optional<QByteArray> window;
    ASSERT_TRUE(eventually(
        [&] {
            window = run(xdotool, {"search", "--onlyvisible", "--name", "^Nuvel$"}, env, 2000);
            return window.has_value() && !window->trimmed().isEmpty();
        },
        20000))
        << app.readAllStandardError().toStdString();
    const QString windowID = QString::fromUtf8(window->trimmed().split('\n').first());
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
        20000))
        << app.readAllStandardError().toStdString();

    // File ▸ New recording, the permission box, "Check sources"; three seconds later
    // "Start recording".
    auto keys = [&](const QStringList& sequence) {
        QStringList arguments{"key", "--clearmodifiers", "--delay", "100"};
        arguments += sequence;
        return run(xdotool, arguments, env).has_value();
    };
    ASSERT_TRUE(run(xdotool, {"windowfocus", "--sync", windowID}, env).has_value());
    ASSERT_TRUE(keys({"ctrl+n"}));
    QThread::msleep(1500);
    ASSERT_TRUE(keys({"space", "Return"}));
    QThread::msleep(4500);
    ASSERT_TRUE(keys({"Return"}));
    ASSERT_TRUE(eventually([&] { return !recordingFolders(production).empty(); }, 10000))
        << "no recording started: " << app.readAllStandardError().toStdString();
    QElapsedTimer recording;
    recording.start();
    // While it records, Nuvel ▸ Settings… opens the settings window on its first section.
    ASSERT_TRUE(run(xdotool, {"windowfocus", "--sync", windowID}, env).has_value());
    ASSERT_TRUE(keys({"ctrl+comma"}));
    EXPECT_TRUE(eventually(
        [&] {
            const auto found = run(xdotool, {"search", "--onlyvisible", "--name", "^General$"}, env, 2000);
            return found.has_value() && !found->trimmed().isEmpty();
        },
        10000))
        << "no settings window: " << app.readAllStandardError().toStdString();
    QThread::msleep(std::max<qint64>(0, 3300 - recording.elapsed()));

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(30000)) << "Nuvel did not end after SIGTERM";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
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
    EXPECT_LT(saved.totalDuration(), 10.0);
    ASSERT_FALSE(saved.segments.empty());
    auto clear = store.openClearCopy(saved.id, saved.segments.front().id, "caf");
    CafReader reader = CafReader::open(clear);
    std::vector<float> samples(std::size_t(reader.format().frames));
    samples.resize(reader.read(samples));
    EXPECT_GT(rms(samples), 0.1) << "the test microphone's tone was recorded";
    store.removeWorkingFiles(clear);
}

} // namespace
