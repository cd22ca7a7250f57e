#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// How Linux names the application a process belongs to, most telling first.
struct ApplicationIdentity {
    // The application id of the Flatpak sandbox the process runs in ("us.zoom.Zoom").
    std::optional<std::string> flatpakID;
    // The desktop entry the session launched it from, without ".desktop" ("firefox-esr").
    std::optional<std::string> desktopID;
    // The file name of its executable ("zoom"); empty when unknown.
    std::string executable;

    bool operator==(const ApplicationIdentity&) const = default;
};

// The application ids found in a process's control group (the text of /proc/<pid>/cgroup): the
// innermost systemd unit of the path that the session made for a launched application,
// "app[-<launcher>]-<id>-<random>.scope" or "app[-<launcher>]-<id>[@<random>].service"; the
// launcher "flatpak" names a sandbox. Only `flatpakID` and `desktopID` are set.
ApplicationIdentity identityFromControlGroup(std::string_view cgroupText);

// The bundle-style identifier that detection knows the application by, or none for a process
// that names no application.
//   - A Flatpak id: the id of the known application it belongs to, else the Flatpak id itself.
//   - Else a desktop id of a known application, else an executable of a known application.
//   - Else the desktop id itself.
// The known applications are the common meeting applications and browsers; their identifiers
// begin with the prefixes the detection tables match.
std::optional<std::string> bundleIDFor(const ApplicationIdentity& identity);

} // namespace nuvel
