// CPU the running program spends on a room recording (the test microphone alone) with its library
// window open: the release build on an X server of its own (Xvfb), signed in to the stand-in
// service, starts a recording from File ▸ New recording as a user would and records for 60 s.
// Over the same 60 s `parec` records the same source into a file, as the reference. Each figure
// is the process's user and system time from /proc over the wall time, as % of one core, and
// the program's figure beside parec's as a ratio. Runs inside scripts/test-env (the private sound
// server and its test microphone). NUVEL_BENCH_SECONDS changes the 60 s; NUVEL_BENCH_PROGRAM runs
// another build of the program instead of this one's.
#include "Nuvel/model/AppModel.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "tests/ui/DisplayKeyboard.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"

#include <QCoreApplication>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <signal.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace nuvel;
using namespace nuvel::test;

// The process's user + system time in seconds, its threads included.
double cpuSeconds(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields after it follow its closing parenthesis.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Seconds of audio in the recording's live file, 0 until it has some.
double liveSeconds(const std::filesystem::path& production) {
    const auto folders = recordingFolders(production);
    if (folders.empty())
        return 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folders.front(), error))
        if (entry.path().extension() == ".caf")
            return double(entry.file_size(error)) /
                   (48000.0 * 4); // the test microphone: mono float at 48 kHz
    return 0;
}

// Whether the recording still writes: a file of its folder changed in the last ten seconds (the
// live file grows at least once a second, and a new one starts every five).
bool stillRecording(const std::filesystem::path& production) {
    const auto folders = recordingFolders(production);
    if (folders.empty())
        return false;
    std::error_code error;
    auto newest = std::filesystem::file_time_type::min();
    for (const auto& entry : std::filesystem::directory_iterator(folders.front(), error))
        newest = std::max(newest, entry.last_write_time(error));
    return std::filesystem::file_time_type::clock::now() - newest < std::chrono::seconds(10);
}

