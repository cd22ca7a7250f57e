// Playing the open meeting's audio: the first play downloads it whole into the playback folder
// and starts a player at the chosen speed; later plays pause, resume or seek; a 0.1 s tick
// publishes the position. The player may wait for the sound server, so every operation on it
// runs on the actor executor, each after the one before; the main queue only waits for them.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Files.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

namespace nuvel {

namespace fs = std::filesystem;

namespace {
constexpr double tickSeconds = 0.1;

// What the tick reads from the player.
struct PlayerReading {
    double currentTime = 0;
    bool playing = false;
};

void removeQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}
} // namespace

void CloudLibrary::setSpeed(float speed) {
    requireMain("CloudLibrary::setSpeed");
    const float clamped = std::isnan(speed) ? float(AudioPlayer::minimumRate)
                                            : std::clamp(speed, float(AudioPlayer::minimumRate),
                                                         float(AudioPlayer::maximumRate));
    state_.speed = clamped;
    if (!player_)
        return;
    TaskHandle previous = playerWork_;
    playerWork_ = spawn(*deps_.mainQueue, applyRate(actors(), previous, player_, double(clamped)));
}

Task<void> CloudLibrary::applyRate(Executor& actors, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                   double rate) {
    if (previous.isValid())
        co_await previous.join();
    auto job = [player, rate] { player->setRate(rate); };
    Outcome<void> changed = co_await attemptOn(actors, job);
    // A player that cannot change its rate keeps the one it has.
    changed.drop("changing the playback rate");
}

void CloudLibrary::play(std::optional<std::int64_t> positionMilliseconds) {
    requireMain("CloudLibrary::play");
    if (!documentLeaseIsValid() || !state_.selectedID || !state_.session || !state_.cacheRoot)
        return;
    if (!state_.audioAvailable)
        return;
    if (player_ && loadedAudioID_ == state_.selectedID) {
        TaskHandle previous = playerWork_;
        playerWork_ = spawn(*deps_.mainQueue, drivePlayer(anchor_, previous, player_, playbackGeneration_,
                                                          positionMilliseconds));
        return;
    }
    stopPlayback();
    spawn(*deps_.mainQueue,
          downloadAndPlay(anchor_, state_.generation, playbackGeneration_, *state_.selectedID,
                          *state_.session, *state_.cacheRoot, positionMilliseconds));
}

Task<void> CloudLibrary::drivePlayer(AnchorRef anchor, TaskHandle previous,
                                     std::shared_ptr<AudioPlayer> player, Uuid playbackGeneration,
                                     std::optional<std::int64_t> position) {
    if (previous.isValid())
        co_await previous.join();
    CloudLibrary* self = anchor->model;
    if (!self || self->playbackGeneration_ != playbackGeneration)
        co_return;
    auto job = [player, position] {
        if (position) {
            player->setCurrentTime(std::max<double>(0, double(*position) / 1000));
            player->play();
        } else if (player->isPlaying()) {
            player->pause();
        } else {
            player->play();
        }
        return player->isPlaying();
    };
    Outcome<bool> driven = co_await attemptOn(self->actors(), job);
    driven.drop("driving the player");
    const bool playing = driven.ok() && driven.value();
    self = anchor->model;
    if (!self || self->playbackGeneration_ != playbackGeneration)
        co_return;
    self->state_.isPlaying = playing;
    self->notify();
}

Task<void> CloudLibrary::downloadAndPlay(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                         std::string meetingID, DeviceSession session, fs::path cacheRoot,
                                         std::optional<std::int64_t> position) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    auto wanted = [&anchor, &self, &generation, &playbackGeneration, &meetingID] {
        self = anchor->model;
        return self && self->isCurrentMeeting(generation, meetingID) &&
               self->playbackGeneration_ == playbackGeneration;
    };
    Executor& actors = self->actors();
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const fs::path file = cacheRoot / "playback" / (Uuid::random().uppercase() + ".m4a");
    const std::string token = session.token;
    auto download = [client, meetingID, token, file](std::stop_token stop) {
        files::createOwnerOnlyDirectories(file.parent_path());
        client->downloadAudio(meetingID, token, file, stop);
    };
    Outcome<void> downloaded = co_await attemptOn(actors, download);
    if (downloaded.failed()) {
        // Nothing of a failed download is ever the file being played.
        auto remove = [file] { removeQuietly(file); };
        co_await runOn(actors, remove);
        co_await playbackFailed(anchor, generation, playbackGeneration, meetingID, downloaded);
        co_return;
    }
    if (!wanted()) {
        auto remove = [file] { removeQuietly(file); };
        co_await runOn(actors, remove);
        co_return;
    }

    AudioPlayerFactory factory = self->deps_.makePlayer;
    const double rate = double(self->state_.speed);
    auto start = [factory, file, rate, position]() -> std::shared_ptr<AudioPlayer> {
        if (!factory)
            throw RecordingError(RecordingError::Code::invalidTransport);
        std::shared_ptr<AudioPlayer> player = factory(file);
        if (!player)
            throw RecordingError(RecordingError::Code::invalidTransport);
        player->setRate(rate);
        player->setCurrentTime(position ? std::max<double>(0, double(*position) / 1000) : 0);
        if (!player->prepareToPlay() || !player->play()) {
            player->stop();
            throw RecordingError(RecordingError::Code::invalidTransport);
        }
        return player;
    };
    Outcome<std::shared_ptr<AudioPlayer>> started = co_await attemptOn(actors, start);
    if (started.failed()) {
        auto remove = [file] { removeQuietly(file); };
        co_await runOn(actors, remove);
        co_await playbackFailed(anchor, generation, playbackGeneration, meetingID, started);
        co_return;
    }
    std::shared_ptr<AudioPlayer> player = std::move(started.value());
    if (!wanted()) {
        // Stopped or superseded while the player started: it goes, with its file.
        co_await releasePlayer(actors, TaskHandle(), std::move(player), file);
        co_return;
    }
    self->audioURL_ = file;
    self->player_ = std::move(player);
    self->loadedAudioID_ = meetingID;
    self->state_.isPlaying = true;
    self->startPlaybackTimer();
    self->notify();
}

