// Annotation saves in the order they were asked for, one at a time; the failure sentence; the
// notepad's line rules; bookmarks at the capture time; the three-second debounce for sent
// recordings; and whether a sent notepad is ahead of the service.
#include "tests/model/ModelHarness.hpp"

#include <limits>

using namespace nuvel;
using namespace nuvel::test;

namespace {
std::vector<std::string> texts(const std::optional<std::vector<NotepadLine>>& lines) {
    std::vector<std::string> out;
    if (lines)
        for (const auto& line : *lines)
            out.push_back(line.text);
    return out;
}
} // namespace

TEST(AnnotationSync, SavesRunInTheOrderAskedEvenWhenAnEarlierOneIsSlow) {
    PartsHarness h;
    auto store = h.signedInWith(2);
    AnnotationSync& notes = h.parts->annotations;
    const Uuid a = h.state().recordings[0].id;
    const Uuid b = h.state().recordings[1].id;
    h.executor.holding = true; // every store write waits until the test lets it run

    notes.setScratchpad("first", a);
    notes.setNotepad("agenda", b);
    notes.setScratchpad("first, then more", a);
    h.queue.drain();
    // Only the first save has reached the store; the others wait for it to end.
    ASSERT_EQ(h.executor.held.size(), 1u);
    EXPECT_TRUE(store->annotationSaves.empty());

    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(h.executor.held.size(), 1u) << "save " << i << ": one at a time";
        h.executor.runNewest();
        h.queue.drain();
    }
    EXPECT_TRUE(h.executor.held.empty());
    ASSERT_EQ(store->annotationSaves.size(), 3u);
    EXPECT_EQ(store->annotationSaves[0].id, a);
    EXPECT_EQ(store->annotationSaves[0].annotations.scratchpad, "first");
    EXPECT_EQ(store->annotationSaves[1].id, b);
    EXPECT_EQ(texts(store->annotationSaves[1].annotations.notepad), (std::vector<std::string>{"agenda"}));
    EXPECT_EQ(store->annotationSaves[2].annotations.scratchpad, "first, then more");
    EXPECT_TRUE(notes.annotationTask().isFinished());
    EXPECT_EQ(h.state().message, "");
    EXPECT_EQ(h.changes, 0) << "the editor already shows the text";
}

TEST(AnnotationSync, AFailedSaveSaysSoAndTheNextSaveWritesEverythingAgain) {
    PartsHarness h;
    auto store = h.signedInWith(1);
    const Uuid id = h.state().recordings[0].id;
    h.localizePrefix = "[de] ";
    store->failAnnotations = true;
    h.parts->annotations.setScratchpad("budget", id);
    h.parts->annotations.setNotepad("owner: Ada", id);
    h.queue.drain();
    EXPECT_EQ(h.state().message, "[de] Your note could not be saved. Please try again.");
    EXPECT_EQ(h.changes, 2) << "one sentence per failed save";
    EXPECT_EQ(h.state().recordings[0].scratchpad, "budget") << "the edit is kept";

    store->failAnnotations = false;
    h.parts->annotations.setScratchpad("budget v2", id);
    h.queue.drain();
    ASSERT_EQ(store->annotationSaves.size(), 1u);
    EXPECT_EQ(store->annotationSaves[0].annotations.scratchpad, "budget v2");
    EXPECT_EQ(texts(store->annotationSaves[0].annotations.notepad), (std::vector<std::string>{"owner: Ada"}));
}

TEST(AnnotationSync, WithoutAnOpenStoreEditsAreKeptButNotSaved) {
    PartsHarness h;
    h.state().recordings = sampleRecordings(1);
    const Uuid id = h.state().recordings[0].id;
    h.parts->annotations.setScratchpad("offline note", id);
    h.queue.drain();
    EXPECT_EQ(h.state().recordings[0].scratchpad, "offline note");
    EXPECT_FALSE(h.parts->annotations.annotationTask().isValid());
    EXPECT_EQ(h.state().message, "");
}

TEST(AnnotationSync, NotepadLinesKeepTheirIdsAndCarryTheCaptureTimeOfTheirOwnRecording) {
    PartsHarness h;
    auto store = h.signedInWith(2);
    AnnotationSync& notes = h.parts->annotations;
    const Uuid other = h.state().recordings[0].id;
    const Uuid active = h.state().recordings[1].id;
    notes.setNotepad("one\ntwo", other);
    h.queue.drain();
    const auto lines = *h.state().recordings[0].notepad;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(Notepad::isValidLineID(lines[0].id));
    EXPECT_FALSE(lines[0].at) << "no capture running: no time stamp";

    notes.setNotepad("one\ntwo", other);
    h.queue.drain();
    EXPECT_EQ(store->annotationSaves.size(), 1u) << "the same lines again: no save";

    notes.setNotepad("one\ntwo\nthree", other);
    h.queue.drain();
    const auto grown = *h.state().recordings[0].notepad;
    ASSERT_EQ(grown.size(), 3u);
    EXPECT_EQ(grown[0].id, lines[0].id);
    EXPECT_EQ(grown[1].id, lines[1].id);
    EXPECT_EQ(store->annotationSaves.size(), 2u);

    h.state().activeID = active;
    h.state().elapsed = 12.3456;
    notes.setNotepad("decision", active);
    notes.setNotepad("one\ntwo\nthree\nunrelated", other);
    EXPECT_EQ(h.state().recordings[1].notepad->at(0).at, 12345);
    EXPECT_FALSE(h.state().recordings[0].notepad->at(3).at);
}

