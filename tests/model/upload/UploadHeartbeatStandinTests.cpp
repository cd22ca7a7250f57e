// The heartbeat of a running upload and the notepad sync of a sent recording, against the
// stand-in service on the main queue's virtual clock.
#include "tests/model/upload/UploadStandinHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

using Calls = std::vector<std::string>;

// Runs the held actor jobs one at a time, oldest first, calling `after` once each has run.
void stepHeld(StandinUploads& s, const std::function<void()>& after) {
    World& w = *s.app;
    while (!w.executor.held.empty()) {
        auto job = std::move(w.executor.held.front());
        w.executor.held.pop_front();
        job();
        w.queue.drain();
        after();
    }
}

StandinLimits heartbeatEvery(std::int64_t seconds) {
    StandinLimits limits = StandinUploads::smallParts();
    limits.heartbeatSeconds = seconds;
    return limits;
}

std::string conflictBody(std::int64_t revision, const std::string& lines) {
    return R"({"error":{"code":"notepad_conflict","message":"changed","detail":{"revision":)" +
           std::to_string(revision) + R"(,"lines":)" + lines + "}}}";
}

// A recording the service has accepted, with the model idle again.
struct SentRecording {
    explicit SentRecording(StandinCapabilities capabilities = {}) : s(capabilities) {
        r = s.recording();
        s.startWith({r});
        s.send(r.id);
        meeting = *s.stored(r.id).remoteID;
        s.service.clearRequests();
    }
    std::vector<NotepadLine> notepad() const {
        return s.listed(r.id).notepad.value_or(std::vector<NotepadLine>{});
    }
    StandinUploads s;
    LocalRecording r;
    std::string meeting;
};

} // namespace

TEST(UploadHeartbeat, BeatsAtTheServiceIntervalHeldToFiveToSixtySeconds) {
    for (auto [asked, used] : {std::pair<std::int64_t, double>{2, 5}, {45, 45}, {600, 60}}) {
        StandinUploads s(StandinCapabilities{}, heartbeatEvery(asked));
        const LocalRecording r = s.recording();
        s.startWith({r});
        s.app->executor.holding = true;
        s.send(r.id);
        // The wait from the loop's start to its first beat, however many steps it takes.
        std::optional<double> interval;
        stepHeld(s, [&] {
            World& w = *s.app;
            if (interval || !w.queue.nextDeadline())
                return;
            const double start = w.queue.now();
            const std::size_t held = w.executor.held.size();
            while (w.executor.held.size() == held && w.queue.nextDeadline())
                w.queue.advance(*w.queue.nextDeadline() - w.queue.now());
            interval = w.queue.now() - start;
        });
        EXPECT_EQ(interval, used) << "asked " << asked;
        EXPECT_EQ(s.count("POST heartbeat"), 2) << "the first beat one interval away";
        EXPECT_EQ(s.app->queue.pendingTimers(), 0u) << "the loop ended with the run";
        EXPECT_EQ(s.stored(r.id).transfer, TransferState::accepted);
    }
}

TEST(UploadHeartbeat, AFailedBeatOrWaitEndsTheRunBeforeItsNextPart) {
    for (const bool beatFails : {true, false}) {
        SCOPED_TRACE(beatFails ? "the beat is answered 503" : "the wait for the beat fails");
        StandinUploads s(StandinCapabilities{}, heartbeatEvery(30));
        const LocalRecording r = s.recording();
        s.startWith({r});
        s.app->executor.holding = true;
        s.send(r.id);
        bool failed = false;
        stepHeld(s, [&] {
            if (!failed && s.app->queue.nextDeadline()) {
                failed = true;
                if (beatFails)
                    s.service.addFault("POST", "/api/meetings/[^/]+/heartbeat",
                                       StandinFault::error(503, "busy"));
                s.app->continuousClockFails = !beatFails;
                s.app->queue.advance(30); // the loop's beat is now held behind the road's next step
                s.app->continuousClockFails = false;
            }
        });
        ASSERT_TRUE(failed);
        EXPECT_EQ(s.count("POST heartbeat"), beatFails ? 2 : 1);
        // The failed beat waited behind the part under way; the failed wait ended the run before it.
        EXPECT_EQ(s.count("PUT audio/0"), beatFails ? 1 : 0);
        EXPECT_EQ(s.count("PUT audio/1"), 0);
        EXPECT_EQ(s.count("POST commit"), 0);
        const LocalRecording stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, TransferState::failed);
        if (beatFails) {
            EXPECT_EQ(stored.errorCode, "busy");
            EXPECT_TRUE(stored.retryAt) << "a 503 is tried again";
        }
        EXPECT_FALSE(s.app->model->uploading());
    }
}

