// The running program on a room recording (the test microphone alone) with its library window
// open: the release build on an X server of its own (Xvfb), signed in to the stand-in service,
// starts a recording from File ▸ New recording as a user would. Each benchmark measures it beside
// `parec` recording the same source over the same time, as the reference:
//   - RoomRecordingCpu: user and system time from /proc over 60 s of wall time with the window
//     open, then over 60 s more with it minimised, as % of one core, and the program's figure
//     over parec's as a ratio. Where `perf` (Debian's linux-perf) may profile the program, each
//     figure is split by the program's own call stacks into the tick and redraw (the window's
//     thread), the capture (the sound server's thread, the ring and the live file's appends),
//     the sealing (closing, listing and sealing each five-second part, opening the next), the
//     checkpoints (each second's push of the live file to disk, the check every five seconds)
//     and the rest. NUVEL_BENCH_SECONDS changes the 60 s.
//   - MicrophoneUnderLoad: 120 s with 32 busy loops (one more than four per core on this kind of
//     machine), then the holes in the tone of each recording: the program's as saved in its store,
//     parec's as it wrote it. A hole is any break in the tone (lost, doubled or silent audio);
//     the tone's samples repeat only after a whole second (437 Hz: NUVEL_TEST_TONE_HZ, which
//     scripts/test-env plays), so a lost buffer of the capture (a fragment of 4800 frames, a piece
//     of 8192) always breaks its phase. NUVEL_BENCH_SECONDS and NUVEL_BENCH_BUSY change the 120 s
//     and the 32 loops.
//   - RecordingMemory: the resident memory of the program and of parec after 1, 10 and 30 minutes
//     of recording, and each one's growth per minute between the first and the last moment.
//     NUVEL_BENCH_MINUTES=<a,b,c> changes the moments.
// Each ends with the program's own count of the audio its capture lost over the recording (the
// capture's debug line, switched on for it). Runs inside scripts/test-env (the private sound
// server and its test microphone); NUVEL_BENCH_PROGRAM runs another build of the program instead
// of this one's.
#include "Nuvel/model/AppModel.hpp"
#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/capture/CafFile.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/KeychainVault.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "tests/ui/DisplayKeyboard.hpp"
#include "tests/ui/NuvelDesktop.hpp"
#include "tests/ui/NuvelProcesses.hpp"

#include <QCoreApplication>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>
#include <set>
#include <signal.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace nuvel;
using namespace nuvel::test;

constexpr double micRate = 48000; // the test microphone: mono float at 48 kHz

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

// A "Key:   123 kB" line of /proc/<pid>/status, in kB; 0 when absent.
double statusKiB(qint64 pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0)
            return std::atof(line.c_str() + key.size() + 1);
    return 0;
}

// Seconds of audio in the recording's live file, 0 until it has some.
double liveSeconds(const std::filesystem::path& production) {
    const auto folders = recordingFolders(production);
    if (folders.empty())
        return 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folders.front(), error))
        if (entry.path().extension() == ".caf")
            return double(entry.file_size(error)) / (micRate * 4);
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

double environmentNumber(const char* name, double fallback) {
    const char* value = std::getenv(name);
    return value ? std::atof(value) : fallback;
}

// The breaks in a recorded sine of `hz`: samples that do not continue the two before them as a
// sine does (x[n] = 2 cos w x[n-1] - x[n-2]), and runs of silence, which the tone never has.
// Breaks closer than 10 ms together are one hole.
struct ToneHoles {
    std::size_t count = 0;
    double silentSeconds = 0;
    double longestSeconds = 0;
};

