#pragma once

#include "Nuvel/platform/PulseConnection.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct pa_stream;

namespace nuvel {

// A float32 playback stream. The server asks for audio through the filler, which runs on the
// connection's mainloop thread and must fill every frame it is given (interleaved, `channels`
// samples per frame) without blocking; silence is a valid answer.
class PulsePlaybackStream {
public:
    struct Options {
        std::uint32_t sampleRate = 48000;
        std::uint32_t channels = 2;
        std::optional<std::string> sink; // absent = the default sink
        double bufferSeconds = 0.1;      // the server-side buffer the stream keeps filled
        bool startCorked = false;
        std::string streamName = "Nuvel playback";
    };

    using Filler = std::function<void(float* interleaved, std::uint32_t frames)>;
    // Called once, on the mainloop thread, when the stream ends without being closed.
    using FailureHandler = std::function<void()>;

    // Opens the stream and waits until it plays (or is corked). Throws `PulseError`.
    PulsePlaybackStream(std::shared_ptr<PulseConnection> connection, Options options, Filler filler,
                        FailureHandler failure = {});
    ~PulsePlaybackStream();
    PulsePlaybackStream(const PulsePlaybackStream&) = delete;
    PulsePlaybackStream& operator=(const PulsePlaybackStream&) = delete;

    // Each waits for the server's answer and throws `PulseError`.
    void setCorked(bool corked);
    void flush(); // drops what the server still holds
    // Time until a frame written now is heard (0 before the server reported timing).
    double latencySeconds() const;

    void close();

    std::uint32_t sinkInputIndex() const { return sinkInput_; }
    double sampleRate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }

private:
    void release();
    static void onState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);

    std::shared_ptr<PulseConnection> connection_;
    Filler filler_;
    FailureHandler failure_;
    pa_stream* stream_ = nullptr;
    std::uint32_t sinkInput_ = UINT32_MAX;
    double rate_ = 0;
    std::uint32_t channels_ = 0;
    std::size_t frameBytes_ = 0;
    bool ready_ = false;
    bool closed_ = false;
    bool failed_ = false;
};

} // namespace nuvel
