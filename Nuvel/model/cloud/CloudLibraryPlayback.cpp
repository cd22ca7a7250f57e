// Playing the open meeting's audio: the first play downloads it whole into the playback folder
// and starts a player at the chosen speed; later plays pause, resume or seek; a 0.1 s tick
// publishes the position. The player may wait for the sound server, so every operation on it
// runs on the actor executor, each after the one before; the main queue only waits for them.
#include "Nuvel/model/cloud/CloudLibraryPlayback.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
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

CloudLibraryPlayback::CloudLibraryPlayback(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps),
      anchor_(std::make_shared<PartAnchor<CloudLibraryPlayback>>(PartAnchor<CloudLibraryPlayback>{this})) {}

CloudLibraryPlayback::~CloudLibraryPlayback() {
    anchor_->part = nullptr;
    if (playbackTimer_)
        ctx_.deps.mainQueue->cancelTimer(*playbackTimer_);
    if (player_ || audioURL_)
        spawn(*ctx_.deps.mainQueue, releasePlayer(ctx_.actors(), playerWork_, std::move(player_), audioURL_));
}

void CloudLibraryPlayback::stopPlayback() {
    ctx_.requireMain("CloudLibrary::stopPlayback");
    playbackGeneration_ = Uuid::random();
    if (playbackTimer_) {
        ctx_.deps.mainQueue->cancelTimer(*playbackTimer_);
        playbackTimer_.reset();
    }
    tickRunning_ = false;
    ctx_.state.isPlaying = false;
    loadedAudioID_.reset();
    ctx_.state.playbackMilliseconds = 0;
    std::optional<fs::path> file = std::exchange(audioURL_, std::nullopt);
    if (!player_ && !file)
        return;
    // Releasing the player may wait for the sound server and deleting the file for the disk:
    // both run off the main thread, after the player's earlier work. A file left behind goes with
    // the next clean-up of the playback folder.
    TaskHandle previous = std::exchange(playerWork_, TaskHandle());
    playerWork_ = spawn(*ctx_.deps.mainQueue,
                        releasePlayer(ctx_.actors(), previous, std::move(player_), std::move(file)));
}

void CloudLibraryPlayback::setSpeed(float speed) {
    ctx_.requireMain("CloudLibrary::setSpeed");
    const float clamped = std::isnan(speed) ? float(AudioPlayer::minimumRate)
                                            : std::clamp(speed, float(AudioPlayer::minimumRate),
                                                         float(AudioPlayer::maximumRate));
    ctx_.state.speed = clamped;
    if (!player_)
        return;
    TaskHandle previous = playerWork_;
    playerWork_ = spawn(*ctx_.deps.mainQueue, applyRate(ctx_.actors(), previous, player_, double(clamped)));
}

Task<void> CloudLibraryPlayback::applyRate(Executor& actors, TaskHandle previous,
                                           std::shared_ptr<AudioPlayer> player, double rate) {
    if (previous.isValid())
        co_await previous.join();
    auto job = [player, rate] { player->setRate(rate); };
    Outcome<void> changed = co_await attemptOn(actors, job);
    // A player that cannot change its rate keeps the one it has.
    changed.drop("changing the playback rate");
}

void CloudLibraryPlayback::play(std::optional<std::int64_t> positionMilliseconds) {
    ctx_.requireMain("CloudLibrary::play");
    if (!ctx_.documentLeaseIsValid() || !ctx_.state.selectedID || !ctx_.state.session ||
        !ctx_.state.cacheRoot)
        return;
    if (!ctx_.state.audioAvailable)
        return;
    if (player_ && loadedAudioID_ == ctx_.state.selectedID) {
        TaskHandle previous = playerWork_;
        playerWork_ = spawn(*ctx_.deps.mainQueue, drivePlayer(anchor_, previous, player_, playbackGeneration_,
                                                              positionMilliseconds));
        return;
    }
    stopPlayback();
    spawn(*ctx_.deps.mainQueue,
          downloadAndPlay(anchor_, ctx_.state.generation, playbackGeneration_, *ctx_.state.selectedID,
                          *ctx_.state.session, *ctx_.state.cacheRoot, positionMilliseconds));
}

