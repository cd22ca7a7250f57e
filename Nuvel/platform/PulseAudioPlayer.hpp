#pragma once

#include "Nuvel/model/AudioPlayer.hpp"
#include "Nuvel/platform/PlaybackBuffer.hpp"
#include "Nuvel/platform/PulseConnection.hpp"
#include "Nuvel/platform/PulsePlaybackStream.hpp"
#include "NuvelKit/capture/AudioStreamDecoder.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace nuvel {

// The audio player on the sound server: a decoding thread reads the file ahead of playback
// (at most about a second of it) into a PlaybackBuffer, from which a float playback stream
// takes its audio. A seek or a change of rate starts the decoding again at the point heard
// and drops what the buffer and the server hold, so the change is heard at once.
//
// The current time is the frame heard now: what the filler handed to the server, less the
// server's latency, at the rate the audio was decoded for. When the stream fails (the server
// went away) the player stops playing; a later play opens a new stream.
class PulseAudioPlayer final : public AudioPlayer {
public:
    // Opens the file and reads its duration. Throws as AudioStreamDecoder does (a missing
    // file, a file that is not media, a file without audio). `sink` absent = the default sink.
    PulseAudioPlayer(std::shared_ptr<PulseConnection> connection, const std::filesystem::path& file,
                     std::optional<std::string> sink = std::nullopt);
    ~PulseAudioPlayer() override;
    PulseAudioPlayer(const PulseAudioPlayer&) = delete;
    PulseAudioPlayer& operator=(const PulseAudioPlayer&) = delete;

    bool prepareToPlay() override;
    bool play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override;
    double currentTime() const override;
    void setCurrentTime(double seconds) override;
    double duration() const override { return duration_; }
    double rate() const override { return rate_; }
    void setRate(double rate) override;
    bool reachedEnd() const override;

private:
    struct Request {
        std::uint64_t generation = 0;
        double position = 0;
        double rate = 1;
    };

    bool openStream(bool corked);
    void restartAt(double seconds);
    void update() const;
    void decodeLoop(std::stop_token stop);

    std::shared_ptr<PulseConnection> connection_;
    std::optional<std::string> sink_;
    AudioStreamDecoder decoder_; // the decoding thread's once it runs
    double duration_ = 0;
    double sampleRate_ = 0;
    PlaybackBuffer buffer_;

    // Main thread.
    std::unique_ptr<PulsePlaybackStream> stream_;
    std::uint64_t generation_ = 0;
    double rate_ = 1;
    double segmentStart_ = 0; // file time where the current generation starts
    double segmentRate_ = 1;  // the rate it was decoded at
    bool prepared_ = false;
    mutable bool playing_ = false;
    mutable bool reachedEnd_ = false;
    mutable double position_ = 0; // the last reported time; never goes back while playing

    std::atomic<bool> streamFailed_{false}; // set on the mainloop thread

    // Hands requests to the decoding thread.
    std::mutex controlMutex_;
    std::condition_variable_any control_;
    Request request_;

    std::jthread worker_; // last: stopped before the rest goes
};

// Makes PulseAudioPlayers on one connection.
AudioPlayerFactory makePulseAudioPlayerFactory(std::shared_ptr<PulseConnection> connection);

} // namespace nuvel
