#include "NuvelKit/support/Task.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>
#include <thread>

using namespace nuvel;

namespace {

Task<int> answerAfter(double seconds, int value) {
    co_await sleepFor(seconds);
    co_return value;
}

Task<void> record(std::vector<std::string>* log, std::string name, double seconds) {
    try {
        co_await sleepFor(seconds);
        log->push_back(name);
    } catch (const Cancelled&) {
        log->push_back(name + " cancelled");
    }
}

Task<void> addAnswers(int* out) {
    int a = co_await answerAfter(1, 20);
    int b = co_await answerAfter(2, 22);
    *out = a + b;
}

struct Canary {
    int* alive;
    explicit Canary(int* a) : alive(a) { ++*alive; }
    ~Canary() { --*alive; }
};

Task<void> sleepForever(int* alive) {
    Canary c(alive);
    co_await answerAfter(1e9, 0);
}

Task<void> failOff(Executor* ex, std::string* caught) {
    try {
        co_await runOn(*ex, [] { throw std::runtime_error("disk full"); });
    } catch (const std::runtime_error& e) {
        *caught = e.what();
    }
}

Task<void> hop(Executor* ex, MainQueue* q, bool* workOffMain, bool* backOnMain, int* result) {
    *result = co_await runOn(*ex, [q, workOffMain] {
        *workOffMain = !q->isCurrent();
        return 41;
    });
    *backOnMain = q->isCurrent();
    *result += 1;
}

Task<void> seeToken(Executor* ex, bool* sawStop) {
    *sawStop = co_await runOn(*ex, [](std::stop_token stop) { return stop.stop_requested(); });
}

Task<void> waitFor(TaskHandle other, std::vector<std::string>* log) {
    co_await other.join();
    log->push_back("joined");
}

Task<void> checkThenSleep(bool* reached) {
    co_await checkCancellation();
    *reached = true;
    co_await sleepFor(1);
}

} // namespace

TEST(ManualMainQueue, TimersFireInDeadlineOrderThenStartOrder) {
    ManualMainQueue q;
    std::vector<int> fired;
    q.startTimer(3, [&] { fired.push_back(3); });
    q.startTimer(1, [&] { fired.push_back(1); });
    q.startTimer(1, [&] { fired.push_back(11); });
    auto cancelled = q.startTimer(2, [&] { fired.push_back(2); });
    q.cancelTimer(cancelled);
    q.advance(0.999);
    EXPECT_TRUE(fired.empty());
    q.advance(5);
    EXPECT_EQ(fired, (std::vector<int>{1, 11, 3}));
    EXPECT_EQ(q.pendingTimers(), 0u);
}

TEST(ManualMainQueue, RepeatingTimerAndTimeSeenInsideCallbacks) {
    ManualMainQueue q(0);
    std::vector<double> at;
    MainQueue::TimerId id = 0;
    id = q.startRepeatingTimer(0.1, [&] {
        at.push_back(q.now());
        if (at.size() == 3)
            q.cancelTimer(id);
    });
    q.advance(1);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_NEAR(at[0], 0.1, 1e-9);
    EXPECT_NEAR(at[2], 0.3, 1e-9);
    EXPECT_DOUBLE_EQ(q.now(), 1);
}

TEST(Tasks, StartOnlyFromTheQueueAndSleepOnVirtualTime) {
    ManualMainQueue q;
    int sum = 0;
    TaskHandle h = spawn(q, addAnswers(&sum));
    EXPECT_EQ(sum, 0);
    q.drain();
    EXPECT_FALSE(h.isFinished());
    q.advance(1);
    EXPECT_EQ(sum, 0);
    q.advance(2);
    EXPECT_EQ(sum, 42);
    EXPECT_TRUE(h.isFinished());
    EXPECT_FALSE(h.error());
}

TEST(Tasks, SleepsEndInDeadlineOrder) {
    ManualMainQueue q;
    std::vector<std::string> log;
    spawn(q, record(&log, "late", 5));
    spawn(q, record(&log, "early", 1));
    q.advance(10);
    EXPECT_EQ(log, (std::vector<std::string>{"early", "late"}));
}

TEST(Tasks, CancellationReachesASleepingTask) {
    ManualMainQueue q;
    std::vector<std::string> log;
    TaskHandle h = spawn(q, record(&log, "sleeper", 60));
    q.advance(1);
    h.cancel();
    q.drain();
    EXPECT_EQ(log, (std::vector<std::string>{"sleeper cancelled"}));
    EXPECT_TRUE(h.isFinished());
    EXPECT_EQ(q.pendingTimers(), 0u);

    // Cancelled before it ever ran: the first sleep throws at once.
    TaskHandle early = spawn(q, record(&log, "early", 1));
    early.cancel();
    q.drain();
    EXPECT_EQ(log.back(), "early cancelled");
}

TEST(Tasks, CheckCancellationThrowsOnlyOnceStopped) {
    ManualMainQueue q;
    bool reached = false;
    TaskHandle h = spawn(q, checkThenSleep(&reached));
    h.cancel();
    q.drain();
    EXPECT_FALSE(reached);
    ASSERT_TRUE(h.error());
    EXPECT_THROW(std::rethrow_exception(h.error()), Cancelled);
}

TEST(Tasks, ExceptionOfAnAwaitedOperationSurfacesAtTheAwait) {
    ManualMainQueue q;
    InlineExecutor ex;
    std::string caught;
    spawn(q, failOff(&ex, &caught));
    q.drain();
    EXPECT_EQ(caught, "disk full");
}

TEST(Tasks, WorkRunsOffTheMainThreadAndResumesOnIt) {
    ManualMainQueue q;
    ThreadPoolExecutor pool(2);
    bool off = false, back = false;
    int result = 0;
    TaskHandle h = spawn(q, hop(&pool, &q, &off, &back, &result));
    for (int i = 0; i < 100 && !h.isFinished(); ++i)
        q.waitAndDrain(1.0);
    ASSERT_TRUE(h.isFinished());
    EXPECT_TRUE(off);
    EXPECT_TRUE(back);
    EXPECT_EQ(result, 42);
}

TEST(Tasks, WorkSeesTheTaskStopToken) {
    ManualMainQueue q;
    InlineExecutor ex;
    bool sawStop = false;
    TaskHandle h = spawn(q, seeToken(&ex, &sawStop));
    h.cancel();
    q.drain();
    EXPECT_TRUE(sawStop);
}

TEST(Tasks, JoinWaitsForAnotherTask) {
    ManualMainQueue q;
    std::vector<std::string> log;
    TaskHandle first = spawn(q, record(&log, "first", 2));
    spawn(q, waitFor(first, &log));
    q.advance(1);
    EXPECT_TRUE(log.empty());
    q.advance(1);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "joined"}));
    // Joining a finished task goes straight on.
    spawn(q, waitFor(first, &log));
    q.drain();
    EXPECT_EQ(log.back(), "joined");
}

TEST(Tasks, RunToCompletionDrivesVirtualTime) {
    ManualMainQueue q;
    EXPECT_EQ(runToCompletion(q, answerAfter(30, 7)), 7);
    EXPECT_GE(q.now(), 1030.0);
}

TEST(Tasks, AQueueThatGoesAwayFreesItsSuspendedTasks) {
    int alive = 0;
    {
        ManualMainQueue q;
        spawn(q, sleepForever(&alive));
        q.drain();
        EXPECT_EQ(alive, 1);
        // A task that never started is freed too.
        spawn(q, sleepForever(&alive));
    }
    EXPECT_EQ(alive, 0);
}
