// Annotation saves: the scratchpad, bookmarks and notepad of a recording are written to the store
// in the order they were edited, each save after the previous one has ended. A sent recording's
// notepad also goes to the service, three seconds after the last edit.
#include "Nuvel/model/AppModel.hpp"

namespace nuvel {

namespace {
constexpr std::string_view noteNotSavedText = "Your note could not be saved. Please try again.";
constexpr double notepadDebounceSeconds = 3.0;
} // namespace

void AppModel::startAnnotationTask(const LocalRecording& recording) {
    if (!store_)
        return;
    RecordingStore::Annotations annotations{recording.scratchpad, recording.bookmarks, recording.notepad};
    TaskHandle previous = annotationTask_;
    annotationTask_ = spawn(queue(), saveAnnotationsAfter(shared_from_this(), previous, store_, recording.id,
                                                          std::move(annotations)));
}

Task<void> AppModel::saveAnnotationsAfter(std::shared_ptr<AppModel> self, TaskHandle previous,
                                          std::shared_ptr<WorkspaceStore> store, Uuid recordingID,
                                          RecordingStore::Annotations annotations) {
    if (previous.isValid())
        co_await previous.join();
    bool failed = false;
    try {
        auto job = [store, recordingID, annotations] { store->saveAnnotations(recordingID, annotations); };
        co_await runOn(self->actors(), job);
    } catch (...) {
        failed = true;
    }
    // The edits stay in `recordings`; the next save writes them all again.
    if (failed)
        self->setMessage(noteNotSavedText);
}

Task<void> AppModel::debounceNotepad(std::weak_ptr<AppModel> weak, Uuid recordingID) {
    bool replaced = false;
    try {
        co_await sleepFor(notepadDebounceSeconds);
    } catch (const Cancelled&) {
        replaced = true; // a newer edit took over
    } catch (...) {
    }
    if (replaced)
        co_return;
    try {
        co_await checkCancellation();
    } catch (...) {
        replaced = true;
    }
    if (replaced)
        co_return;
    std::shared_ptr<AppModel> self = weak.lock();
    if (!self)
        co_return;
    co_await self->syncNotepad(recordingID);
}

Task<void> AppModel::runNotepadSync(std::shared_ptr<AppModel> self, Uuid recordingID) {
    co_await self->syncNotepad(recordingID);
}

} // namespace nuvel
