#include "Nuvel/model/localaudio/LocalPlayback.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

namespace {
// How often a playing player is asked whether it has played out.
constexpr double watchSeconds = 0.25;

// What the tick reads from the player.
struct PlayerReading {
    bool ended = false;
    bool playing = false;
};
} // namespace

LocalPlayback::~LocalPlayback() {
    stopWatching();
}

void LocalPlayback::togglePlayback(std::optional<double> at) {
    ModelState& state = ctx_.state;
    const LocalRecording* recording = state.recordingMatching(state.selectedID);
    if (!recording)
        return;
    TaskHandle previous = playerWork_;
    if (state.playbackID == recording->id && player_) {
        playerWork_ = ctx_.tasks.start(drivePlayer(ctx_.hold(), previous, player_, at));
        return;
    }
    LocalRecording copy = *recording;
    stopPlayback();
    state.busy = true;
    ctx_.notifyChange();
    previous = playerWork_;
    playerWork_ = ctx_.tasks.start(startPlayback(ctx_.hold(), previous, state.store, std::move(copy), at));
}

Task<void> LocalPlayback::drivePlayer([[maybe_unused]] ModelContext::Hold hold, TaskHandle previous,
                                      std::shared_ptr<AudioPlayer> player, std::optional<double> at) {
    if (previous.isValid())
        co_await previous.join();
    // Played out and released meanwhile: the pane already offers to play it again.
    if (player_ != player)
        co_return;
    auto job = [player, at] {
        if (at) {
            player->setCurrentTime(*at);
            player->play();
        } else if (player->isPlaying()) {
            player->pause();
        } else {
            player->play();
        }
        return player->isPlaying();
    };
    Outcome<bool> driven = co_await attemptOn(ctx_.actors(), job);
    // Still the loaded player: what it does now is what the windows show.
    if (player_ == player)
        ctx_.state.playbackPlaying = driven.ok() && driven.value();
    driven.drop("driving the player");
    ctx_.notifyChange();
}

void LocalPlayback::startWatching() {
    stopWatching();
    // Cancelled by the stop of playback, and at the latest as the model goes.
    watch_ = ctx_.queue().startRepeatingTimer(watchSeconds, [this] { watchTick(); });
}

void LocalPlayback::stopWatching() {
    if (watch_)
        ctx_.queue().cancelTimer(*watch_);
    watch_.reset();
}

void LocalPlayback::watchTick() {
    // Paused, nothing changes until the user plays again; a reading still running answers first.
    if (!player_ || !ctx_.state.playbackPlaying || reading_)
        return;
    reading_ = true;
    TaskHandle previous = playerWork_;
    playerWork_ = ctx_.tasks.start(readPlayer(ctx_.hold(), previous, player_));
}

Task<void> LocalPlayback::readPlayer([[maybe_unused]] ModelContext::Hold hold, TaskHandle previous,
                                     std::shared_ptr<AudioPlayer> player) {
    if (previous.isValid())
        co_await previous.join();
    auto read = [player] { return PlayerReading{player->reachedEnd(), player->isPlaying()}; };
    Outcome<PlayerReading> readOut = co_await attemptOn(ctx_.actors(), read);
    reading_ = false;
    // Stopped or replaced meanwhile: the reading is of a player that is no longer shown.
    if (player_ != player || !readOut.ok()) {
        readOut.drop("reading the player");
        co_return;
    }
    const PlayerReading reading = readOut.value();
    if (reading.ended) {
        // Heard to its end: the sound output closes and the clear copy goes, as after a stop.
        stopPlayback();
        ctx_.notifyChange();
    } else if (reading.playing != ctx_.state.playbackPlaying) {
        ctx_.state.playbackPlaying = reading.playing;
        ctx_.notifyChange();
    }
}

void LocalPlayback::stopPlayback() {
    stopWatching();
    std::shared_ptr<AudioPlayer> player = std::move(player_);
    ctx_.state.playbackID.reset();
    ctx_.state.playbackPlaying = false;
    std::optional<std::filesystem::path> file = std::exchange(playbackURL_, std::nullopt);
    std::shared_ptr<WorkspaceStore> store = file ? ctx_.state.store : nullptr;
    if (!store)
        file.reset();
    if (!player && !file)
        return;
    TaskHandle previous = playerWork_;
    playerWork_ = ctx_.tasks.start(releasePlayer(ctx_.hold(), previous, std::move(player), store, file));
}

Task<void> LocalPlayback::releasePlayer([[maybe_unused]] ModelContext::Hold hold, TaskHandle previous,
                                        std::shared_ptr<AudioPlayer> player,
                                        std::shared_ptr<WorkspaceStore> store,
                                        std::optional<std::filesystem::path> file) {
    if (previous.isValid())
        co_await previous.join();
    if (player) {
        // The player goes on the executor too: releasing its sound output may wait for the server.
        auto release = [player = std::move(player)]() mutable {
            player->stop();
            player.reset();
        };
        Outcome<void> released = co_await attemptOn(ctx_.actors(), release);
        released.drop("stopping the player");
    }
    if (file && store) {
        std::filesystem::path clear = *file;
        auto remove = [store, clear] { store->removeWorkingFiles(clear); };
        Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
        // A working file left behind goes with its recording's folder.
        removed.drop("removing the playback file");
    }
}

Task<void> LocalPlayback::startPlayback([[maybe_unused]] ModelContext::Hold hold, TaskHandle previous,
                                        std::shared_ptr<WorkspaceStore> store, LocalRecording recording,
                                        std::optional<double> at) {
    if (previous.isValid())
        co_await previous.join();
    std::shared_ptr<MediaAssembler> media = ctx_.deps.media;
    auto compose = [media, store, recording] {
        if (!media)
            throw RecordingError(RecordingError::Code::missingMedia);
        return media->assemble(recording, *store);
    };
    Outcome<std::filesystem::path> composed = co_await attemptOn(ctx_.actors(), compose);
    bool playing = false;
    if (composed.ok()) {
        playbackURL_ = composed.value();
        AudioPlayerFactory factory = ctx_.deps.makePlayer;
        std::filesystem::path file = composed.value();
        auto make = [factory, file, at] {
            if (!factory)
                throw RecordingError(RecordingError::Code::invalidTransport);
            std::shared_ptr<AudioPlayer> player = factory(file);
            if (!player)
                throw RecordingError(RecordingError::Code::invalidTransport);
            player->setCurrentTime(at.value_or(0));
            if (!player->prepareToPlay() || !player->play())
                throw RecordingError(RecordingError::Code::invalidTransport);
            return player;
        };
        Outcome<std::shared_ptr<AudioPlayer>> made = co_await attemptOn(ctx_.actors(), make);
        if (made.ok()) {
            player_ = std::move(made.value());
            ctx_.state.playbackID = recording.id;
            ctx_.state.playbackPlaying = true;
            playing = true;
            startWatching();
        } else {
            made.drop("starting the player");
        }
    } else {
        composed.drop("composing the playback file");
    }
    if (!playing) {
        stopPlayback();
        ctx_.writeMessageAbout(StatusText::playFailed, recording.id);
    }
    ctx_.state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

} // namespace nuvel
