#include "Nuvel/platform/QtTerminationSignals.hpp"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nuvel {

namespace {

int pipeEnds[2] = {-1, -1};
struct sigaction previousTerm {};
struct sigaction previousInt {};

extern "C" void noteSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request; dropping this one loses nothing.
    [[maybe_unused]] ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

QtTerminationSignals::QtTerminationSignals() {
    if (pipeEnds[0] >= 0)
        return; // one per process
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &action, &previousTerm) != 0 || sigaction(SIGINT, &action, &previousInt) != 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
    installed_ = true;
}

QtTerminationSignals::~QtTerminationSignals() {
    if (!installed_)
        return;
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    notifier_.reset();
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void QtTerminationSignals::drain() {
    unsigned char numbers[64];
    ssize_t count = 0;
    while ((count = read(pipeEnds[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (onSignal)
                onSignal(numbers[i]);
        }
    }
}

} // namespace nuvel
