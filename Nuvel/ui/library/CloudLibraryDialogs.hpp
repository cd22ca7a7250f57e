#pragma once

#include "NuvelKit/support/Task.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

class Dialogs;

// The host of a web origin ("https://host[:port]"); empty when the origin has none.
std::string webHostOf(std::string_view origin);

// The cloud library's export save panel, proposing `proposedName` and offering files of its
// extension; none when cancelled.
Task<std::optional<std::filesystem::path>> chooseExportFile(Dialogs* dialogs, std::string proposedName);

// Asks before the open meeting is deleted from the service; true for "Delete meeting".
Task<bool> confirmMeetingDelete(Dialogs* dialogs);

} // namespace nuvel
