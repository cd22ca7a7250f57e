#pragma once

#include <filesystem>
#include <functional>
#include <memory>

namespace nuvel {

// Plays one clear audio file: local playback of a recording, and the cloud player. Its
// operations may wait for the sound server: call them off the main queue, one at a time (the
// application model runs them on its actor executor, each after the one before).
class AudioPlayer {
public:
    static constexpr double minimumRate = 0.5;
    static constexpr double maximumRate = 2.0;

    virtual ~AudioPlayer() = default;

    // Readies decoding and the sound output; false when the audio cannot be played.
    virtual bool prepareToPlay() = 0;
    // Starts or continues from the current time; false when the sound output refuses.
    virtual bool play() = 0;
    virtual void pause() = 0;
    // Pauses and releases the sound output; a later play starts it again.
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // Seconds into the file of what is heard now.
    virtual double currentTime() const = 0;
    // Clamped to 0 ... duration.
    virtual void setCurrentTime(double seconds) = 0;
    virtual double duration() const = 0;
    // Playback speed without a change of pitch, clamped to minimumRate ... maximumRate.
    virtual double rate() const = 0;
    virtual void setRate(double rate) = 0;
    // The last sample has been heard; the player then no longer plays. A seek clears it.
    virtual bool reachedEnd() const = 0;
};

// Makes a player for a file; throws when the file cannot be opened as audio.
using AudioPlayerFactory = std::function<std::unique_ptr<AudioPlayer>(const std::filesystem::path& file)>;

} // namespace nuvel