ToneHoles toneHoles(const std::vector<float>& x, double hz) {
    constexpr double tolerance = 0.01; // a 0.5 tone's phase broken by 0.02 rad or more
    constexpr double silence = 1e-4;   // below the tone's step at its zero crossings (0.03)
    const std::size_t merge = std::size_t(0.010 * micRate);
    const double c = 2 * std::cos(2 * M_PI * hz / micRate);
    ToneHoles holes;
    std::optional<std::size_t> start, last;
    std::size_t silent = 0;
    for (std::size_t n = 2; n + 1 < x.size(); ++n) {
        const bool quiet =
            std::fabs(x[n - 1]) < silence && std::fabs(x[n]) < silence && std::fabs(x[n + 1]) < silence;
        const bool broken = std::fabs(double(x[n]) - c * x[n - 1] + x[n - 2]) > tolerance;
        silent += quiet;
        if (!quiet && !broken)
            continue;
        if (!last || n - *last > merge) {
            if (start)
                holes.longestSeconds = std::max(holes.longestSeconds, double(*last - *start + 1) / micRate);
            ++holes.count;
            start = n;
        }
        last = n;
    }
    if (start)
        holes.longestSeconds = std::max(holes.longestSeconds, double(*last - *start + 1) / micRate);
    holes.silentSeconds = double(silent) / micRate;
    return holes;
}

// The part of a capture measured: its first second (a stream's start) and its last 0.2 s (its
// end) left out.
std::vector<float> measuredPart(const std::vector<float>& samples) {
    const auto head = std::size_t(micRate), tail = std::size_t(0.2 * micRate);
    if (samples.size() <= head + tail)
        return {};
    return {samples.begin() + std::ptrdiff_t(head), samples.end() - std::ptrdiff_t(tail)};
}

std::vector<float> rawFloats(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::copy_n(bytes.data(), samples.size() * sizeof(float), reinterpret_cast<char*>(samples.data()));
    return samples;
}

// `parec` recording the test microphone in its own format into a file, with the fragment the
// program asks for (0.1 s).
class ParecCapture {
public:
    explicit ParecCapture(const std::filesystem::path& file) : file_(file) {
        process_.setStandardOutputFile(QString::fromStdString(file.string()));
        process_.start("parec", {"-d", "testmic", "--raw", "--format=float32le", "--rate=48000",
                                 "--channels=1", "--latency-msec=100"});
        process_.waitForStarted();
    }
    ~ParecCapture() { stop(); }
    ParecCapture(const ParecCapture&) = delete;
    ParecCapture& operator=(const ParecCapture&) = delete;

    qint64 pid() const { return process_.processId(); }
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(10000))
            process_.kill();
    }
    std::vector<float> samples() const { return rawFloats(file_); }

private:
    std::filesystem::path file_;
    QProcess process_;
};

// `count` shell loops that spin until they are killed.
class BusyLoops {
public:
    explicit BusyLoops(int count) {
        for (int i = 0; i < count; ++i) {
            auto loop = std::make_unique<QProcess>();
            loop->start("sh", {"-c", "while :; do :; done"});
            loop->waitForStarted();
            loops_.push_back(std::move(loop));
        }
    }
    ~BusyLoops() {
        for (auto& loop : loops_) {
            loop->kill();
            loop->waitForFinished(10000);
        }
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<std::unique_ptr<QProcess>> loops_;
};

// Where a process spends its CPU by what it does: `perf` samples its call stacks on its CPU
// clock (199 a second, a few percent of the figure it measures), and each sample counts for one
// share. Empty when perf is missing or may not profile here.
class CpuSplit {
public:
    enum Share { tickAndRedraw, capture, sealing, checkpoints, other, shareCount };
    static constexpr const char* names[shareCount] = {"tick and redraw", "capture", "sealing", "checkpoints",
                                                      "other"};

    CpuSplit(qint64 pid, const std::filesystem::path& file) : pid_(pid), file_(file) {
        const QString perf = QStandardPaths::findExecutable("perf");
        if (perf.isEmpty())
            return;
        perf_.setProgram(perf);
        perf_.setArguments({"record", "-q", "-e", "cpu-clock", "-F", "199", "--call-graph", "dwarf,16384",
                            "-p", QString::number(pid), "-o", QString::fromStdString(file.string())});
        perf_.setStandardOutputFile(QProcess::nullDevice());
        perf_.setStandardErrorFile(QProcess::nullDevice());
        perf_.start();
        perf_.waitForStarted();
    }
    ~CpuSplit() { stop(); }
    CpuSplit(const CpuSplit&) = delete;
    CpuSplit& operator=(const CpuSplit&) = delete;

