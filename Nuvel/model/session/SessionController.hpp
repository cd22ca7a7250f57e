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
// workspace (the contract fetched, or the cached one while offline), the browser sign-in with
// its callback, and sign-out with the device's revocation.
//
// The browser never says that the user gave up. An attempt is therefore held for ten minutes
// and then ends as a cancelled one; a new sign-in replaces a pending attempt, whose verifier is
// forgotten, so that attempt's late callback fails its check.
class SessionController {
public:
    // How long a browser attempt waits for its callback.
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
    // Opens the browser on the sign-in page of a new attempt, in place of any pending one
    // (after the entry point's checks).
    void signIn();
    // The end of a browser attempt: the callback address the desktop handed over, or none when
    // the attempt ended without one. A callback is checked against the pending attempt, which
    // it uses up; a good one is exchanged for a session that is stored and opened. An address
    // that is not of the callback's form leaves a pending attempt waiting, unused. A callback
    // while a capture, an upload or other model work runs is refused: the session and the
    // store never change under running work.
    void completeSignIn(std::optional<std::string> callbackURL);
    // After the entry point's checks: stops playback, ends the account's background work and
    // holds the model busy while the stored session is deleted, the account forgotten and the
    // device revoked.
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
    void endAuthSession();
    Task<void> finishSignIn(ModelContext::Hold hold, std::string code, std::string verifier);
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
