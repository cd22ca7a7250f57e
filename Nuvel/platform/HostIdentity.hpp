#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// How this machine and its user are named to the service and to the interface.
namespace HostIdentity {

// The name people gave the machine (PRETTY_HOSTNAME of machine-info), else its host name;
// none when neither names anything.
std::optional<std::string> deviceName(const std::filesystem::path& machineInfo = "/etc/machine-info");

// The value of PRETTY_HOSTNAME in the text of a machine-info file (shell-style assignments,
// values plain, "double" or 'single' quoted, backslash escapes); none when missing or empty.
std::optional<std::string> prettyHostname(std::string_view machineInfoText);

// Reads an environment variable; null when unset.
using EnvironmentReader = std::function<const char*(const char*)>;

// The user's first preferred interface language as a tag ("ar", "en-US", "es-419"): the first
// usable entry of LANGUAGE, else the first of LC_ALL, LC_MESSAGES and LANG that is set. None
// when nothing names a language (unset, empty, "C" or "POSIX").
std::optional<std::string> preferredLanguage(const EnvironmentReader& environment = {});

// A locale name (language[_territory][.codeset][@modifier]) as a language tag; none for "C",
// "POSIX" and names that do not begin with a language.
std::optional<std::string> languageTag(std::string_view localeName);

} // namespace HostIdentity
} // namespace nuvel
