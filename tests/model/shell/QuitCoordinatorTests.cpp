// Every way to quit, decided over the real model: refused, asked, or ended once the recording
// is saved and the notes save in flight has finished.
#include "Nuvel/model/shell/QuitCoordinator.hpp"
#include "tests/model/shell/ShellModelWorld.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;
using Origin = QuitCoordinator::Origin;
using Question = QuitCoordinator::Question;
using Reply = QuitCoordinator::Reply;

namespace {

// The coordinator over the shell's model, its hooks played by the test.
struct QuitFixture {
    explicit QuitFixture(const std::vector<LocalRecording>& seeded = {}) {
        if (!seeded.empty())
            world.seed(seeded);
        QuitCoordinator::Hooks hooks;
        hooks.relaunchWaiting = [this] { return relaunchWaiting; };
        hooks.commitScratchpad = [this] { ++commits; };
        hooks.terminate = [this] { ++terminations; };
        hooks.ask = [this](Question question) {
            asked.push_back(question);
            if (answers.empty())
                return true;
            const bool answer = answers.front();
            answers.pop_front();
            return answer;
        };
        quit = std::make_unique<QuitCoordinator>(*world.model, world.queue, std::move(hooks));
    }
    ~QuitFixture() { world.model->onChange = nullptr; }
    QuitFixture(const QuitFixture&) = delete;
    QuitFixture& operator=(const QuitFixture&) = delete;

    // Starts the model with the coordinator told of every change, as the application's launch does.
    void start() {
        world.model->onChange = [this] { quit->modelChanged(); };
        world.model->start();
    }

