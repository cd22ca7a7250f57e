#include "NuvelKit/support/Executor.hpp"

namespace nuvel {

ThreadPoolExecutor::ThreadPoolExecutor(unsigned threads) {
    if (threads == 0)
        threads = 1;
    for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this](std::stop_token stop) { run(stop); });
}

ThreadPoolExecutor::~ThreadPoolExecutor() {
    workers_.clear(); // joins
}

void ThreadPoolExecutor::execute(std::function<void()> work) {
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void ThreadPoolExecutor::run(std::stop_token stop) {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, stop, [&] { return !queue_.empty(); });
            if (queue_.empty())
                return; // stopping, nothing left
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
    }
}

} // namespace nuvel
