#pragma once

// The detail screen's small tables and sentences: the export items, the playback speeds, the
// sentence that explains the AI notes' state, the one that explains why the audio cannot be
// played, and what copying the visible document puts on the clipboard.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace nuvel::meetingdetail {

// The items of the export pull-down, in order; the first is its untitled title item.
struct ExportItem {
    std::string_view title;
    std::string_view format; // "" for no export
};
inline constexpr std::array<ExportItem, 5> exportItems = {{
    {"", ""},
    {"Markdown", "md"},
    {"Plain text", "txt"},
    {"SRT", "srt"},
    {"VTT", "vtt"},
}};

// The format of the chosen item; "" for the title item and for an index outside the table.
std::string_view exportFormat(int itemIndex);
// "raw" while the original layer is shown, else "corrected".
std::string_view exportVariant(bool showingOriginal);

// The format and variant to ask the owner for, in that order: only when the item names a format
// and a shown snapshot allows exporting.
std::optional<std::pair<std::string, std::string>>
exportRequest(int itemIndex, const MeetingDetailSnapshot* shown, bool showingOriginal);

// The items of the speed pull-down and their rates.
inline constexpr std::array<std::string_view, 5> speedTitles = {"0.75\u00D7", "1\u00D7", "1.25\u00D7",
                                                                "1.5\u00D7", "2\u00D7"};
inline constexpr std::array<float, 5> speedRates = {0.75f, 1.0f, 1.25f, 1.5f, 2.0f};
inline constexpr int defaultSpeedIndex = 1;
// The rate of the chosen item; nothing for an index outside the table.
std::optional<float> playbackSpeed(int itemIndex);

// Notes state words beyond "ready", "completed", "pending", "failed" and "disabled": the notes
// are still being generated, or the workspace reached its limit of notes generation.
inline constexpr std::string_view notesRunningStatus = "running";
inline constexpr std::string_view notesLimitStatus = "limit_reached";

// The sentence for a notes state word, compared exactly.
std::string notesStatusText(std::string_view status, const DetailLocale& locale = {});

// Why the shown meeting's audio cannot be played; nothing without a snapshot or while the audio
// is available.
std::optional<std::string> audioStatusText(const MeetingDetailSnapshot* shown, bool audioAvailable,
                                           const DetailLocale& locale = {});

// What copying the visible document does.
struct CopyRefused {
    std::string sentence;
};
struct CopyDocument {
    std::u16string text; // put on the clipboard as plain text
    std::string sentence;
};
// Refused without a snapshot or without the export permission. Otherwise the transcript's text
// on the Transcript tab, else the notes' text with each chip put back as the text it stands for.
std::variant<CopyRefused, CopyDocument> copyDocument(const MeetingDetailSnapshot* shown, bool transcriptTab,
                                                     const DetailText& transcript, const DetailText& notes,
                                                     const DetailLocale& locale = {});

} // namespace nuvel::meetingdetail