    ShellModelWorld world;
    bool relaunchWaiting = false;
    std::deque<bool> answers; // the user's answers in turn; none left: the first button
    std::vector<Question> asked;
    int commits = 0;
    int terminations = 0;
    std::unique_ptr<QuitCoordinator> quit;
};

enum class State { idle, recording, busy, uploading, recordingWithRelaunchWaiting, recordingThatCannotSave };

struct Case {
    const char* name;
    State state;
    Origin origin;
    std::optional<bool> answer; // whether the user goes on, when asked
    std::optional<Question> asked;
    Reply reply;
    bool ends;                // the application ends, after the model's work settled
    std::string messageAfter; // the status line then ("" = not checked)
};

void enter(QuitFixture& f, State state) {
    switch (state) {
    case State::idle:
        break;
    case State::recording:
        f.world.record(4);
        break;
    case State::recordingThatCannotSave:
        f.world.record(4);
        f.world.capture->control->failStop = true;
        break;
    case State::recordingWithRelaunchWaiting:
        f.world.record(4);
        f.relaunchWaiting = true;
        break;
    case State::busy:
        // A recording starting: busy, nothing recorded yet.
        f.world.model->startNewRecording(AppModel::NewRecording{});
        break;
    case State::uploading:
        f.world.model->startUploadIfAllowed(f.world.model->recordings().front().id, false);
        break;
    }
}

TEST(QuitCoordinator, EachStateIsRefusedAskedOrEndedInOrder) {
    const Case cases[] = {
        {"nothing running", State::idle, Origin::interactive, {}, {}, Reply::later, true, ""},
        {"recording, cancelled", State::recording, Origin::interactive, false, Question::stopAndSave,
         Reply::cancel, false, ""},
        {"recording, stopped and saved", State::recording, Origin::interactive, true, Question::stopAndSave,
         Reply::later, true, "Saved on this Mac. Send to Nuvel when you are ready."},
        {"recording whose stop cannot save", State::recordingThatCannotSave, Origin::interactive, true,
         Question::stopAndSave, Reply::later, true,
         "Some audio needs recovery. Saved segments have been preserved."},
        {"busy", State::busy, Origin::interactive, {}, {}, Reply::cancel, false, ""},
        {"uploading, cancelled", State::uploading, Origin::interactive, false, Question::pauseUpload,
         Reply::cancel, false, ""},
        {"uploading, quit", State::uploading, Origin::interactive, true, Question::pauseUpload, Reply::later,
         true, ""},
        {"a relaunch waits while recording",
         State::recordingWithRelaunchWaiting,
         Origin::interactive,
         {},
         {},
         Reply::cancel,
         false,
         ""},
        {"a signal while recording",
         State::recording,
         Origin::unattended,
         {},
         {},
         Reply::later,
         true,
         "Saved on this Mac. Send to Nuvel when you are ready."},
        {"a signal while uploading", State::uploading, Origin::unattended, {}, {}, Reply::later, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QuitFixture f({ShellModelWorld::recording("Earlier")});
        f.start();
        f.world.queue.drain();
        enter(f, c.state);
        const std::optional<Uuid> recordingID = f.world.model->activeID();
        if (c.answer)
            f.answers.push_back(*c.answer);

        EXPECT_EQ(f.quit->confirmTermination(c.origin), c.reply);
        ASSERT_EQ(f.asked.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(f.asked[0], *c.asked);
        }
        EXPECT_EQ(f.commits > 0, c.reply == Reply::later) << "the editor's text is written before quitting";
        EXPECT_EQ(f.terminations, 0) << "never at once: after the model's work";

        f.world.queue.drain();
        EXPECT_EQ(f.terminations, c.ends ? 1 : 0);
        EXPECT_EQ(f.quit->isTerminating(), c.reply == Reply::later);
        if (!c.messageAfter.empty()) {
            EXPECT_EQ(f.world.model->message(), c.messageAfter);
        }
        if (recordingID && c.ends) {
            EXPECT_FALSE(f.world.model->isRecording());
            const LocalRecording stored = f.world.store().loadRecording(*recordingID);
            EXPECT_EQ(stored.capture, c.state == State::recordingThatCannotSave ? CaptureState::interrupted
                                                                                : CaptureState::saved);
        }
        if (recordingID && !c.ends) {
            EXPECT_TRUE(f.world.model->isCapturing()) << "a refused quit leaves the recording running";
        }

        // Asking again while on the way out changes nothing.
        const std::size_t asked = f.asked.size();
        if (c.reply == Reply::later) {
            EXPECT_EQ(f.quit->confirmTermination(Origin::interactive), Reply::later);
            f.world.queue.drain();
            EXPECT_EQ(f.asked.size(), asked);
            EXPECT_EQ(f.terminations, 1);
        }
    }
}

TEST(QuitCoordinator, TheApplicationEndsOnlyAfterThePendingNotesSaveHasFinished) {
    // The menu's Quit while recording with a bookmark being saved, and the quit an installed
    // update's relaunch asks for with the notes editor's text being saved: both take the one path.
    for (const bool byRelaunch : {false, true}) {
        SCOPED_TRACE(byRelaunch ? "an update's relaunch" : "the menu");
        QuitFixture f({ShellModelWorld::recording("Earlier")});
        f.start();
        f.world.queue.drain();
        const Uuid earlier = f.world.model->recordings().front().id;
        std::optional<Uuid> recorded;
        if (byRelaunch) {
            f.world.executor.holding = true;
            f.world.model->setScratchpad("the last words typed", earlier); // its save waits on the store
            EXPECT_EQ(f.quit->confirmTermination(Origin::unattended), Reply::later);
        } else {
            f.world.record(4);
            recorded = f.world.model->activeID();
            f.world.executor.holding = true;
            f.world.model->addBookmark(); // its save waits on the store
            EXPECT_EQ(f.quit->confirmTermination(Origin::interactive), Reply::later);
        }
        f.world.queue.drain();
        EXPECT_TRUE(f.quit->isTerminating());
        EXPECT_GT(f.commits, 0);
        for (int round = 0; round < 10 && !f.world.executor.held.empty(); ++round) {
            EXPECT_EQ(f.terminations, 0) << "the notes are still being saved";
            auto work = std::move(f.world.executor.held.front());
            f.world.executor.held.pop_front();
            work();
            f.world.queue.drain();
        }
        f.world.executor.holding = false;
        f.world.queue.drain();
        EXPECT_EQ(f.terminations, 1);
        if (byRelaunch)
            EXPECT_EQ(f.world.store().loadRecording(earlier).scratchpad, "the last words typed");
        else
            EXPECT_EQ(f.world.store().loadRecording(recorded.value()).bookmarks.size(), 1u);
    }
}

TEST(QuitCoordinator, AnUnattendedRequestRefusedWhileBusyGoesThroughOnceTheWorkEnds) {
    QuitFixture f;
    f.start(); // the model is busy restoring its session
    ASSERT_TRUE(f.world.model->busy());
    EXPECT_EQ(f.quit->confirmTermination(Origin::interactive), Reply::cancel) << "a person can ask again";
    EXPECT_FALSE(f.quit->hasHeldRequest());
    EXPECT_EQ(f.quit->confirmTermination(Origin::unattended), Reply::cancel);
    EXPECT_TRUE(f.quit->hasHeldRequest()) << "a signal is not asked again";
    f.world.queue.drain();
    EXPECT_TRUE(f.asked.empty());
    EXPECT_EQ(f.terminations, 1);
}

} // namespace
