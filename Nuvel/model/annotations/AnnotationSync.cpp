#include "Nuvel/model/annotations/AnnotationSync.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/Notepad.hpp"

namespace nuvel {

bool notepadNeedsSync(const LocalRecording& recording) {
    if (!recording.remoteID)
        return false;
    auto local = Notepad::normalize(recording.notepad.value_or(std::vector<NotepadLine>{}));
    return local != recording.notepadBase.value_or(std::vector<NotepadLine>{});
}

void AnnotationSync::setScratchpad(std::string text, const Uuid& id) {
    LocalRecording* recording = ctx_.state.findRecording(id);
    if (!recording)
        return;
    recording->scratchpad = std::move(text);
    startAnnotationTask(*recording);
}

void AnnotationSync::setNotepad(std::string_view text, const Uuid& id) {
    ModelState& state = ctx_.state;
    LocalRecording* recording = state.findRecording(id);
    if (!recording)
        return;
    std::optional<std::int64_t> stamp;
    if (state.activeID == id)
        stamp = Bookmark::wholeMilliseconds(state.elapsed);
    const std::vector<NotepadLine> current = recording->notepad.value_or(std::vector<NotepadLine>{});
    std::vector<NotepadLine> lines = Notepad::lines(text, current, stamp, Notepad::makeLineID);
    if (lines == current)
        return;
    recording->notepad = std::move(lines);
    startAnnotationTask(*recording);
    if (recording->transfer == TransferState::accepted) {
        auto pending = notepadDebounce_.find(id);
        if (pending != notepadDebounce_.end())
            pending->second.cancel();
        notepadDebounce_[id] = ctx_.tasks.start(debounceNotepad(ctx_.weakOwner(), id), ModelTasks::Scope::account);
    }
}

void AnnotationSync::addBookmark() {
    ModelState& state = ctx_.state;
    if (!state.activeID)
        return;
    LocalRecording* active = state.findRecording(*state.activeID);
    if (!active)
        return;
    active->bookmarks.push_back(Bookmark::make(Bookmark::wholeMilliseconds(state.elapsed), "", ctx_.now()));
    startAnnotationTask(*active);
    ctx_.notifyChange();
}

void AnnotationSync::startAnnotationTask(const LocalRecording& recording) {
    if (!ctx_.state.store)
        return;
    RecordingStore::Annotations annotations{recording.scratchpad, recording.bookmarks, recording.notepad};
    TaskHandle previous = annotationTask_;
    annotationTask_ =
        ctx_.tasks.start(saveAfter(ctx_.hold(), previous, ctx_.state.store, recording.id, std::move(annotations)));
}

Task<void> AnnotationSync::saveAfter([[maybe_unused]] ModelContext::Hold hold, TaskHandle previous,
                                     std::shared_ptr<WorkspaceStore> store, Uuid recordingID,
                                     RecordingStore::Annotations annotations) {
    if (previous.isValid())
        co_await previous.join();
    auto job = [store, recordingID, annotations] { store->saveAnnotations(recordingID, annotations); };
    Outcome<void> saved = co_await attemptOn(ctx_.actors(), job);
    // The edits stay in the list; the next save writes them all again.
    if (!saved.ok()) {
        saved.drop("saving annotations");
        ctx_.setMessage(StatusText::noteNotSaved);
    }
}

Task<void> AnnotationSync::debounceNotepad(std::weak_ptr<const void> model, Uuid recordingID) {
    const bool waited = co_await sleepUnlessCancelled(notepadDebounceSeconds);
    if (!waited)
        co_return; // a newer edit took over, or the account's work ended
    auto alive = model.lock();
    if (!alive)
        co_return;
    co_await syncNotepad(recordingID);
}

void AnnotationSync::startNotepadSync(const Uuid& id) {
    ctx_.tasks.start(runNotepadSync(ctx_.hold(), id), ModelTasks::Scope::account);
}

Task<void> AnnotationSync::runNotepadSync([[maybe_unused]] ModelContext::Hold hold, Uuid recordingID) {
    co_await syncNotepad(recordingID);
}

Task<void> AnnotationSync::syncNotepad(Uuid) {
    co_return;
}

} // namespace nuvel
