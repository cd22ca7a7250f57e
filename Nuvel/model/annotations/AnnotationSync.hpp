#pragma once

#include "Nuvel/model/ModelContext.hpp"

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace nuvel {

// Whether a sent recording's shared notes differ from what the service last agreed to.
bool notepadNeedsSync(const LocalRecording& recording);

// The annotations of the recordings: the private scratchpad, the bookmarks and the shared
// notepad. Edits change the listed recording at once; its annotations are then written to the
// store, each save after the one before, in the order of the edits. A sent recording's notepad
// also goes to the service three seconds after its last edit, with the service's revision; a
// conflict is settled by a three-way merge of the lines, at most three times a pass.
class AnnotationSync {
public:
    static constexpr double notepadDebounceSeconds = 3.0;
    // Saves one pass sends at most, each after a conflict merged the service's lines in.
    static constexpr int notepadSavesPerPass = 3;

    explicit AnnotationSync(ModelContext& context) : ctx_(context) {}

    // Each does nothing for an id that no listed recording has.
    void setScratchpad(std::string text, const Uuid& id);
    // Lines written during the recording's own capture carry the capture time. Text that gives
    // the same lines again changes nothing.
    void setNotepad(std::string_view text, const Uuid& id);
    // A bookmark at the capture time of the active recording; nothing without one.
    void addBookmark();

    // Saves the recording's annotations once the save before has ended; nothing without a store.
    void startAnnotationTask(const LocalRecording& recording);
    // Brings one recording's notepad in step with the service.
    void startNotepadSync(const Uuid& id);
    // The same, awaited; never fails. One sync runs per recording: a sync asked for while one
    // runs becomes one more pass of the running one.
    Task<void> syncNotepad(Uuid recordingID);

    // The newest annotation save, which every later one waits for.
    const TaskHandle& annotationTask() const { return annotationTask_; }
    // The waiting debounce of each sent recording whose notepad was edited.
    const std::map<Uuid, TaskHandle>& notepadDebounce() const { return notepadDebounce_; }

private:
    Task<void> saveAfter(ModelContext::Hold hold, TaskHandle previous, std::shared_ptr<WorkspaceStore> store,
                         Uuid recordingID, RecordingStore::Annotations annotations);
    Task<void> debounceNotepad(std::weak_ptr<const void> model, Uuid recordingID);
    Task<void> runNotepadSync(ModelContext::Hold hold, Uuid recordingID);
    // One pass of the sync: a save, and at most two more after conflicts. False when there was
    // nothing to send (or no recording to send it for): no further pass is then made.
    Task<bool> notepadPass(Uuid recordingID);

    ModelContext& ctx_;
    TaskHandle annotationTask_;
    std::map<Uuid, TaskHandle> notepadDebounce_;
    std::set<Uuid> notepadSyncing_;
    std::set<Uuid> notepadAgain_;
};

} // namespace nuvel
