#include "NuvelKit/calendar/CalendarMeeting.hpp"

#include <array>

namespace nuvel {
namespace {

struct ProviderNames {
    CalendarMeeting::Provider provider;
    std::string_view raw;
    std::string_view display;
};

constexpr std::array<ProviderNames, 5> providerNames = {{
    {CalendarMeeting::Provider::zoom, "zoom", "Zoom"},
    {CalendarMeeting::Provider::teams, "teams", "Microsoft Teams"},
    {CalendarMeeting::Provider::meet, "meet", "Google Meet"},
    {CalendarMeeting::Provider::webex, "webex", "Webex"},
    {CalendarMeeting::Provider::facetime, "facetime", "FaceTime"},
}};

const ProviderNames& namesOf(CalendarMeeting::Provider provider) {
    return providerNames[static_cast<std::size_t>(provider)];
}

} // namespace

std::string_view rawValue(CalendarMeeting::Provider provider) {
    return namesOf(provider).raw;
}

std::string_view displayName(CalendarMeeting::Provider provider) {
    return namesOf(provider).display;
}

std::optional<CalendarMeeting::Provider> providerFromRawValue(std::string_view raw) {
    for (const auto& names : providerNames)
        if (names.raw == raw)
            return names.provider;
    return std::nullopt;
}

} // namespace nuvel
