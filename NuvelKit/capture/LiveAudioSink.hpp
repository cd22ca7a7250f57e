#pragma once

#include "NuvelKit/capture/CaptureTimeline.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <span>

namespace nuvel {

// What the capture sources need of the recording store's live segment writer. The operations
// are the store's own (an actor: synchronous, serialised, may block on the disk), so they are
// called from the consumer threads and, for the drains, through an executor off the main thread.
class LiveAudioSink {
public:
    virtual ~LiveAudioSink() = default;

    // Appends mono samples at `sampleRate` to the recording's live file, opening one when none
    // is open and cutting it every five seconds of audio.
    virtual void appendLiveAudio(std::span<const float> samples, double sampleRate,
                                 const Uuid& recordingID) = 0;
    // Closes the open live file into a sealed segment of the recording (nothing open: nothing
    // changes) and returns the recording as saved.
    virtual LocalRecording finishLiveSegment(const Uuid& recordingID) = 0;
    // Stores the timeline as the recording's sourceTimeline and saves the manifest.
    virtual void setSourceTimeline(const CaptureTimeline& timeline, const Uuid& recordingID) = 0;
};

} // namespace nuvel