    // Ends the profile and reads it: the samples of each share.
    void stop() {
        if (perf_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(perf_.processId()), SIGINT);
        if (!perf_.waitForFinished(60000))
            perf_.kill();
        const std::filesystem::path text = file_.string() + ".txt";
        QProcess script;
        script.setStandardOutputFile(QString::fromStdString(text.string()));
        script.setStandardErrorFile(QProcess::nullDevice());
        script.start(perf_.program(), {"script", "-i", QString::fromStdString(file_.string()), "--no-inline",
                                       "-F", "comm,tid,ip,sym"});
        script.waitForFinished(600000);
        read(text);
    }

    std::size_t samples() const { return std::accumulate(counts_.begin(), counts_.end(), std::size_t(0)); }
    double fraction(Share share) const {
        return samples() > 0 ? double(counts_[share]) / double(samples()) : 0;
    }

private:
    // A sample's header names its thread ("comm tid"); its frames follow, one a line after a
    // tab, each "address symbol"; a blank line ends it. A stack cut short (perf keeps 16 kB of
    // it) may not reach the consumer's own frames: the consumer's thread is known by its other
    // samples, and what it does that no frame names is its capture.
    void read(const std::filesystem::path& text) {
        std::ifstream in(text);
        std::string comm, line;
        long tid = 0;
        std::vector<std::string> frames;
        std::vector<std::pair<long, std::optional<Share>>> taken;
        std::set<long> consumers;
        auto count = [&] {
            if (tid != 0) {
                taken.emplace_back(tid, classify(comm, tid, frames));
                if (isConsumer(frames))
                    consumers.insert(tid);
            }
            tid = 0;
            frames.clear();
        };
        while (std::getline(in, line)) {
            if (line.empty()) {
                count();
            } else if (line[0] != '\t') {
                count();
                // perf pads the two fields to a width: "nuvel  7028 ".
                const auto begin = line.find_first_not_of(' ');
                const auto end = line.find_last_not_of(' ');
                const auto space = end == std::string::npos ? end : line.rfind(' ', end);
                const auto last = space == std::string::npos ? space : line.find_last_not_of(' ', space);
                if (last == std::string::npos || last < begin)
                    continue;
                comm = line.substr(begin, last + 1 - begin);
                tid = std::atol(line.c_str() + space + 1);
            } else {
                const auto address = line.find_first_not_of(" \t");
                const auto symbol = line.find(' ', address);
                if (symbol != std::string::npos)
                    frames.push_back(line.substr(symbol + 1));
            }
        }
        count();
        for (const auto& [thread, share] : taken)
            ++counts_[share ? *share : consumers.count(thread) > 0 ? capture : other];
    }

    static bool has(const std::vector<std::string>& frames, const char* name) {
        return std::any_of(frames.begin(), frames.end(),
                           [&](const std::string& frame) { return frame.find(name) != std::string::npos; });
    }
    static bool isConsumer(const std::vector<std::string>& frames) {
        return has(frames, "Consumer::run") || has(frames, "ConsumerRun") || has(frames, "appendLiveAudio") ||
               has(frames, "CaptureClock::sleep");
    }

    std::optional<Share> classify(const std::string& comm, long tid,
                                  const std::vector<std::string>& frames) const {
        if (has(frames, "finishLiveSegment") || has(frames, "openLiveFile"))
            return sealing;
        if (has(frames, "checkCapture") || has(frames, "checkpointCapture") ||
            has(frames, "setSourceTimeline") ||
            (has(frames, "appendLiveAudio") &&
             (has(frames, "FileDescriptor::sync") || has(frames, "sf_write_sync"))))
            return checkpoints;
        if (tid == long(pid_) || comm == "QXcbEventQueue")
            return tickAndRedraw;
        if (comm == "threaded-ml" || isConsumer(frames) || has(frames, "AudioRing"))
            return capture;
        return std::nullopt;
    }

