#pragma once

#include "Nuvel/model/AudioPlayer.hpp"
#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/store/NuvelLink.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Time.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Asks the user where to save an export, proposing `proposedName`; none when the user cancels.
// The window shows its save panel while the task waits.
using ExportFileChooser = std::function<Task<std::optional<std::filesystem::path>>(std::string proposedName)>;

// Asks the user to confirm deleting the open meeting; true for "Delete meeting".
using DeleteConfirmation = std::function<Task<bool>()>;

// Everything the cloud meeting library reaches outside itself.
//
// Required: `mainQueue`, `actorExecutor` and `client`. A missing function takes the default
// named beside it.
struct CloudLibraryDependencies {
    // The main actor; it and the executor outlive the model.
    MainQueue* mainQueue = nullptr;
    // Where the blocking client and cache operations run.
    Executor* actorExecutor = nullptr;
    // The meeting-library client; never replaced.
    std::shared_ptr<NativeMeetingClient> client;

    // The translation of a status sentence. Default: the sentence itself.
    std::function<std::string(std::string_view)> localize;
    // The wall clock of leases. Default: Date::now.
    std::function<Date()> now;
    // Seconds on a clock that keeps counting while the computer sleeps; lease expiries wait on
    // it. Default: continuousTimeSeconds.
    std::function<double()> continuousNow;
    // The export's save panel. Without it nothing is exported.
    ExportFileChooser chooseExportFile;
    // Makes the player of a downloaded meeting audio; called, like every player operation, on the
    // actor executor, one operation after another. Without it the audio cannot be played.
    AudioPlayerFactory makePlayer;
    // The delete confirmation. Without it nothing is deleted.
    DeleteConfirmation confirmDelete;
    // The service's web host, the only host of a view-only link kept for copying.
    std::string webHost = std::string(NuvelLink::webHost);
};

} // namespace nuvel