TEST(NotepadSync, OnePutThreeSecondsAfterTheLastEditThenInStepWithTheService) {
    SentRecording sent;
    AppModel& model = *sent.s.app->model;
    model.setNotepad("first", sent.r.id);
    sent.s.app->queue.advance(2);
    model.setNotepad("first\nsecond", sent.r.id);
    sent.s.app->queue.advance(2.9);
    EXPECT_EQ(sent.s.count("PUT notepad"), 0);
    sent.s.app->queue.advance(0.2);
    EXPECT_EQ(sent.s.calls(), Calls{"PUT notepad"});
    const LocalRecording& listed = sent.s.listed(sent.r.id);
    EXPECT_EQ(listed.notepadRevision, 1);
    EXPECT_EQ(listed.notepadBase, listed.notepad);
    EXPECT_EQ(sent.s.service.notepad(sent.meeting)->revision, 1);
    EXPECT_EQ(sent.s.stored(sent.r.id).notepadRevision, 1);

    // The sync writes its own fields only: a processing state saved meanwhile by another writer
    // stays, although the model's copy is older.
    LocalRecording elsewhere = sent.s.stored(sent.r.id);
    elsewhere.remoteState = "completed";
    model.store()->saveManifest(elsewhere);
    model.setNotepad("first\nsecond\nthird", sent.r.id);
    sent.s.app->queue.advance(3.1);
    EXPECT_EQ(sent.s.count("PUT notepad"), 2);
    EXPECT_EQ(sent.s.stored(sent.r.id).remoteState, "completed");
    EXPECT_EQ(sent.s.stored(sent.r.id).notepadRevision, 2);

    // In step: a later sync sends nothing.
    sent.s.service.clearRequests();
    sent.s.app->model->setNotepad("first\nsecond\nthird", sent.r.id);
    sent.s.app->queue.advance(5);
    EXPECT_EQ(sent.s.calls(), Calls{});
}

TEST(NotepadSync, AConflictMergesTheServiceLinesAndThreeInARowLeaveItAhead) {
    SentRecording sent;
    sent.s.service.setNotepad(sent.meeting,
                              StandinNotepad{5, R"([{"id":"nweb001","text":"from the web","at":null}])"});
    sent.s.app->model->setNotepad("mine", sent.r.id);
    sent.s.app->queue.advance(3.1);
    EXPECT_EQ(sent.s.calls(), (Calls{"PUT notepad", "PUT notepad"}));
    std::vector<std::string> texts;
    for (const NotepadLine& line : sent.notepad())
        texts.push_back(line.text);
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"from the web", "mine"})) << "both sides kept";
    EXPECT_EQ(sent.s.listed(sent.r.id).notepadBase, sent.notepad());
    EXPECT_EQ(sent.s.listed(sent.r.id).notepadRevision, 6);
    EXPECT_EQ(sent.s.service.notepad(sent.meeting)->revision, 6);

    SentRecording busy;
    busy.s.service.addFault("PUT", "/api/meetings/[^/]+/notepad",
                            StandinFault::respond(409, conflictBody(9, "[]")).times(5));
    busy.s.app->model->setNotepad("mine", busy.r.id);
    busy.s.app->queue.advance(3.1);
    EXPECT_EQ(busy.s.count("PUT notepad"), 3) << "at most three saves a pass";
    const LocalRecording& listed = busy.s.listed(busy.r.id);
    EXPECT_EQ(listed.notepad->size(), 1u);
    EXPECT_EQ(listed.notepadRevision.value_or(0), 0) << "left ahead, with the old revision";
    EXPECT_NE(listed.notepadBase.value_or(std::vector<NotepadLine>{}), listed.notepad);

    // Without the capability an edit is only saved here.
    StandinCapabilities noSync;
    noSync.notepadSync = false;
    SentRecording local(noSync);
    local.s.app->model->setNotepad("mine", local.r.id);
    local.s.app->queue.advance(10);
    EXPECT_EQ(local.s.calls(), Calls{});
}
