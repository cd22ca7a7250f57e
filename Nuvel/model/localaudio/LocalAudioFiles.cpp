#include "Nuvel/model/localaudio/LocalAudioFiles.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingSegment.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <vector>

namespace nuvel {

namespace {

// Copies `source` over `destination` in one step: readers of the destination see the old file or
// the whole new one, and a failure leaves the old one in place.
void replaceWithCopy(const std::filesystem::path& source, const std::filesystem::path& destination) {
    files::FileDescriptor input = files::openForReading(source);
    files::atomicWriteWith(destination, [&](const files::FileDescriptor& output) {
        std::vector<std::uint8_t> buffer(1 << 20);
        for (;;) {
            std::size_t got = input.readUpTo(buffer.data(), buffer.size(), source);
            if (got == 0)
                break;
            output.writeAll(ByteView(buffer.data(), got), destination);
        }
    });
}

} // namespace

// ---- Import ----

void LocalAudioFiles::importAudio(std::filesystem::path file, bool aiNotes) {
    ModelState& state = ctx_.state;
    state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(importFile(ctx_.hold(), std::move(file), *state.session, aiNotes, state.store));
}

Task<void> LocalAudioFiles::importFile([[maybe_unused]] ModelContext::Hold hold, std::filesystem::path file,
                                       DeviceSession session, bool aiNotes,
                                       std::shared_ptr<WorkspaceStore> store) {
    ImportProgress progress;
    Task<LocalRecording> conversion = convert(file, session, aiNotes, store, &progress);
    Outcome<LocalRecording> imported = co_await attempt(conversion);
    ModelState& state = ctx_.state;
    if (imported.ok()) {
        state.selectedID = imported.value().id;
        state.recordings.insert(state.recordings.begin(), std::move(imported.value()));
        ctx_.writeMessageAbout(StatusText::saved, state.selectedID);
    } else {
        imported.drop("importing a file");
        co_await undoImport(store, progress, session.account.id);
        // Of no recording: it stays over the pane on screen until the user moves on.
        ctx_.writeMessageAbout(StatusText::undecodable, state.selectedID);
    }
    state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

Task<LocalRecording> LocalAudioFiles::convert(std::filesystem::path file, DeviceSession session, bool aiNotes,
                                              std::shared_ptr<WorkspaceStore> store,
                                              ImportProgress* progress) {
    LocalRecording recording = LocalRecording::make(session.account.id, ctx_.state.selectedWorkspaceID(), "",
                                                    aiNotes, ctx_.now(), Uuid::random());
    auto save = [store, recording] { store->saveManifest(recording); };
    co_await runOn(ctx_.actors(), save);
    progress->savedRecording = recording.id;

    const Uuid segmentID = Uuid::random();
    const Uuid recordingID = recording.id;
    auto stage = [store, recordingID, segmentID] {
        return store->workingFileURL(recordingID, segmentID, "m4a", "stage");
    };
    std::filesystem::path target = co_await runOn(ctx_.actors(), stage);
    progress->staging = target;

    std::shared_ptr<MediaAssembler> media = ctx_.deps.media;
    auto conversion = [media, file, target] {
        if (!media)
            throw RecordingError(RecordingError::Code::invalidTransport);
        return media->convertImport(file, target);
    };
    double duration = co_await runOn(ctx_.actors(), conversion);

    recording.segments = {
        RecordingSegment::make(segmentID, recording.createdAt, "m4a", std::nullopt, std::nullopt, duration)};
    recording.capture = CaptureState::saved;
    auto saveAgain = [store, recording] { store->saveManifest(recording); };
    co_await runOn(ctx_.actors(), saveAgain);

    auto seal = [store, target, recordingID, segmentID] {
        store->sealClearMedia(target, recordingID, segmentID);
    };
    co_await runOn(ctx_.actors(), seal);
    co_return recording;
}

Task<void> LocalAudioFiles::undoImport(std::shared_ptr<WorkspaceStore> store, ImportProgress progress,
                                       std::string accountID) {
    // A recording without its audio would come back from the next recovery scan as an empty
    // "interrupted" or "saved" one: its folder goes, staging file and all.
    if (progress.savedRecording) {
        Uuid id = *progress.savedRecording;
        auto remove = [store, id, accountID] { store->deleteRecording(id, accountID); };
        Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
        if (removed.ok())
            co_return;
        removed.drop("removing a failed import");
    }
    // The clear copy of the user's file must not outlive the failed import.
    if (progress.staging) {
        std::filesystem::path leftover = *progress.staging;
        auto remove = [store, leftover] { store->removeWorkingFiles(leftover); };
        Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
        removed.drop("removing a failed import's staging file");
    }
}

// ---- Export ----

void LocalAudioFiles::exportAudio(std::filesystem::path destination) {
    ModelState& state = ctx_.state;
    const LocalRecording* recording = state.recordingMatching(state.selectedID);
    if (!recording)
        return;
    LocalRecording copy = *recording;
    state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(exportFile(ctx_.hold(), state.store, std::move(copy), std::move(destination)));
}

Task<void> LocalAudioFiles::exportFile(ModelContext::Hold hold, std::shared_ptr<WorkspaceStore> store,
                                       LocalRecording recording, std::filesystem::path destination) {
    std::shared_ptr<MediaAssembler> media = ctx_.deps.media;
    auto compose = [media, store, recording] {
        if (!media)
            throw RecordingError(RecordingError::Code::missingMedia);
        return media->assemble(recording, *store);
    };
    Outcome<std::filesystem::path> assembled = co_await attemptOn(ctx_.actors(), compose);
    bool exported = false;
    if (assembled.ok()) {
        std::filesystem::path from = assembled.value();
        auto copy = [from, destination] { replaceWithCopy(from, destination); };
        Outcome<void> copied = co_await attemptOn(ctx_.actors(), copy);
        copied.drop("writing the export");
        exported = copied.ok();
        // Not awaited: the export is over for the user once the copy is written.
        ctx_.tasks.start(removeWorkingFile(hold, store, from));
    } else {
        assembled.drop("composing the export");
    }
    ctx_.writeMessageAbout(exported ? StatusText::exported : StatusText::exportFailed, recording.id);
    ctx_.state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

Task<void> LocalAudioFiles::removeWorkingFile([[maybe_unused]] ModelContext::Hold hold,
                                              std::shared_ptr<WorkspaceStore> store,
                                              std::filesystem::path file) {
    auto remove = [store, file] { store->removeWorkingFiles(file); };
    Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
    // A working file left behind goes with its recording's folder.
    removed.drop("removing a working file");
}

// ---- Removing a local copy ----

void LocalAudioFiles::discardRecording() {
    ModelState& state = ctx_.state;
    const LocalRecording* recording = state.recordingMatching(state.selectedID);
    if (!recording)
        return;
    LocalRecording copy = *recording;
    playback_.stopPlayback();
    state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(removeLocalCopy(ctx_.hold(), state.store, *state.session, std::move(copy)));
}

Task<void> LocalAudioFiles::removeLocalCopy([[maybe_unused]] ModelContext::Hold hold,
                                            std::shared_ptr<WorkspaceStore> store, DeviceSession session,
                                            LocalRecording recording) {
    const Uuid id = recording.id;
    const std::string account = session.account.id;
    auto remove = [store, id, account] { store->deleteRecording(id, account); };
    Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
    ModelState& state = ctx_.state;
    if (removed.ok()) {
        std::erase_if(state.recordings, [&](const LocalRecording& listed) { return listed.id == id; });
        state.selectedID =
            state.recordings.empty() ? std::nullopt : std::optional<Uuid>(state.recordings.front().id);
        // Over the recording shown in its place, until the user moves on.
        ctx_.writeMessageAbout(StatusText::removed, state.selectedID);
    } else {
        removed.drop("removing a local copy");
        ctx_.writeMessageAbout(StatusText::removeFailed, id);
    }
    state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

} // namespace nuvel
