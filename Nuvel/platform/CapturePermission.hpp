#pragma once

#include "NuvelKit/support/Task.hpp"

namespace nuvel {

// The permissions a recording asks for before it starts: capturing other applications' and the
// system's audio, and the microphone. A Linux desktop lets every application record what the
// sound server offers, so this one grants everything without asking; tests answer otherwise.
//
// Main actor.
class CapturePermission {
public:
    virtual ~CapturePermission() = default;

    // Whether application and system audio may be captured, asked without prompting.
    virtual bool preflightScreenCapture() { return true; }
    // Asks the user for it; the answer.
    virtual bool requestScreenCapture() { return true; }
    // Asks for the microphone; completes with the answer.
    virtual Task<bool> requestMicrophoneAccess();
};

} // namespace nuvel
