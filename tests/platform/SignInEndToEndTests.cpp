// The browser sign-in with real processes on an X server (Xvfb): the running Nuvel opens the
// stand-in's device page through the desktop's URL handler in a scripted browser, which fetches
// the page and hands its nuvel://auth redirect to xdg-open; the desktop entry starts a second
// Nuvel, which forwards the address over the single-instance socket; the first exchanges the
// code, keeps the session in the keyring and opens the workspace. Then the service forgets the
// session (the stand-in restarts) and the next start says so in the library, where the user
// signs in again. And the desktop browser layer alone: web addresses go to the user's browser,
// nothing else does.
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/platform/QtBrowser.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/ui/DisplayKeyboard.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <QElapsedTimer>
#include <QProcess>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <signal.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

// The stored session, once one is stored that `wanted` accepts.
std::optional<DeviceSession> storedSession(const KeychainVault& vault,
                                           const std::function<bool(const DeviceSession&)>& wanted,
                                           int milliseconds) {
    std::optional<DeviceSession> found;
    eventually(
        [&] {
            const std::optional<Bytes> stored = vault.load(KeychainVault::deviceSessionAccount);
            if (!stored)
                return false;
            const DeviceSession session = DeviceSession::decode(
                std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
            if (wanted(session))
                found = session;
            return found.has_value();
        },
        milliseconds);
    return found;
}

// A browser that writes each address it is given into `log`: a stand-in for the user's.
std::filesystem::path recordingBrowser(const std::filesystem::path& folder,
                                       const std::filesystem::path& log) {
    const auto script = folder / "browser";
    writeExecutable(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log.string() + "'\n");
    return script;
}

TEST(DesktopBrowser, WebAddressesGoToTheUsersBrowserThroughTheDesktopAndNothingElseDoes) {
    // The test's own application lives on it to the end of the process.
    static VirtualDisplay display;
    ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    PrivateHome home;
    const auto log = home.path("home") / "opened";
    const QProcessEnvironment env = home.environment();
    for (const QString& name : env.keys())
        qputenv(name.toUtf8(), env.value(name).toUtf8());
    qputenv("DISPLAY", display.name().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("BROWSER", QByteArray::fromStdString(recordingBrowser(home.path("home"), log).string()));
    application();

    QtBrowser browser;
    for (const char* refused :
         {"nuvel://auth?code=1", "file:///etc/passwd", "javascript:alert(1)", "not a url", ""})
        EXPECT_FALSE(browser.open(refused)) << refused;
    const std::string page =
        "https://nuvel.test/device?challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
    ASSERT_TRUE(browser.open(page));
    EXPECT_TRUE(eventually([&] { return fileContents(log) == page + "\n"; }, 60000)) << fileContents(log);
}

TEST(SignInEndToEnd, TheBrowsersCallbackReachesTheRunningNuvelThroughTheDesktopEntry) {
    VirtualDisplay display;
    ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    ASSERT_TRUE(SignInDesktop::missingPrograms().isEmpty())
        << "needed (scripts/install-deps installs them):" << SignInDesktop::missingPrograms().toStdString();
    const DisplayKeyboard keyboard(display.name().toStdString());
    ASSERT_TRUE(keyboard.connected()) << "the X server has no test extension";
    application();

    auto standin = std::make_unique<StandinProcess>();
    ASSERT_FALSE(standin->origin().empty()) << standin->banner();
    const std::string origin = standin->origin();

    // This user's desktop: Nuvel's entry takes nuvel:// addresses, and the browser is a script
    // that loads the page and hands its redirect to the desktop, as a browser does.
    PrivateHome home;
    InstalledNuvel nuvel(origin);
    SignInDesktop desktop(home, nuvel, display);
    const QProcessEnvironment env = desktop.environment();
    const std::optional<std::string> refused = desktop.registerNuvel();
    ASSERT_FALSE(refused) << *refused;

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(nuvel.program(), {});
    ASSERT_TRUE(app.waitForStarted());
    // The library window, once it shows.
    const auto libraryWindow = [&] {
        unsigned long window = 0;
        eventually(
            [&] {
                const std::vector<unsigned long> found = keyboard.windows("Nuvel");
                window = found.empty() ? 0 : found.front();
                return window != 0;
            },
            60000);
        return window;
    };
    const unsigned long window = libraryWindow();
    ASSERT_NE(window, 0u) << app.readAllStandardError().toStdString();

    // Signed out, File ▸ New recording asks to sign in first.
    ASSERT_TRUE(keyboard.focus(window) && keyboard.type({"ctrl+n"}));

    const auto keyring = home.path("data") / "Nuvel" / "keyring";
    const KeychainVault vault(AppModel::keychainService, std::make_shared<FileSecretBackend>(keyring));
    std::optional<Bytes> stored;
    // A loaded machine has been seen to lose the first key press of a program just started:
    // the key again while no page has been asked for.
    QElapsedTimer pressed;
    pressed.start();
    ASSERT_TRUE(eventually(
        [&] {
            if (desktop.pages().empty() && pressed.elapsed() > 10000 && keyboard.focus(window) &&
                keyboard.type({"ctrl+n"}))
                pressed.restart();
            stored = vault.load(KeychainVault::deviceSessionAccount);
            return stored.has_value();
        },
        60000))
        << "pages: " << desktop.pages() << " handed over: " << desktop.handedOver()
        << " nuvel: " << app.readAllStandardError().toStdString();

    // The page the browser was sent to, and the redirect the second Nuvel handed on and left.
    EXPECT_EQ(desktop.pages().rfind(origin + "/device?challenge=", 0), 0u) << desktop.pages();
    EXPECT_TRUE(eventually([&] { return desktop.handedOver().rfind("0 nuvel://auth?code=", 0) == 0; }, 60000))
        << desktop.handedOver();
    // The stored session is one the service issued for its sample account.
    const DeviceSession session = DeviceSession::decode(
        std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
    EXPECT_EQ(session.account.id, "acct_standin");
    NuvelAPI api(origin, std::make_shared<CurlTransport>());
    EXPECT_NO_THROW(api.bootstrap(session.token, std::nullopt));
    // The workspace opened: its store's folder exists under the account's.
    const auto account = home.path("data") / "Nuvel" / "production";
    EXPECT_TRUE(eventually(
        [&] {
            std::error_code error;
            for (auto it = std::filesystem::recursive_directory_iterator(account, error);
                 !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
                if (it->path().filename() == "personal" ||
                    it->path().filename().string().starts_with("workspace-"))
                    return true;
            return false;
        },
        60000));

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(60000));
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();

    // The service is reset between two runs: it no longer knows the device's session.
    const std::string port = origin.substr(origin.rfind(':') + 1);
    standin.reset();
    standin = std::make_unique<StandinProcess>(QStringList{"--port", QString::fromStdString(port)});
    ASSERT_EQ(standin->origin(), origin) << standin->banner();
    QProcess again;
    again.setProcessEnvironment(env);
    again.start(nuvel.program(), {});
    ASSERT_TRUE(again.waitForStarted());
    const unsigned long second = libraryWindow();
    ASSERT_NE(second, 0u) << again.readAllStandardError().toStdString();
    // From the list, which has the focus, back to the "Nuvel library" switch, which is pressed;
    // there the library asks to sign in again, with the sign-in as its default button.
    const auto type = [&](const std::vector<std::string>& names) {
        return keyboard.focus(second) && keyboard.type(names);
    };
    ASSERT_TRUE(type({"shift+Tab", "space"}));
    display.screenshot(artifactsFolder() / "library-session-unknown-to-the-service.png");
    ASSERT_TRUE(type({"Return"}));
    const std::optional<DeviceSession> renewed = storedSession(
        vault, [&](const DeviceSession& stored) { return stored.token != session.token; }, 60000);
    ASSERT_TRUE(renewed) << "pages: " << desktop.pages()
                         << "\nnuvel said: " << again.readAllStandardError().toStdString();
    NuvelAPI restarted(origin, std::make_shared<CurlTransport>());
    EXPECT_NO_THROW(restarted.bootstrap(renewed->token, std::nullopt));

    ::kill(pid_t(again.processId()), SIGTERM);
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
}

} // namespace