void RoomRecordingCpu(benchmark::State& state) {
    int argc = 1;
    char name[] = "bench";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariable("PULSE_SERVER").isEmpty()) {
        state.SkipWithError("runs inside scripts/test-env");
        return;
    }
    const char* seconds = std::getenv("NUVEL_BENCH_SECONDS");
    const double window = seconds ? std::atof(seconds) : 60.0;

    // The stand-in service and a device session it issued, stored where Nuvel reads it.
    StandinProcess standin;
    if (standin.origin().empty()) {
        state.SkipWithError("the stand-in service did not start");
        return;
    }
    auto transport = std::make_shared<CurlTransport>();
    PKCEAttempt attempt = PKCEAttempt::make();
    HttpRequest approve;
    approve.url =
        standin.origin() + "/device/approve?challenge=" + attempt.challenge() + "&account=acct_standin";
    const std::string location = transport->send(approve, {}).header("Location").value_or("");
    const std::string code = location.substr(location.find("code=") + 5);
    const std::string session =
        NuvelAPI(standin.origin(), transport).exchangeCode(code, attempt.verifier(), "Benchmark").encode();
    PrivateHome home;
    KeychainVault(AppModel::keychainService,
                  std::make_shared<FileSecretBackend>(home.path("data") / "Nuvel" / "keyring"))
        .save(ByteView(reinterpret_cast<const std::uint8_t*>(session.data()), session.size()),
              KeychainVault::deviceSessionAccount);
    InstalledNuvel nuvel(standin.origin());
    // Another build of the program in its place, to compare two builds in one run.
    if (const char* other = std::getenv("NUVEL_BENCH_PROGRAM"))
        std::filesystem::copy_file(other, nuvel.binary(), std::filesystem::copy_options::overwrite_existing);

    VirtualDisplay display;
    if (!display.ready()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    // Gone before its X server is: Xlib ends a program whose server goes away.
    auto keyboard = std::make_unique<DisplayKeyboard>(display.name().toStdString());
    if (!keyboard->connected()) {
        state.SkipWithError("the X server has no test extension");
        return;
    }
    QProcessEnvironment env = home.environment();
    env.insert("DISPLAY", display.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    QProcess app;
    app.setProcessEnvironment(env);
    app.setStandardOutputFile(QProcess::nullDevice());
    app.setStandardErrorFile(QProcess::nullDevice());
    app.start(nuvel.program(), {});
    app.waitForStarted();

    auto windows = [&](const std::string& title, std::size_t count) {
        std::vector<unsigned long> found;
        eventually(
            [&] {
                found = keyboard->windows(title);
                return found.size() == count;
            },
            60000);
        return found;
    };
    auto keys = [&](unsigned long window, const std::vector<std::string>& chords) {
        keyboard->focus(window);
        keyboard->type(chords);
    };
    const auto production = home.path("data") / "Nuvel" / "production";
    const std::vector<unsigned long> main = windows("Nuvel", 1);
    // Signed in once the workspace's store has its folder.
    const bool signedIn = eventually(
        [&] {
            std::error_code error;
            for (auto it = std::filesystem::recursive_directory_iterator(production, error);
                 !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
                if (const std::string leaf = it->path().filename().string();
                    leaf == "personal" || leaf.starts_with("workspace-"))
                    return true;
            return false;
        },
        60000);
    if (main.size() != 1 || !signedIn) {
        state.SkipWithError("the library window did not open signed in");
        return;
    }
    // File ▸ New recording, the permission box, Check sources, then Start recording once it may.
    keys(main.front(), {"ctrl+n"});
    const std::vector<unsigned long> named = windows("Nuvel", 2);
    if (named.size() != 2) {
        state.SkipWithError("no new-recording sheet");
        return;
    }
    keys(named.front() == main.front() ? named.back() : named.front(), {"space", "Return"});
    const std::vector<unsigned long> check = windows("Check recording sources", 1);
    const bool recording = !check.empty() && eventually(
                                                 [&] {
                                                     keys(check.front(), {"Return"});
                                                     return !recordingFolders(production).empty();
                                                 },
                                                 60000);
    // Measured from the first second of audio on, when the start's own work is done.
    if (!recording || !eventually([&] { return liveSeconds(production) >= 2.0; }, 60000)) {
        state.SkipWithError("no recording started");
        return;
    }

    for (auto _ : state) {
        QProcess parec;
        parec.setStandardOutputFile(QString::fromStdString((home.path("cache") / "parec.raw").string()));
        parec.start("parec", {"-d", "testmic"});
        parec.waitForStarted();
        const auto start = std::chrono::steady_clock::now();
        const double nuvelBefore = cpuSeconds(app.processId());
        const double parecBefore = cpuSeconds(parec.processId());
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        const double nuvelCpu = cpuSeconds(app.processId()) - nuvelBefore;
        const double parecCpu = cpuSeconds(parec.processId()) - parecBefore;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        parec.terminate();
        parec.waitForFinished(10000);
        if (!stillRecording(production)) {
            state.SkipWithError("the recording ended during the measurement (see its status line)");
            break;
        }
        state.SetIterationTime(wall);
        state.counters["nuvel_pct_core"] = 100 * nuvelCpu / wall;
        state.counters["parec_pct_core"] = 100 * parecCpu / wall;
        state.counters["x_parec"] = parecCpu > 0 ? nuvelCpu / parecCpu : 0;
        // parec's own fragments may be seconds long (PipeWire honours its default): no ratio then.
        const std::string ratio = parecCpu > 0 ? std::to_string(nuvelCpu / parecCpu).substr(0, 4) : "n/a";
        std::printf("recording %.0f s, window open: Nuvel %.2f %% of one core, parec %.2f %%, ratio %s\n",
                    wall, 100 * nuvelCpu / wall, 100 * parecCpu / wall, ratio.c_str());
    }
    // Saved on the way out, as a user's quit would.
    ::kill(pid_t(app.processId()), SIGTERM);
    if (!app.waitForFinished(60000))
        app.kill();
}

BENCHMARK(RoomRecordingCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
