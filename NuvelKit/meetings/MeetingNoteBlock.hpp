#pragma once

// The AI notes of a meeting as one flat list of blocks: a block for each non-blank line of a
// template's Markdown summary, and one for each action item, decision, open proposal, quote and
// other topic, with the transcript moment that supports it when one is known. The exports write
// these blocks as their Notes section, and the detail screen builds its notes view from them.

#include "NuvelKit/meetings/MeetingNotes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

struct MeetingNoteBlock {
    std::string template_; // the notes template (member of the notes object) that produced it
    std::string kind;      // "summary", or the section key ("action_items", "decisions", ...)
    std::string text;
    std::optional<std::int64_t> evidenceMS; // media position of the supporting moment
    bool flagged = false;                   // the template needs review
    std::optional<std::string> evidenceWordID;
    std::optional<std::string> sourceLayer;

    friend bool operator==(const MeetingNoteBlock&, const MeetingNoteBlock&) = default;
};

namespace MeetingExport {

// The blocks of the notes in display order: by template key, then within a template the summary
// lines in order, then the sections in their fixed order, items in array order. Empty when
// `ai_notes` is false. Never fails: malformed parts of the notes just yield fewer blocks.
std::vector<MeetingNoteBlock> noteBlocks(const MeetingNotesDocument& notes);

// A stamp of minutes and seconds ("4:05") or hours, minutes and seconds ("1:02:03") in
// milliseconds. Pieces are ASCII digits; seconds, and minutes after hours, are below 60; the
// first piece is unbounded. Nothing for any other text, or when the result does not fit an Int64.
std::optional<std::int64_t> stampMilliseconds(std::string_view text);

} // namespace MeetingExport

} // namespace nuvel
