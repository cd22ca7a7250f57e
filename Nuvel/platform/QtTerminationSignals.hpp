#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace nuvel {

// SIGTERM and SIGINT as requests to quit, delivered on the GUI thread: the signal handler
// only writes the signal's number into a self-pipe, which the event loop reads. One at a
// time per process; the previous handlers come back when it is destroyed.
class QtTerminationSignals {
public:
    QtTerminationSignals();
    ~QtTerminationSignals();
    QtTerminationSignals(const QtTerminationSignals&) = delete;
    QtTerminationSignals& operator=(const QtTerminationSignals&) = delete;

    std::function<void(int signal)> onSignal;

private:
    void drain();

    bool installed_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace nuvel
