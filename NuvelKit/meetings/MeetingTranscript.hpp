#pragma once

// One layer of a meeting's transcript ("raw", also read as "original", or "corrected"), decoded
// and encoded by the rules of the library documents. Nothing ties the fields together: a word may
// name an unknown speaker, end before it starts or lie beyond the duration; each reader decides.

#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// One timed word. Positions are milliseconds of media time.
struct MeetingWord {
    std::string id;
    std::string text;
    std::int64_t start_ms = 0;
    std::int64_t end_ms = 0;
    std::optional<std::string> speaker; // a key of the transcript's speakers
    std::optional<bool> overlap;

    // Starts at zero or later and ends after it starts.
    bool hasTiming() const { return start_ms >= 0 && start_ms < end_ms; }

    static MeetingWord fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingWord decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingWord& a, const MeetingWord& b);
};

struct MeetingSpeaker {
    std::string label;

    static MeetingSpeaker fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingSpeaker decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingSpeaker& a, const MeetingSpeaker& b);
};

struct MeetingTranscript {
    std::int64_t version = 0;
    std::vector<MeetingWord> words;                 // transcript order
    std::map<std::string, MeetingSpeaker> speakers; // by speaker id

    static MeetingTranscript fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingTranscript decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingTranscript& a, const MeetingTranscript& b);
};

struct MeetingTranscriptDocument {
    std::int64_t contract_version = 0;
    std::string layer;
    std::int64_t revision = 0;
    std::int64_t original_revision = 0;
    std::int64_t duration_ms = 0;
    std::optional<MeetingJSON> speaker_warning; // JSON null there means absent
    MeetingTranscript transcript;
    std::optional<MeetingJSON> corrections; // JSON null there means absent
    MeetingAccess access;

    // Contract version 1, original revision 1, no speaker warning and no corrections.
    static MeetingTranscriptDocument make(std::string layer, std::int64_t revision, std::int64_t duration_ms,
                                          MeetingTranscript transcript, MeetingAccess access);

    // The label of that speaker; empty when the id is absent or not among the speakers.
    std::string speakerLabel(const std::optional<std::string>& speakerID) const;

    // The first word, in transcript order, with 0 <= start_ms <= position < end_ms; nullptr when
    // no word covers the position. The pointer is valid while this document lives unchanged.
    const MeetingWord* word(std::int64_t position) const;

    static MeetingTranscriptDocument fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingTranscriptDocument decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingTranscriptDocument& a, const MeetingTranscriptDocument& b);
};

} // namespace nuvel
