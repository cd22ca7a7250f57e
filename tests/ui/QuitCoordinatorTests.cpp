// Every way to quit, decided over the real model: refused, asked, or ended once the recording
// is saved and the notes save in flight has finished.
#include "Nuvel/ui/library/LibraryWindowFrame.hpp"
#include "tests/ui/ShellFakes.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;
using Origin = QuitCoordinator::Origin;
using Reply = QuitCoordinator::Reply;

namespace {

const QString stopTitle = "Stop and save before quitting?";
const QString stopText = "Closing the window keeps recording. Quitting will stop and save your audio.";
const QString uploadTitle = "Pause this upload and quit?";
const QString uploadText =
    "Your recording is saved. Open Nuvel again to continue; an interrupted create or commit may need review.";

enum class State { idle, recording, busy, uploading, recordingWithRelaunchWaiting, recordingThatCannotSave };

struct Case {
    const char* name;
    State state;
    Origin origin;
    std::optional<int> answer; // the button the user chooses, when asked
    std::optional<QString> asked;
    Reply reply;
    bool ends;                // the application ends, after the model's work settled
    std::string messageAfter; // the status line then ("" = not checked)
};

void enter(DelegateFixture& f, State state) {
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
        f.updates->relaunch = true;
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
        {"recording, cancelled", State::recording, Origin::interactive, 1, stopTitle, Reply::cancel, false,
         ""},
        {"recording, alert closed", State::recording, Origin::interactive, -1, stopTitle, Reply::cancel,
         false, ""},
        {"recording, stopped and saved", State::recording, Origin::interactive, 0, stopTitle, Reply::later,
         true, "Saved on this Mac. Send to Nuvel when you are ready."},
        {"recording whose stop cannot save", State::recordingThatCannotSave, Origin::interactive, 0,
         stopTitle, Reply::later, true, "Some audio needs recovery. Saved segments have been preserved."},
        {"busy", State::busy, Origin::interactive, {}, {}, Reply::cancel, false, ""},
        {"uploading, cancelled", State::uploading, Origin::interactive, 1, uploadTitle, Reply::cancel, false,
         ""},
        {"uploading, quit", State::uploading, Origin::interactive, 0, uploadTitle, Reply::later, true, ""},
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
        DelegateFixture f;
        f.world.seed({ShellWorld::recording("Earlier")});
        AppDelegate& delegate = f.launched();
        enter(f, c.state);
        const std::optional<Uuid> recordingID = f.world.model->activeID();
        if (c.answer)
            f.world.dialogs.answers.push_back(AlertAnswer{*c.answer, false});
        f.log.clear();

        EXPECT_EQ(delegate.requestQuit(c.origin), c.reply);
        ASSERT_EQ(f.world.dialogs.asked.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            const Alert& alert = f.world.dialogs.asked[0];
            EXPECT_EQ(alert.message, *c.asked);
            EXPECT_EQ(alert.informativeText, *c.asked == stopTitle ? stopText : uploadText);
            EXPECT_EQ(alert.buttons, (*c.asked == stopTitle ? QStringList{"Stop, save and quit", "Cancel"}
                                                            : QStringList{"Quit", "Cancel"}));
        }
        const bool committed =
            std::find(f.log.begin(), f.log.end(), "library.commitScratchpad") != f.log.end();
        EXPECT_EQ(committed, c.reply == Reply::later) << "the editor's text is written before quitting";
        EXPECT_EQ(f.terminations, 0) << "never at once: after the model's work";

        f.world.queue.drain();
        EXPECT_EQ(f.terminations, c.ends ? 1 : 0);
        EXPECT_EQ(delegate.quitCoordinator().isTerminating(), c.reply == Reply::later);
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
        const std::size_t asked = f.world.dialogs.asked.size();
        if (c.reply == Reply::later) {
            EXPECT_EQ(delegate.requestQuit(Origin::interactive), Reply::later);
            f.world.queue.drain();
            EXPECT_EQ(f.world.dialogs.asked.size(), asked);
            EXPECT_EQ(f.terminations, 1);
        }
    }
}

TEST(QuitCoordinator, TheApplicationEndsOnlyAfterThePendingNotesSaveHasFinished) {
    // The menu's Quit while recording with a bookmark being saved, and the quit an installed
    // update's relaunch asks for with the notes editor's text being saved: both take the one path.
    for (const bool byRelaunch : {false, true}) {
        SCOPED_TRACE(byRelaunch ? "an update's relaunch" : "the menu");
        DelegateFixture f;
        f.world.seed({ShellWorld::recording("Earlier")});
        AppDelegate& delegate = f.launched();
        f.world.defaults.remove(LibraryWindowFrame::defaultsKey);
        const Uuid earlier = f.world.model->recordings().front().id;
        f.log.clear();
        std::optional<Uuid> recorded;
        if (byRelaunch) {
            f.world.executor.holding = true;
            f.world.model->setScratchpad("the last words typed", earlier); // its save waits on the store
            ASSERT_TRUE(f.updates->quit);
            f.updates->quit();
        } else {
            f.world.record(4);
            recorded = f.world.model->activeID();
            f.world.executor.holding = true;
            f.world.model->addBookmark(); // its save waits on the store
            EXPECT_EQ(delegate.requestQuit(Origin::interactive), Reply::later);
        }
        f.world.queue.drain();
        EXPECT_TRUE(delegate.quitCoordinator().isTerminating());
        EXPECT_NE(std::find(f.log.begin(), f.log.end(), "library.commitScratchpad"), f.log.end());
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
        EXPECT_TRUE(f.world.defaults.string(LibraryWindowFrame::defaultsKey)) << "the window's frame is kept";
        if (byRelaunch)
            EXPECT_EQ(f.world.store().loadRecording(earlier).scratchpad, "the last words typed");
        else
            EXPECT_EQ(f.world.store().loadRecording(recorded.value()).bookmarks.size(), 1u);
    }
}

TEST(QuitCoordinator, AnUnattendedRequestRefusedWhileBusyGoesThroughOnceTheWorkEnds) {
    DelegateFixture f;
    AppDelegate& delegate = f.make();
    delegate.launch(); // the model is busy restoring its session
    ASSERT_TRUE(f.world.model->busy());
    EXPECT_EQ(delegate.requestQuit(Origin::interactive), Reply::cancel) << "a person can ask again";
    EXPECT_FALSE(delegate.quitCoordinator().hasHeldRequest());
    EXPECT_EQ(delegate.requestQuit(Origin::unattended), Reply::cancel);
    EXPECT_TRUE(delegate.quitCoordinator().hasHeldRequest()) << "a signal is not asked again";
    f.world.queue.drain();
    EXPECT_TRUE(f.world.dialogs.asked.empty());
    EXPECT_EQ(f.terminations, 1);
}

} // namespace
