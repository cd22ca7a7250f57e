// The text rules of calendar meetings: addresses, one-line titles and video links.
#include "NuvelKit/calendar/CalendarMeetings.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <array>

namespace nuvel::CalendarMeetings {
namespace {

struct LinkPattern {
    CalendarMeeting::Provider provider;
    unicode::Regex regex;
};

// Searched in this order; case-insensitive, so the letter classes take capitals too.
const std::array<LinkPattern, 5>& linkPatterns() {
    static const std::array<LinkPattern, 5> patterns = {{
        {CalendarMeeting::Provider::zoom,
         unicode::Regex(R"((?i)https://(?:[a-z0-9-]+\.)?zoom\.us/(?:j|my|w)/[a-z0-9?=&._/-]+)")},
        {CalendarMeeting::Provider::teams,
         unicode::Regex(
             R"((?i)https://teams\.(?:microsoft|live)\.com/(?:l/meetup-join|meet)/[a-z0-9%?=&._/:@-]+)")},
        {CalendarMeeting::Provider::meet,
         unicode::Regex(R"((?i)https://meet\.google\.com/[a-z]{3}-[a-z]{4}-[a-z]{3})")},
        {CalendarMeeting::Provider::webex,
         unicode::Regex(R"((?i)https://(?:[a-z0-9-]+\.)?webex\.com/[a-z0-9?=&._/-]+)")},
        {CalendarMeeting::Provider::facetime,
         unicode::Regex(R"((?i)https://facetime\.apple\.com/join[a-z0-9#?=&._/-]*)")},
    }};
    return patterns;
}

const unicode::Regex& emailShape() {
    static const unicode::Regex shape(R"(^[^@\s]+@[^@\s]+\.[^@\s]+$)");
    return shape;
}

} // namespace

std::optional<std::pair<Url, CalendarMeeting::Provider>>
videoLink(const std::vector<std::optional<std::string>>& texts) {
    for (const auto& text : texts) {
        if (!text)
            continue;
        for (const auto& pattern : linkPatterns()) {
            auto match = pattern.regex.firstMatch(*text);
            if (!match)
                continue;
            if (auto url = Url::parse(match->front()))
                return std::pair{std::move(*url), pattern.provider};
        }
    }
    return std::nullopt;
}

std::optional<std::string> normalizedEmail(std::string_view text) {
    std::string address = unicode::lowercased(unicode::trimWhitespaceAndNewlines(text));
    constexpr std::string_view scheme = "mailto:";
    if (address.starts_with(scheme))
        address.erase(0, scheme.size());
    if (auto decoded = percentDecode(address); decoded && unicode::isValidUtf8(*decoded))
        address = std::move(*decoded);

    // A decoded escape can bring in a NUL, a line break or a direction override that the shape
    // below would let through (a line break even at the very end, before "$").
    for (char32_t c : unicode::toCodePoints(address))
        if (unicode::isControlOrFormat(c))
            return std::nullopt;
    if (unicode::graphemeCount(address) > emailLimit)
        return std::nullopt;
    auto match = emailShape().firstMatch(address);
    if (!match || match->front() != address)
        return std::nullopt;
    return address;
}

std::string cleanTitle(std::string_view text, std::size_t limit) {
    std::string joined;
    bool pendingSpace = false;
    for (char32_t c : unicode::toCodePoints(text)) {
        if (unicode::isControlOrFormat(c) || unicode::isWhitespaceOrNewline(c)) {
            pendingSpace = !joined.empty();
            continue;
        }
        if (pendingSpace)
            joined.push_back(' ');
        pendingSpace = false;
        unicode::appendUtf8(joined, c);
    }
    return unicode::graphemePrefix(joined, limit);
}

} // namespace nuvel::CalendarMeetings