Task<void> CloudLibraryPlayback::drivePlayer(AnchorRef anchor, TaskHandle previous,
                                             std::shared_ptr<AudioPlayer> player, Uuid playbackGeneration,
                                             std::optional<std::int64_t> position) {
    if (previous.isValid())
        co_await previous.join();
    CloudLibraryPlayback* self = anchor->part;
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
    Outcome<bool> driven = co_await attemptOn(self->ctx_.actors(), job);
    driven.drop("driving the player");
    const bool playing = driven.ok() && driven.value();
    self = anchor->part;
    if (!self || self->playbackGeneration_ != playbackGeneration)
        co_return;
    self->ctx_.state.isPlaying = playing;
    self->ctx_.notify();
}

Task<void> CloudLibraryPlayback::downloadAndPlay(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                                 std::string meetingID, DeviceSession session,
                                                 fs::path cacheRoot, std::optional<std::int64_t> position) {
    CloudLibraryPlayback* self = anchor->part;
    if (!self)
        co_return;
    auto wanted = [&anchor, &self, &generation, &playbackGeneration, &meetingID] {
        self = anchor->part;
        return self && self->ctx_.isCurrentMeeting(generation, meetingID) &&
               self->playbackGeneration_ == playbackGeneration;
    };
    Executor& actors = self->ctx_.actors();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
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

    AudioPlayerFactory factory = self->ctx_.deps.makePlayer;
    const double rate = double(self->ctx_.state.speed);
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
    self->ctx_.state.isPlaying = true;
    self->startPlaybackTimer();
    self->ctx_.notify();
}

Task<void> CloudLibraryPlayback::playbackFailed(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                                std::string meetingID, Failure failure) {
    CloudLibraryPlayback* self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation) ||
        self->playbackGeneration_ != playbackGeneration)
        co_return;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 403) {
        std::vector<std::string> ids{meetingID};
        co_await self->steps_.revokeMeetings(ids);
        self = anchor->part;
        if (!self || !self->ctx_.isCurrentGeneration(generation))
            co_return;
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::audioAccessRemoved);
    } else if (status == 404 || status == 410) {
        self->ctx_.state.audioAvailable = false;
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::audioExpired);
    } else {
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::audioNotLoaded);
    }
    self->ctx_.notify();
}

void CloudLibraryPlayback::startPlaybackTimer() {
    if (playbackTimer_)
        ctx_.deps.mainQueue->cancelTimer(*playbackTimer_);
    std::weak_ptr<PartAnchor<CloudLibraryPlayback>> weak = anchor_;
    playbackTimer_ = ctx_.deps.mainQueue->startRepeatingTimer(tickSeconds, [weak] {
        if (AnchorRef anchor = weak.lock(); anchor && anchor->part)
            anchor->part->playbackTick();
    });
}

void CloudLibraryPlayback::playbackTick() {
    // A tick that finds the one before still reading skips: the reads never pile up.
    if (tickRunning_)
        return;
    if (!player_) {
        ctx_.state.playbackMilliseconds = 0;
        ctx_.state.isPlaying = false;
        if (ctx_.onPlaybackTick)
            ctx_.onPlaybackTick();
        return;
    }
    tickRunning_ = true;
    TaskHandle previous = playerWork_;
    playerWork_ = spawn(*ctx_.deps.mainQueue, readPlayer(anchor_, previous, player_, playbackGeneration_));
}

Task<void> CloudLibraryPlayback::readPlayer(AnchorRef anchor, TaskHandle previous,
                                            std::shared_ptr<AudioPlayer> player, Uuid playbackGeneration) {
    if (previous.isValid())
        co_await previous.join();
    CloudLibraryPlayback* self = anchor->part;
    if (!self)
        co_return;
    auto read = [player] { return PlayerReading{player->currentTime(), player->isPlaying()}; };
    Outcome<PlayerReading> readOut = co_await attemptOn(self->ctx_.actors(), read);
    readOut.drop("reading the player");
    const PlayerReading reading = readOut.ok() ? readOut.value() : PlayerReading{};
    self = anchor->part;
    if (!self)
        co_return;
    self->tickRunning_ = false;
    if (self->playbackGeneration_ != playbackGeneration)
        co_return;
    const double milliseconds = reading.currentTime * 1000;
    self->ctx_.state.playbackMilliseconds =
        std::isfinite(milliseconds) ? std::int64_t(std::trunc(milliseconds)) : 0;
    self->ctx_.state.isPlaying = reading.playing;
    if (self->ctx_.onPlaybackTick)
        self->ctx_.onPlaybackTick();
}

Task<void> CloudLibraryPlayback::releasePlayer(Executor& actors, TaskHandle previous,
                                               std::shared_ptr<AudioPlayer> player,
                                               std::optional<fs::path> file) {
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
