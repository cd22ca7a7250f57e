#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace nuvel {

// Where actor operations run: off the main thread in the app, inline in unit tests.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void execute(std::function<void()> work) = 0;
};

// Runs work at once on the calling thread: keeps unit tests single-threaded and reproducible.
class InlineExecutor final : public Executor {
public:
    void execute(std::function<void()> work) override { work(); }
};

// A fixed pool of worker threads. The destructor finishes queued work, then joins.
class ThreadPoolExecutor final : public Executor {
public:
    explicit ThreadPoolExecutor(unsigned threads = 4);
    ~ThreadPoolExecutor() override;
    ThreadPoolExecutor(const ThreadPoolExecutor&) = delete;
    ThreadPoolExecutor& operator=(const ThreadPoolExecutor&) = delete;

    void execute(std::function<void()> work) override;

private:
    void run(std::stop_token stop);

    std::mutex lock_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::jthread> workers_;
};

} // namespace nuvel
