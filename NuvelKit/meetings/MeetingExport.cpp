#include "NuvelKit/meetings/MeetingExport.hpp"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace nuvel::MeetingExport {
namespace {

constexpr std::string_view staleNotice = "Notes reflect the original transcript; corrected text is newer.";

std::string noteLine(const MeetingNoteBlock& block, bool markdown) {
    std::string text = block.flagged ? "[Needs review] " + block.text : block.text;
    if (block.evidenceMS) {
        const std::string stamp = "[" + clock(*block.evidenceMS) + "]";
        // A block that already cites its own moment is not stamped twice.
        if (text.find(stamp) == std::string::npos)
            text.append(" ").append(stamp);
    }
    return markdown ? "- " + text : text;
}

std::string transcriptHeading(const MeetingTranscriptDocument& transcript, bool markdown) {
    const bool original = transcript.layer == "raw" || transcript.layer == "original";
    std::string heading = markdown ? "## " : "";
    heading += original ? "Original transcript" : "Corrected transcript";
    heading += " \u00B7 Revision: ";
    heading += std::to_string(original ? transcript.original_revision : transcript.revision);
    return heading;
}

std::string wordLine(const MeetingTranscriptDocument& transcript, const MeetingWord& word) {
    std::string line;
    if (word.hasTiming())
        line.append("[").append(clock(word.start_ms)).append("] ");
    const std::string label = transcript.speakerLabel(word.speaker);
    if (!label.empty())
        line.append(label).append(": ");
    line.append(word.text);
    return line;
}

// Title, notes, transcript heading and one part per word, joined by blank lines. Nothing in the
// meeting's text is escaped: Markdown characters, brackets and newlines pass through.
std::string document(const NativeMeetingDocument& meeting, bool markdown) {
    std::vector<std::string> parts;
    parts.push_back(markdown ? "# " + meeting.summary.title : meeting.summary.title);
    if (meeting.notes && meeting.notes->ai_notes) {
        parts.emplace_back(markdown ? "## Notes" : "Notes");
        if (meeting.notes->provenance.stale_text)
            parts.emplace_back(staleNotice);
        for (const MeetingNoteBlock& block : noteBlocks(*meeting.notes))
            parts.push_back(noteLine(block, markdown));
    }
    const MeetingTranscriptDocument& transcript = meeting.transcript;
    parts.push_back(transcriptHeading(transcript, markdown));
    for (const MeetingWord& word : transcript.transcript.words)
        parts.push_back(wordLine(transcript, word));

    std::size_t size = 1;
    for (const std::string& part : parts)
        size += part.size() + 2;
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            text += "\n\n";
        text += parts[i];
    }
    text += "\n";
    return text;
}

} // namespace

std::string_view rawValue(Format format) {
    switch (format) {
    case Format::markdown:
        return "md";
    case Format::plainText:
        return "txt";
    case Format::srt:
        return "srt";
    case Format::vtt:
        return "vtt";
    }
    return "";
}

std::optional<Format> formatFromRawValue(std::string_view raw) {
    for (Format format : allFormats)
        if (rawValue(format) == raw)
            return format;
    return std::nullopt;
}

std::string export_(const NativeMeetingDocument& meeting, Format format) {
    switch (format) {
    case Format::markdown:
        return document(meeting, true);
    case Format::plainText:
        return document(meeting, false);
    case Format::srt:
    case Format::vtt:
        return subtitles(meeting.transcript, format);
    }
    throw std::invalid_argument("unknown export format");
}

std::string clock(std::int64_t milliseconds) {
    if (milliseconds < 0)
        return "00:00";
    const long long ms = milliseconds;
    const long long seconds = ms / 1000;
    char text[48];
    if (ms < 3600000) {
        std::snprintf(text, sizeof text, "%02lld:%02lld", seconds / 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", ms / 3600000, (ms / 60000) % 60,
                      seconds % 60);
    }
    return text;
}

} // namespace nuvel::MeetingExport
