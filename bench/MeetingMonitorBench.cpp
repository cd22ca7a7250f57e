// The meeting monitor's CPU with 300 extra processes running: the real signals (the
// sound-server subscription, and the /proc scan while the microphone is in use) polled every
// 2 s for 60 s, first while nothing records, then while a program named like a meeting
// application records the default microphone; beside the same /proc scan done by a plain loop
// on the same schedule. Run inside scripts/test-env (scripts/bench-detection) so that the
// subscription has a server. NUVEL_BENCH_SECONDS shortens the three runs.
#include "Nuvel/model/MeetingMonitor.hpp"
#include "Nuvel/platform/SystemMeetingSignals.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <array>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace nuvel;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double runSeconds() {
    const char* text = std::getenv("NUVEL_BENCH_SECONDS");
    double seconds = text != nullptr ? std::atof(text) : 60;
    return seconds >= 2 ? seconds : 60;
}

// 300 sleeping processes of this user, ended with the benchmark.
class IdleProcesses {
public:
    explicit IdleProcesses(int count) {
        char sleep[] = "sleep";
        char duration[] = "3600";
        char* argv[] = {sleep, duration, nullptr};
        for (int i = 0; i < count; ++i) {
            pid_t pid = 0;
            if (posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) == 0)
                pids_.push_back(pid);
        }
    }
    ~IdleProcesses() {
        for (pid_t pid : pids_)
            kill(pid, SIGTERM);
        for (pid_t pid : pids_)
            waitpid(pid, nullptr, 0);
    }

private:
    std::vector<pid_t> pids_;
};

// A copy of pacat named "zoom" recording the default source, for the length of a run.
class RecordingZoom {
public:
    RecordingZoom() {
        std::filesystem::create_directories(folder_);
        std::filesystem::copy_file("/usr/bin/pacat", folder_ / "zoom",
                                   std::filesystem::copy_options::overwrite_existing);
        std::string program = (folder_ / "zoom").string();
        char record[] = "--record";
        char output[] = "/dev/null";
        char* argv[] = {program.data(), record, output, nullptr};
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = 0;
    }
    ~RecordingZoom() {
        if (pid_ != 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(folder_);
    }

private:
    std::filesystem::path folder_ =
        std::filesystem::temp_directory_path() / ("nuvel-monitor-bench-" + std::to_string(getpid()));
    pid_t pid_ = 0;
};

// Calls `poll` every 2 s of real time for `seconds`; answers the CPU used, in percent of one core.
template <class Poll> double cpuPercentWhilePolling(double seconds, Poll&& poll) {
    auto start = std::chrono::steady_clock::now();
    double cpuStart = cpuSeconds();
    for (int i = 1; i <= int(seconds / 2); ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(2000 * i));
        poll();
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 100 * (cpuSeconds() - cpuStart) / wall;
}

// The same reads as the scanner: each process's folder owner, executable link and control group.
std::size_t plainScan(uid_t user) {
    std::size_t found = 0;
    int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = fdopendir(dup(proc));
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        std::string name = entry->d_name;
        struct stat status;
        if (fstatat(proc, name.c_str(), &status, 0) != 0 || status.st_uid != user)
            continue;
        std::array<char, PATH_MAX> link;
        if (readlinkat(proc, (name + "/exe").c_str(), link.data(), link.size()) <= 0)
            continue;
        int cgroup = openat(proc, (name + "/cgroup").c_str(), O_RDONLY | O_CLOEXEC);
        std::array<char, 8192> text;
        if (cgroup >= 0 && read(cgroup, text.data(), text.size()) > 0)
            ++found;
        if (cgroup >= 0)
            close(cgroup);
    }
    closedir(folder);
    close(proc);
    return found;
}

void BM_MonitorIdleBesidePlainScan(benchmark::State& state) {
    IdleProcesses processes(300);
    double seconds = runSeconds();
    for (auto _ : state) {
        ManualMainQueue queue(0.0);
        auto defaults = std::make_shared<MemoryDefaultsStore>();
        auto signals = std::make_shared<SystemMeetingSignals>();
        MeetingMonitor monitor(queue, std::make_shared<MeetingPreferences>(defaults), signals,
                               [&queue] { return Date{queue.now()}; });
        int prompts = 0;
        monitor.onPrompt = [&](const MeetingMonitor::Prompt&) { ++prompts; };
        monitor.refresh();
        std::this_thread::sleep_for(std::chrono::seconds(1)); // the subscription's first listing
        auto poll = [&] { queue.advance(MeetingMonitor::pollInterval); };
        double idlePercent = cpuPercentWhilePolling(seconds, poll);
        bool sawIdle = !signals->microphoneInUse();

        double callPercent = 0;
        bool sawCall = false;
        {
            RecordingZoom zoom;
            std::this_thread::sleep_for(std::chrono::seconds(1));
            sawCall = signals->microphoneInUse();
            callPercent = cpuPercentWhilePolling(seconds, poll);
        }

        std::size_t found = 0;
        double plainPercent = cpuPercentWhilePolling(seconds, [&] { found += plainScan(getuid()); });
        benchmark::DoNotOptimize(found);

        state.counters["idle_cpu_percent"] = idlePercent;
        state.counters["call_cpu_percent"] = callPercent;
        state.counters["plain_scan_cpu_percent"] = plainPercent;
        state.counters["idle_ratio"] = plainPercent > 0 ? idlePercent / plainPercent : 0;
        state.counters["call_ratio"] = plainPercent > 0 ? callPercent / plainPercent : 0;
        state.counters["saw_idle_and_call"] = sawIdle && sawCall ? 1 : 0;
        state.counters["prompts"] = prompts;
    }
}
BENCHMARK(BM_MonitorIdleBesidePlainScan)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
