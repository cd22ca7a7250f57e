#include "Nuvel/platform/ApplicationIdentity.hpp"

#include "NuvelKit/support/Bytes.hpp"

#include <vector>

namespace nuvel {
namespace {

struct KnownApplication {
    std::string_view bundleID;
    std::vector<std::string_view> flatpakIDs;
    std::vector<std::string_view> desktopIDs;
    std::vector<std::string_view> executables;
};

// The common meeting applications and browsers of Linux desktops.
const std::vector<KnownApplication>& knownApplications() {
    static const std::vector<KnownApplication> table{
        {"us.zoom.Zoom", {"us.zoom.Zoom"}, {"Zoom", "zoom", "us.zoom.Zoom"}, {"zoom", "ZoomLauncher"}},
        {"com.microsoft.teams",
         {"com.microsoft.Teams", "com.github.IsmaelMartinez.teams_for_linux"},
         {"teams", "teams-insiders", "teams-for-linux", "com.microsoft.Teams",
          "com.github.IsmaelMartinez.teams_for_linux"},
         {"teams", "teams-insiders", "teams-for-linux"}},
        {"com.cisco.webex", {}, {"webex", "Webex"}, {"CiscoCollabHost", "webex"}},
        {"com.tinyspeck.slackmacgap", {"com.slack.Slack"}, {"slack", "com.slack.Slack"}, {"slack"}},
        {"com.google.Chrome",
         {"com.google.Chrome"},
         {"google-chrome", "google-chrome-beta", "google-chrome-unstable", "com.google.Chrome"},
         {"chrome", "google-chrome"}},
        // Chromium has no prefix of its own in the detection tables: it counts as a Chrome.
        {"com.google.Chrome.Chromium",
         {"org.chromium.Chromium"},
         {"chromium", "chromium-browser", "org.chromium.Chromium"},
         {"chromium", "chromium-browser"}},
        {"org.mozilla.firefox",
         {"org.mozilla.firefox"},
         {"firefox", "firefox-esr", "org.mozilla.firefox"},
         {"firefox", "firefox-esr", "firefox-bin"}},
        {"com.microsoft.edgemac",
         {"com.microsoft.Edge"},
         {"microsoft-edge", "com.microsoft.Edge"},
         {"msedge", "microsoft-edge"}},
        {"com.brave.Browser",
         {"com.brave.Browser"},
         {"brave-browser", "com.brave.Browser"},
         {"brave", "brave-browser"}},
        {"com.vivaldi.Vivaldi",
         {"com.vivaldi.Vivaldi"},
         {"vivaldi-stable", "com.vivaldi.Vivaldi"},
         {"vivaldi-bin", "vivaldi"}},
        {"com.operasoftware.Opera", {"com.opera.Opera"}, {"opera", "com.opera.Opera"}, {"opera"}},
    };
    return table;
}

template <class Member> std::optional<std::string> knownBy(Member member, std::string_view name) {
    if (name.empty())
        return std::nullopt;
    for (const auto& known : knownApplications())
        for (std::string_view candidate : known.*member)
            if (candidate == name)
                return std::string(known.bundleID);
    return std::nullopt;
}

// Undoes systemd's unit-name escaping ("\x2d" for "-").
std::string unescapeUnitName(std::string_view text) {
    const auto hex = hexValue;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
            hex(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3])));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// One unit name of a control group path; true when it is an application's unit.
bool identityFromUnit(std::string_view unit, ApplicationIdentity& identity) {
    if (!unit.starts_with("app-"))
        return false;
    std::string_view rest = unit.substr(4);
    if (rest.ends_with(".scope")) {
        rest.remove_suffix(6);
        auto dash = rest.rfind('-'); // the random part
        if (dash == std::string_view::npos || dash + 1 == rest.size())
            return false;
        rest = rest.substr(0, dash);
    } else if (rest.ends_with(".service")) {
        rest.remove_suffix(8);
        if (auto at = rest.find('@'); at != std::string_view::npos)
            rest = rest.substr(0, at);
    } else {
        return false;
    }
    std::string_view launcher;
    if (auto dash = rest.find('-'); dash != std::string_view::npos) {
        launcher = rest.substr(0, dash);
        rest = rest.substr(dash + 1);
    }
    std::string id = unescapeUnitName(rest);
    if (id.ends_with(".desktop"))
        id.resize(id.size() - 8);
    if (id.empty())
        return false;
    if (launcher == "flatpak")
        identity.flatpakID = std::move(id);
    else
        identity.desktopID = std::move(id);
    return true;
}

} // namespace

ApplicationIdentity identityFromControlGroup(std::string_view text) {
    // The unified hierarchy ("0::/path") when present, else systemd's own ("N:name=systemd:/path").
    std::string_view path;
    bool unified = false;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with("0::")) {
            path = line.substr(3);
            unified = true;
        } else if (!unified) {
            auto first = line.find(':');
            if (first != std::string_view::npos && line.substr(first + 1).starts_with("name=systemd:"))
                path = line.substr(first + 1 + 13);
        }
    }
    ApplicationIdentity identity;
    while (!path.empty()) {
        auto slash = path.rfind('/');
        std::string_view unit = slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (identityFromUnit(unit, identity))
            break;
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
    }
    return identity;
}

std::optional<std::string> bundleIDFor(const ApplicationIdentity& identity) {
    // A sandbox names its application for certain, whatever the executable inside is called.
    if (identity.flatpakID && !identity.flatpakID->empty())
        return knownBy(&KnownApplication::flatpakIDs, *identity.flatpakID).value_or(*identity.flatpakID);
    if (identity.desktopID)
        if (auto known = knownBy(&KnownApplication::desktopIDs, *identity.desktopID))
            return known;
    // A program started from a terminal or another launcher shares its launcher's desktop id:
    // its own executable tells more.
    if (auto known = knownBy(&KnownApplication::executables, identity.executable))
        return known;
    if (identity.desktopID && !identity.desktopID->empty())
        return identity.desktopID;
    return std::nullopt;
}

} // namespace nuvel
