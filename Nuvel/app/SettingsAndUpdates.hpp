#pragma once

#include "Nuvel/model/shell/ShellParts.hpp"
#include "Nuvel/platform/InfoProperties.hpp"
#include "NuvelKit/support/Defaults.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"

#include <functional>
#include <memory>

namespace nuvel {

class Dialogs;

// The running application's update controller: our signed updater when this build's
// properties configure one, over libcurl, installing into the program's own folder. After an
// install the new build waits for this process to end, and `quit` ends it the way every quit
// does (the notes committed and saved, the window's frame kept).
std::unique_ptr<ShellUpdates> makeApplicationUpdates(const InfoProperties& info, MainQueue& queue,
                                                     Executor& executor, Dialogs& dialogs,
                                                     std::function<bool()> isBusy,
                                                     std::function<void()> onChange,
                                                     std::function<void()> quit);

// The running application's settings window over the user defaults and the autostart folder.
std::unique_ptr<ShellSettings> makeApplicationSettings(SettingsActions actions,
                                                       std::shared_ptr<DefaultsStore> defaults,
                                                       Dialogs& dialogs, const InfoProperties& info);

} // namespace nuvel