    qint64 pid_;
    std::filesystem::path file_;
    QProcess perf_;
    std::array<std::size_t, shareCount> counts_{};
};

// The program signed in, recording from the test microphone with its library window open.
class RoomRecording {
public:
    RoomRecording() {
        if (qEnvironmentVariable("PULSE_SERVER").isEmpty()) {
            failure_ = "runs inside scripts/test-env";
            return;
        }
        standin_ = std::make_unique<StandinProcess>();
        if (standin_->origin().empty()) {
            failure_ = "the stand-in service did not start";
            return;
        }
        // A device session the stand-in service issued, stored where Nuvel reads it.
        auto transport = std::make_shared<CurlTransport>();
        PKCEAttempt attempt = PKCEAttempt::make();
        HttpRequest approve;
        approve.url =
            standin_->origin() + "/device/approve?challenge=" + attempt.challenge() + "&account=acct_standin";
        const std::string location = transport->send(approve, {}).header("Location").value_or("");
        const std::string code = location.substr(location.find("code=") + 5);
        const DeviceSession session =
            NuvelAPI(standin_->origin(), transport).exchangeCode(code, attempt.verifier(), "Benchmark");
        account_ = session.account.id;
        const std::string encoded = session.encode();
        vault().save(ByteView(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()),
                     KeychainVault::deviceSessionAccount);
        nuvel_ = std::make_unique<InstalledNuvel>(standin_->origin());
        // Another build of the program in its place, to compare two builds in one run.
        if (const char* other = std::getenv("NUVEL_BENCH_PROGRAM"))
            std::filesystem::copy_file(other, nuvel_->binary(),
                                       std::filesystem::copy_options::overwrite_existing);
        display_ = std::make_unique<VirtualDisplay>();
        if (!display_->ready()) {
            failure_ = "Xvfb did not start";
            return;
        }
        keyboard_ = std::make_unique<DisplayKeyboard>(display_->name().toStdString());
        if (!keyboard_->connected()) {
            failure_ = "the X server has no test extension";
            return;
        }
        QProcessEnvironment env = home_.environment();
        env.insert("DISPLAY", display_->name());
        env.insert("QT_QPA_PLATFORM", "xcb");
        // The capture's debug line, with the audio lost, when the recording ends.
        env.insert("QT_LOGGING_RULES", "nuvel.capture.debug=true");
        app_.setProcessEnvironment(env);
        app_.setStandardOutputFile(QProcess::nullDevice());
        app_.setStandardErrorFile(QString::fromStdString(errors().string()));
        app_.start(nuvel_->program(), {});
        app_.waitForStarted();
        start();
    }
    ~RoomRecording() {
        // Gone before its X server is: Xlib ends a program whose server goes away.
        quit();
        keyboard_.reset();
    }
    RoomRecording(const RoomRecording&) = delete;
    RoomRecording& operator=(const RoomRecording&) = delete;

    // Why the recording is not running, empty while it is.
    const std::string& failure() const { return failure_; }
    qint64 pid() const { return app_.processId(); }
    bool stillRecording() const { return ::stillRecording(production()); }
    std::filesystem::path cache() const { return home_.path("cache"); }
    // Minimises the library window, as its title bar's button would.
    bool minimise() { return keyboard_->minimise(library_); }

    // Saved on the way out, as a user's quit would.
    void quit() {
        if (app_.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(app_.processId()), SIGTERM);
        if (!app_.waitForFinished(60000))
            app_.kill();
    }

    // After quit: the capture's line about the audio the recording lost, or why there is none.
    std::string losses() const {
        std::ifstream in(errors());
        for (std::string line; std::getline(in, line);)
            if (const auto at = line.find("recording ended:"); at != std::string::npos)
                return line.substr(at + std::string("recording ended:").size() + 1);
        return "none logged";
    }

