#pragma once

// Small opened meetings for the detail screen's tests.

#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nuvel::test {

inline MeetingWord word(std::string id, std::string text, std::int64_t start, std::int64_t end,
                        std::optional<std::string> speaker = std::nullopt) {
    return MeetingWord{std::move(id), std::move(text), start, end, std::move(speaker), std::nullopt};
}

inline MeetingAccess accessAllowing(std::map<std::string, bool> can) {
    return MeetingAccess{"owner", "workspace", std::move(can)};
}

// A meeting of those words under speakers S1 "Ada" and S2 "Ben", every right granted, no notes.
inline NativeMeetingDocument meetingOf(std::vector<MeetingWord> words) {
    const MeetingAccess all = accessAllowing(
        {{"edit", true}, {"share", true}, {"export", true}, {"audio", true}, {"delete", true}});
    MeetingTranscript transcript{
        1, std::move(words), {{"S1", MeetingSpeaker{"Ada"}}, {"S2", MeetingSpeaker{"Ben"}}}};
    NativeMeetingDocument document;
    document.summary = MeetingSummary{"m1", "Planning", "ready", std::nullopt, 4,           all,
                                      "",   90.5,       false,   1700000000,   std::nullopt};
    document.transcript = MeetingTranscriptDocument::make("corrected", 4, 90500, std::move(transcript), all);
    return document;
}

// A notes document with AI notes on: `notes` is the JSON of its "notes" member, `evidence` of its
// "evidence" member, `run` of its "run" member.
inline MeetingNotesDocument notesDocument(const std::string& notes, const std::string& evidence = "null",
                                          const std::string& run = "null", bool aiNotes = true,
                                          const std::string& layer = "raw", bool stale = false) {
    return MeetingNotesDocument::decode(std::string(R"({"ai_notes":)") + (aiNotes ? "true" : "false") +
                                        R"(,"run":)" + run + R"(,"notes":)" + notes +
                                        R"(,"provenance":{"source_layer":")" + layer +
                                        R"(","source_revision":2,"corrected_revision":4,"stale_text":)" +
                                        (stale ? "true" : "false") + R"(},"evidence":)" + evidence + "}");
}

inline std::vector<MeetingDetailSnapshot::Word> snapshotWordsOf(const std::vector<MeetingWord>& words) {
    std::vector<MeetingDetailSnapshot::Word> out;
    for (const auto& w : words)
        out.push_back({w.id, w.text, w.text, w.speaker.value_or(""), w.start_ms, w.end_ms});
    return out;
}

} // namespace nuvel::test
