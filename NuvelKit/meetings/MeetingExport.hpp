#pragma once

// Exports of an opened cloud meeting as the text of a file: Markdown and plain text (title, AI
// notes, transcript), and SubRip or WebVTT subtitles with one cue per timed word.

#include "NuvelKit/meetings/MeetingNoteBlock.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "NuvelKit/support/Error.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel::MeetingExport {

// The export formats; the raw value of each is its file extension.
enum class Format { markdown, plainText, srt, vtt };

inline constexpr std::array<Format, 4> allFormats = {Format::markdown, Format::plainText, Format::srt,
                                                     Format::vtt};

// "md", "txt", "srt" or "vtt".
std::string_view rawValue(Format format);
// The format whose raw value is exactly `raw` (case-sensitive); nothing for any other text.
std::optional<Format> formatFromRawValue(std::string_view raw);

class ExportError : public Error {
public:
    enum class Code {
        noValidTiming, // no transcript word has 0 <= start < end <= duration: no subtitles
    };

    explicit ExportError(Code code) : Error(describe(code)), code_(code) {}

    Code code() const noexcept { return code_; }
    bool operator==(const ExportError& other) const noexcept { return code_ == other.code_; }

    static const char* describe(Code code) noexcept {
        switch (code) {
        case Code::noValidTiming:
            return "no transcript word has a usable time span for subtitles";
        }
        return "export error";
    }

private:
    Code code_;
};

// The complete file text of `document` in `format`. Markdown and plain text never fail; the
// subtitle formats write `document.transcript` (whichever layer the caller placed there) and
// throw ExportError::noValidTiming when none of its words is usable. Private notes (the
// recording's scratchpad) are not part of any export.
std::string export_(const NativeMeetingDocument& document, Format format);

// A media position as the exports stamp it: "mm:ss" below one hour, "hh:mm:ss" from then on
// (hours grow past two digits), "00:00" for a negative position.
std::string clock(std::int64_t milliseconds);

// The transcript as SubRip or WebVTT: one cue per word with 0 <= start < end <= duration, sorted
// by start (words with equal starts keep their order). Throws ExportError::noValidTiming when no
// word qualifies, and std::invalid_argument for a format that is not a subtitle format.
std::string subtitles(const MeetingTranscriptDocument& transcript, Format format);

// "hh:mm:ss,mmm" for SubRip, "hh:mm:ss.mmm" for WebVTT; hours take two digits at least. A
// negative position is written as zero. Throws std::invalid_argument for a format that is not a
// subtitle format.
std::string subtitleTimestamp(std::int64_t milliseconds, Format format);

} // namespace nuvel::MeetingExport