    // After quit: the recording's audio as saved in the store, its segments one after another.
    std::vector<float> savedAudio() const {
        const auto folders = recordingFolders(production());
        if (folders.empty())
            return {};
        RecordingWorkspaceStore store(folders.front().parent_path(), vault().mediaKey(account_, true));
        const RecoveryReport report = store.recover(account_);
        std::vector<float> audio;
        for (const LocalRecording& recording : report.recordings)
            for (const RecordingSegment& segment : recording.segments) {
                const auto clear = store.openClearCopy(recording.id, segment.id, "caf");
                CafReader reader = CafReader::open(clear);
                std::vector<float> samples(std::size_t(reader.format().frames));
                samples.resize(reader.read(samples));
                audio.insert(audio.end(), samples.begin(), samples.end());
                store.removeWorkingFiles(clear);
            }
        return audio;
    }

private:
    std::filesystem::path production() const { return home_.path("data") / "Nuvel" / "production"; }
    std::filesystem::path errors() const { return home_.path("cache") / "nuvel-stderr.txt"; }
    KeychainVault vault() const {
        return KeychainVault(AppModel::keychainService,
                             std::make_shared<FileSecretBackend>(home_.path("data") / "Nuvel" / "keyring"));
    }

    std::vector<unsigned long> windows(const std::string& title, std::size_t count) {
        std::vector<unsigned long> found;
        eventually(
            [&] {
                found = keyboard_->windows(title);
                return found.size() == count;
            },
            60000);
        return found;
    }
    void keys(unsigned long window, const std::vector<std::string>& chords) {
        keyboard_->focus(window);
        keyboard_->type(chords);
    }

