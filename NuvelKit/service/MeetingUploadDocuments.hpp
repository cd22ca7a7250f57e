#pragma once

#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Url.hpp"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace nuvel {

// The answers of the meeting operations of the upload API. Decoded strictly: every key is
// required, a wrong type fails the whole document with json::JsonError, unknown keys are ignored.

// The answer to POST meetings: the new cloud meeting and how its audio is to be cut.
struct CreatedMeeting {
    std::string id;
    std::int64_t partBytes = 0; // every part but the last has this size ("part_bytes")
    std::int64_t maxParts = 0;  // "max_parts"

    bool operator==(const CreatedMeeting&) const = default;

    static CreatedMeeting fromJson(const json::Value& value, const std::string& path = "$");
};

// The answer to GET meetings/{id}: the meeting's processing state as the service names it.
struct RemoteMeeting {
    std::string id;
    std::string state;   // carried, not interpreted
    double progress = 0; // carried, not interpreted
    std::string title;
    bool titleAuto = false; // "title_auto": the service chose the title
    Url url;                // an absolute URL; text that is not one fails with invalidValue

    bool operator==(const RemoteMeeting&) const = default;

    static RemoteMeeting fromJson(const json::Value& value, const std::string& path = "$");
};

// saveNotepad stored the lines; `revision` is the service's new revision.
struct NotepadSaved {
    std::int64_t revision = 0;

    bool operator==(const NotepadSaved&) const = default;
};

// saveNotepad was refused because the service holds another revision: its current state.
struct NotepadConflicted {
    std::int64_t revision = 0;
    std::vector<NotepadLine> lines;

    bool operator==(const NotepadConflicted&) const = default;
};

using NotepadSaveResult = std::variant<NotepadSaved, NotepadConflicted>;

} // namespace nuvel
