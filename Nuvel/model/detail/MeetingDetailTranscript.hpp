#pragma once

// The transcript text of the detail screen with the range of every word, and what the reader
// does in it: which words are selected, playing from them, jumping to a time, and selecting the
// words a citation points to.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace nuvel::meetingdetail {

using Words = std::vector<MeetingDetailSnapshot::Word>;
using WordRanges = std::unordered_map<std::string, TextRange>; // word id -> range in the transcript text

// "%d:%02d" of whole minutes and seconds: a position below -999 ms counts as 0, any other is
// divided by 1000 toward zero, so 75 minutes read 75:00.
std::string minuteClock(std::int64_t milliseconds);

struct TranscriptContent {
    DetailText text;
    WordRanges wordRanges;
};

// The transcript view's text: the words of the display copy in speaker blocks, each block headed
// by the speaker's label and the time of its first word; corrected words underlined with their
// original as tooltip. A transcript without words reads "The transcript is not available yet.".
TranscriptContent transcriptContent(const MeetingDetailSnapshot& display, const DetailLocale& locale = {});

// The indexes (in `words`) of the selected words: those with a range that overlaps a selection
// by at least one unit, or, for a caret, the word whose range holds the caret's position.
std::vector<std::size_t> selectedWords(const Words& words, const WordRanges& ranges, TextRange selection);

// Where "Play selection" plays from: 750 ms before the first selected word, never below 0;
// nothing without a selected word.
std::optional<std::int64_t> selectionPlayPosition(const Words& words,
                                                  const std::vector<std::size_t>& selected);

// Whether a correction may start: a shown snapshot that allows editing, the corrected layer, at
// least one selected word and no save in flight.
bool correctionAllowed(const MeetingDetailSnapshot* display, bool showingOriginal, std::size_t selectedCount,
                       bool saving);

// A time link: the range of the first word that ends after the time, when it has one, and the
// position to play, which is the time itself.
struct TimeJump {
    std::optional<TextRange> selection;
    std::int64_t playFrom = 0;
};
TimeJump jumpToTime(const Words& words, const WordRanges& ranges, std::int64_t milliseconds);

// Which layer a citation wants shown before its words are selected.
enum class EvidenceLayer { keep, original, corrected };
struct EvidenceRefused {
    std::string sentence;
};
// The original layer for a citation of "raw" or "original" (refused while it is not loaded or no
// snapshot is shown), the corrected layer for "corrected" with a snapshot shown, else the current.
std::variant<EvidenceLayer, EvidenceRefused> evidenceLayer(const MeetingDetailSnapshot::Evidence& evidence,
                                                           bool snapshotShown, bool originalLoaded,
                                                           const DetailLocale& locale = {});

// The cited words in the transcript shown: one selection from the first range's start to the last
// range's end, and 750 ms before the first cited word in display order as the position to play.
struct EvidenceSelection {
    TextRange selection;
    std::optional<std::int64_t> playFrom;
};
std::variant<EvidenceSelection, EvidenceRefused>
evidenceSelection(const MeetingDetailSnapshot::Evidence& evidence, const Words& words,
                  const WordRanges& ranges, const DetailLocale& locale = {});

} // namespace nuvel::meetingdetail
