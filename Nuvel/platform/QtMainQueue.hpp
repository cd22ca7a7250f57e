#pragma once

#include "NuvelKit/support/MainQueue.hpp"

#include <QObject>
#include <map>
#include <memory>

class QTimer;

namespace nuvel {

// The main queue of the application: the Qt GUI thread's event loop. Posted work runs as
// queued calls on the application object; timers are QTimers living on the GUI thread.
class QtMainQueue final : public MainQueue {
public:
    // Needs a QCoreApplication (or QApplication) that outlives the queue.
    QtMainQueue();
    ~QtMainQueue() override;

    void post(std::function<void()> work) override;
    TimerId startTimer(double delaySeconds, std::function<void()> fire) override;
    TimerId startRepeatingTimer(double intervalSeconds, std::function<void()> fire) override;
    void cancelTimer(TimerId id) override;
    bool isCurrent() const override;
    double now() const override;

private:
    TimerId start(double seconds, bool repeating, std::function<void()> fire);

    QObject context_; // receives posted work; dies with the queue so late posts are dropped
    TimerId nextId_ = 1;
    std::map<TimerId, std::unique_ptr<QTimer>> timers_;
};

} // namespace nuvel
