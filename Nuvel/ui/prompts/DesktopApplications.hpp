#pragma once

#include "Nuvel/ui/prompts/MeetingPrompts.hpp"

#include <QIcon>
#include <QString>
#include <optional>
#include <string>

namespace nuvel {

// What an application's desktop entry says about it.
struct DesktopEntry {
    QString name; // in the user's language when the entry has it
    QString icon; // a theme icon name or an absolute path; may be empty
    bool operator==(const DesktopEntry&) const = default;
};

// The [Desktop Entry] group of a desktop entry's text: its Name (the one for `language`, as
// "ar_EG", then "ar", first) and Icon. None when the group or its name is missing.
std::optional<DesktopEntry> parseDesktopEntry(const QString& text, const QString& language);

// The entry of a desktop id ("org.mozilla.firefox", without ".desktop") in the data folders'
// applications folders.
std::optional<DesktopEntry> findDesktopEntry(const QString& desktopID);

// The icon of the installed application with that identifier (a desktop id or a Flatpak app id,
// with or without ".desktop"); none when no identifier is given, no such application is
// installed or its entry names no icon the desktop has.
std::optional<QIcon> applicationIcon(const std::optional<std::string>& bundleID);

// The applications as this desktop knows them: a running application's name from its desktop
// entry and the id whose entry holds its icon (the user's processes, read from /proc: debug
// builds refuse that on the window thread), and an application's icon from the entry of an id.
MeetingPrompts::Applications desktopApplications();

} // namespace nuvel
