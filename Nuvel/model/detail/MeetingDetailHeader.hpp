#pragma once

// What the detail screen's header and playback bar show for the meeting on screen: title,
// subtitle, the notes provenance, the stale-notes banner, the status line, and the playback
// bar's controls and texts.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace nuvel::meetingdetail {

struct MeetingDetailHeader {
    std::string title;      // "Untitled meeting" for an empty title
    std::string provenance; // two lines: the notes' source and the transcript shown
    std::string subtitle;   // recording time and duration joined by " · "; hidden when empty
    bool staleBanner = false;
    std::string status; // the notes status sentence while notes are not ready; hidden when empty

    // `display` is the copy drawn (the original layer's words when that is shown); the banner is
    // shown for stale notes unless it was dismissed for this meeting.
    static MeetingDetailHeader make(const MeetingDetailSnapshot& display,
                                    const std::optional<std::string>& dismissedStaleID,
                                    const DetailLocale& locale = {});
};

// The playback bar for one tick of the model.
struct PlaybackBar {
    bool playing = false;
    bool controlsEnabled = false; // play, seek and speed
    bool barHidden = true;
    bool separatorHidden = true;
    std::int64_t sliderMaximum = 1; // the duration from 2 ms on, else 1
    std::int64_t sliderValue = 0;
    std::string label;                      // "position / duration"
    std::string tooltip;                    // the label's; empty while audio is available
    std::optional<std::string> audioStatus; // why the audio cannot be played; hidden when none
    std::string playTitle;                  // "Pause" while playing, else "Play"

    static PlaybackBar make(bool playing, std::int64_t positionMS, std::int64_t durationMS,
                            bool audioAvailable, const MeetingDetailSnapshot* shown,
                            const DetailLocale& locale = {});
};

} // namespace nuvel::meetingdetail
