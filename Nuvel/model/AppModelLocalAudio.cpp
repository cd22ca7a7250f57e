// Audio that stays on this machine: importing a file as a saved recording, exporting a
// recording's audio, playing it, and removing a local copy.
#include "Nuvel/model/AppModel.hpp"

#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/RecordingSegment.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <utility>

namespace nuvel {

namespace {
constexpr std::string_view savedText = "Saved on this Mac. Send to Nuvel when you are ready.";
constexpr std::string_view undecodableText = "This file could not be decoded. Try an audio export such as M4A or WAV.";
constexpr std::string_view exportedText = "Audio exported. Private notes were not included.";
constexpr std::string_view exportFailedText =
    "Audio could not be exported. Your saved segments are still on this Mac.";
constexpr std::string_view playFailedText = "Audio could not be played. Your saved segments are still on this Mac.";
constexpr std::string_view removedText = "Local copy removed. This does not delete a meeting on Nuvel.";
constexpr std::string_view removeFailedText = "The local copy could not be removed. Please try again.";

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

// ---- Import and export ----

Task<void> AppModel::importFile(std::shared_ptr<AppModel> self, std::filesystem::path file, DeviceSession session,
                                bool aiNotes, std::shared_ptr<WorkspaceStore> store) {
    std::optional<LocalRecording> imported;
    std::optional<std::filesystem::path> staging;
    try {
        std::optional<std::string> workspace;
        if (self->bootstrap_)
            workspace = self->bootstrap_->selectedWorkspaceID;
        LocalRecording recording =
            LocalRecording::make(session.account.id, workspace, "", aiNotes, self->now(), Uuid::random());
        auto save = [store, recording] { store->saveManifest(recording); };
        co_await runOn(self->actors(), save);

        Uuid segmentID = Uuid::random();
        Uuid recordingID = recording.id;
        auto stage = [store, recordingID, segmentID] {
            return store->workingFileURL(recordingID, segmentID, "m4a", "stage");
        };
        staging = co_await runOn(self->actors(), stage);

        if (!self->media_)
            throw RecordingError(RecordingError::Code::invalidTransport);
        auto media = self->media_;
        std::filesystem::path target = *staging;
        auto convert = [media, file, target] { return media->convertImport(file, target); };
        double duration = co_await runOn(self->actors(), convert);

        recording.segments = {
            RecordingSegment::make(segmentID, recording.createdAt, "m4a", std::nullopt, std::nullopt, duration)};
        recording.capture = CaptureState::saved;
        auto saveAgain = [store, recording] { store->saveManifest(recording); };
        co_await runOn(self->actors(), saveAgain);

        auto seal = [store, target, recordingID, segmentID] { store->sealClearMedia(target, recordingID, segmentID); };
        co_await runOn(self->actors(), seal);
        staging.reset(); // sealing consumed it
        imported = std::move(recording);
    } catch (...) {
        imported.reset();
    }

    if (imported) {
        self->selectedID_ = imported->id;
        self->recordings_.insert(self->recordings_.begin(), std::move(*imported));
        self->message_ = self->localized(savedText);
    } else {
        // The clear copy of the user's file must not outlive the failed import.
        if (staging) {
            try {
                std::filesystem::path leftover = *staging;
                auto remove = [store, leftover] { store->removeWorkingFiles(leftover); };
                co_await runOn(self->actors(), remove);
            } catch (...) {
                // Removed with the recording's folder, or by the next recovery scan.
            }
        }
        self->message_ = self->localized(undecodableText);
    }
    self->busy_ = false;
    self->notifyChange();
}

Task<void> AppModel::exportFile(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                LocalRecording recording, std::filesystem::path destination) {
    bool exported = false;
    std::optional<std::filesystem::path> assembled;
    try {
        if (!self->media_)
            throw RecordingError(RecordingError::Code::missingMedia);
        auto media = self->media_;
        auto compose = [media, store, recording] { return media->assemble(recording, *store); };
        assembled = co_await runOn(self->actors(), compose);
        std::filesystem::path from = *assembled;
        auto copy = [from, destination] { replaceWithCopy(from, destination); };
        try {
            co_await runOn(self->actors(), copy);
            exported = true;
        } catch (...) {
            exported = false;
        }
    } catch (...) {
        exported = false;
    }
    if (assembled)
        spawn(self->queue(), removeWorkingFile(self->deps_.actorExecutor, store, *assembled));
    self->message_ = self->localized(exported ? exportedText : exportFailedText);
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
}

// ---- Playback and removal ----

Task<void> AppModel::startPlayback(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                   LocalRecording recording, std::optional<double> time) {
    bool failed = false;
    try {
        if (!self->media_)
            throw RecordingError(RecordingError::Code::missingMedia);
        auto media = self->media_;
        auto compose = [media, store, recording] { return media->assemble(recording, *store); };
        std::filesystem::path file = co_await runOn(self->actors(), compose);
        self->playbackURL_ = file;
        if (!self->deps_.makePlayer)
            throw RecordingError(RecordingError::Code::invalidTransport);
        std::unique_ptr<AudioPlayer> player = self->deps_.makePlayer(file);
        if (!player)
            throw RecordingError(RecordingError::Code::invalidTransport);
        player->setCurrentTime(time.value_or(0));
        if (!player->prepareToPlay() || !player->play())
            throw RecordingError(RecordingError::Code::invalidTransport);
        self->player_ = std::move(player);
        self->playbackID_ = recording.id;
    } catch (...) {
        failed = true;
    }
    if (failed) {
        self->stopPlayback();
        self->message_ = self->localized(playFailedText);
    }
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
}

Task<void> AppModel::removeLocalCopy(std::shared_ptr<AppModel> self, std::shared_ptr<WorkspaceStore> store,
                                     DeviceSession session, LocalRecording recording) {
    bool removed = false;
    try {
        Uuid id = recording.id;
        std::string account = session.account.id;
        auto remove = [store, id, account] { store->deleteRecording(id, account); };
        co_await runOn(self->actors(), remove);
        removed = true;
    } catch (...) {
        removed = false;
    }
    if (removed) {
        auto& list = self->recordings_;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const LocalRecording& listed) { return listed.id == recording.id; }),
                   list.end());
        self->selectedID_ = list.empty() ? std::nullopt : std::optional<Uuid>(list.front().id);
        self->message_ = self->localized(removedText);
    } else {
        self->message_ = self->localized(removeFailedText);
    }
    self->busy_ = false;
    self->notifyChange();
    self->scheduleQueueWakeup();
}

} // namespace nuvel
