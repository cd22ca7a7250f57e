#pragma once

#include "NuvelKit/support/Executor.hpp"

#include <cstddef>
#include <deque>
#include <functional>
#include <utility>

namespace nuvel::test {

// Runs work inline, or, while holding, keeps it until the test runs it, in the order the test
// chooses: so a test decides which of two overlapping jobs ends first.
class HoldingExecutor final : public Executor {
public:
    void execute(std::function<void()> work) override {
        if (holding)
            held.push_back(std::move(work));
        else
            work();
    }
    void run(std::size_t index) {
        auto work = std::move(held.at(index));
        held.erase(held.begin() + std::ptrdiff_t(index));
        work();
    }
    // Runs the newest held job (so a test sees whether older work was waiting at all).
    void runNewest() { run(held.size() - 1); }
    // Runs held work oldest first, and what that work queues, until none is left.
    void runAll() {
        while (!held.empty())
            run(0);
    }
    // Stops holding and runs what was held.
    void release() {
        holding = false;
        runAll();
    }

    bool holding = false;
    std::deque<std::function<void()>> held;
};

} // namespace nuvel::test
