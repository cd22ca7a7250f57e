#pragma once

#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/store/RecordingStore.hpp"

#include <memory>
#include <stdexcept>

namespace nuvel {

// The capture sources' live writer: the recording store's own operations.
class StoreLiveAudioSink final : public LiveAudioSink {
public:
    explicit StoreLiveAudioSink(std::shared_ptr<RecordingStore> store) : store_(std::move(store)) {
        if (!store_)
            throw std::invalid_argument("StoreLiveAudioSink: needs a store");
    }

    void appendLiveAudio(std::span<const float> samples, double sampleRate,
                         const Uuid& recordingID) override {
        store_->appendLiveAudio(samples, sampleRate, recordingID);
    }
    LocalRecording finishLiveSegment(const Uuid& recordingID) override {
        return store_->finishLiveSegment(recordingID);
    }
    void setSourceTimeline(const CaptureTimeline& timeline, const Uuid& recordingID) override {
        store_->setSourceTimeline(timeline, recordingID);
    }

    RecordingStore& store() const { return *store_; }

private:
    std::shared_ptr<RecordingStore> store_;
};

} // namespace nuvel
