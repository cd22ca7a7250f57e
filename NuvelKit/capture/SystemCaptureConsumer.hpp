#pragma once

#include "NuvelKit/capture/AudioRing.hpp"
#include "NuvelKit/capture/CaptureClock.hpp"
#include "NuvelKit/capture/CaptureTimelineLedger.hpp"
#include "NuvelKit/capture/ConsumerRun.hpp"
#include "NuvelKit/capture/LiveAudioSink.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <stop_token>

namespace nuvel {

// The other side of the system-audio source's two rings: one consumer run per capture stretch
// places every buffer of the application (or system) ring and of the microphone ring on the
// 48000 Hz timeline (CaptureMixer), records their intervals in the ledger, renders the mix
// 0.75 s behind real time in chunks of at most 4800 frames into the recording's live segment,
// saves the timeline every 240000 committed frames and when it ends, and watches that both
// sources keep delivering.
struct SystemCaptureConsumer {
    SystemCaptureConsumer() = delete;

    static constexpr std::int64_t mixerCapacity = 144000; // 3 s: how far ahead a buffer may reach
    static constexpr double systemRate = 48000.0;         // the only rate of the system ring
    static constexpr double renderLag = 0.75;             // rendering stays this far behind now
    static constexpr std::int64_t chunkLimit = 4800;      // frames per render and per append
    static constexpr double passInterval = 0.010;         // sleep between passes
    static constexpr std::int64_t saveInterval = 240000;  // committed frames between timeline saves
    // How old the audio pushed into either ring may be. A run renders `renderLag` behind now and
    // refuses a buffer that begins before what it rendered, which ends the recording; so the
    // producers cut the part of a buffer that is older than this when they push it (a sound
    // server that holds back a fresh stream's first audio, or a thread that was kept waiting),
    // leaving a gap instead. What is left still reaches the run before it renders that far: the
    // 0.3 s between the two is how long a producer may be held up between reading the clock for
    // its cut and pushing (a busy machine keeps an ordinary thread waiting for tens of
    // milliseconds now and then).
    static constexpr double latestAge = 0.45;

    // How many leading frames of a buffer whose first frame is at `hostTime` are older than
    // `latestAge` at `now` (all of them, at most).
    static std::uint32_t staleFrames(double hostTime, std::uint32_t frames, double rate, double now) noexcept;

    // What a run is handed when it starts; it never looks at the capture object.
    struct Inputs {
        double startedAt = 0; // host seconds: start of this stretch (and its timeline span)
        std::shared_ptr<CaptureTimelineLedger> ledger;
        std::shared_ptr<LiveAudioSink> store; // null for the source check: mix and commit only
        Uuid recordingID;
        std::shared_ptr<AudioRing> system;
        bool includesMicrophone = false;
        std::shared_ptr<AudioRing> microphone; // exists also when the microphone is not included
        double microphoneRate = 0;
    };

    // The body of one run. Returns normally once stopped, after writing everything appended to
    // the mixer (also what was still inside the render lag), closing the span at the end of the
    // latest buffer and saving the timeline. Any failure (CaptureError(sourceInterrupted) for a
    // wrong rate, a ring that lost audio or a source silent for more than 2.0 s;
    // RecordingError(invalidTransport) for a buffer the mixer refuses; the store's errors) ends
    // the run the same way as far as the store allows, marks both rings dropped and is rethrown.
    static void run(const Inputs& inputs, CaptureClock& clock, std::stop_token stop);
};

// Ends a stretch of the system-audio source, on the main actor, after its caller has paused
// the rings or stopped the producers: waits (1 ms steps) until neither ring has a push in
// flight, cancels the consumer and awaits it, then finishes the live segment through `executor`.
// After a normal run: RecordingError(invalidManifest) without a store; the finishing error;
// CaptureError(sourceInterrupted) when either ring lost audio; else the finished recording.
// After a failed run: the segment is finished (result and error dropped) and the run's error
// is rethrown. Clears `consumer`.
Task<LocalRecording> drainSystemCapture(std::shared_ptr<AudioRing> microphone,
                                        std::shared_ptr<AudioRing> system,
                                        std::unique_ptr<ConsumerRun>& consumer,
                                        std::shared_ptr<LiveAudioSink> store, Uuid recordingID,
                                        Executor& executor);

} // namespace nuvel
