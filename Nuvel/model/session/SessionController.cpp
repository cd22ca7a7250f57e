#include "Nuvel/model/session/SessionController.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"

namespace nuvel {

// ---- Start-up ----

void SessionController::startUp() {
    ctx_.tasks.start(startUpTask(ctx_.hold()));
}

Task<void> SessionController::startUpTask([[maybe_unused]] ModelContext::Hold hold) {
    co_await restoreSession();
}

Task<void> SessionController::restoreSession() {
    bool failed = false;
    const KeychainVault* vault = &ctx_.vault;
    auto load = [vault] { return vault->load(KeychainVault::deviceSessionAccount); };
    Outcome<std::optional<Bytes>> item = co_await attemptOn(ctx_.actors(), load);
    std::optional<DeviceSession> stored;
    if (!item.ok()) {
        item.drop("reading the stored session");
        failed = true;
    } else if (const std::optional<Bytes>& bytes = item.value()) {
        auto decode = [&bytes] {
            return DeviceSession::decode(
                std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        };
        Outcome<DeviceSession> decoded = attemptNow(decode);
        if (decoded.ok()) {
            stored = decoded.value();
        } else {
            decoded.drop("decoding the stored session"); // the item stays in the keyring
            failed = true;
        }
    }
    if (stored) {
        Task<void> activating = activateSession(*stored);
        Outcome<void> activated = co_await attempt(activating);
        if (!activated.ok()) {
            activated.drop("activating the stored session");
            failed = true;
        }
    }
    if (failed)
        ctx_.setMessage(StatusText::unlockFailed);
    ctx_.state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

Task<void> SessionController::activateSession(DeviceSession session) {
    const std::string account = session.account.id;
    const std::filesystem::path dataRoot = ctx_.deps.dataRoot;
    const KeychainVault* vault = &ctx_.vault;
    auto rootJob = [dataRoot, vault, account] {
        return WorkspaceOpener::workspacesRoot(dataRoot, *vault, account);
    };
    WorkspaceOpener::AccountFolder folder = co_await runOn(ctx_.actors(), rootJob);
    auto cacheJob = [folder, account] {
        return std::make_shared<NativeDiscoveryCache>(folder.folder / "discovery", folder.key, account);
    };
    std::shared_ptr<NativeDiscoveryCache> cache = co_await runOn(ctx_.actors(), cacheJob);

    // Arguments of an awaited call are named, never temporaries (see Task.hpp).
    const std::optional<NativeBootstrap> noContract;
    const std::optional<Date> noLimit;
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    std::string token = session.token;
    auto fetch = [api, token, account](std::stop_token stop) {
        NativeBootstrap contract = api->bootstrap(token, std::nullopt, stop);
        contract.validate(account);
        return contract;
    };
    Outcome<NativeBootstrap> fetched = co_await attemptOn(ctx_.actors(), fetch);
    if (fetched.ok()) {
        const std::optional<NativeBootstrap> contract = fetched.value();
        Date validatedAt = ctx_.now();
        auto save = [cache, contract, validatedAt] { cache->save(*contract, validatedAt); };
        Outcome<void> saved = co_await attemptOn(ctx_.actors(), save);
        // Without a cached copy the next offline start opens the personal folder.
        saved.drop("caching the contract");
        co_await workspaces_.openWorkspace(session, contract, noLimit);
        co_return;
    }
    const APIError* refused = fetched.errorAs<APIError>();
    if (refused && (refused->status() == 401 || refused->status() == 403)) {
        // The device is no longer allowed into the workspace: forget its contract, keep the
        // session and the local recordings.
        const bool unknown = refused->status() == 401;
        auto remove = [cache] { cache->remove(); };
        Outcome<void> removed = co_await attemptOn(ctx_.actors(), remove);
        removed.drop("removing the cached contract");
        co_await workspaces_.openWorkspace(session, noContract, noLimit);
        if (unknown) {
            // The service no longer knows the session (revoked, or the service was reset): the
            // library says so and offers the sign-in, as it does when its own load is refused.
            ctx_.state.sessionRefused = true;
            ctx_.cloud->refuseSession();
            ctx_.notifyChange();
        }
        co_return;
    }
    // Offline, another answer, or a contract that failed its checks: the cached one, while it holds.
    fetched.drop("fetching the contract");
    Date at = ctx_.now();
    auto load = [cache, at] { return cache->load(at); };
    Outcome<CachedNativeDiscovery> cached = co_await attemptOn(ctx_.actors(), load);
    if (cached.ok()) {
        const std::optional<NativeBootstrap> contract = cached.value().bootstrap;
        const std::optional<Date> until = cached.value().expiresAt;
        co_await workspaces_.openWorkspace(session, contract, until);
    } else {
        cached.drop("loading the cached contract");
        co_await workspaces_.openWorkspace(session, noContract, noLimit);
    }
}

} // namespace nuvel
