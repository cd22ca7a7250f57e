#pragma once

#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/CaptureClock.hpp"
#include "NuvelKit/capture/ConsumerRun.hpp"
#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <memory>
#include <stop_token>

namespace nuvel {

// The two halves of the microphone source that sit behind its ring: the consumer, which moves
// every slot into the recording's live segment as it comes, and the drain that pause and stop
// run to end a stretch.
struct MicrophoneConsumer {
    MicrophoneConsumer() = delete;

    // Sleep between two looks at the ring, seconds: as long as the longest, about the time the
    // microphone's pieces come apart, so that most looks find one (each append also rewrites
    // the live file's header); shorter when pieces come so short (another program asking the
    // same microphone for less latency) that a quarter of the ring could fill meanwhile. A stop
    // or pause wakes it at once.
    static constexpr double idleSleep = 0.1;
    static constexpr double shortestSleep = 0.010;

    // The body of one consumer run: appends each slot at `sampleRate` for `recordingID`, sleeps
    // when the ring is empty, and once stopped appends what is left in the ring and returns.
    // A failed append marks the ring dropped and is rethrown.
    static void run(AudioRing& ring, LiveAudioSink& store, const Uuid& recordingID, double sampleRate,
                    CaptureClock& clock, std::stop_token stop);
};

// Ends a running stretch of the microphone source, on the main actor: waits (1 ms steps) until
// no push is in flight, cancels the consumer and awaits it (which empties the ring), then
// finishes the live segment through `executor`. A consumer that failed: the segment is still
// finished (its error ignored) and the consumer's error is rethrown. A ring that lost audio:
// RecordingError(invalidTransport), after the segment was finished. Clears `consumer`.
Task<LocalRecording> drainMicrophoneCapture(std::shared_ptr<AudioRing> ring,
                                            std::unique_ptr<ConsumerRun>& consumer,
                                            std::shared_ptr<LiveAudioSink> store, Uuid recordingID,
                                            Executor& executor);

} // namespace nuvel
