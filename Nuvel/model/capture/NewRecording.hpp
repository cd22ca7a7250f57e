#pragma once

#include "Nuvel/model/CalendarMeetingDetails.hpp"
#include "NuvelKit/capture/SystemAudioSelection.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace nuvel {

// What the new-recording sheet confirmed.
struct NewRecording {
    std::string title;
    bool aiNotes = false;
    std::optional<SystemAudioSelection> source; // none: the microphone alone
    std::string sourceName;                     // the source as the sheet showed it
    std::optional<std::uint32_t> microphoneDeviceID;
    std::optional<std::string> microphoneUID;
    std::optional<CalendarMeetingDetails> meeting;
};

} // namespace nuvel
