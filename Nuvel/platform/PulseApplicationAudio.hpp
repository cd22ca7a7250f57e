#pragma once

#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/SystemAudioService.hpp"
#include "NuvelKit/capture/ApplicationStreamMix.hpp"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

namespace nuvel {

class PulseRecordStream;
struct PulseSinkInputInfo;

// One application's audio: every playback stream (sink-input) of its process, each recorded
// through its own monitor stream and summed onto one timeline (ApplicationStreamMix) that goes
// to the output as mono float at 48000 Hz. Applications play through several streams and open
// new ones while they run (a second tab, another output device); those are recorded from the
// moment the server announces them. A stream that ends, or moves to another output, is not lost
// audio: it stops contributing, and a moved one is recorded again on its new output. While the
// process has no stream the output receives silence.
//
// Reported to the output as lost audio: the server going away, a hole in a stream's data, a
// suspended output, a stream that cannot be recorded (or fails again and again), and the
// process ending.
//
// Threads: the audio, the mix and the hand-out timer run on the connection's mainloop thread; a
// worker of this object follows the server's sink-input events and opens and closes the
// recording streams. `startCapture` and `stopCapture` block (call them off the main actor).
class PulseApplicationAudio final : public SystemAudioStream {
public:
    static constexpr double handOutInterval = 0.02; // the mix hands out silence this often
    static constexpr double watchInterval = 0.25;   // how often a process without stream is looked at
    static constexpr int opensPerStream = 5;        // recording one sink-input fails no more often
    static constexpr double primeSeconds = 2.5;     // a starting stream's wait for its first audio

    PulseApplicationAudio(std::shared_ptr<PulseConnection> connection, std::int32_t processID,
                          std::shared_ptr<SystemAudioOutput> output);
    ~PulseApplicationAudio() override;
    PulseApplicationAudio(const PulseApplicationAudio&) = delete;
    PulseApplicationAudio& operator=(const PulseApplicationAudio&) = delete;

    // Records the process's current streams and starts following it. Throws `PulseError` when
    // the server cannot be asked or a stream that exists cannot be recorded.
    void startCapture() override;
    void stopCapture() override;

private:
    struct Recorded {
        ApplicationStreamMix::StreamID id = 0;
        std::unique_ptr<PulseRecordStream> stream;
    };

    void run(std::stop_token stop);
    // Brings the recorded streams in line with the process's sink-inputs; `starting` rethrows.
    void reconcile(bool starting);
    void open(const PulseSinkInputInfo& input, bool starting);
    void close(Recorded& recorded);
    void watchProcess();
    void lose();
    void wake();
    void stopAll();

    static void onTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);

    std::shared_ptr<PulseConnection> connection_;
    std::int32_t processID_;
    std::optional<std::uint64_t> processStart_;
    std::shared_ptr<SystemAudioOutput> output_;
    bool started_ = false;

    // Under the mainloop lock.
    std::unique_ptr<ApplicationStreamMix> mix_;
    pa_time_event* timer_ = nullptr;

    // The worker's (and start's and stop's, while no worker runs).
    std::map<std::uint32_t, Recorded> recorded_; // by sink-input
    std::map<std::uint32_t, int> opens_;         // by sink-input
    bool lost_ = false;

    std::optional<PulseConnection::HandlerID> watch_;
    std::mutex mutex_;
    std::condition_variable_any wakeUp_;
    std::uint64_t requests_ = 0; // under mutex_
    std::jthread worker_;
};

} // namespace nuvel
