// Typed outcomes and the model's tasks: values and errors of plain calls, tasks and executor
// work; branching on an error's type; the debug trace of a dropped error; the sleeps that end at
// a cancel; the scopes the model cancels; and the one table of status sentences.
#include "Nuvel/model/ModelTasks.hpp"
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/StatusText.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "tests/support/ManualMainQueue.hpp"

#include <gtest/gtest.h>
#include <set>

using namespace nuvel;

namespace {

Task<int> answer(bool fail) {
    if (fail)
        throw APIError(403, "forbidden");
    co_return 42;
}

// What the outcomes of an awaited task and of executor work look like, seen from inside a task.
struct Seen {
    bool taskOk = false, workOk = false, voidOk = false;
    int value = 0;
    int status = 0;
    std::string type;
    bool recordingError = false;
};

Task<Seen> look(Executor* executor, bool fail) {
    Seen seen;
    Task<int> task = answer(fail);
    Outcome<int> awaited = co_await attempt(task);
    seen.taskOk = awaited.ok();
    if (awaited.ok())
        seen.value = awaited.value();
    if (const APIError* refused = awaited.errorAs<APIError>())
        seen.status = refused->status();
    seen.type = awaited.errorType();
    seen.recordingError = awaited.errorAs<RecordingError>() != nullptr;

    auto work = [fail] {
        if (fail)
            throw RecordingError(RecordingError::Code::missingMedia);
        return std::string("done");
    };
    Outcome<std::string> worked = co_await attemptOn(*executor, work);
    seen.workOk = worked.ok() && worked.value() == "done";
    seen.recordingError = seen.recordingError || worked.errorAs<RecordingError>() != nullptr;

    auto nothing = [fail] {
        if (fail)
            throw 7; // not even an exception class
    };
    Outcome<void> none = co_await attemptOn(*executor, nothing);
    seen.voidOk = none.ok();
    if (!none.ok()) {
        EXPECT_EQ(none.errorType(), "int");
    }
    co_return seen;
}

} // namespace

TEST(Outcome, GivesTheValueOrTheErrorWithItsTypeForCallsTasksAndExecutorWork) {
    ManualMainQueue queue;
    InlineExecutor executor;
    Seen fine = runToCompletion(queue, look(&executor, false));
    EXPECT_TRUE(fine.taskOk && fine.workOk && fine.voidOk);
    EXPECT_EQ(fine.value, 42);
    EXPECT_EQ(fine.type, "");

    Seen failed = runToCompletion(queue, look(&executor, true));
    EXPECT_FALSE(failed.taskOk || failed.workOk || failed.voidOk);
    EXPECT_EQ(failed.status, 403) << "the caller branches on the error's type";
    EXPECT_EQ(failed.type, "nuvel::APIError");
    EXPECT_TRUE(failed.recordingError) << "the executor's error comes back as itself";

    Outcome<int> plain = attemptNow([] { return 5; });
    EXPECT_TRUE(plain.ok());
    EXPECT_EQ(plain.value(), 5);
    Outcome<int> thrown = attemptNow([]() -> int { throw std::out_of_range("past the end"); });
    EXPECT_FALSE(thrown.ok());
    EXPECT_EQ(thrown.errorType(), "std::out_of_range");
    EXPECT_NE(thrown.errorAs<std::logic_error>(), nullptr) << "a base class matches";
    EXPECT_EQ(thrown.errorAs<Cancelled>(), nullptr);
}

#ifndef NDEBUG
TEST(Outcome, ADroppedErrorLeavesOneDebugLineWithItsType) {
    Outcome<void> failed = attemptNow([] { throw RecordingError(RecordingError::Code::missingMedia); });
    Outcome<void> fine = attemptNow([] {});
    testing::internal::CaptureStderr();
    failed.drop("re-reading the manifest");
    fine.drop("nothing to drop");
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_EQ(trace.rfind("nuvel: dropped nuvel::RecordingError (re-reading the manifest): ", 0), 0u)
        << trace;
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 1) << trace;
}
#endif

TEST(ModelTasks, SleepsEndAtACancelAndOnlyTheCancelledScopeEnds) {
    ManualMainQueue queue;
    ModelTasks tasks(queue);
    std::vector<std::string> ended;
    auto sleeper = [](std::vector<std::string>* log, std::string name, double seconds,
                      ManualMainQueue* clock) -> Task<void> {
        bool due = co_await sleepUnlessCancelled(seconds, [clock] { return clock->now(); });
        log->push_back(name + (due ? " woke" : " cancelled"));
    };
    tasks.start(sleeper(&ended, "save", 5, &queue), ModelTasks::Scope::model);
    tasks.start(sleeper(&ended, "wake-up", 5, &queue), ModelTasks::Scope::account);
    tasks.start(sleeper(&ended, "debounce", 3, &queue), ModelTasks::Scope::account);
    queue.drain();
    EXPECT_EQ(tasks.running(), 3u);

    tasks.cancel(ModelTasks::Scope::account);
    queue.drain();
    EXPECT_EQ(ended, (std::vector<std::string>{"wake-up cancelled", "debounce cancelled"}));
    EXPECT_EQ(tasks.running(), 1u);
    queue.advance(5);
    EXPECT_EQ(ended.back(), "save woke");
    EXPECT_EQ(tasks.running(), 0u);

    // Without a sleep, a cancel asked for before still counts; cancelling everything reaches all.
    TaskHandle immediate = tasks.start(sleeper(&ended, "no sleep", 0, &queue));
    immediate.cancel();
    tasks.start(sleeper(&ended, "last", 9, &queue));
    queue.drain();
    tasks.cancelAll();
    queue.drain();
    EXPECT_EQ(std::vector<std::string>(ended.end() - 2, ended.end()),
              (std::vector<std::string>{"no sleep cancelled", "last cancelled"}));
}

TEST(StatusText, EverySentenceIsWrittenOnceAndSpelledAsTheModelShowsIt) {
    std::set<std::string_view> seen;
    for (std::string_view sentence : allStatusSentences()) {
        EXPECT_FALSE(sentence.empty());
        EXPECT_TRUE(seen.insert(sentence).second) << "written twice: " << sentence;
    }
    EXPECT_EQ(sentence(StatusText::saved), "Saved on this Mac. Send to Nuvel when you are ready.");
    EXPECT_EQ(sentence(StatusText::uploadsNotAllowed),
              "This workspace does not currently allow uploads. Your recording remains saved on this Mac.");
}
