#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Unicode helpers over ICU. Strings are UTF-8; invalid sequences are treated as U+FFFD.
namespace nuvel::unicode {

bool isValidUtf8(std::string_view text);

// Canonical composition (NFC).
std::string nfc(std::string_view text);
// True when the two strings are canonically equivalent (equal after NFC).
bool canonicallyEqual(std::string_view a, std::string_view b);

// Extended grapheme clusters ("characters" as a user sees them).
std::size_t graphemeCount(std::string_view text);
// The first `count` grapheme clusters of `text`.
std::string graphemePrefix(std::string_view text, std::size_t count);
// The longest prefix of whole grapheme clusters with at most `maxGraphemes` clusters and at most
// `maxUtf16Units` UTF-16 code units (a cluster that would cross the unit limit is left out whole).
std::string graphemePrefix(std::string_view text, std::size_t maxGraphemes, std::size_t maxUtf16Units);

// Length in UTF-16 code units.
std::size_t utf16Length(std::string_view text);

// White space and newlines: general categories Zs, Zl, Zp, and U+0009...U+000D, U+0085.
bool isWhitespaceOrNewline(char32_t c);
// Newlines only: U+000A...U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c);
std::string trimWhitespaceAndNewlines(std::string_view text);

// The blanks within a line: tab and the space separators (general category Zs).
bool isSpaceOrTab(char32_t c);
// `text` without leading and trailing tabs and space separators; the bytes between are kept as
// they are.
std::string trimSpacesAndTabs(std::string_view text);

// The pieces of `text` between newline characters (isNewline). Every newline character ends a
// piece, so "a\r\nb" gives "a", "" and "b", and an empty text gives one empty piece. The pieces
// are views into `text` with their bytes unchanged.
std::vector<std::string_view> splitAtNewlines(std::string_view text);

// A regular expression in ICU's syntax, compiled once. Character classes are Unicode-aware: \d is
// any decimal digit (general category Nd), not only 0-9. Safe to use from several threads.
class Regex {
public:
    // Throws std::invalid_argument when the pattern does not compile.
    explicit Regex(std::string_view pattern);
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;

    // The groups of the first match in `text`, group 0 being the whole match; a group that took
    // no part in the match is empty. Nothing when the text does not match anywhere.
    std::optional<std::vector<std::string>> firstMatch(std::string_view text) const;

    // Byte ranges [first, second) in the searched text of a match's groups, group 0 being the
    // whole match; a group that took no part in the match is nothing.
    using Groups = std::vector<std::optional<std::pair<std::size_t, std::size_t>>>;
    // Every match in `text`, in text order; each search resumes where the last match ended, so
    // matches never overlap.
    std::vector<Groups> allMatches(std::string_view text) const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> compiled_;
};

// The order in which people expect names in a list: by the user's language, case-insensitive,
// runs of digits compared by their value ("a2" < "a10"); never reports equal for strings that
// differ. Returns <0, 0 or >0.
int localizedStandardCompare(std::string_view a, std::string_view b);

// Lower-cased, without diacritics, NFC: for case- and diacritic-insensitive matching.
std::string foldCaseAndDiacritics(std::string_view text);

// Full Unicode lower-casing, the same in every locale ("ÉCOLE" gives "école").
std::string lowercased(std::string_view text);

// Control and format characters: general categories Cc and Cf (tabs, line breaks, NUL,
// zero-width joiners, direction marks and overrides).
bool isControlOrFormat(char32_t c);

// Code points of a UTF-8 string and back.
std::u32string toCodePoints(std::string_view text);
std::string fromCodePoints(std::u32string_view codePoints);
void appendUtf8(std::string& out, char32_t c);

// UTF-16 forms, for texts whose positions are counted in UTF-16 units, as text views count them.
// Invalid UTF-8 and unpaired surrogates become U+FFFD.
std::u16string toUtf16(std::string_view text);
std::string fromUtf16(std::u16string_view text);

// The boundaries of the extended grapheme clusters of `text`, in UTF-16 units: 0, every boundary
// inside, then text.size(); just 0 for an empty text.
std::vector<std::size_t> graphemeBoundaries(std::u16string_view text);

// foldCaseAndDiacritics of a UTF-16 text.
std::u16string foldCaseAndDiacritics(std::u16string_view text);

// General category Mn, Mc or Me: a mark that combines with the character before it.
bool isMark(char32_t c);

} // namespace nuvel::unicode
