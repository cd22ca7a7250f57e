#include "NuvelKit/meetings/MeetingExport.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace nuvel::MeetingExport {
namespace {

void requireSubtitleFormat(Format format) {
    if (format != Format::srt && format != Format::vtt)
        throw std::invalid_argument("subtitles are written only as srt or vtt");
}

// Every occurrence of `from` replaced by `to`, scanning left to right without rescanning what was
// written. Byte-wise replacement of ASCII patterns is safe in UTF-8.
void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (text.find(from) == std::string::npos)
        return;
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size())
        out.append(text, start, at - start).append(to);
    out.append(text, start);
    text = std::move(out);
}

// A payload line must stay one line: a break inside would end the cue or start a new one.
void joinLines(std::string& text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
}

// WebVTT reads "&" and "<" as markup; escaping ">" too keeps a "-->" in a label from reading as
// a timing line.
void escapeForWebVTT(std::string& text) {
    replaceAll(text, "&", "&amp;");
    replaceAll(text, "<", "&lt;");
    replaceAll(text, ">", "&gt;");
}

bool usable(const MeetingWord& word, std::int64_t duration) {
    return word.start_ms >= 0 && word.start_ms < word.end_ms && word.end_ms <= duration;
}

} // namespace

std::string subtitleTimestamp(std::int64_t milliseconds, Format format) {
    requireSubtitleFormat(format);
    const long long p = milliseconds < 0 ? 0 : milliseconds;
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", p / 3600000, (p / 60000) % 60,
                  (p / 1000) % 60, format == Format::vtt ? '.' : ',', p % 1000);
    return text;
}

std::string subtitles(const MeetingTranscriptDocument& transcript, Format format) {
    requireSubtitleFormat(format);
    std::vector<const MeetingWord*> words;
    for (const MeetingWord& word : transcript.transcript.words)
        if (usable(word, transcript.duration_ms))
            words.push_back(&word);
    if (words.empty())
        throw ExportError(ExportError::Code::noValidTiming);
    std::stable_sort(words.begin(), words.end(),
                     [](const MeetingWord* a, const MeetingWord* b) { return a->start_ms < b->start_ms; });

    const bool vtt = format == Format::vtt;
    std::string out = vtt ? "WEBVTT\n\n" : "";
    std::size_t number = 0;
    for (const MeetingWord* word : words) {
        std::string label = transcript.speakerLabel(word->speaker);
        joinLines(label);
        std::string text = word->text;
        joinLines(text);
        replaceAll(text, "-->", "\u2192");
        if (vtt) {
            escapeForWebVTT(label);
            escapeForWebVTT(text);
        }
        out.append(std::to_string(++number)).append("\n");
        out.append(subtitleTimestamp(word->start_ms, format))
            .append(" --> ")
            .append(subtitleTimestamp(word->end_ms, format))
            .append("\n");
        if (!label.empty())
            out.append(label).append(": ");
        out.append(text).append("\n\n");
    }
    return out;
}

} // namespace nuvel::MeetingExport
