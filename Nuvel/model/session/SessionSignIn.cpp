// The browser sign-in with its callback, and sign-out.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/session/SessionController.hpp"

namespace nuvel {

SessionController::~SessionController() {
    if (authSession_)
        ctx_.queue().cancelTimer(*authSession_);
}

std::string SessionController::deviceName() const {
    std::optional<std::string> name = ctx_.deps.deviceName();
    if (name && !name->empty())
        return *name;
    return std::string(fallbackDeviceName);
}

// ---- Sign-in ----

void SessionController::signIn() {
    auto make = [this] { return PKCEAttempt::make(ctx_.deps.randomFill); };
    Outcome<PKCEAttempt> made = attemptNow(make);
    if (!made.ok()) {
        made.drop("making a sign-in attempt");
        ctx_.setMessage(StatusText::signInFailed);
        return;
    }
    // A pending attempt gives way: its verifier is gone, so its callback can no longer pass.
    endAuthSession();
    attempt_ = std::move(made.value());
    auto open = [this] {
        return ctx_.deps.browser && ctx_.deps.browser->open(attempt_->authorizationURL(ctx_.deps.webOrigin));
    };
    Outcome<bool> opened = attemptNow(open);
    opened.drop("opening the browser");
    if (!opened.ok() || !opened.value()) {
        attempt_.reset();
        ctx_.setMessage(StatusText::signInFailed);
        return;
    }
    authSession_ = ctx_.queue().startTimer(signInAttemptSeconds, [this] {
        // The timer has fired: nothing is left to cancel.
        authSession_.reset();
        completeSignIn(std::nullopt);
    });
}

void SessionController::endAuthSession() {
    if (authSession_)
        ctx_.queue().cancelTimer(*authSession_);
    authSession_.reset();
}

void SessionController::completeSignIn(std::optional<std::string> callbackURL) {
    // Any web page or local program can open a nuvel:// address. One that is not of the form the
    // service's device page answers with is not the pending attempt's callback: the attempt keeps
    // waiting for its own, and nothing is said.
    if (callbackURL && attempt_ && !PKCEAttempt::callbackCode(*callbackURL))
        return;
    endAuthSession();
    if (!callbackURL) {
        // Given up, or never finished in the browser: the attempt goes, and nothing is said.
        attempt_.reset();
        return;
    }
    std::optional<PKCEAttempt> taken = std::move(attempt_);
    attempt_.reset();
    const ModelState& state = ctx_.state;
    if (!taken || state.busy || state.isRecording() || state.uploading) {
        // No attempt was pending, or the session and store may not change under running work.
        ctx_.setMessage(StatusText::signInFailed);
        return;
    }
    auto check = [&taken, &callbackURL] { return taken->validateCallback(*callbackURL); };
    Outcome<std::string> code = attemptNow(check);
    if (!code.ok()) {
        code.drop("checking the sign-in callback");
        ctx_.setMessage(StatusText::signInFailed);
        return;
    }
    ctx_.state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(finishSignIn(ctx_.hold(), code.value(), taken->verifier()));
}

Task<void> SessionController::finishSignIn([[maybe_unused]] ModelContext::Hold hold, std::string code,
                                           std::string verifier) {
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string name = deviceName();
    auto exchange = [api, code, verifier, name](std::stop_token stop) {
        return api->exchangeCode(code, verifier, name, stop);
    };
    Outcome<DeviceSession> exchanged = co_await attemptOn(ctx_.actors(), exchange);
    bool signedIn = exchanged.ok();
    if (!signedIn) {
        exchanged.drop("exchanging the sign-in code");
    } else {
        const std::string stored = exchanged.value().encode();
        const KeychainVault* vault = &ctx_.vault;
        auto save = [vault, stored] {
            vault->save(ByteView(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()),
                        KeychainVault::deviceSessionAccount);
        };
        Outcome<void> saved = co_await attemptOn(ctx_.actors(), save);
        saved.drop("storing the session");
        signedIn = saved.ok();
    }
    if (signedIn) {
        // Should the opening fail, the stored session is tried again at the next start.
        Task<void> activating = activateSession(exchanged.value());
        Outcome<void> activated = co_await attempt(activating);
        activated.drop("opening the signed-in session");
        signedIn = activated.ok();
    }
    ctx_.state.busy = false;
    ctx_.notifyChange();
    if (!signedIn) {
        ctx_.setMessage(StatusText::signInFailed);
        co_return;
    }
    upload_.scheduleQueueWakeup();
}

// ---- Sign-out ----

void SessionController::signOut() {
    playback_.stopPlayback();
    upload_.cancelQueueWakeup();
    ctx_.tasks.cancel(ModelTasks::Scope::account);
    ctx_.state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(finishSignOut(ctx_.hold(), *ctx_.state.session));
}

Task<void> SessionController::finishSignOut([[maybe_unused]] ModelContext::Hold hold, DeviceSession session) {
    ModelState& state = ctx_.state;
    const KeychainVault* vault = &ctx_.vault;
    auto remove = [vault] { vault->remove(KeychainVault::deviceSessionAccount); };
    Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
    if (!removed.ok()) {
        // Still signed in, with everything the account had open.
        removed.drop("deleting the stored session");
        ctx_.writeMessage(StatusText::signOutFailed);
        state.busy = false;
        ctx_.notifyChange();
        co_return;
    }

    // The account's folders, caches and media key stay on this machine for its next sign-in.
    state.session.reset();
    state.sessionRefused = false;
    ctx_.cloud->reset();
    state.bootstrap.reset();
    state.recordings.clear();
    state.selectedID.reset();
    state.store.reset();

    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string token = session.token;
    auto revoke = [api, token](std::stop_token stop) { api->revokeDevice(token, stop); };
    Outcome<void> revoked = co_await attemptOn(ctx_.actors(), revoke);
    revoked.drop("revoking the device");
    if (revoked.ok())
        state.writeMessage({});
    else
        ctx_.writeMessage(StatusText::revokeLater);
    state.busy = false;
    ctx_.notifyChange();
}

} // namespace nuvel
