#include "NuvelKit/capture/AudioRing.hpp"

#include "NuvelKit/capture/CaptureLosses.hpp"
#include "NuvelKit/store/RecordingError.hpp"

namespace nuvel {

AudioRing::AudioRing(std::uint32_t slots, std::uint32_t framesPerSlot)
    : ring_(ring::create(slots, framesPerSlot)), capacity_(framesPerSlot), slots_(slots) {
    if (ring_ == nullptr) {
        throw RecordingError(RecordingError::Code::invalidTransport);
    }
}

AudioRing::~AudioRing() {
    ring::destroy(ring_);
}

bool AudioRing::counted(bool stored, std::uint32_t frames) noexcept {
    if (!stored)
        CaptureLossTally::shared().addRingRefusedFrames(frames);
    return stored;
}

bool AudioRing::acceptable(const PcmBuffer& buffer) noexcept {
    return buffer.format == PcmSampleFormat::float32 && !buffer.interleaved &&
           buffer.floatChannelData != nullptr;
}

bool AudioRing::write(const PcmBuffer& buffer, double hostTime) noexcept {
    if (!acceptable(buffer)) {
        ring::markOverflow(ring_);
        return counted(false, buffer.frameLength);
    }
    return counted(ring::push(ring_, buffer.floatChannelData, buffer.channelCount, buffer.frameLength,
                              hostTime, buffer.sampleRate),
                   buffer.frameLength);
}

bool AudioRing::writeUntimed(const PcmBuffer& buffer) noexcept {
    if (!acceptable(buffer)) {
        ring::markOverflow(ring_);
        return counted(false, buffer.frameLength);
    }
    return counted(ring::pushUntimed(ring_, buffer.floatChannelData, buffer.channelCount, buffer.frameLength),
                   buffer.frameLength);
}

bool AudioRing::push(const float* const* channels, int channelCount, std::uint32_t frameCount,
                     double hostTime, double sampleRate) noexcept {
    return counted(ring::push(ring_, channels, channelCount, frameCount, hostTime, sampleRate), frameCount);
}

std::optional<AudioRing::TimedSamples> AudioRing::read() {
    TimedSamples result;
    result.samples.assign(capacity_, 0.0f);
    const std::uint32_t n =
        ring::pop(ring_, result.samples.data(), capacity_, &result.hostTime, &result.sampleRate);
    if (n == 0) {
        return std::nullopt;
    }
    result.samples.resize(n);
    return result;
}

std::optional<std::vector<float>> AudioRing::readSamples() {
    std::vector<float> samples(capacity_, 0.0f);
    const std::uint32_t n = ring::popFrames(ring_, samples.data(), capacity_);
    if (n == 0) {
        return std::nullopt;
    }
    samples.resize(n);
    return samples;
}

bool AudioRing::readSamplesInto(std::vector<float>& into) {
    const std::size_t before = into.size();
    into.resize(before + capacity_);
    const std::uint32_t n = ring::popFrames(ring_, into.data() + before, capacity_);
    into.resize(before + n);
    return n > 0;
}

} // namespace nuvel
