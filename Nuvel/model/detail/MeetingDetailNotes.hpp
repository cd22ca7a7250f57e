#pragma once

// The notes of the meeting detail screen: one note per note block with its evidence in the
// transcript, and the notes text with its disclaimer, section headers and citation chips.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailStamps.hpp"
#include "Nuvel/model/detail/DetailText.hpp"
#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "NuvelKit/meetings/MeetingNoteBlock.hpp"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::meetingdetail {

// The section title of a block kind; "Notes" for a kind the screen does not know.
std::string noteTitle(std::string_view kind, const DetailLocale& locale = {});

// The evidence of one block among the transcript words (document order), first rule that
// applies: the cited word when the transcript holds it; else the words of the 12 seconds from
// the first word that ends after the cited moment and starts at most 2 seconds after it;
// else none. `notesSourceRevision` is the revision text the notes were made from and
// `notesLayer` the layer their provenance names.
std::optional<MeetingDetailSnapshot::Evidence>
noteEvidence(const MeetingNoteBlock& block, const std::vector<MeetingDetailSnapshot::Word>& words,
             const std::string& notesSourceRevision, const std::optional<std::string>& notesLayer,
             const DetailLocale& locale = {});

// One generated note per block, in block order.
std::vector<MeetingDetailSnapshot::Note> makeNotes(const std::vector<MeetingNoteBlock>& blocks,
                                                   const std::vector<MeetingDetailSnapshot::Word>& words,
                                                   const std::string& notesSourceRevision,
                                                   const std::optional<std::string>& notesLayer,
                                                   const DetailLocale& locale = {});

// The citation key of a note's evidence: note index "-" evidence index, both from 0.
std::string citationKey(std::size_t noteIndex, std::size_t evidenceIndex);

// The citation of one evidence under its key: the stamp is the label before its first " · ".
NoteCitation noteCitation(const MeetingDetailSnapshot::Evidence& evidence, const std::string& key,
                          const DetailLocale& locale = {});

// The notes view's content: the text, the evidence under each citation key of the text, and
// whether the screen moves to the transcript because there are no notes to show.
struct NotesContent {
    DetailText text;
    std::map<std::string, MeetingDetailSnapshot::Evidence> evidenceRanges;
    bool showTranscript = false;
};

NotesContent notesContent(const MeetingDetailSnapshot& display, const DetailLocale& locale = {});

} // namespace nuvel::meetingdetail
