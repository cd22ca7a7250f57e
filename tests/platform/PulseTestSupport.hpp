#pragma once

// Helpers for the tests that run against the private sound server of scripts/test-env:
// connecting (failing when NUVEL_TEST_PULSE=1 says a server must be there, skipping
// otherwise), running pactl and paplay, writing tone files, collecting recorded pieces and
// measuring tones.

#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulseIntrospection.hpp"
#include "Nuvel/platform/PulseRecordStream.hpp"
#include "NuvelKit/support/Time.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace nuvel::test {

inline bool pulseRequired() {
    const char* value = std::getenv("NUVEL_TEST_PULSE");
    return value != nullptr && std::string(value) == "1";
}

inline std::shared_ptr<PulseConnection> tryConnect(std::string& why) {
    try {
        PulseConnection::Options options;
        options.applicationName = "Nuvel tests";
        return PulseConnection::connect(options);
    } catch (const PulseError& error) {
        why = error.what();
        return nullptr;
    }
}

// True when scripts/test-env runs PipeWire's PulseAudio server rather than PulseAudio.
inline bool onPipeWire() {
    const char* value = std::getenv("NUVEL_TEST_SOUND_SERVER");
    return value != nullptr && std::string(value) == "pipewire";
}

// Connects to the test server, or ends the test: a failure when the server is required.
#define NUVEL_CONNECT_PULSE(var)                                                                             \
    std::string var##Why;                                                                                    \
    auto var = ::nuvel::test::tryConnect(var##Why);                                                          \
    if (!var) {                                                                                              \
        if (::nuvel::test::pulseRequired())                                                                  \
            FAIL() << "no sound server: " << var##Why;                                                       \
        GTEST_SKIP() << "no sound server: " << var##Why;                                                     \
    }

// Runs a program with arguments (no shell) and returns its standard output; nullopt when it
// exits non-zero.
inline std::optional<std::string> runProgram(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[512];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    if (spawned != 0)
        return std::nullopt;
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return output;
}

// A module loaded for one test and unloaded at its end (unless unloaded before).
class LoadedModule {
public:
    explicit LoadedModule(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"pactl", "load-module"});
        auto output = runProgram(arguments);
        if (output)
            index_ = std::stoul(*output);
    }
    ~LoadedModule() { unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool loaded() const { return index_.has_value(); }
    void unload() {
        if (index_)
            runProgram({"pactl", "unload-module", std::to_string(*index_)});
        index_.reset();
    }

private:
    std::optional<unsigned long> index_;
};

// A name unique to this test process, for sinks and sources it creates.
inline std::string uniqueName(const std::string& stem) {
    return stem + "_" + std::to_string(getpid());
}

// The module arguments of a silent microphone of one test's own: `extra` as "rate=…",
// "channels=…", a description as "description=…". PipeWire's PulseAudio server has no
// module-null-source; there a null sink made a virtual source stands in.
inline std::vector<std::string> nullSourceModule(const std::string& name,
                                                 std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments;
    if (onPipeWire())
        arguments = {"module-null-sink", "sink_name=" + name, "media.class=Audio/Source/Virtual"};
    else
        arguments = {"module-null-source", "source_name=" + name};
    for (auto& argument : extra) {
        if (onPipeWire() && argument.rfind("description=", 0) == 0)
            argument = "device." + argument;
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

inline bool waitFor(const std::function<bool()>& condition, double seconds);

// Whether the server lists a source of this name. PipeWire's server adds a module's devices a
// moment after the module, and removes them a moment after it is unloaded.
inline bool sourceListed(const std::string& name) {
    auto sources = runProgram({"pactl", "list", "short", "sources"});
    return sources && sources->find("\t" + name + "\t") != std::string::npos;
}

// A private null sink, so that tests running at the same time do not hear each other. Returned
// once its monitor is listed.
inline std::unique_ptr<LoadedModule> privateSink(const std::string& name) {
    auto module =
        std::make_unique<LoadedModule>(std::vector<std::string>{"module-null-sink", "sink_name=" + name});
    if (module->loaded())
        waitFor([&] { return sourceListed(name + ".monitor"); }, 30.0);
    return module;
}

// A silent microphone of one test's own (see nullSourceModule), returned once it is listed.
inline std::unique_ptr<LoadedModule> privateSource(const std::string& name,
                                                   std::vector<std::string> extra = {}) {
    auto module = std::make_unique<LoadedModule>(nullSourceModule(name, std::move(extra)));
    if (module->loaded())
        waitFor([&] { return sourceListed(name); }, 30.0);
    return module;
}

// A 16-bit mono WAV file of a sine tone.
inline void writeToneWav(const std::filesystem::path& path, double frequency, double seconds,
                         double amplitude, std::uint32_t rate = 48000) {
    auto frames = static_cast<std::uint32_t>(seconds * rate);
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + frames * 2);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2); // bytes per second
    u16(2);        // bytes per frame
    u16(16);
    out.write("data", 4);
    u32(frames * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        double x = amplitude * std::sin(2 * M_PI * frequency * i / rate);
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x * 32767))));
    }
}