TEST(AnnotationSync, BookmarksTakeWholeMillisecondsOfTheCaptureTime) {
    PartsHarness h;
    auto store = h.signedInWith(2);
    AnnotationSync& notes = h.parts->annotations;
    notes.addBookmark();
    EXPECT_EQ(h.changes, 0) << "nothing recording: no bookmark";
    h.state().activeID = Uuid::random();
    notes.addBookmark();
    EXPECT_EQ(h.changes, 0) << "an active id that no listed recording has: no bookmark";

    const Uuid active = h.state().recordings[1].id;
    h.state().activeID = active;
    for (double elapsed : {0.0, 0.7509, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), 3725.0}) {
        h.state().elapsed = elapsed;
        notes.addBookmark();
    }
    h.queue.drain();
    const auto& bookmarks = h.state().recordings[1].bookmarks;
    ASSERT_EQ(bookmarks.size(), 5u);
    std::vector<std::int64_t> at;
    for (const auto& bookmark : bookmarks)
        at.push_back(bookmark.mediaMilliseconds);
    EXPECT_EQ(at, (std::vector<std::int64_t>{0, 750, 0, 0, 3725000}));
    EXPECT_EQ(bookmarks[1].label, "");
    EXPECT_EQ(bookmarks[1].createdAt, (Date{700000000}));
    EXPECT_NE(bookmarks[0].id, bookmarks[1].id);
    EXPECT_EQ(h.changes, 5);
    EXPECT_TRUE(h.state().recordings[0].bookmarks.empty());

    // Each bookmark was saved with the annotations as they stood then.
    ASSERT_EQ(store->annotationSaves.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(store->annotationSaves[i].id, active);
        EXPECT_EQ(store->annotationSaves[i].annotations.bookmarks.size(), i + 1);
    }
}

TEST(AnnotationSync, OnlyASentRecordingsNotepadWaitsThreeSecondsForTheService) {
    PartsHarness h;
    auto list = sampleRecordings(2);
    list[1].transfer = TransferState::accepted;
    list[1].remoteID = "mt_1";
    h.signedInWith(list);
    AnnotationSync& notes = h.parts->annotations;

    notes.setNotepad("local only", list[0].id);
    h.queue.drain();
    EXPECT_TRUE(notes.notepadDebounce().empty());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);

    notes.setNotepad("shared", list[1].id);
    h.queue.drain();
    ASSERT_EQ(notes.notepadDebounce().size(), 1u);
    TaskHandle first = notes.notepadDebounce().at(list[1].id);
    EXPECT_EQ(h.queue.nextDeadline(), 1003.0);

    // A second edit 2 s later replaces the wait: the sync comes 3 s after it.
    h.queue.advance(2);
    notes.setNotepad("shared\nmore", list[1].id);
    h.queue.drain();
    EXPECT_TRUE(first.isCancelled());
    EXPECT_TRUE(first.isFinished());
    TaskHandle second = notes.notepadDebounce().at(list[1].id);
    EXPECT_EQ(h.queue.pendingTimers(), 1u);
    EXPECT_EQ(h.queue.nextDeadline(), 1005.0);

    h.queue.advance(2.9);
    EXPECT_FALSE(second.isFinished());
    h.queue.advance(0.1);
    EXPECT_TRUE(second.isFinished());
    EXPECT_FALSE(second.isCancelled());
    EXPECT_FALSE(second.error()) << "the wait ended and handed over to the sync";

    // The account's work ends with it: a wait that is pending then is cancelled.
    notes.setNotepad("shared\nmore\nlast", list[1].id);
    h.queue.drain();
    TaskHandle third = notes.notepadDebounce().at(list[1].id);
    h.context().tasks.cancel(ModelTasks::Scope::account);
    h.queue.drain();
    EXPECT_TRUE(third.isFinished());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
}

TEST(AnnotationSync, NotepadNeedsSyncOnlyForASentRecordingAheadOfItsBase) {
    LocalRecording r = sampleRecording();
    r.notepad = std::vector<NotepadLine>{{"nabc1", "hello", std::nullopt}};
    EXPECT_FALSE(notepadNeedsSync(r)) << "never sent";
    r.remoteID = "mt_1";
    EXPECT_TRUE(notepadNeedsSync(r));
    r.notepadBase = r.notepad;
    EXPECT_FALSE(notepadNeedsSync(r));
    r.notepad.reset();
    EXPECT_TRUE(notepadNeedsSync(r)) << "all lines removed";
    r.notepadBase.reset();
    EXPECT_FALSE(notepadNeedsSync(r)) << "none and none";
}
