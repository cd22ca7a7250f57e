// Annotation saves: in the order they were asked for, one at a time; the failure sentence; the
// notepad's line rules and its three-second debounce for sent recordings.
#include "tests/model/AppModelHarness.hpp"

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

TEST(AppModelAnnotations, SavesRunInTheOrderAskedEvenWhenAnEarlierOneIsSlow) {
    Harness h;
    auto store = h.signedInWith(2);
    const Uuid a = h.model->recordings()[0].id;
    const Uuid b = h.model->recordings()[1].id;
    h.executor.holding = true; // every store write waits until the test lets it run

    h.model->setScratchpad("first", a);
    h.model->setNotepad("agenda", b);
    h.model->setScratchpad("first, then more", a);
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
    EXPECT_TRUE(AppModelTestAccess::annotationTask(*h.model).isFinished());
    EXPECT_EQ(h.model->message(), "");
}

TEST(AppModelAnnotations, AFailedSaveSaysSoAndTheNextSaveWritesEverythingAgain) {
    Harness h;
    auto store = h.signedInWith(1);
    const Uuid id = h.model->recordings()[0].id;
    h.localizePrefix = "[de] ";
    store->failAnnotations = true;
    h.model->setScratchpad("budget", id);
    h.model->setNotepad("owner: Ada", id);
    h.queue.drain();
    EXPECT_EQ(h.model->message(), "[de] Your note could not be saved. Please try again.");
    EXPECT_EQ(h.changes, 2) << "one sentence per failed save";
    EXPECT_EQ(h.model->recordings()[0].scratchpad, "budget") << "the edit is kept";

    store->failAnnotations = false;
    h.model->setScratchpad("budget v2", id);
    h.queue.drain();
    ASSERT_EQ(store->annotationSaves.size(), 1u);
    EXPECT_EQ(store->annotationSaves[0].annotations.scratchpad, "budget v2");
    EXPECT_EQ(texts(store->annotationSaves[0].annotations.notepad), (std::vector<std::string>{"owner: Ada"}));
}

TEST(AppModelAnnotations, WithoutAnOpenStoreEditsAreKeptButNotSaved) {
    Harness h;
    h.signedInWith(1);
    const Uuid id = h.model->recordings()[0].id;
    AppModelTestAccess::setStore(*h.model, nullptr);
    h.model->setScratchpad("offline note", id);
    h.queue.drain();
    EXPECT_EQ(h.model->recordings()[0].scratchpad, "offline note");
    EXPECT_FALSE(AppModelTestAccess::annotationTask(*h.model).isValid());
    EXPECT_EQ(h.model->message(), "");
}

TEST(AppModelAnnotations, NotepadLinesKeepTheirIdsAndEqualLinesCauseNoSave) {
    Harness h;
    auto store = h.signedInWith(1);
    const Uuid id = h.model->recordings()[0].id;
    h.model->setNotepad("one\ntwo", id);
    h.queue.drain();
    const auto lines = *h.model->recordings()[0].notepad;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(Notepad::isValidLineID(lines[0].id));
    EXPECT_FALSE(lines[0].at) << "no capture running: no time stamp";

    h.expectRefused([&] { h.model->setNotepad("one\ntwo", id); }, "the same text again");

    h.model->setNotepad("one\ntwo\nthree", id);
    h.queue.drain();
    const auto grown = *h.model->recordings()[0].notepad;
    ASSERT_EQ(grown.size(), 3u);
    EXPECT_EQ(grown[0].id, lines[0].id);
    EXPECT_EQ(grown[1].id, lines[1].id);
    EXPECT_EQ(store->annotationSaves.size(), 2u);
    EXPECT_EQ(h.changes, 0) << "the editor already shows the text";
}

TEST(AppModelAnnotations, LinesWrittenDuringACaptureCarryItsTime) {
    Harness h;
    h.signedInWith(2);
    const Uuid active = h.model->recordings()[1].id;
    const Uuid other = h.model->recordings()[0].id;
    AppModelTestAccess::setActiveID(*h.model, active);
    AppModelTestAccess::setElapsed(*h.model, 12.3456);
    h.model->setNotepad("decision", active);
    h.model->setNotepad("unrelated", other);
    EXPECT_EQ(h.model->recordings()[1].notepad->at(0).at, 12345);
    EXPECT_FALSE(h.model->recordings()[0].notepad->at(0).at);
}

TEST(AppModelAnnotations, OnlyASentRecordingsNotepadWaitsThreeSecondsForTheService) {
    Harness h;
    h.signedInWith(2);
    auto list = h.model->recordings();
    list[1].transfer = TransferState::accepted;
    list[1].remoteID = "mt_1";
    AppModelTestAccess::setRecordings(*h.model, list);

    h.model->setNotepad("local only", list[0].id);
    h.queue.drain();
    EXPECT_TRUE(AppModelTestAccess::notepadDebounce(*h.model).empty());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);

    h.model->setNotepad("shared", list[1].id);
    h.queue.drain();
    ASSERT_EQ(AppModelTestAccess::notepadDebounce(*h.model).size(), 1u);
    TaskHandle first = AppModelTestAccess::notepadDebounce(*h.model).at(list[1].id);
    EXPECT_EQ(h.queue.nextDeadline(), 1003.0);

    // A second edit 2 s later replaces the wait: the sync comes 3 s after it.
    h.queue.advance(2);
    h.model->setNotepad("shared\nmore", list[1].id);
    h.queue.drain();
    EXPECT_TRUE(first.isCancelled());
    EXPECT_TRUE(first.isFinished());
    TaskHandle second = AppModelTestAccess::notepadDebounce(*h.model).at(list[1].id);
    EXPECT_EQ(h.queue.pendingTimers(), 1u);
    EXPECT_EQ(h.queue.nextDeadline(), 1005.0);

    h.queue.advance(2.9);
    EXPECT_FALSE(second.isFinished());
    h.queue.advance(0.1);
    EXPECT_TRUE(second.isFinished());
    EXPECT_FALSE(second.isCancelled());
    EXPECT_FALSE(second.error()) << "the wait ended and handed over to the sync";
}

TEST(AppModelAnnotations, APendingNotepadWaitEndsQuietlyWhenTheModelGoes) {
    Harness h;
    h.signedInWith(1);
    auto list = h.model->recordings();
    list[0].transfer = TransferState::accepted;
    AppModelTestAccess::setRecordings(*h.model, list);
    h.model->setNotepad("shared", list[0].id);
    h.queue.drain();
    TaskHandle wait = AppModelTestAccess::notepadDebounce(*h.model).at(list[0].id);
    h.model.reset(); // the save task held it; once that ended, nothing else does
    h.queue.advance(3);
    EXPECT_TRUE(wait.isFinished());
    EXPECT_FALSE(wait.error());
}
