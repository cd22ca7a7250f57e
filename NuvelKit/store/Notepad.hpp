#pragma once

#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// One line of a recording's notepad. The id stays with the line through edits, so the notepad
// can be edited as free text and still be synchronised line by line with the service.
struct NotepadLine {
    std::string id;                 // "n" + 3...15 of a-z, 0-9 once normalised
    std::string text;               // without line break
    std::optional<std::int64_t> at; // milliseconds into the recording when the line was written

    // Always writes all three keys; an absent `at` is written as null.
    json::Ordered toJson() const;
    // "id" and "text" are required; "at" may be missing or null.
    static NotepadLine fromJson(const json::Reader& reader);

    bool operator==(const NotepadLine&) const = default;
};

// Pure functions on notepad line lists. None of them throws.
namespace Notepad {

using IdMaker = std::function<std::string()>;

inline constexpr std::size_t maxLines = 400;
inline constexpr std::size_t maxLineCharacters = 1000; // grapheme clusters, and also UTF-16 units
inline constexpr std::size_t maxTotalUtf16Units = 16000;
inline constexpr std::int64_t maxAt = 86'400'000; // 24 hours in milliseconds

// The texts joined with "\n".
std::string text(const std::vector<NotepadLine>& lines);

// "n" + 8 characters of a-z0-9 from the system's secure random source.
std::string makeLineID();

// True for "^n[a-z0-9]{3,15}$".
bool isValidLineID(std::string_view id);

// Splits edited text into lines, keeping the ids and times of the lines the user did not touch
// and of edited lines (matched by position between unchanged ones). New lines get ids from
// `makeId`, drawn again while the id is already used by a previous or a new line, and the given
// time (clamped to 0...maxAt) unless they are blank. An empty text gives no lines.
std::vector<NotepadLine> lines(std::string_view newText, const std::vector<NotepadLine>& previous,
                               std::optional<std::int64_t> time, const IdMaker& makeId);

// The canonical form that is stored and sent: at most 400 lines; text in NFC with control
// characters and U+0020/U+007F as spaces, cut to 1000 characters and 1000 UTF-16 units; the lines
// from the one that would take the total past 16000 units on dropped; invalid or repeated ids
// replaced by fresh ones that no line of the list uses; `at` clamped. Idempotent.
std::vector<NotepadLine> normalize(const std::vector<NotepadLine>& lines, const IdMaker& makeId = makeLineID);

// Three-way merge keyed by line id: remote order wins for lines both sides have, local-only lines
// keep their place after their local predecessor, a deletion wins over an unchanged line, an edit
// wins over a deletion, and a line changed on both sides is kept twice, the remote text first and
// the local text after it under a new id (one that none of the three lists uses).
std::vector<NotepadLine> merge(const std::vector<NotepadLine>& base, const std::vector<NotepadLine>& local,
                               const std::vector<NotepadLine>& remote, const IdMaker& makeId);

} // namespace Notepad
} // namespace nuvel
