#include "Nuvel/platform/QtMainQueue.hpp"

#include "NuvelKit/support/Time.hpp"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace nuvel {

QtMainQueue::QtMainQueue() {
    if (QCoreApplication::instance() != nullptr)
        context_.moveToThread(QCoreApplication::instance()->thread());
}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

MainQueue::TimerId QtMainQueue::start(double seconds, bool repeating, std::function<void()> fire) {
    requireCurrent("QtMainQueue::startTimer");
    double ms = std::isfinite(seconds) && seconds > 0 ? seconds * 1000.0 : 0.0;
    if (ms > 2e9)
        ms = 2e9; // QTimer takes an int of milliseconds
    TimerId id = nextId_++;
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(!repeating);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(int(std::llround(ms)));
    QObject::connect(timer.get(), &QTimer::timeout, &context_, [this, id, repeating, fire = std::move(fire)] {
        if (!repeating) {
            // Keep the callback alive while it runs, then drop the timer.
            auto keep = fire;
            auto it = timers_.find(id);
            if (it != timers_.end()) {
                it->second.release()->deleteLater();
                timers_.erase(it);
            }
            keep();
        } else {
            auto keep = fire;
            keep();
        }
    });
    timer->start();
    timers_.emplace(id, std::move(timer));
    return id;
}

MainQueue::TimerId QtMainQueue::startTimer(double delaySeconds, std::function<void()> fire) {
    return start(delaySeconds, false, std::move(fire));
}

MainQueue::TimerId QtMainQueue::startRepeatingTimer(double intervalSeconds, std::function<void()> fire) {
    return start(intervalSeconds, true, std::move(fire));
}

void QtMainQueue::cancelTimer(TimerId id) {
    requireCurrent("QtMainQueue::cancelTimer");
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    it->second->stop();
    it->second.release()->deleteLater(); // it may be the timer whose signal is running now
    timers_.erase(it);
}

bool QtMainQueue::isCurrent() const {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

double QtMainQueue::now() const {
    return hostTimeSeconds();
}

} // namespace nuvel
