#pragma once

#include <functional>

namespace nuvel {

// Access to the microphone. Linux grants every application the sound server's sources, so the
// answer is always "granted"; the interface lets tests answer otherwise.
class MicrophonePermission {
public:
    virtual ~MicrophonePermission() = default;

    virtual bool isGranted() const { return true; }
    // Calls `completion` with the answer (at once here).
    virtual void requestAccess(std::function<void(bool granted)> completion) { completion(true); }
};

} // namespace nuvel
