#pragma once

#include <cstdint>
#include <string>

namespace nuvel {

// What the new-recording sheet offers to record from, as the sound server listed it when the
// sheet opened. The sheet shows the names and hands the chosen one's identifiers to the start
// of the recording; it never talks to the sound server itself.

// A microphone.
struct MicrophoneChoice {
    std::uint32_t id = 0; // the sound server's index of the source, valid while the source exists
    std::string name;     // as shown
    std::string uid;      // the source's name, stable across restarts: found again by this

    bool operator==(const MicrophoneChoice&) const = default;
};

// An application whose audio can be captured.
struct ApplicationChoice {
    std::int32_t id = 0; // its process id: SystemAudioSelection::application(id)
    std::string name;    // as shown
    // The identifier detection knows the application by where it has one, so that the
    // application a prompt names can be chosen first.
    std::string bundleIdentifier;

    bool operator==(const ApplicationChoice&) const = default;
};

} // namespace nuvel
