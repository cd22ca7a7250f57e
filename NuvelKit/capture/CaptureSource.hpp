#pragma once

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Task.hpp"

namespace nuvel {

// A running capture source as the recording coordinator drives it: the microphone alone, or an
// application's or all system audio together with the microphone. Each source is started
// through its own type; from then on the coordinator uses only this interface, on the main
// actor.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    // Seconds of audio captured so far, pauses excluded.
    virtual double duration() const = 0;
    // RMS level of the newest microphone buffer, 0...1 (0 while paused).
    virtual double microphoneLevel() const = 0;
    // RMS level of the newest application or system buffer, 0...1 (always 0 for the microphone
    // source).
    virtual double systemLevel() const = 0;
    // The source is still capturing: no audio lost and every used source delivering.
    virtual bool isHealthy() const = 0;

    // Stops accepting audio and finishes the current live segment; the recording as the store
    // then holds it.
    virtual Task<LocalRecording> pause() = 0;
    // Accepts audio again (a new live segment begins with the next audio). Throws when the
    // source can no longer capture.
    virtual void resume() = 0;
    // Tears the capture down for good and finishes the current live segment; the recording as
    // the store then holds it.
    virtual Task<LocalRecording> stop() = 0;
};

} // namespace nuvel
