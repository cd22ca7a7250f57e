#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"

#include <filesystem>
#include <memory>
#include <optional>

namespace nuvel {

// Listening to a saved recording on this machine: its segments are joined into one clear
// working file that a player plays; the file lives until playback stops. While the player plays,
// a tick watches it: once the audio has been heard to its end, playback stops (the player and its
// sound output are released and the clear file removed), and a player that stopped on its own
// (its sound output went away) shows as paused.
//
// The player blocks on the sound server, so every call to it (making it, preparing, playing,
// pausing, seeking, stopping) runs on the actor executor, one after another in the order asked
// for; the main queue only waits for them.
class LocalPlayback {
public:
    LocalPlayback(ModelContext& context, UploadQueue& upload) : ctx_(context), upload_(upload) {}
    ~LocalPlayback();
    LocalPlayback(const LocalPlayback&) = delete;
    LocalPlayback& operator=(const LocalPlayback&) = delete;

    // The selected recording (the caller has checked that one is selected, a store is open and
    // the model is idle). When it is the loaded one, plays or pauses it, or seeks to `at` and
    // plays, then tells the windows; otherwise stops any playback and loads it, holding the
    // model busy meanwhile.
    void togglePlayback(std::optional<double> at);
    // Stops and releases the player and removes its clear file. Tells no observer.
    void stopPlayback();

    bool hasPlayer() const { return player_ != nullptr; }

private:
    Task<void> startPlayback(ModelContext::Hold hold, TaskHandle previous,
                             std::shared_ptr<WorkspaceStore> store, LocalRecording recording,
                             std::optional<double> at);
    Task<void> drivePlayer(ModelContext::Hold hold, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                           std::optional<double> at);
    Task<void> releasePlayer(ModelContext::Hold hold, TaskHandle previous,
                             std::shared_ptr<AudioPlayer> player, std::shared_ptr<WorkspaceStore> store,
                             std::optional<std::filesystem::path> file);
    void startWatching();
    void stopWatching();
    void watchTick();
    Task<void> readPlayer(ModelContext::Hold hold, TaskHandle previous, std::shared_ptr<AudioPlayer> player);

    ModelContext& ctx_;
    UploadQueue& upload_;
    std::shared_ptr<AudioPlayer> player_;
    // The clear working file being played; set while the player is made, so a failure removes it.
    std::optional<std::filesystem::path> playbackURL_;
    // The newest player operation; each waits for the one before.
    TaskHandle playerWork_;
    // The tick that watches the loaded player, and whether its last reading is still running.
    std::optional<MainQueue::TimerId> watch_;
    bool reading_ = false;
};

} // namespace nuvel
