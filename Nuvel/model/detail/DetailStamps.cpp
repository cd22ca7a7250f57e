#include "Nuvel/model/detail/DetailStamps.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <charconv>
#include <limits>
#include <utility>

namespace nuvel::meetingdetail {
namespace {

constexpr std::string_view timeScheme = "nuvel-time:";
constexpr std::string_view evidenceScheme = "nuvel-evidence:";

// The stamp pattern: group 1 is the stamp without its brackets.
const unicode::Regex& stampPattern() {
    static const unicode::Regex pattern(R"(\[(\d{1,2}(?::\d{2}){1,2})\])");
    return pattern;
}

// A whole decimal number: an optional "+" or "-", then ASCII digits, nothing else, in range.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

bool fitsTimesSixtyPlus(std::int64_t total, std::int64_t piece) {
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    if (total > max / 60 || total < min / 60)
        return false;
    const std::int64_t scaled = total * 60;
    return piece >= 0 ? scaled <= max - piece : scaled >= min - piece;
}

const DetailStyle& bodyStyle() {
    static const DetailStyle style{DetailFont{14, false}, DetailColor::none, false, {}, {}};
    return style;
}

} // namespace

std::optional<std::int64_t> stampSeconds(std::string_view stamp) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start <= stamp.size();) {
        std::size_t colon = stamp.find(':', start);
        if (colon == std::string_view::npos)
            colon = stamp.size();
        if (colon > start)
            pieces.push_back(stamp.substr(start, colon - start));
        if (pieces.size() > 3)
            return std::nullopt;
        start = colon + 1;
    }
    if (pieces.size() < 2)
        return std::nullopt;
    std::int64_t total = 0;
    for (std::string_view piece : pieces) {
        const auto value = wholeNumber(piece);
        if (!value || !fitsTimesSixtyPlus(total, *value))
            return std::nullopt;
        total = total * 60 + *value;
    }
    return total;
}

void appendStampChip(DetailText& text, std::string label, std::string link, std::string tooltip,
                     std::optional<std::string> copyText) {
    DetailStyle style = bodyStyle();
    style.link = std::move(link);
    style.tooltip = std::move(tooltip);
    std::string copy = copyText ? std::move(*copyText) : label;
    text.appendChip(DetailChip{std::move(label), std::move(copy)}, style);
}

DetailText noteBodyText(std::string_view text, const std::vector<NoteCitation>& citations,
                        const DetailLocale& locale) {
    std::vector<std::optional<std::int64_t>> citationSeconds;
    citationSeconds.reserve(citations.size());
    for (const NoteCitation& citation : citations)
        citationSeconds.push_back(stampSeconds(citation.stamp));
    std::vector<bool> used(citations.size(), false);

    DetailText body;
    std::size_t at = 0;
    for (const unicode::Regex::Groups& match : stampPattern().allMatches(text)) {
        const auto [matchStart, matchEnd] = *match[0];
        const auto [stampStart, stampEnd] = *match[1];
        const std::string stamp(text.substr(stampStart, stampEnd - stampStart));
        const auto seconds = stampSeconds(stamp);
        if (!seconds)
            continue; // stays as typed
        body.append(text.substr(at, matchStart - at), bodyStyle());
        std::string link = timeLink(*seconds * 1000);
        std::string tooltip = locale.text("Play from here");
        for (std::size_t i = 0; i < citations.size(); ++i) {
            if (citationSeconds[i] == seconds) {
                link = citations[i].link;
                tooltip = citations[i].tooltip;
                used[i] = true;
                break;
            }
        }
        appendStampChip(body, stamp, std::move(link), std::move(tooltip), "[" + stamp + "]");
        at = matchEnd;
    }
    body.append(text.substr(at), bodyStyle());
    for (std::size_t i = 0; i < citations.size(); ++i) {
        if (used[i])
            continue;
        body.append(std::u16string_view(u" \u2009"), bodyStyle());
        appendStampChip(body, citations[i].stamp, citations[i].link, citations[i].tooltip);
    }
    return body;
}

std::string timeLink(std::int64_t milliseconds) {
    return std::string(timeScheme) + std::to_string(milliseconds);
}

std::string evidenceLink(std::string_view key) {
    return std::string(evidenceScheme).append(key);
}

DetailLink parseDetailLink(std::string_view link) {
    if (link.starts_with(timeScheme)) {
        if (auto milliseconds = wholeNumber(link.substr(timeScheme.size())))
            return TimeLink{*milliseconds};
        return std::monostate{};
    }
    if (link.starts_with(evidenceScheme))
        return EvidenceLink{std::string(link.substr(evidenceScheme.size()))};
    return std::monostate{};
}

} // namespace nuvel::meetingdetail
