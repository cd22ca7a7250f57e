// An application that plays through two output streams, as browsers and meeting programs do:
//   two-stream-player SINK FIRST_HZ SECOND_HZ AMPLITUDE
// plays a sine of FIRST_HZ through one stream and of SECOND_HZ through another, both to SINK,
// until SIGTERM. SIGUSR1 closes the second stream; SIGUSR2 opens it again (a new stream).
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulsePlaybackStream.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <signal.h>
#include <string>

namespace {

std::unique_ptr<nuvel::PulsePlaybackStream> play(const std::shared_ptr<nuvel::PulseConnection>& connection,
                                                 const std::string& sink, double frequency, double amplitude,
                                                 const char* name) {
    nuvel::PulsePlaybackStream::Options options;
    options.channels = 1;
    options.sink = sink;
    options.streamName = name;
    auto phase = std::make_shared<double>(0.0);
    const double step = 2 * M_PI * frequency / options.sampleRate;
    return std::make_unique<nuvel::PulsePlaybackStream>(
        connection, options, [phase, step, amplitude](float* samples, std::uint32_t frames) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                samples[i] = float(amplitude * std::sin(*phase));
                *phase = std::fmod(*phase + step, 2 * M_PI);
            }
        });
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SINK FIRST_HZ SECOND_HZ AMPLITUDE\n", argv[0]);
        return 2;
    }
    // Blocked before the sound library starts its thread, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const std::string sink = argv[1];
    const double first = std::atof(argv[2]);
    const double second = std::atof(argv[3]);
    const double amplitude = std::atof(argv[4]);
    try {
        nuvel::PulseConnection::Options options;
        options.applicationName = "Two-stream player";
        auto connection = nuvel::PulseConnection::connect(options);
        auto one = play(connection, sink, first, amplitude, "first");
        auto two = play(connection, sink, second, amplitude, "second");
        for (;;) {
            int received = 0;
            sigwait(&signals, &received);
            if (received == SIGUSR1 && two) {
                two->close();
                two.reset();
            } else if (received == SIGUSR2 && !two) {
                two = play(connection, sink, second, amplitude, "second");
            } else if (received == SIGTERM || received == SIGINT) {
                break;
            }
        }
        if (two)
            two->close();
        one->close();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "two-stream-player: %s\n", error.what());
        return 1;
    }
    return 0;
}
