#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/localaudio/LocalPlayback.hpp"
#include "Nuvel/model/session/WorkspaceOpener.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The device session: restoring the stored one at start-up and turning it into an open
// workspace (the contract fetched, or the cached one while offline), the browser sign-in up to
// the browser, and sign-out. Completing a sign-in and finishing a sign-out are not built yet:
// a sign-out ends as it starts.
class SessionController {
public:
    // The browser never reports that the user gave up: an attempt without a callback ends then.
    static constexpr double signInAttemptSeconds = 600;
    // The device name sent at sign-in when this machine has none.
    static constexpr std::string_view fallbackDeviceName = "Nuvel for Linux";

    SessionController(ModelContext& context, WorkspaceOpener& workspaces, UploadQueue& upload,
                      LocalPlayback& playback)
        : ctx_(context), workspaces_(workspaces), upload_(upload), playback_(playback) {}
    ~SessionController();
    SessionController(const SessionController&) = delete;
    SessionController& operator=(const SessionController&) = delete;

    // Restores the stored session, then clears `busy` (which the caller set), tells the windows
    // and wakes the upload queue.
    void startUp();
    // Opens the browser on the sign-in page of a new attempt (after the entry point's checks).
    void signIn();
    // After the entry point's checks: stops playback, ends the account's background work and
    // holds the model busy until the sign-out ends.
    void signOut();

    bool isSigningIn() const { return authSession_.has_value(); }
    // The pending browser attempt, which the sign-in callback is checked against.
    const std::optional<PKCEAttempt>& pendingAttempt() const { return attempt_; }
    // This machine's name for people, or the fallback.
    std::string deviceName() const;

private:
    Task<void> startUpTask(ModelContext::Hold hold);
    Task<void> restoreSession();
    Task<void> activateSession(DeviceSession session);
    void signInExpired();
    Task<void> finishSignOut(ModelContext::Hold hold, DeviceSession session);

    ModelContext& ctx_;
    WorkspaceOpener& workspaces_;
    UploadQueue& upload_;
    LocalPlayback& playback_;
    // The pending browser sign-in: the timer that ends it as cancelled.
    std::optional<MainQueue::TimerId> authSession_;
    std::optional<PKCEAttempt> attempt_;
};

} // namespace nuvel
