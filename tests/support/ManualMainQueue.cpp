#include "tests/support/ManualMainQueue.hpp"

#include <chrono>
#include <cmath>

namespace nuvel {
namespace {
double sanitizeDelay(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}
} // namespace

ManualMainQueue::ManualMainQueue(double startTime) : owner_(std::this_thread::get_id()), now_(startTime) {}

ManualMainQueue::~ManualMainQueue() {
    // Dropping unrun work abandons the tasks it would have resumed, which may post or cancel
    // more: keep clearing until nothing is left.
    for (;;) {
        std::deque<std::function<void()>> work;
        std::map<Key, Timer> timers;
        {
            std::lock_guard guard(lock_);
            work.swap(work_);
        }
        timers.swap(timers_);
        timerKeys_.clear();
        if (work.empty() && timers.empty())
            break;
        work.clear();
        timers.clear();
    }
}

void ManualMainQueue::post(std::function<void()> work) {
    {
        std::lock_guard guard(lock_);
        work_.push_back(std::move(work));
    }
    posted_.notify_all();
}

std::size_t ManualMainQueue::pendingWork() {
    std::lock_guard guard(lock_);
    return work_.size();
}

MainQueue::TimerId ManualMainQueue::startTimer(double delaySeconds, std::function<void()> fire) {
    requireCurrent("ManualMainQueue::startTimer");
    TimerId id = nextTimer_++;
    Key key{now_ + sanitizeDelay(delaySeconds), nextSequence_++};
    timers_.emplace(key, Timer{id, 0, std::move(fire)});
    timerKeys_.emplace(id, key);
    return id;
}

MainQueue::TimerId ManualMainQueue::startRepeatingTimer(double intervalSeconds, std::function<void()> fire) {
    requireCurrent("ManualMainQueue::startRepeatingTimer");
    TimerId id = nextTimer_++;
    double interval = sanitizeDelay(intervalSeconds);
    if (interval == 0)
        interval = 1e-3; // a zero interval would never let time move on
    Key key{now_ + interval, nextSequence_++};
    timers_.emplace(key, Timer{id, interval, std::move(fire)});
    timerKeys_.emplace(id, key);
    return id;
}

void ManualMainQueue::cancelTimer(TimerId id) {
    requireCurrent("ManualMainQueue::cancelTimer");
    auto it = timerKeys_.find(id);
    if (it == timerKeys_.end())
        return;
    auto node = timers_.extract(it->second);
    timerKeys_.erase(it);
    // `node` (and the timer's callback) is destroyed here, outside the maps.
}

bool ManualMainQueue::runOnePosted() {
    std::function<void()> work;
    {
        std::lock_guard guard(lock_);
        if (work_.empty())
            return false;
        work = std::move(work_.front());
        work_.pop_front();
    }
    work();
    return true;
}

bool ManualMainQueue::fireDue() {
    if (timers_.empty() || timers_.begin()->first.first > now_)
        return false;
    auto node = timers_.extract(timers_.begin());
    Timer& timer = node.mapped();
    timerKeys_.erase(timer.id);
    if (timer.interval > 0) {
        // Re-arm first, so the callback may cancel its own timer.
        Key key{node.key().first + timer.interval, nextSequence_++};
        auto copy = timer.fire;
        timers_.emplace(key, Timer{timer.id, timer.interval, std::move(timer.fire)});
        timerKeys_.emplace(timer.id, key);
        copy();
    } else {
        timer.fire();
    }
    return true;
}

std::size_t ManualMainQueue::drain() {
    requireCurrent("ManualMainQueue::drain");
    std::size_t ran = 0;
    for (;;) {
        if (runOnePosted()) {
            ++ran;
            continue;
        }
        if (fireDue()) {
            ++ran;
            continue;
        }
        return ran;
    }
}

void ManualMainQueue::advance(double seconds) {
    requireCurrent("ManualMainQueue::advance");
    double target = now_ + sanitizeDelay(seconds);
    drain();
    while (!timers_.empty() && timers_.begin()->first.first <= target) {
        now_ = std::max(now_, timers_.begin()->first.first);
        drain();
    }
    now_ = target;
    drain();
}

bool ManualMainQueue::fireNextTimer() {
    requireCurrent("ManualMainQueue::fireNextTimer");
    if (timers_.empty())
        return false;
    now_ = std::max(now_, timers_.begin()->first.first);
    drain();
    return true;
}

std::optional<double> ManualMainQueue::nextDeadline() const {
    if (timers_.empty())
        return std::nullopt;
    return timers_.begin()->first.first;
}

bool ManualMainQueue::waitAndDrain(double timeoutSeconds) {
    {
        std::unique_lock guard(lock_);
        posted_.wait_for(guard, std::chrono::duration<double>(sanitizeDelay(timeoutSeconds)),
                         [&] { return !work_.empty(); });
    }
    return drain() > 0;
}

} // namespace nuvel
