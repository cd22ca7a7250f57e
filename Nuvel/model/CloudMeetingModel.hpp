#pragma once

#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Task.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace nuvel {

// What the application model needs of the cloud meeting library it owns: configuring it for
// the open workspace, resetting it, telling it whether the network can be reached, and its
// two observers. The library model runs on the main queue, like the application model.
class CloudMeetingModel {
public:
    virtual ~CloudMeetingModel() = default;

    // Observers the application model forwards to its own `onChange` and `onTick`.
    virtual void setOnChange(std::function<void()> onChange) = 0;
    virtual void setOnPlaybackTick(std::function<void()> onPlaybackTick) = 0;

    // Resets first, then keeps the session, the workspace and the cache root (the account folder
    // + "cloud-documents"), derives the offline lease from `offlineSeconds`, makes the sealed
    // meeting cache of the account and workspace and starts loading the library. The folders are
    // prepared off the main thread; the task throws the file system's error when they cannot be.
    virtual Task<void> configure(const DeviceSession& session, const std::string& workspaceID,
                           const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                           std::optional<double> offlineSeconds) = 0;

    // Cancels its work, forgets session, cache and lists (no file is deleted) and tells its
    // change observer.
    virtual void reset() = 0;

    // Stops and releases the cloud player, if one plays.
    virtual void stopPlayback() = 0;

    // Going offline with an open meeting whose lease no longer holds expires that meeting.
    virtual void setOnline(bool online) = 0;
};

} // namespace nuvel
