#pragma once

#include <cstdint>
#include <optional>

namespace nuvel {

// What an online-meeting recording captures besides the microphone: one application's audio,
// chosen by its process id, or all system audio. Two selections are equal when both are "all
// system audio", or both name the same process.
struct CaptureSelection {
    std::optional<std::int32_t> processID; // the application; absent = all system audio

    static CaptureSelection application(std::int32_t processID) { return CaptureSelection{processID}; }
    static CaptureSelection allSystem() { return CaptureSelection{}; }

    bool isAllSystem() const { return !processID.has_value(); }
    bool operator==(const CaptureSelection&) const = default;
};

} // namespace nuvel
