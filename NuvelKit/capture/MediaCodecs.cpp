#include "NuvelKit/capture/MediaCodecs.hpp"

#include "NuvelKit/capture/AudioMediaError.hpp"
#include "NuvelKit/capture/AudioStreamDecoder.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace nuvel {

namespace fs = std::filesystem;

namespace {

std::atomic<MediaCodecsProvider> installedProvider{nullptr};

constexpr int aacRates[] = {7350, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

} // namespace

void setMediaCodecsProvider(MediaCodecsProvider provider) {
    installedProvider.store(provider, std::memory_order_release);
}

MediaCodecs& mediaCodecs() {
    MediaCodecsProvider provider = installedProvider.load(std::memory_order_acquire);
    if (provider == nullptr)
        throw MediaError(MediaError::Code::unavailable, "this program was built without media codecs");
    return provider();
}

// The audio-file classes: each call goes to the engine the codecs opened.

AudioFileInfo AudioFileInfo::load(const fs::path& path) {
    return mediaCodecs().loadInfo(path);
}

bool AudioFileInfo::hasUsableDuration() const {
    return std::isfinite(duration) && duration > 0;
}

struct AudioDecoder::State {
    std::unique_ptr<AudioDecoderEngine> engine;
};

AudioDecoder::AudioDecoder(const fs::path& path, AudioOutputFormat output, int streamIndex)
    : state_(std::make_unique<State>(State{mediaCodecs().openDecoder(path, output, streamIndex)})) {}
AudioDecoder::AudioDecoder(AudioDecoder&&) noexcept = default;
AudioDecoder& AudioDecoder::operator=(AudioDecoder&&) noexcept = default;
AudioDecoder::~AudioDecoder() = default;

const AudioTrackInfo& AudioDecoder::track() const {
    return state_->engine->track();
}
int AudioDecoder::sampleRate() const {
    return state_->engine->sampleRate();
}
int AudioDecoder::channels() const {
    return state_->engine->channels();
}
std::size_t AudioDecoder::read(std::span<float> into) {
    return state_->engine->read(into);
}
void AudioDecoder::seek(double seconds) {
    state_->engine->seek(seconds);
}

struct AudioStreamDecoder::State {
    std::unique_ptr<AudioStreamEngine> engine;
};

AudioStreamDecoder::AudioStreamDecoder(const fs::path& path)
    : state_(std::make_unique<State>(State{mediaCodecs().openStream(path)})) {}
AudioStreamDecoder::AudioStreamDecoder(AudioStreamDecoder&&) noexcept = default;
AudioStreamDecoder& AudioStreamDecoder::operator=(AudioStreamDecoder&&) noexcept = default;
AudioStreamDecoder::~AudioStreamDecoder() = default;

int AudioStreamDecoder::sampleRate() const {
    return state_->engine->sampleRate();
}
int AudioStreamDecoder::channels() const {
    return state_->engine->channels();
}
double AudioStreamDecoder::duration() const {
    return state_->engine->duration();
}
double AudioStreamDecoder::rate() const {
    return state_->engine->rate();
}
void AudioStreamDecoder::setRate(double rate) {
    state_->engine->setRate(std::isfinite(rate) ? std::clamp(rate, minimumRate, maximumRate) : 1.0);
}
void AudioStreamDecoder::seek(double seconds) {
    state_->engine->seek(std::isfinite(seconds) ? seconds : 0.0);
}
std::size_t AudioStreamDecoder::read(std::span<float> into) {
    return state_->engine->read(into);
}

M4aOutputFormat m4aOutputFormatFor(const AudioComposition& composition) {
    int highestRate = 0;
    int mostChannels = 0;
    for (const AudioComposition::Item& item : composition.items()) {
        highestRate = std::max(highestRate, item.track.sampleRate);
        mostChannels = std::max(mostChannels, item.track.channels);
    }
    M4aOutputFormat format;
    format.sampleRate = 48000;
    for (int rate : aacRates) {
        if (rate >= highestRate) {
            format.sampleRate = rate;
            break;
        }
    }
    format.channels = mostChannels >= 2 ? 2 : 1;
    return format;
}

void exportM4a(const AudioComposition& composition, const fs::path& destination,
               const M4aExportOptions& options) {
    mediaCodecs().exportM4a(composition, destination, options);
}

} // namespace nuvel