// A child process started by a test and ended by its pid when the test ends.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = 0;
    }
    // With `environment` ("NAME=value") over this process's own but without its session bus,
    // and its output discarded.
    ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
        std::vector<std::string> variables;
        for (char** v = environ; *v != nullptr; ++v) {
            std::string variable(*v);
            bool replaced = variable.starts_with("DBUS_SESSION_BUS_ADDRESS=");
            for (const auto& setting : environment)
                replaced = replaced || variable.starts_with(setting.substr(0, setting.find('=') + 1));
            if (!replaced)
                variables.push_back(variable);
        }
        variables.insert(variables.end(), environment.begin(), environment.end());
        std::vector<char*> argv, envp;
        for (const auto& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& v : variables)
            envp.push_back(const_cast<char*>(v.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void stop() {
        if (pid_ == 0)
            return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    pid_t pid_ = 0;
};

// Polls `condition` every 20 ms for at most `seconds`.
inline bool waitFor(const std::function<bool()>& condition, double seconds) {
    double deadline = hostTimeSeconds() + seconds;
    while (!condition()) {
        if (hostTimeSeconds() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The sink-input of a child process, once the server lists it.
inline std::optional<PulseSinkInputInfo> sinkInputOf(PulseConnection& connection, pid_t pid,
                                                     double seconds = 5.0) {
    std::optional<PulseSinkInputInfo> found;
    waitFor(
        [&] {
            for (auto& input : listSinkInputs(connection))
                if (input.processID == pid)
                    found = input;
            return found.has_value();
        },
        seconds);
    return found;
}

// The sink-input of a child process once it plays on `sink`: PipeWire's server lists a new
// stream a moment before it plays, corked and on the default sink.
inline std::optional<PulseSinkInputInfo> playingSinkInputOf(PulseConnection& connection, pid_t pid,
                                                            const std::string& sink) {
    auto target = sinkInfo(connection, sink);
    if (!target)
        return std::nullopt;
    std::optional<PulseSinkInputInfo> input;
    waitFor(
        [&] {
            input = sinkInputOf(connection, pid, 0.0);
            return input && !input->corked && input->sink == target->index;
        },
        5.0);
    return input;
}

struct Piece {
    std::vector<float> samples;
    double sampleRate = 0;
    double hostTime = 0;
    double arrivedAt = 0;
};

// Collects what a record stream delivers (test code: a lock is fine here).
class Recording {
public:
    PulseRecordStream::Consumer consumer() {
        return [this](const float* mono, std::uint32_t frames, double rate, double hostTime) {
            std::lock_guard lock(mutex_);
            pieces_.push_back(
                Piece{std::vector<float>(mono, mono + frames), rate, hostTime, hostTimeSeconds()});
        };
    }
    PulseRecordStream::ProblemHandler problems() {
        return [this](PulseRecordStream::Problem problem) {
            std::lock_guard lock(mutex_);
            problems_.push_back(problem);
        };
    }
    std::vector<Piece> pieces() {
        std::lock_guard lock(mutex_);
        return pieces_;
    }
    std::vector<PulseRecordStream::Problem> reported() {
        std::lock_guard lock(mutex_);
        return problems_;
    }
    double seconds() {
        std::lock_guard lock(mutex_);
        double total = 0;
        for (const auto& piece : pieces_)
            total += piece.samples.size() / piece.sampleRate;
        return total;
    }
    bool waitForSeconds(double audio, double timeout = 30.0) {
        return waitFor([&] { return seconds() >= audio; }, timeout);
    }
    void clear() {
        std::lock_guard lock(mutex_);
        pieces_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<Piece> pieces_;
    std::vector<PulseRecordStream::Problem> problems_;
};

inline std::vector<float> joined(const std::vector<Piece>& pieces, std::size_t skipPieces = 0) {
    std::vector<float> all;
    for (std::size_t i = skipPieces; i < pieces.size(); ++i)
        all.insert(all.end(), pieces[i].samples.begin(), pieces[i].samples.end());
    return all;
}

inline double rms(const std::vector<float>& samples) {
    double sum = 0;
    for (float x : samples)
        sum += double(x) * x;
    return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

// The windows of `samples` (480 samples each: 10 ms at 48 kHz) that carry sound, joined. Silence
// that a server put in for a fresh stream it held back, or for a stream it stalled for a moment, is
// left out, so that what is measured is the sound alone.
inline std::vector<float> sounding(const std::vector<float>& samples) {
    constexpr std::size_t window = 480;
    std::vector<float> sound;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        const std::vector<float> part(samples.begin() + long(at), samples.begin() + long(at + window));
        if (rms(part) > 0.02)
            sound.insert(sound.end(), part.begin(), part.end());
    }
    return sound;
}

inline double peak(const std::vector<float>& samples) {
    double result = 0;
    for (float x : samples)
        result = std::max(result, std::fabs(double(x)));
    return result;
}

// Sign changes per second.
inline double zeroCrossingRate(const std::vector<float>& samples, double rate) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    return samples.size() < 2 ? 0 : crossings * rate / (samples.size() - 1);
}

// Amplitude of one frequency in the signal (Goertzel); a full sine of amplitude A gives ~A.
inline double toneAmplitude(const std::vector<float>& samples, double frequency, double rate) {
    double w = 2 * M_PI * frequency / rate;
    double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float x : samples) {
        double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return samples.empty() ? 0 : 2 * std::sqrt(std::max(power, 0.0)) / samples.size();
}

} // namespace nuvel::test