    void start() {
        const std::vector<unsigned long> main = windows("Nuvel", 1);
        // Signed in once the workspace's store has its folder.
        const bool signedIn = eventually(
            [&] {
                std::error_code error;
                for (auto it = std::filesystem::recursive_directory_iterator(production(), error);
                     !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
                    if (const std::string leaf = it->path().filename().string();
                        leaf == "personal" || leaf.starts_with("workspace-"))
                        return true;
                return false;
            },
            60000);
        if (main.size() != 1 || !signedIn) {
            failure_ = "the library window did not open signed in";
            return;
        }
        library_ = main.front();
        // File ▸ New recording, the permission box, Check sources, then Start recording once it may.
        // A program still busy with its start may miss the first press: pressed again every 5 s.
        std::vector<unsigned long> named;
        for (int attempt = 0; attempt < 12 && named.size() != 2; ++attempt) {
            keys(main.front(), {"ctrl+n"});
            eventually(
                [&] {
                    named = keyboard_->windows("Nuvel");
                    return named.size() == 2;
                },
                5000);
        }
        if (named.size() != 2) {
            failure_ = "no new-recording sheet";
            return;
        }
        keys(named.front() == main.front() ? named.back() : named.front(), {"space", "Return"});
        const std::vector<unsigned long> check = windows("Check recording sources", 1);
        const bool recording = !check.empty() && eventually(
                                                     [&] {
                                                         keys(check.front(), {"Return"});
                                                         return !recordingFolders(production()).empty();
                                                     },
                                                     60000);
        // Measured from the first second of audio on, when the start's own work is done.
        if (!recording || !eventually([&] { return liveSeconds(production()) >= 2.0; }, 60000))
            failure_ = "no recording started";
    }

    std::unique_ptr<StandinProcess> standin_;
    std::string account_;
    PrivateHome home_;
    std::unique_ptr<InstalledNuvel> nuvel_;
    std::unique_ptr<VirtualDisplay> display_;
    std::unique_ptr<DisplayKeyboard> keyboard_;
    unsigned long library_ = 0;
    QProcess app_;
    std::string failure_;
};

int argc = 1;
char name[] = "bench";
char* argv[] = {name, nullptr};

// One stretch of the CPU benchmark: the program's CPU and parec's over the same time, and where
// the program's went.
struct CpuStretch {
    double wall = 0, nuvel = 0, parec = 0; // seconds
    std::array<double, CpuSplit::shareCount> shares{};
    std::size_t samples = 0;
};

CpuStretch measureCpu(const RoomRecording& recording, double seconds, const std::string& name) {
    ParecCapture parec(recording.cache() / (name + ".raw"));
    CpuStretch stretch;
    const auto start = std::chrono::steady_clock::now();
    const double nuvelBefore = cpuSeconds(recording.pid());
    const double parecBefore = cpuSeconds(parec.pid());
    {
        CpuSplit split(recording.pid(), recording.cache() / (name + ".perf"));
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        stretch.nuvel = cpuSeconds(recording.pid()) - nuvelBefore;
        stretch.parec = cpuSeconds(parec.pid()) - parecBefore;
        stretch.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        parec.stop();
        split.stop();
        stretch.samples = split.samples();
        for (int share = 0; share < CpuSplit::shareCount; ++share)
            stretch.shares[std::size_t(share)] = split.fraction(CpuSplit::Share(share));
    }
    return stretch;
}

void report(benchmark::State& state, const CpuStretch& stretch, const std::string& window,
            const std::string& counter) {
    const double nuvel = 100 * stretch.nuvel / stretch.wall, parec = 100 * stretch.parec / stretch.wall;
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    state.counters[counter + "nuvel_pct_core"] = nuvel;
    state.counters[counter + "parec_pct_core"] = parec;
    state.counters[counter + "x_parec"] = stretch.parec > 0 ? stretch.nuvel / stretch.parec : 0;
    const std::string ratio =
        stretch.parec > 0 ? std::to_string(stretch.nuvel / stretch.parec).substr(0, 4) : "n/a";
    std::printf(
        "recording %.0f s, window %s: Nuvel %.2f %% of one core, parec %.2f %%, ratio %s (load %.1f on "
        "%ld cores)\n",
        stretch.wall, window.c_str(), nuvel, parec, ratio.c_str(), load, sysconf(_SC_NPROCESSORS_ONLN));
    if (stretch.samples == 0) {
        std::printf("recording split, window %s: none (perf is missing or may not profile here)\n",
                    window.c_str());
        return;
    }
    std::string split;
    for (int share = 0; share < CpuSplit::shareCount; ++share) {
        char part[96];
        std::snprintf(part, sizeof part, "%s%s %.3f %% (%.0f %%)", share == 0 ? "" : ", ",
                      CpuSplit::names[share], nuvel * stretch.shares[std::size_t(share)],
                      100 * stretch.shares[std::size_t(share)]);
        split += part;
    }
    std::printf("recording split, window %s: %s of one core; %zu samples\n", window.c_str(), split.c_str(),
                stretch.samples);
}

void RoomRecordingCpu(benchmark::State& state) {
    QCoreApplication application(argc, argv);
    const double window = environmentNumber("NUVEL_BENCH_SECONDS", 60);
    RoomRecording recording;
    if (!recording.failure().empty()) {
        state.SkipWithError(recording.failure().c_str());
        return;
    }
    for (auto _ : state) {
        const CpuStretch open = measureCpu(recording, window, "open");
        if (!recording.minimise()) {
            state.SkipWithError("the library window could not be minimised");
            break;
        }
        const CpuStretch minimised = measureCpu(recording, window, "minimised");
        if (!recording.stillRecording()) {
            state.SkipWithError("the recording ended during the measurement (see its status line)");
            break;
        }
        state.SetIterationTime(open.wall + minimised.wall);
        report(state, open, "open", "");
        report(state, minimised, "minimised", "minimised_");
    }
    recording.quit();
    std::printf("recording losses: %s\n", recording.losses().c_str());
}

void MicrophoneUnderLoad(benchmark::State& state) {
    QCoreApplication application(argc, argv);
    const double window = environmentNumber("NUVEL_BENCH_SECONDS", 120);
    const int busy = int(environmentNumber("NUVEL_BENCH_BUSY", 32));
    const double hz = environmentNumber("NUVEL_TEST_TONE_HZ", 440);
    RoomRecording recording;
    if (!recording.failure().empty()) {
        state.SkipWithError(recording.failure().c_str());
        return;
    }
    for (auto _ : state) {
        ParecCapture parec(recording.cache() / "parec.raw");
        const auto start = std::chrono::steady_clock::now();
        {
            BusyLoops loops(busy);
            std::this_thread::sleep_for(std::chrono::duration<double>(window));
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        parec.stop();
        double load = 0;
        std::ifstream("/proc/loadavg") >> load;
        if (!recording.stillRecording()) {
            state.SkipWithError("the recording ended during the measurement (see its status line)");
            break;
        }
        recording.quit();
        const std::vector<float> mine = measuredPart(recording.savedAudio());
        const std::vector<float> theirs = measuredPart(parec.samples());
        const ToneHoles nuvel = toneHoles(mine, hz);
        const ToneHoles reference = toneHoles(theirs, hz);
        state.SetIterationTime(wall);
        state.counters["nuvel_holes"] = double(nuvel.count);
        state.counters["parec_holes"] = double(reference.count);
        std::printf("microphone under %d busy loops (load %.1f on %ld cores), %.0f s of a %.0f Hz tone: "
                    "Nuvel %zu holes in %.1f s (longest %.0f ms, %.0f ms silent), parec %zu holes in %.1f s "
                    "(longest %.0f ms, %.0f ms silent); holes per minute %.2f beside %.2f\n",
                    busy, load, sysconf(_SC_NPROCESSORS_ONLN), wall, hz, nuvel.count,
                    double(mine.size()) / micRate, 1000 * nuvel.longestSeconds, 1000 * nuvel.silentSeconds,
                    reference.count, double(theirs.size()) / micRate, 1000 * reference.longestSeconds,
                    1000 * reference.silentSeconds, 60 * double(nuvel.count) * micRate / double(mine.size()),
                    60 * double(reference.count) * micRate / double(theirs.size()));
        std::printf("recording losses: %s\n", recording.losses().c_str());
    }
}

void RecordingMemory(benchmark::State& state) {
    QCoreApplication application(argc, argv);
    std::vector<double> moments;
    std::istringstream list(std::getenv("NUVEL_BENCH_MINUTES") ? std::getenv("NUVEL_BENCH_MINUTES")
                                                               : "1,10,30");
    for (std::string item; std::getline(list, item, ',');)
        moments.push_back(std::atof(item.c_str()));
    RoomRecording recording;
    if (!recording.failure().empty()) {
        state.SkipWithError(recording.failure().c_str());
        return;
    }
    for (auto _ : state) {
        ParecCapture parec(recording.cache() / "parec.raw");
        const auto start = std::chrono::steady_clock::now();
        struct Reading {
            double minutes, nuvel, nuvelAnonymous, parec;
        };
        std::vector<Reading> readings;
        for (double minutes : moments) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(60 * minutes));
            readings.push_back({minutes, statusKiB(recording.pid(), "VmRSS"),
                                statusKiB(recording.pid(), "RssAnon"), statusKiB(parec.pid(), "VmRSS")});
            const Reading& r = readings.back();
            std::printf(
                "recording memory after %g min: Nuvel %.0f kB resident (%.0f kB anonymous), parec %.0f "
                "kB, ratio %.1f\n",
                r.minutes, r.nuvel, r.nuvelAnonymous, r.parec, r.parec > 0 ? r.nuvel / r.parec : 0);
            std::fflush(stdout);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        parec.stop();
        if (!recording.stillRecording()) {
            state.SkipWithError("the recording ended during the measurement (see its status line)");
            break;
        }
        state.SetIterationTime(wall);
        if (readings.size() >= 2) {
            const Reading& first = readings.front();
            const Reading& last = readings.back();
            const double span = last.minutes - first.minutes;
            std::printf(
                "recording memory growth from %g to %g min: Nuvel %.1f kB/min (anonymous %.1f kB/min), "
                "parec %.1f kB/min\n",
                first.minutes, last.minutes, (last.nuvel - first.nuvel) / span,
                (last.nuvelAnonymous - first.nuvelAnonymous) / span, (last.parec - first.parec) / span);
            state.counters["nuvel_kB_per_min"] = (last.nuvel - first.nuvel) / span;
            state.counters["parec_kB_per_min"] = (last.parec - first.parec) / span;
        }
    }
    recording.quit();
    std::printf("recording losses: %s\n", recording.losses().c_str());
}

BENCHMARK(RoomRecordingCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(MicrophoneUnderLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(RecordingMemory)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
