#pragma once

// The detail screen's texts as plain data: a UTF-16 string (positions count UTF-16 units, as
// the text views count them) with runs of character attributes and of paragraph styles. The
// interface turns one into a text document; everything about what the texts say, where their
// links point and which range is which word is decided here.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::meetingdetail {

// A range of UTF-16 units.
struct TextRange {
    std::size_t location = 0;
    std::size_t length = 0;

    std::size_t end() const { return location + length; }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// The system font at a point size, regular or semibold.
struct DetailFont {
    double pointSize = 14;
    bool semibold = false;

    friend bool operator==(const DetailFont&, const DetailFont&) = default;
};

// `none` is resolved by applyLinkColors.
enum class DetailColor { none, label, secondaryLabel, link };

struct DetailStyle {
    DetailFont font;
    DetailColor color = DetailColor::none;
    bool underline = false; // a single line
    std::string link;       // none when empty
    std::string tooltip;    // none when empty

    friend bool operator==(const DetailStyle&, const DetailStyle&) = default;
};

// A stamp chip: a small capsule showing `label`, standing for `copyText` when the text is copied.
struct DetailChip {
    std::string label;
    std::string copyText;

    friend bool operator==(const DetailChip&, const DetailChip&) = default;
};

struct DetailTextRun {
    TextRange range;
    DetailStyle style;
    std::optional<DetailChip> chip; // the run is then one object replacement character (U+FFFC)

    friend bool operator==(const DetailTextRun&, const DetailTextRun&) = default;
};

struct DetailParagraphStyle {
    double spacingBefore = 0;
    double spacing = 0; // after the paragraph
    double lineSpacing = 0;
    // The paragraph runs in its own text's direction rather than the text's base direction (it
    // keeps the base's side): the interface's own words, such as an English line in notes that
    // read right to left.
    bool ownDirection = false;

    friend bool operator==(const DetailParagraphStyle&, const DetailParagraphStyle&) = default;
};

// A paragraph style over a range of characters. A paragraph takes the style of its first
// character.
struct DetailParagraphRun {
    TextRange range;
    DetailParagraphStyle style;

    friend bool operator==(const DetailParagraphRun&, const DetailParagraphRun&) = default;
};

inline constexpr char16_t objectReplacementCharacter = u'\uFFFC';

struct DetailText {
    std::u16string string;
    std::vector<DetailTextRun> runs;            // in text order, covering the string without gaps
    std::vector<DetailParagraphRun> paragraphs; // applied in order: a later run wins where they meet
    bool rightToLeft = false; // the base writing direction; right to left aligns to the right

    // Appends the text in that style and answers its range. Neighbouring plain runs of one style
    // merge into one run.
    TextRange append(std::u16string_view text, const DetailStyle& style);
    TextRange append(std::string_view utf8, const DetailStyle& style);
    // Appends one chip character.
    TextRange appendChip(DetailChip chip, const DetailStyle& style);
    // Appends another text, its runs and paragraph runs moved along.
    void append(const DetailText& other);
    void setParagraphStyle(TextRange range, const DetailParagraphStyle& style);

    // The style of the paragraph whose first character is at `position`: the last paragraph run
    // that covers it; nothing when none does.
    std::optional<DetailParagraphStyle> paragraphStyleAt(std::size_t position) const;

    // Every run without a colour takes the link colour when it carries a link and the label
    // colour otherwise.
    void applyLinkColors();

    // The characters with every chip replaced by the text it stands for.
    std::u16string plainTextWithStamps() const;

    friend bool operator==(const DetailText&, const DetailText&) = default;
};

} // namespace nuvel::meetingdetail
