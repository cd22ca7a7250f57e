#pragma once

// Transcript corrections as the service takes them: operations against a stated revision under a
// request key that stays the same when the request is sent again, and the service's answer.

#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// One change to a transcript. The kinds the service knows are "word_text" (word_id, text),
// "speaker_label" (speaker_id, label) and "word_speaker" (word_id, speaker_id); decoding accepts any
// type and does not require the fields a kind needs.
struct MeetingRevisionOperation {
    std::string type;
    std::optional<std::string> word_id;
    std::optional<std::string> speaker_id;
    std::optional<std::string> text;
    std::optional<std::string> label;

    static MeetingRevisionOperation wordText(std::string wordID, std::string text);
    static MeetingRevisionOperation speakerLabel(std::string speakerID, std::string label);
    static MeetingRevisionOperation wordSpeaker(std::string wordID, std::string speakerID);

    static MeetingRevisionOperation fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingRevisionOperation decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingRevisionOperation& a, const MeetingRevisionOperation& b);
};

// One correction as sent. Also the pending correction of the open meeting and its sealed draft,
// so a re-sent request carries the same operation_id and the service can recognise a replay.
struct MeetingRevisionRequest {
    std::string operation_id;  // lower-case UUID text
    std::int64_t revision = 0; // the transcript revision the correction was made against
    std::vector<MeetingRevisionOperation> operations;

    static MeetingRevisionRequest make(const Uuid& operationID, std::int64_t revision,
                                       std::vector<MeetingRevisionOperation> operations);

    static MeetingRevisionRequest fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingRevisionRequest decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingRevisionRequest& a, const MeetingRevisionRequest& b);
};

// The service's answer to a correction. No equality; an operation_id that differs from the
// request's is carried as it came.
struct MeetingRevisionResult {
    std::int64_t revision = 0;
    std::string operation_id;
    bool replayed = false;

    static MeetingRevisionResult fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingRevisionResult decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

} // namespace nuvel
