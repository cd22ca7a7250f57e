#pragma once

// Real Nuvel processes for the tests: a copy of the built program in a folder of its own with
// the Info.json it reads there, and a private home for each run.

#include "tests/support/TempDir.hpp"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace nuvel::test {

inline std::filesystem::path builtNuvel() {
    return std::filesystem::path(NUVEL_BINARY_DIR) / "Nuvel" / "nuvel";
}

// The program and its modules copied beside an Info.json naming `origin`.
class InstalledNuvel {
public:
    explicit InstalledNuvel(const std::string& origin) {
        std::filesystem::copy_file(builtNuvel(), binary());
        for (const auto& entry : std::filesystem::directory_iterator(builtNuvel().parent_path()))
            if (entry.path().extension() == ".so")
                std::filesystem::copy_file(entry.path(), folder_.path() / entry.path().filename());
        std::ofstream(folder_.path() / "Info.json") << R"({"NuvelServiceOrigin": ")" << origin << R"("})"
                                                    << "\n";
    }
    std::filesystem::path binary() const { return folder_.path() / "nuvel"; }
    QString program() const { return QString::fromStdString(binary().string()); }

private:
    TempDir folder_{"nuvel-install"};
};

// A home, runtime folder and XDG folders of its own; no session bus, so the keyring is the
// owner-only file store and nothing reaches the user's desktop.
class PrivateHome {
public:
    PrivateHome() {
        for (const char* name : {"home", "run", "data", "config", "cache"})
            std::filesystem::create_directories(root_.path() / name);
        chmod((root_.path() / "run").c_str(), 0700);
    }
    std::filesystem::path path(const char* name) const { return root_.path() / name; }

    QProcessEnvironment environment() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        // No session bus answers (so no keyring): a bus address that leads nowhere, since without
        // one GLib would start a bus of its own through the X server.
        e.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + q(path("run") / "no-session-bus"));
        e.insert("HOME", q(path("home")));
        e.insert("XDG_RUNTIME_DIR", q(path("run")));
        e.insert("XDG_DATA_HOME", q(path("data")));
        e.insert("XDG_CONFIG_HOME", q(path("config")));
        e.insert("XDG_CACHE_HOME", q(path("cache")));
        e.insert("QT_QPA_PLATFORM", "offscreen");
        return e;
    }

private:
    static QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
    TempDir root_{"nuvel-home"};
};

// The folders under `root` that hold a sealed manifest: the recordings of every store there.
inline std::vector<std::filesystem::path> recordingFolders(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        if (it->path().filename() == "manifest.nuvel")
            found.push_back(it->path().parent_path());
    return found;
}

// Reads the process's output until `line` appears or the time is up.
inline bool waitForLine(QProcess& process, QByteArray& seen, const QByteArray& line,
                        int milliseconds = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(line)) {
        if (timer.elapsed() > milliseconds)
            return false;
        process.waitForReadyRead(100);
        seen += process.readAllStandardOutput();
        if (process.state() == QProcess::NotRunning && !seen.contains(line)) {
            seen += process.readAllStandardOutput();
            return seen.contains(line);
        }
    }
    return true;
}

} // namespace nuvel::test
