#pragma once

#include "Nuvel/model/AudioPlayer.hpp"
#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace nuvel {

class Failure;

// Playing the open meeting's audio: the first play downloads it whole into the playback folder
// and starts a player at the chosen speed; later plays pause, resume or seek; a 0.1 s tick
// publishes the position through the context's tick observer.
class CloudLibraryPlayback {
public:
    CloudLibraryPlayback(CloudLibraryContext& context, CloudLibrarySteps& steps);
    // Stops the tick and releases the player and its file off the main thread.
    ~CloudLibraryPlayback();
    CloudLibraryPlayback(const CloudLibraryPlayback&) = delete;
    CloudLibraryPlayback& operator=(const CloudLibraryPlayback&) = delete;

    // Tasks started before stop writing nothing; the library calls it before it goes.
    void detach() { anchor_->part = nullptr; }

    // See CloudMeetingModel::play, setSpeed and stopPlayback.
    void play(std::optional<std::int64_t> positionMilliseconds);
    void setSpeed(float speed);
    void stopPlayback();

private:
    using AnchorRef = PartAnchorRef<CloudLibraryPlayback>;

    static Task<void> downloadAndPlay(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                      std::string meetingID, DeviceSession session,
                                      std::filesystem::path cacheRoot, std::optional<std::int64_t> position);
    static Task<void> playbackFailed(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                     std::string meetingID, Failure failure);
    static Task<void> drivePlayer(AnchorRef anchor, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                  Uuid playbackGeneration, std::optional<std::int64_t> position);
    static Task<void> applyRate(Executor& actors, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                double rate);
    static Task<void> readPlayer(AnchorRef anchor, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                 Uuid playbackGeneration);
    // Stops and drops the player after the work before it, then deletes the file; runs to its end
    // even when the library is gone.
    static Task<void> releasePlayer(Executor& actors, TaskHandle previous,
                                    std::shared_ptr<AudioPlayer> player,
                                    std::optional<std::filesystem::path> file);
    void startPlaybackTimer();
    void playbackTick();

    CloudLibraryContext& ctx_;
    CloudLibrarySteps& steps_;
    AnchorRef anchor_;

    std::shared_ptr<AudioPlayer> player_;
    // The newest player operation; each waits for the one before.
    TaskHandle playerWork_;
    bool tickRunning_ = false;
    std::optional<std::filesystem::path> audioURL_;
    std::optional<MainQueue::TimerId> playbackTimer_;
    std::optional<std::string> loadedAudioID_;
    Uuid playbackGeneration_ = Uuid::random();
};

} // namespace nuvel
