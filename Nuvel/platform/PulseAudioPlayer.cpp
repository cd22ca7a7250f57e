#include "Nuvel/platform/PulseAudioPlayer.hpp"

#include "Nuvel/model/Outcome.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace nuvel {

namespace {

constexpr double decodeAheadSeconds = 1.0;  // the most the buffer holds
constexpr double serverBufferSeconds = 0.2; // what the server keeps queued
constexpr double startSeconds = 0.25;       // buffered before a (re)start lets audio flow
constexpr std::size_t chunkFrames = 2048;   // decoded per step
constexpr auto startWait = std::chrono::milliseconds(250);
constexpr auto fullPoll = std::chrono::milliseconds(10);

} // namespace

PulseAudioPlayer::PulseAudioPlayer(std::shared_ptr<PulseConnection> connection,
                                   const std::filesystem::path& file, std::optional<std::string> sink)
    : connection_(std::move(connection)), sink_(std::move(sink)), decoder_(file),
      duration_(decoder_.duration()), sampleRate_(decoder_.sampleRate()),
      buffer_(std::uint32_t(decoder_.channels()), std::size_t(decoder_.sampleRate() * decodeAheadSeconds)) {}

PulseAudioPlayer::~PulseAudioPlayer() {
    // The stream first: once it is closed the filler no longer reads the buffer.
    stream_.reset();
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

bool PulseAudioPlayer::prepareToPlay() {
    if (!prepared_) {
        worker_ = std::jthread([this](std::stop_token stop) { decodeLoop(stop); });
        prepared_ = true;
    }
    if (stream_ && !streamFailed_)
        return true;
    return openStream(true);
}

bool PulseAudioPlayer::openStream(bool corked) {
    stream_.reset();
    streamFailed_ = false;
    if (!connection_)
        return false;
    // A new stream starts empty: the audio starts again where it was heard.
    restartAt(position_);
    PulsePlaybackStream::Options options;
    options.sampleRate = std::uint32_t(sampleRate_);
    options.channels = buffer_.channels();
    options.sink = sink_;
    options.bufferSeconds = serverBufferSeconds;
    options.startCorked = corked;
    options.streamName = "Nuvel player";
    try {
        stream_ = std::make_unique<PulsePlaybackStream>(
            connection_, options, [this](float* out, std::uint32_t frames) { buffer_.fill(out, frames); },
            [this] { streamFailed_ = true; });
    } catch (const PulseError&) {
        return false;
    }
    return true;
}

// Drops what is buffered and heard ahead and decodes from `seconds` at the current rate.
void PulseAudioPlayer::restartAt(double seconds) {
    std::uint64_t generation = ++generation_;
    // The buffer moves to the new generation before the decoder hears of it, so that nothing
    // decoded for the old one gets in.
    buffer_.restart(generation);
    {
        std::lock_guard lock(controlMutex_);
        request_ = Request{generation, seconds, rate_};
    }
    control_.notify_all();
    if (stream_ && !streamFailed_) {
        try {
            stream_->flush();
        } catch (const PulseError&) {
            streamFailed_ = true;
        }
    }
    buffer_.waitForData(std::size_t(sampleRate_ * startSeconds), startWait);
    buffer_.resume();
    segmentStart_ = seconds;
    segmentRate_ = rate_;
    position_ = seconds;
}

bool PulseAudioPlayer::play() {
    if (!prepared_ && !prepareToPlay())
        return false;
    update();
    if (playing_)
        return true;
    if (reachedEnd_) {
        // Played out: a new play starts from the beginning.
        reachedEnd_ = false;
        position_ = 0;
        restartAt(0);
    }
    if (!stream_ || streamFailed_) {
        if (!openStream(false))
            return false;
    } else {
        try {
            stream_->setCorked(false);
        } catch (const PulseError&) {
            streamFailed_ = true;
            return false;
        }
    }
    playing_ = true;
    return true;
}

void PulseAudioPlayer::pause() {
    update();
    if (!playing_)
        return;
    playing_ = false;
    if (stream_ && !streamFailed_) {
        try {
            stream_->setCorked(true);
        } catch (const PulseError&) {
            streamFailed_ = true;
        }
    }
}

void PulseAudioPlayer::stop() {
    update();
    playing_ = false;
    // The next play opens a new stream and decodes again from `position_`.
    stream_.reset();
}

bool PulseAudioPlayer::isPlaying() const {
    update();
    return playing_;
}

double PulseAudioPlayer::currentTime() const {
    update();
    return position_;
}

bool PulseAudioPlayer::reachedEnd() const {
    update();
    return reachedEnd_;
}

void PulseAudioPlayer::setCurrentTime(double seconds) {
    update();
    seconds = std::isfinite(seconds) ? std::clamp(seconds, 0.0, duration_) : 0.0;
    reachedEnd_ = false;
    position_ = seconds;
    if (prepared_)
        restartAt(seconds);
}

void PulseAudioPlayer::setRate(double rate) {
    rate = std::isfinite(rate) ? std::clamp(rate, minimumRate, maximumRate) : 1.0;
    if (rate == rate_)
        return;
    update();
    rate_ = rate;
    if (prepared_ && !reachedEnd_)
        restartAt(position_);
}

// Brings the time and the play state up to what the server has played.
void PulseAudioPlayer::update() const {
    if (!playing_)
        return;
    if (!stream_ || streamFailed_) {
        playing_ = false;
        return;
    }
    double latency = stream_->latencySeconds();
    PlaybackBuffer::Progress progress = buffer_.progress();
    if (latency <= 0 || progress.fileStart == PlaybackBuffer::none) {
        // No timing yet, or nothing of the audio handed out yet: the time stays.
        if (progress.endAt == PlaybackBuffer::none)
            return;
    }
    double heard = double(progress.written) - latency * sampleRate_;
    if (progress.fileStart != PlaybackBuffer::none) {
        double frames = std::clamp(heard - double(progress.fileStart), 0.0, double(progress.fileFrames));
        double time = std::min(segmentStart_ + frames / sampleRate_ * segmentRate_, duration_);
        position_ = std::max(position_, time);
    }
    if (progress.endAt != PlaybackBuffer::none && latency > 0 && heard >= double(progress.endAt)) {
        reachedEnd_ = true;
        playing_ = false;
        position_ = duration_;
        try {
            stream_->setCorked(true);
        } catch (const PulseError&) {
        }
    }
}

void PulseAudioPlayer::decodeLoop(std::stop_token stop) {
    const auto channels = std::size_t(decoder_.channels());
    std::vector<float> chunk(chunkFrames * channels);
    std::size_t decoded = 0;     // frames in `chunk`
    std::size_t chunkOffset = 0; // of those, handed to the buffer
    std::uint64_t generation = 0;
    bool idle = true; // nothing to decode until the next request
    while (!stop.stop_requested()) {
        Request request;
        {
            std::unique_lock lock(controlMutex_);
            auto changed = [&] { return request_.generation != generation; };
            if (idle)
                control_.wait(lock, stop, changed);
            else if (chunkOffset < decoded) // the buffer was full
                control_.wait_for(lock, stop, fullPoll, changed);
            if (stop.stop_requested())
                return;
            if (changed())
                request = request_;
        }
        if (request.generation != 0) {
            generation = request.generation;
            decoded = chunkOffset = 0;
            const Outcome<void> sought = attemptNow([&] {
                if (decoder_.rate() != request.rate)
                    decoder_.setRate(request.rate);
                decoder_.seek(request.position);
            });
            idle = !sought.ok();
            if (idle) {
                // A file that cannot seek or filter plays nothing more from here.
                sought.drop("seeking the played file");
                buffer_.finish(generation);
            }
            continue;
        }
        if (idle)
            continue;
        if (chunkOffset == decoded) {
            chunkOffset = 0;
            const auto read = attemptNow([&] { return decoder_.read(chunk); });
            read.drop("decoding the played file"); // damage beyond repair ends the audio there
            decoded = read.ok() ? read.value() : 0;
            if (decoded == 0) {
                buffer_.finish(generation);
                idle = true;
                continue;
            }
        }
        PlaybackBuffer::Pushed pushed =
            buffer_.push(generation, chunk.data() + chunkOffset * channels, decoded - chunkOffset);
        if (pushed.stale) {
            chunkOffset = decoded;
            idle = true; // a new request is on its way
        } else {
            chunkOffset += pushed.frames;
        }
    }
}

AudioPlayerFactory makePulseAudioPlayerFactory(std::shared_ptr<PulseConnection> connection) {
    return [connection](const std::filesystem::path& file) -> std::unique_ptr<AudioPlayer> {
        return std::make_unique<PulseAudioPlayer>(connection, file);
    };
}

} // namespace nuvel
