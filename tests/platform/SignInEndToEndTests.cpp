// The browser sign-in with real processes on an X server (Xvfb): the running Nuvel opens the
// stand-in's device page through the desktop's URL handler in a scripted browser, which fetches
// the page and hands its nuvel://auth redirect to xdg-open; the desktop entry starts a second
// Nuvel, which forwards the address over the single-instance socket; the first exchanges the
// code, keeps the session in the keyring and opens the workspace. And the desktop browser layer
// alone: web addresses go to the user's browser, nothing else does.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/platform/QtBrowser.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "tests/ui/NuvelProcesses.hpp"
#include "tests/ui/UiTestSupport.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

bool eventually(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    return true;
}

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeExecutable(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
    chmod(file.c_str(), 0700);
}

// An X server of its own for as long as it lives.
class VirtualDisplay {
public:
    VirtualDisplay() : number_(100 + int(getpid() % 400)) {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        server_.start(xvfb, {name(), "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number_);
        ready_ = eventually([&] { return std::filesystem::exists(socket); }, 10000);
    }
    ~VirtualDisplay() {
        server_.terminate();
        server_.waitForFinished(5000);
    }
    bool ready() const { return ready_; }
    QString name() const { return QString(":%1").arg(number_); }

private:
    int number_;
    QProcess server_;
    bool ready_ = false;
};

// A browser that writes each address it is given into `log`: a stand-in for the user's.
std::filesystem::path recordingBrowser(const std::filesystem::path& folder, const std::filesystem::path& log) {
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
    for (const char* refused : {"nuvel://auth?code=1", "file:///etc/passwd", "javascript:alert(1)", "not a url", ""})
        EXPECT_FALSE(browser.open(refused)) << refused;
    const std::string page = "https://nuvel.test/device?challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
    ASSERT_TRUE(browser.open(page));
    EXPECT_TRUE(eventually([&] { return contents(log) == page + "\n"; }, 15000)) << contents(log);
}

TEST(SignInEndToEnd, TheBrowsersCallbackReachesTheRunningNuvelThroughTheDesktopEntry) {
    VirtualDisplay display;
    ASSERT_TRUE(display.ready()) << "Xvfb is needed (scripts/install-deps installs it)";
    const QString xdotool = QStandardPaths::findExecutable("xdotool");
    const QString xdgMime = QStandardPaths::findExecutable("xdg-mime");
    const QString curl = QStandardPaths::findExecutable("curl");
    ASSERT_FALSE(xdotool.isEmpty() || xdgMime.isEmpty() || curl.isEmpty())
        << "xdotool, xdg-utils and curl are needed (scripts/install-deps installs them)";
    application();

    QProcess standin;
    standin.start(QString::fromStdString(
        (std::filesystem::path(NUVEL_BINARY_DIR) / "tools" / "standin-service" / "nuvel-standin").string()));
    QByteArray banner;
    ASSERT_TRUE(waitForLine(standin, banner, "\n")) << banner.toStdString();
    const std::string origin = banner.trimmed().mid(QByteArray("listening on ").size()).toStdString();

    // This user's desktop: Nuvel's entry takes nuvel:// addresses, and the browser is a script
    // that loads the page and hands its redirect to the desktop, as a browser does.
    PrivateHome home;
    InstalledNuvel nuvel(origin);
    const auto applications = home.path("data") / "applications";
    std::filesystem::create_directories(applications);
    std::ifstream entryTemplate(std::filesystem::path(NUVEL_SOURCE_DIR) / "Nuvel" / "nuvel.desktop.in");
    std::stringstream entry;
    entry << entryTemplate.rdbuf();
    std::string desktopEntry = entry.str();
    // As scripts/run writes it for a plain path: unquoted.
    desktopEntry.replace(desktopEntry.find("@NUVEL_DESKTOP_EXEC@"), 20, nuvel.binary().string());
    std::ofstream(applications / "nuvel.desktop") << desktopEntry;
    const auto pages = home.path("home") / "pages";
    const auto handedOver = home.path("home") / "handed-over";
    writeExecutable(home.path("home") / "browser",
                    "#!/bin/sh\n"
                    "printf '%s\\n' \"$1\" >> '" + pages.string() + "'\n"
                    // The Location header as the page sent it (curl's own redirect_url adds a path).
                    "location=$(curl -s -o /dev/null -D - \"$1\" | sed -n 's/^[Ll]ocation: *//p' | tr -d '\\r')\n"
                    "xdg-open \"$location\"\n"
                    "printf '%s %s\\n' \"$?\" \"$location\" >> '" + handedOver.string() + "'\n");
    QProcessEnvironment env = home.environment();
    env.insert("DISPLAY", display.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("BROWSER", QString::fromStdString((home.path("home") / "browser").string()));
    QProcess mime;
    mime.setProcessEnvironment(env);
    mime.start(xdgMime, {"default", "nuvel.desktop", "x-scheme-handler/nuvel"});
    ASSERT_TRUE(mime.waitForFinished(15000) && mime.exitCode() == 0) << mime.readAllStandardError().toStdString();

    QProcess app;
    app.setProcessEnvironment(env);
    app.start(nuvel.program(), {});
    ASSERT_TRUE(app.waitForStarted());
    QString window;
    ASSERT_TRUE(eventually(
        [&] {
            QProcess search;
            search.setProcessEnvironment(env);
            search.start(xdotool, {"search", "--onlyvisible", "--name", "^Nuvel$"});
            search.waitForFinished(2000);
            window = QString::fromUtf8(search.readAllStandardOutput().trimmed().split('\n').first());
            return !window.isEmpty();
        },
        20000))
        << app.readAllStandardError().toStdString();

    // Signed out, File ▸ New recording asks to sign in first.
    QProcess keys;
    keys.setProcessEnvironment(env);
    keys.start(xdotool, {"windowfocus", "--sync", window, "key", "--clearmodifiers", "ctrl+n"});
    ASSERT_TRUE(keys.waitForFinished(10000));

    const auto keyring = home.path("data") / "Nuvel" / "keyring";
    const KeychainVault vault(AppModel::keychainService, std::make_shared<FileSecretBackend>(keyring));
    std::optional<Bytes> stored;
    ASSERT_TRUE(eventually(
        [&] {
            stored = vault.load(KeychainVault::deviceSessionAccount);
            return stored.has_value();
        },
        30000))
        << "pages: " << contents(pages) << " handed over: " << contents(handedOver)
        << " nuvel: " << app.readAllStandardError().toStdString();

    // The page the browser was sent to, and the redirect the second Nuvel handed on and left.
    EXPECT_EQ(contents(pages).rfind(origin + "/device?challenge=", 0), 0u) << contents(pages);
    EXPECT_TRUE(eventually([&] { return contents(handedOver).rfind("0 nuvel://auth?code=", 0) == 0; }, 10000))
        << contents(handedOver);
    // The stored session is one the service issued for its sample account.
    const DeviceSession session =
        DeviceSession::decode(std::string_view(reinterpret_cast<const char*>(stored->data()), stored->size()));
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
                if (it->path().filename() == "personal" || it->path().filename().string().starts_with("workspace-"))
                    return true;
            return false;
        },
        20000));

    ::kill(pid_t(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(30000));
    EXPECT_EQ(app.exitCode(), 0) << app.readAllStandardError().toStdString();
    standin.closeWriteChannel();
    standin.waitForFinished(5000);
}

} // namespace
