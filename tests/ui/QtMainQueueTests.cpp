#include "Nuvel/platform/QtMainQueue.hpp"
#include "NuvelKit/support/Task.hpp"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

using namespace nuvel;

namespace {

Task<void> sleepThenHop(Executor* pool, MainQueue* q, std::vector<std::string>* log) {
    co_await sleepFor(0.001);
    log->push_back(q->isCurrent() ? "slept on main" : "slept elsewhere");
    bool offMain = co_await runOn(*pool, [q] { return !q->isCurrent(); });
    log->push_back(offMain ? "worked off main" : "worked on main");
    log->push_back(q->isCurrent() ? "back on main" : "not back");
    QCoreApplication::quit();
}

Task<void> sleepLong(std::vector<std::string>* log) {
    try {
        co_await sleepFor(3600);
    } catch (const Cancelled&) {
        log->push_back("cancelled");
    }
    QCoreApplication::quit();
}

int argc = 1;
char name[] = "tests";
char* argv[] = {name, nullptr};

} // namespace

TEST(QtMainQueue, RunsTasksOnTheGuiThread) {
    QCoreApplication app(argc, argv);
    QtMainQueue queue;
    ThreadPoolExecutor pool(1);
    std::vector<std::string> log;
    spawn(queue, sleepThenHop(&pool, &queue, &log));
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(1); }); // guard against a hang
    ASSERT_EQ(app.exec(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"slept on main", "worked off main", "back on main"}));
}

TEST(QtMainQueue, CancelReachesASleepAndTimersCanBeCancelled) {
    QCoreApplication app(argc, argv);
    QtMainQueue queue;
    std::vector<std::string> log;
    bool fired = false;
    auto id = queue.startTimer(0, [&] { fired = true; });
    queue.cancelTimer(id);
    TaskHandle h = spawn(queue, sleepLong(&log));
    queue.post([h] { h.cancel(); });
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(1); });
    ASSERT_EQ(app.exec(), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"cancelled"}));
    EXPECT_FALSE(fired);
}
