#pragma once

#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingNotes.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/support/Json.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Everything shown for one opened cloud meeting; copied and compared whole. Built as
// {summary, transcript, notes}, which leaves the second layer absent.
struct NativeMeetingDocument {
    MeetingSummary summary;
    MeetingTranscriptDocument transcript; // the layer the meeting opens with
    std::optional<MeetingNotesDocument> notes;
    std::optional<MeetingTranscriptDocument> originalTranscript; // JSON key "originalTranscript"

    static NativeMeetingDocument fromJson(const json::Value& value, const std::string& path = "$");
    static NativeMeetingDocument decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const NativeMeetingDocument& a, const NativeMeetingDocument& b);
};

} // namespace nuvel
