#pragma once

#include <filesystem>
#include <functional>
#include <memory>

namespace nuvel {

// Plays one clear audio file (local playback). Used on the main queue.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;

    virtual bool prepareToPlay() = 0;
    virtual bool play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    virtual double currentTime() const = 0;
    virtual void setCurrentTime(double seconds) = 0;
    virtual double duration() const = 0;
};

// Makes a player for a file; throws when the file cannot be opened as audio.
using AudioPlayerFactory = std::function<std::unique_ptr<AudioPlayer>(const std::filesystem::path& file)>;

} // namespace nuvel
