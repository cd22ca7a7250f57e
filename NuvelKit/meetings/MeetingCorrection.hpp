#pragma once

// A transcript correction made on the meeting detail screen, and the revision request it becomes.

#include "NuvelKit/meetings/MeetingRevision.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuvel {

// One of three cases, passed by value; no equality and no coding of its own.
struct MeetingCorrection {
    struct Word { // replace the text of word `id`
        std::string id;
        std::string text;
    };
    struct RenameSpeaker { // give speaker `id` the display name `name`
        std::string id;
        std::string name;
    };
    struct AssignSpeaker { // attribute every word of `wordIDs` to `speakerID`
        std::vector<std::string> wordIDs;
        std::string speakerID;
    };

    std::variant<Word, RenameSpeaker, AssignSpeaker> value;

    static MeetingCorrection word(std::string id, std::string text) {
        return {Word{std::move(id), std::move(text)}};
    }
    static MeetingCorrection renameSpeaker(std::string id, std::string name) {
        return {RenameSpeaker{std::move(id), std::move(name)}};
    }
    static MeetingCorrection assignSpeaker(std::vector<std::string> wordIDs, std::string speakerID) {
        return {AssignSpeaker{std::move(wordIDs), std::move(speakerID)}};
    }

    // The service operations: one "word_text" or one "speaker_label", or one "word_speaker" per
    // chosen word in list order (none for an empty list, which is still a request).
    std::vector<MeetingRevisionOperation> revisionOperations() const;
};

// The revision as the detail screen spells it: the whole text must be an optional "+" or "-"
// followed by ASCII digits, within the Int64 range; nullopt otherwise (empty, a lone sign, any
// other character, overflow).
std::optional<std::int64_t> parseMeetingRevision(std::string_view text);

// The request for a correction made against `revisionText`, under a fresh random operation id in
// lower case; nullopt when the revision does not parse, in which case nothing is to be sent.
// A pending request is later sent again as it is, so it keeps its operation id.
std::optional<MeetingRevisionRequest> makeRevisionRequest(const MeetingCorrection& correction,
                                                          std::string_view revisionText);

} // namespace nuvel
