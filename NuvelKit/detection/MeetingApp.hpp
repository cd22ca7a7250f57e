#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace nuvel {

// The meeting applications that detection knows. The declaration order is the order in which
// bundle identifiers are matched and the order of `allMeetingApps`. The raw strings are also
// the stored values (the muted applications in the user defaults).
enum class MeetingApp {
    zoom,     // "zoom"
    teams,    // "teams"
    webex,    // "webex"
    slack,    // "slack"
    facetime, // "facetime"
    browser,  // "browser": any web browser
};

inline constexpr std::array<MeetingApp, 6> allMeetingApps{MeetingApp::zoom,     MeetingApp::teams,
                                                          MeetingApp::webex,    MeetingApp::slack,
                                                          MeetingApp::facetime, MeetingApp::browser};

std::string_view rawValue(MeetingApp app) noexcept;
// Exactly the six raw values, case-sensitive.
std::optional<MeetingApp> meetingAppFromRawValue(std::string_view raw) noexcept;

// The bundle-identifier prefixes of an application, in matching order.
std::span<const std::string_view> bundleIDPrefixes(MeetingApp app) noexcept;

// The application whose prefix the identifier begins with: the applications in declaration
// order, within one its prefixes in order, the first match wins. Case-sensitive, no other
// normalisation.
std::optional<MeetingApp> meetingAppForBundleID(std::string_view bundleID) noexcept;

// Zoom, Teams, Webex and FaceTime exist for calls; Slack and browsers mostly do not.
bool isDedicatedMeetingApp(MeetingApp app) noexcept;

} // namespace nuvel
