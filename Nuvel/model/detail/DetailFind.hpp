#pragma once

// Find within a meeting, which folds case, diacritics, Arabic tatweels and marks, and the rule
// that decides whether the meeting's text reads right to left.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuvel::meetingdetail {

// A string as find compares it: without U+0640 (tatweel), folded for case and diacritics, and
// without combining marks (general categories Mn, Mc, Me).
std::u16string findFolded(std::u16string_view text);

// The ranges of `text` where the folded query stands in the folded text, in text order and not
// overlapping. The text is folded one grapheme cluster at a time, so each range covers whole
// clusters of the original text, from the cluster of the hit's first unit to that of its last.
// A query that folds to nothing has no ranges.
std::vector<TextRange> findRanges(std::u16string_view query, std::u16string_view text);

// The outcome of "find next" in the text shown.
struct FindNothing {}; // an empty query
struct FindNoMatches {
    std::string sentence;
};
using FindResult = std::variant<FindNothing, FindNoMatches, TextRange>;

// The first range that starts at or after the end of the current selection, or the first range
// when there is none after it.
FindResult findNext(std::u16string_view query, std::u16string_view text, TextRange selection,
                    const DetailLocale& locale = {});

// Counts of the scalars that decide a text's direction.
struct ScriptCount {
    std::size_t arabic = 0; // U+0600–06FF, 0750–077F, 08A0–08FF, FB50–FDFF, FE70–FEFF
    std::size_t latin = 0;  // A–Z, a–z, U+00C0–024F

    void add(std::string_view utf8);
    // More Arabic than Latin reads right to left, fewer left to right; a tie reads right to left
    // exactly when the first preferred language begins with "ar".
    bool rightToLeft(const std::vector<std::string>& preferredLanguages) const;
};

bool prefersRightToLeft(std::span<const std::string_view> texts,
                        const std::vector<std::string>& preferredLanguages);

} // namespace nuvel::meetingdetail
