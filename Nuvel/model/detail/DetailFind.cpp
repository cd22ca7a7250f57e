#include "Nuvel/model/detail/DetailFind.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <cstdint>
#include <unordered_map>

namespace nuvel::meetingdetail {
namespace {

constexpr char16_t tatweel = u'\u0640';

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool isArabic(char32_t c) {
    return (c >= 0x0600 && c <= 0x06FF) || (c >= 0x0750 && c <= 0x077F) || (c >= 0x08A0 && c <= 0x08FF) ||
           (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF);
}

bool isLatin(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0x24F);
}

// The code point at `i` of a UTF-8 text and the length of its sequence; U+FFFD for a byte that
// starts no valid sequence (which then counts as one byte).
char32_t decodeUtf8(std::string_view s, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t need;
    char32_t c;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2, c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3, c = lead & 0x07;
    } else {
        return 0xFFFD;
    }
    if (i + need >= s.size())
        return 0xFFFD;
    for (std::size_t k = 1; k <= need; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not scalars.
    if ((need == 2 && c < 0x800) || (need == 3 && c < 0x10000) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0xFFFD;
    length = need + 1;
    return c;
}

} // namespace

std::u16string findFolded(std::u16string_view text) {
    std::u16string kept;
    kept.reserve(text.size());
    for (char16_t c : text)
        if (c != tatweel)
            kept.push_back(c);
    const std::u16string folded = unicode::foldCaseAndDiacritics(kept);
    std::u16string out;
    out.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size();) {
        std::size_t length = 1;
        char32_t c = folded[i];
        if (isHighSurrogate(folded[i]) && i + 1 < folded.size() && isLowSurrogate(folded[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(folded[i + 1]) - 0xDC00);
            length = 2;
        }
        if (!unicode::isMark(c))
            out.append(folded, i, length);
        i += length;
    }
    return out;
}

std::vector<TextRange> findRanges(std::u16string_view query, std::u16string_view text) {
    const std::u16string needle = findFolded(query);
    if (needle.empty() || text.empty())
        return {};

    // The searchable text, and for each of its units the index of the cluster it came from.
    const std::vector<std::size_t> boundaries = unicode::graphemeBoundaries(text);
    std::u16string searchable;
    std::vector<std::uint32_t> clusterOf;
    searchable.reserve(text.size());
    clusterOf.reserve(text.size());
    // Clusters of one code point recur throughout a text: fold each only once per search.
    std::unordered_map<char32_t, std::u16string> foldedScalars;
    for (std::size_t k = 0; k + 1 < boundaries.size(); ++k) {
        const std::size_t start = boundaries[k], length = boundaries[k + 1] - start;
        const std::u16string_view cluster = text.substr(start, length);
        if (length == 1 && cluster[0] < 0x80) {
            const char16_t c = cluster[0];
            searchable.push_back(c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c);
        } else if (length == 1 || (length == 2 && isHighSurrogate(cluster[0]))) {
            const char32_t scalar = length == 1 ? char32_t(cluster[0])
                                                : 0x10000 + ((char32_t(cluster[0]) - 0xD800) << 10) +
                                                      (char32_t(cluster[1]) - 0xDC00);
            auto found = foldedScalars.find(scalar);
            if (found == foldedScalars.end())
                found = foldedScalars.emplace(scalar, findFolded(cluster)).first;
            searchable.append(found->second);
        } else {
            searchable.append(findFolded(cluster));
        }
        clusterOf.resize(searchable.size(), std::uint32_t(k));
    }

    std::vector<TextRange> ranges;
    for (std::size_t from = 0; from < searchable.size();) {
        const std::size_t hit = searchable.find(needle, from);
        if (hit == std::u16string::npos)
            break;
        const std::size_t last = hit + needle.size() - 1;
        const std::size_t start = boundaries[clusterOf[hit]];
        const std::size_t end = boundaries[clusterOf[last] + 1];
        ranges.push_back(TextRange{start, end - start});
        from = hit + needle.size();
    }
    return ranges;
}

FindResult findNext(std::u16string_view query, std::u16string_view text, TextRange selection,
                    const DetailLocale& locale) {
    if (query.empty())
        return FindNothing{};
    const std::vector<TextRange> ranges = findRanges(query, text);
    if (ranges.empty())
        return FindNoMatches{locale.text("No matches in this meeting.")};
    for (const TextRange& range : ranges)
        if (range.location >= selection.end())
            return range;
    return ranges.front();
}

void ScriptCount::add(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length;
        const char32_t c = decodeUtf8(utf8, i, length);
        if (isArabic(c)) {
            ++arabic;
        } else if (isLatin(c)) {
            ++latin;
        }
        i += length;
    }
}

bool ScriptCount::rightToLeft(const std::vector<std::string>& preferredLanguages) const {
    if (arabic != latin)
        return arabic > latin;
    return !preferredLanguages.empty() && preferredLanguages.front().starts_with("ar");
}

bool prefersRightToLeft(std::span<const std::string_view> texts,
                        const std::vector<std::string>& preferredLanguages) {
    ScriptCount count;
    for (std::string_view text : texts)
        count.add(text);
    return count.rightToLeft(preferredLanguages);
}

} // namespace nuvel::meetingdetail
