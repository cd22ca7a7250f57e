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
        notepadDebounce_[id] =
            ctx_.tasks.start(debounceNotepad(ctx_.weakOwner(), id), ModelTasks::Scope::account);
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
    annotationTask_ = ctx_.tasks.start(
        saveAfter(ctx_.hold(), previous, ctx_.state.store, recording.id, std::move(annotations)));
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
        ctx_.setMessageAbout(StatusText::noteNotSaved, recordingID);
    }
}

Task<void> AnnotationSync::debounceNotepad(std::weak_ptr<const void> model, Uuid recordingID) {
    const bool waited = co_await ctx_.sleepUnlessCancelled(notepadDebounceSeconds);
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

Task<void> AnnotationSync::syncNotepad(Uuid recordingID) {
    const ModelState& state = ctx_.state;
    const bool enabled = state.bootstrap && state.bootstrap->capabilities.notepadSync.value_or(false);
    if (!enabled || !state.session || !state.store)
        co_return;
    if (notepadSyncing_.contains(recordingID)) {
        notepadAgain_.insert(recordingID); // the running sync makes one more pass
        co_return;
    }
    notepadSyncing_.insert(recordingID);
    notepadAgain_.erase(recordingID);
    for (;;) {
        Task<bool> pass = notepadPass(recordingID);
        Outcome<bool> passed = co_await attempt(pass);
        if (!passed.ok()) {
            // Nothing was written: the next sync sends the same difference again.
            passed.drop("syncing a notepad");
            break;
        }
        if (!passed.value() || !notepadAgain_.erase(recordingID))
            break;
    }
    notepadSyncing_.erase(recordingID);
}

Task<bool> AnnotationSync::notepadPass(Uuid recordingID) {
    ModelState& state = ctx_.state;
    const LocalRecording* listed = state.findRecording(recordingID);
    if (!listed || !listed->remoteID || !state.session || !state.store)
        co_return false;
    const std::vector<NotepadLine> none;
    const std::vector<NotepadLine> raw = listed->notepad.value_or(none);
    std::vector<NotepadLine> local = Notepad::normalize(raw);
    std::vector<NotepadLine> base = listed->notepadBase.value_or(none);
    if (local == base)
        co_return false;
    std::int64_t revision = listed->notepadRevision.value_or(0);
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    std::shared_ptr<WorkspaceStore> store = state.store;
    const std::string meetingID = *listed->remoteID;
    const std::string token = state.session->token;

    std::optional<std::int64_t> saved;
    for (int attempt = 0; !saved;) {
        const std::vector<NotepadLine> sending = local;
        const std::int64_t sentBase = revision;
        auto put = [api, meetingID, sentBase, sending, token](std::stop_token stop) {
            return api->saveNotepad(meetingID, sentBase, sending, token, stop);
        };
        const NotepadSaveResult answer = co_await runOn(ctx_.actors(), put);
        if (const auto* done = std::get_if<NotepadSaved>(&answer)) {
            saved = done->revision;
            break;
        }
        const auto& conflict = std::get<NotepadConflicted>(answer);
        if (conflict.revision < 0 || ++attempt >= notepadSavesPerPass)
            co_return true; // left ahead of the service, with the old base and revision
        std::vector<NotepadLine> merged =
            Notepad::normalize(Notepad::merge(base, local, conflict.lines, Notepad::makeLineID));
        base = conflict.lines;
        local = std::move(merged);
        revision = conflict.revision;
    }

    const LocalRecording* current = state.findRecording(recordingID);
    if (!current)
        co_return false;
    LocalRecording updated = *current;
    const std::vector<NotepadLine> now = current->notepad.value_or(none);
    // An edit made while the save ran is laid over the saved lines; the next pass sends it.
    updated.notepad = now == raw ? local : Notepad::merge(raw, now, local, Notepad::makeLineID);
    updated.notepadRevision = *saved;
    updated.notepadBase = local;
    // Only the notepad's fields: an upload or a status refresh may have saved the others since
    // this copy was taken.
    auto write = [store, updated] { store->saveNotepadSync(updated); };
    co_await runOn(ctx_.actors(), write);
    if (LocalRecording* entry = state.findRecording(recordingID)) {
        // An edit made during the manifest save stays; the next pass merges and sends it.
        if (entry->notepad.value_or(none) == now)
            entry->notepad = updated.notepad;
        entry->notepadRevision = updated.notepadRevision;
        entry->notepadBase = updated.notepadBase;
        startAnnotationTask(*entry);
    }
    ctx_.notifyChange();
    co_return true;
}

} // namespace nuvel
