#include "Nuvel/model/detail/DetailText.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <utility>

namespace nuvel::meetingdetail {

TextRange DetailText::append(std::u16string_view text, const DetailStyle& style) {
    const TextRange range{string.size(), text.size()};
    if (text.empty())
        return range;
    string.append(text);
    if (!runs.empty() && !runs.back().chip && runs.back().style == style) {
        runs.back().range.length += text.size();
    } else {
        runs.push_back(DetailTextRun{range, style, std::nullopt});
    }
    return range;
}

TextRange DetailText::append(std::string_view utf8, const DetailStyle& style) {
    return append(unicode::toUtf16(utf8), style);
}

TextRange DetailText::appendChip(DetailChip chip, const DetailStyle& style) {
    const TextRange range{string.size(), 1};
    string.push_back(objectReplacementCharacter);
    runs.push_back(DetailTextRun{range, style, std::move(chip)});
    return range;
}

void DetailText::append(const DetailText& other) {
    const std::size_t offset = string.size();
    string.append(other.string);
    for (DetailTextRun run : other.runs) {
        run.range.location += offset;
        runs.push_back(std::move(run));
    }
    for (DetailParagraphRun paragraph : other.paragraphs) {
        paragraph.range.location += offset;
        paragraphs.push_back(paragraph);
    }
}

void DetailText::setParagraphStyle(TextRange range, const DetailParagraphStyle& style) {
    if (range.length > 0)
        paragraphs.push_back(DetailParagraphRun{range, style});
}

std::optional<DetailParagraphStyle> DetailText::paragraphStyleAt(std::size_t position) const {
    for (auto it = paragraphs.rbegin(); it != paragraphs.rend(); ++it)
        if (position >= it->range.location && position < it->range.end())
            return it->style;
    return std::nullopt;
}

void DetailText::applyLinkColors() {
    for (DetailTextRun& run : runs)
        if (run.style.color == DetailColor::none)
            run.style.color = run.style.link.empty() ? DetailColor::label : DetailColor::link;
}

std::u16string DetailText::plainTextWithStamps() const {
    // Runs cover the string in order, so one pass from the start gives the same text as
    // replacing the chips from the end.
    std::u16string out;
    out.reserve(string.size());
    std::size_t at = 0;
    for (const DetailTextRun& run : runs) {
        if (!run.chip)
            continue;
        out.append(string, at, run.range.location - at);
        out.append(unicode::toUtf16(run.chip->copyText));
        at = run.range.end();
    }
    out.append(string, at, std::u16string::npos);
    return out;
}

} // namespace nuvel::meetingdetail