Task<void> CloudLibrary::playbackFailed(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                        std::string meetingID, Failure failure) {
    CloudLibrary* self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation) || self->playbackGeneration_ != playbackGeneration)
        co_return;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 403) {
        std::vector<std::string> ids{meetingID};
        co_await revokeMeetings(anchor, ids);
        self = anchor->model;
        if (!self || !self->isCurrentGeneration(generation))
            co_return;
        self->state_.message = self->localized(cloud_sentences::audioAccessRemoved);
    } else if (status == 404 || status == 410) {
        self->state_.audioAvailable = false;
        self->state_.message = self->localized(cloud_sentences::audioExpired);
    } else {
        self->state_.message = self->localized(cloud_sentences::audioNotLoaded);
    }
    self->notify();
}

void CloudLibrary::startPlaybackTimer() {
    if (playbackTimer_)
        deps_.mainQueue->cancelTimer(*playbackTimer_);
    std::weak_ptr<Anchor> weak = anchor_;
    playbackTimer_ = deps_.mainQueue->startRepeatingTimer(tickSeconds, [weak] {
        if (std::shared_ptr<Anchor> anchor = weak.lock(); anchor && anchor->model)
            anchor->model->playbackTick();
    });
}

void CloudLibrary::playbackTick() {
    // A tick that finds the one before still reading skips: the reads never pile up.
    if (tickRunning_)
        return;
    if (!player_) {
        state_.playbackMilliseconds = 0;
        state_.isPlaying = false;
        if (onPlaybackTick_)
            onPlaybackTick_();
        return;
    }
    tickRunning_ = true;
    TaskHandle previous = playerWork_;
    playerWork_ = spawn(*deps_.mainQueue, readPlayer(anchor_, previous, player_, playbackGeneration_));
}

Task<void> CloudLibrary::readPlayer(AnchorRef anchor, TaskHandle previous,
                                    std::shared_ptr<AudioPlayer> player, Uuid playbackGeneration) {
    if (previous.isValid())
        co_await previous.join();
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    auto read = [player] { return PlayerReading{player->currentTime(), player->isPlaying()}; };
    Outcome<PlayerReading> readOut = co_await attemptOn(self->actors(), read);
    readOut.drop("reading the player");
    const PlayerReading reading = readOut.ok() ? readOut.value() : PlayerReading{};
    self = anchor->model;
    if (!self)
        co_return;
    self->tickRunning_ = false;
    if (self->playbackGeneration_ != playbackGeneration)
        co_return;
    const double milliseconds = reading.currentTime * 1000;
    self->state_.playbackMilliseconds =
        std::isfinite(milliseconds) ? std::int64_t(std::trunc(milliseconds)) : 0;
    self->state_.isPlaying = reading.playing;
    if (self->onPlaybackTick_)
        self->onPlaybackTick_();
}

Task<void> CloudLibrary::releasePlayer(Executor& actors, TaskHandle previous,
                                       std::shared_ptr<AudioPlayer> player, std::optional<fs::path> file) {
    if (previous.isValid())
        co_await previous.join();
    // The last reference goes on the executor: closing the sound output may wait for the server.
    auto release = [player = std::move(player), file]() mutable {
        if (player) {
            // Stopping a player whose output already went changes nothing.
            attemptNow([&player] { player->stop(); }).drop("stopping the player");
            player.reset();
        }
        if (file)
            removeQuietly(*file);
    };
    co_await runOn(actors, release);
}

} // namespace nuvel
