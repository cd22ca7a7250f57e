#pragma once

// The AI notes of one meeting: where they came from, the citations of their items into the
// transcript, and the open-ended notes themselves. Strict decoding as for every library document.

#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

struct MeetingNotesProvenance {
    std::string source_layer;
    std::int64_t source_revision = 0;
    std::int64_t corrected_revision = 0;
    bool stale_text = false; // the transcript text is newer than the notes' source

    static MeetingNotesProvenance fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingNotesProvenance decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingNotesProvenance& a, const MeetingNotesProvenance& b);
};

// One citation from a note item into the transcript.
struct MeetingNoteEvidence {
    std::string template_; // JSON key "template": the notes template the cited item belongs to
    std::string path;      // "/output/<section>/<index>" within that template's output
    std::int64_t start_ms = 0;
    std::string word_id;
    std::string source_layer;

    static MeetingNoteEvidence fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingNoteEvidence decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingNoteEvidence& a, const MeetingNoteEvidence& b);
};

struct MeetingNotesDocument {
    bool ai_notes = false;
    std::optional<MeetingJSON> run; // its "state" (or "status") string is the notes state
    std::optional<MeetingJSON> index;
    std::optional<MeetingJSON> notes;
    std::optional<std::string> type_template;
    std::optional<MeetingJSON> user_notes;
    MeetingNotesProvenance provenance;
    std::optional<std::vector<MeetingNoteEvidence>> evidence; // absent differs from empty

    // The members of `notes` when it is an object; an empty map otherwise.
    const MeetingJSON::Object& notesObject() const;

    static MeetingNotesDocument fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingNotesDocument decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingNotesDocument& a, const MeetingNotesDocument& b);
};

} // namespace nuvel
