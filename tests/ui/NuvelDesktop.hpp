#pragma once

// A desktop for the tests of the real program: an X server of its own (Xvfb), the stand-in
// service as a child process, and a user's desktop in a private home where Nuvel's desktop entry
// takes nuvel:// addresses and the browser is a script that loads the page it is given and
// hands the page's redirect to the desktop, as a browser does.

#include "tests/ui/NuvelProcesses.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace nuvel::test {

// Polls `done` (running this program's events between polls) until it holds or the time is up.
inline bool eventually(const std::function<bool()>& done, int milliseconds) {
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

inline std::string fileContents(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeExecutable(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
    chmod(file.c_str(), 0700);
}

// An X server of its own for as long as it lives. The server picks a display no other server
// holds and names it on its output once it takes connections (-displayfd); a display chosen here
// could be one another test's server already holds, whose socket would pass for this one's.
class VirtualDisplay {
public:
    VirtualDisplay() {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        // -noreset: by default the server resets when its last client leaves, and a connection
        // made during the reset fails; the readiness check below is such a last client.
        server_.start(xvfb,
                      {"-displayfd", "1", "-noreset", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        QByteArray said;
        // Generous: a loaded machine may take a while to start a server.
        if (!waitForLine(server_, said, "\n", 60000))
            return;
        bool ok = false;
        number_ = said.trimmed().toInt(&ok);
        ready_ = ok && accepts();
    }
    ~VirtualDisplay() {
        server_.terminate();
        if (!server_.waitForFinished(10000)) {
            server_.kill();
            server_.waitForFinished(5000);
        }
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ready() const { return ready_; }
    QString name() const { return QString(":%1").arg(number_); }

    // Saves what the screen shows as a PNG image (through ffmpeg's X11 grabber).
    bool screenshot(const std::filesystem::path& file) const {
        QProcess grab;
        grab.start("ffmpeg", {"-v", "error", "-y", "-f", "x11grab", "-video_size", "1280x800", "-i", name(),
                              "-frames:v", "1", QString::fromStdString(file.string())});
        return grab.waitForFinished(15000) && grab.exitCode() == 0;
    }

private:
    // Whether the server's socket takes a connection.
    bool accepts() const {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number_);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (socket.size() >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, socket.c_str(), socket.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    int number_ = -1;
    QProcess server_;
    bool ready_ = false;
};

// The stand-in service as a child process; it ends when this object closes its input.
class StandinProcess {
public:
    explicit StandinProcess(const QStringList& arguments = {}) {
        process_.start(QString::fromStdString((std::filesystem::path(NUVEL_BINARY_DIR) / "tools" /
                                               "standin-service" / "nuvel-standin")
                                                  .string()),
                       arguments);
        if (waitForLine(process_, banner_, "\n", 60000))
            origin_ = banner_.trimmed().mid(QByteArray("listening on ").size()).toStdString();
    }
    ~StandinProcess() {
        process_.closeWriteChannel();
        process_.waitForFinished(5000);
    }
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    // "http://127.0.0.1:<port>"; empty when the service did not start.
    const std::string& origin() const { return origin_; }
    // What it printed on starting, for failure messages.
    std::string banner() const { return banner_.toStdString(); }

private:
    QProcess process_;
    QByteArray banner_;
    std::string origin_;
};

// A user's desktop in `home` on `display`: Nuvel's desktop entry (for `nuvel`) handles nuvel://
// addresses, and the browser records each page it is sent to in `pages()`, loads it and hands
// its Location to xdg-open, recording "<exit status> <address>" in `handedOver()`.
class SignInDesktop {
public:
    SignInDesktop(const PrivateHome& home, const InstalledNuvel& nuvel, const VirtualDisplay& display)
        : pages_(home.path("home") / "pages"), handedOver_(home.path("home") / "handed-over") {
        const auto applications = home.path("data") / "applications";
        std::filesystem::create_directories(applications);
        std::string entry =
            fileContents(std::filesystem::path(NUVEL_SOURCE_DIR) / "Nuvel" / "nuvel.desktop.in");
        // As scripts/run writes it for a plain path: unquoted.
        entry.replace(entry.find("@NUVEL_DESKTOP_EXEC@"), 20, nuvel.binary().string());
        std::ofstream(applications / "nuvel.desktop") << entry;
        const auto browser = home.path("home") / "browser";
        writeExecutable(
            browser,
            "#!/bin/sh\n"
            "printf '%s\\n' \"$1\" >> '" +
                pages_.string() +
                "'\n"
                // The Location header as the page sent it (curl's own redirect_url adds a path).
                "location=$(curl -s -o /dev/null -D - \"$1\" | sed -n 's/^[Ll]ocation: *//p' | tr -d '\\r')\n"
                "xdg-open \"$location\"\n"
                "printf '%s %s\\n' \"$?\" \"$location\" >> '" +
                handedOver_.string() + "'\n");
        environment_ = home.environment();
        environment_.insert("DISPLAY", display.name());
        environment_.insert("QT_QPA_PLATFORM", "xcb");
        environment_.insert("BROWSER", QString::fromStdString(browser.string()));
    }

    // The programs that must be installed; empty when they all are, else the missing ones.
    static QString missingPrograms() {
        QString missing;
        for (const char* program : {"xdg-mime", "xdg-open", "curl"})
            if (QStandardPaths::findExecutable(program).isEmpty())
                missing += QString(" ") + program;
        return missing;
    }

    // Makes Nuvel's entry the handler of nuvel://; the error output when that failed.
    std::optional<std::string> registerNuvel() const {
        QProcess mime;
        mime.setProcessEnvironment(environment_);
        mime.start("xdg-mime", {"default", "nuvel.desktop", "x-scheme-handler/nuvel"});
        if (mime.waitForFinished(30000) && mime.exitCode() == 0)
            return std::nullopt;
        return mime.readAllStandardError().toStdString();
    }

    QProcessEnvironment& environment() { return environment_; }
    const QProcessEnvironment& environment() const { return environment_; }
    std::string pages() const { return fileContents(pages_); }
    std::string handedOver() const { return fileContents(handedOver_); }

private:
    std::filesystem::path pages_;
    std::filesystem::path handedOver_;
    QProcessEnvironment environment_;
};

} // namespace nuvel::test
