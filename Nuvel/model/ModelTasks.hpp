#pragma once

#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace nuvel {

// Every task the application model starts, held until it ends: nothing the model starts is
// left running on its own. The work of the open account (the notepad waits and syncs, the
// upload-queue wake-up) is cancelled when the account signs out or another workspace opens;
// everything is cancelled when the model goes. Main queue only.
class ModelTasks {
public:
    enum class Scope {
        model,   // ends by itself: saves, removals, the steps of a capture, playback, import, export
        account, // belongs to the open account and workspace
    };

    explicit ModelTasks(MainQueue& queue) : queue_(&queue) {}
    ModelTasks(const ModelTasks&) = delete;
    ModelTasks& operator=(const ModelTasks&) = delete;

    // Starts `task` on the main queue and keeps its handle until it has ended.
    TaskHandle start(Task<void> task, Scope scope = Scope::model) {
        prune();
        TaskHandle handle = spawn(*queue_, std::move(task));
        held_.emplace_back(scope, handle);
        return handle;
    }

    // Requests the stop of the running tasks of `scope`: their sleeps end at once.
    void cancel(Scope scope) {
        for (auto& [held, handle] : held_)
            if (held == scope)
                handle.cancel();
    }
    void cancelAll() {
        for (auto& entry : held_)
            entry.second.cancel();
    }

    // Tasks started and not yet ended.
    std::size_t running() const {
        std::size_t count = 0;
        for (const auto& entry : held_)
            count += entry.second.isFinished() ? 0 : 1;
        return count;
    }

private:
    void prune() {
        std::erase_if(held_, [](const auto& entry) { return entry.second.isFinished(); });
    }

    MainQueue* queue_;
    std::vector<std::pair<Scope, TaskHandle>> held_;
};

// Sleeps `seconds` on `continuousNow`, a clock that keeps counting while the computer is
// suspended (not at all when it is 0 or less). False when the running task was cancelled before
// or during the sleep; the sleeper then ends its work. A sleep that fails in any other way counts
// as finished.
Task<bool> sleepUnlessCancelled(double seconds, std::function<double()> continuousNow);

} // namespace nuvel
