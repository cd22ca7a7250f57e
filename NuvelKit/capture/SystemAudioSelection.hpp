#pragma once

#include <cstdint>

namespace nuvel {

// What an online-meeting recording captures besides the microphone: one application's audio
// (by its process id) or all system audio except this program's own.
struct SystemAudioSelection {
    enum class Kind { application, allSystem };

    Kind kind = Kind::allSystem;
    std::int32_t processID = 0; // meaningful for `application` only

    static SystemAudioSelection application(std::int32_t processID) {
        return SystemAudioSelection{Kind::application, processID};
    }
    static SystemAudioSelection allSystem() { return SystemAudioSelection{Kind::allSystem, 0}; }

    // Two all-system selections are equal; two application selections when the ids are.
    friend bool operator==(const SystemAudioSelection& a, const SystemAudioSelection& b) {
        if (a.kind != b.kind)
            return false;
        return a.kind == Kind::allSystem || a.processID == b.processID;
    }
};

} // namespace nuvel
