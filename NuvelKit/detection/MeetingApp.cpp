#include "NuvelKit/detection/MeetingApp.hpp"

namespace nuvel {
namespace {

struct AppEntry {
    MeetingApp app;
    std::string_view raw;
    std::span<const std::string_view> prefixes;
};

constexpr std::string_view zoomPrefixes[] = {"us.zoom."};
constexpr std::string_view teamsPrefixes[] = {"com.microsoft.teams"};
constexpr std::string_view webexPrefixes[] = {"com.cisco.webex", "Cisco-Systems.Spark", "com.webex."};
constexpr std::string_view slackPrefixes[] = {"com.tinyspeck.slackmacgap"};
constexpr std::string_view facetimePrefixes[] = {"com.apple.FaceTime"};
constexpr std::string_view browserPrefixes[] = {
    "com.google.Chrome",   "com.apple.Safari",      "com.apple.WebKit.",
    "org.mozilla.firefox", "com.microsoft.edgemac", "company.thebrowser.",
    "com.brave.Browser",   "com.vivaldi.Vivaldi",   "com.operasoftware.Opera"};

constexpr AppEntry entries[] = {
    {MeetingApp::zoom, "zoom", zoomPrefixes},
    {MeetingApp::teams, "teams", teamsPrefixes},
    {MeetingApp::webex, "webex", webexPrefixes},
    {MeetingApp::slack, "slack", slackPrefixes},
    {MeetingApp::facetime, "facetime", facetimePrefixes},
    {MeetingApp::browser, "browser", browserPrefixes},
};

const AppEntry& entryOf(MeetingApp app) noexcept {
    for (const auto& entry : entries)
        if (entry.app == app)
            return entry;
    return entries[0];
}

} // namespace

std::string_view rawValue(MeetingApp app) noexcept {
    return entryOf(app).raw;
}

std::optional<MeetingApp> meetingAppFromRawValue(std::string_view raw) noexcept {
    for (const auto& entry : entries)
        if (entry.raw == raw)
            return entry.app;
    return std::nullopt;
}

std::span<const std::string_view> bundleIDPrefixes(MeetingApp app) noexcept {
    return entryOf(app).prefixes;
}

std::optional<MeetingApp> meetingAppForBundleID(std::string_view bundleID) noexcept {
    for (const auto& entry : entries)
        for (std::string_view prefix : entry.prefixes)
            if (bundleID.starts_with(prefix))
                return entry.app;
    return std::nullopt;
}

bool isDedicatedMeetingApp(MeetingApp app) noexcept {
    return app == MeetingApp::zoom || app == MeetingApp::teams || app == MeetingApp::webex ||
           app == MeetingApp::facetime;
}

} // namespace nuvel
