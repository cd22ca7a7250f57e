// nuvel-standin: the local stand-in for the Nuvel cloud service.
//
// Prints "listening on http://127.0.0.1:<port>" as its first line and serves until its standard
// input reaches end of file (so it ends with the process that started it) or until SIGTERM/SIGINT.
#include "tools/standin-service/StandinService.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void usage(std::FILE* to) {
    std::fputs("usage: nuvel-standin [--port N] [--state DIR] [--seed] [--manual-processing]\n"
               "  --port N              listen on 127.0.0.1:N (default: a free port)\n"
               "  --state DIR           keep the service's world in DIR between runs (loaded at start\n"
               "                        instead of seeding when DIR holds one)\n"
               "  --seed                start with three processed sample meetings\n"
               "  --manual-processing   meetings stay \"queued\" after commit instead of moving on\n"
               "The service stops when its standard input is closed, or on SIGTERM or SIGINT.\n",
               to);
}

// Waits for end of input on stdin or one of the blocked signals.
void waitForEnd(int signals) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    char buffer[4096];
    while (true) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents != 0) {
            const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    nuvel::StandinOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 1 || port > 65535) {
                std::fprintf(stderr, "nuvel-standin: bad port %s\n", argv[i]);
                return 2;
            }
            options.port = static_cast<int>(port);
        } else if (arg == "--state" && i + 1 < argc) {
            options.stateFolder = argv[++i];
        } else if (arg == "--seed") {
            options.seed = true;
        } else if (arg == "--manual-processing") {
            options.advanceOnRead = false;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }

    // Blocked before the server starts its threads, so they all inherit the mask and the signals
    // arrive only through the signal descriptor.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0)
        return 1;
    const int signals = signalfd(-1, &mask, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "nuvel-standin: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    try {
        nuvel::StandinService service(options);
        service.start();
        std::printf("listening on %s\n", service.origin().c_str());
        std::fflush(stdout);
        waitForEnd(signals);
        service.stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "nuvel-standin: %s\n", error.what());
        return 1;
    }
    close(signals);
    return 0;
}
