// Start-up: the stored device session, the workspace contract (fresh, or cached while offline)
// and the opening of the workspace's store with its recovery scan.
#include "Nuvel/model/AppModel.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cmath>
#include <system_error>

namespace nuvel {

namespace {
constexpr std::string_view unlockFailedText =
    "Your saved recordings could not be unlocked. The files have been preserved.";
constexpr std::string_view recoveryNeededText =
    "Some saved recordings need recovery. Their files have been preserved.";

// A recording folder (named by its UUID) or a sealed file: something a media key was used for.
bool isStoredData(const std::filesystem::path& path) {
    return Uuid::parse(path.filename().string()).has_value() || path.extension() == ".nuvel";
}

// Whether anything below the account folder was sealed with the account's key. Unreadable parts
// of the tree are passed over; a missing folder holds nothing.
bool holdsStoredData(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    if (error)
        return false;
    for (fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error)
            return false;
        if (isStoredData(it->path()))
            return true;
    }
    return false;
}

// Seconds of offline lease the cloud library gets.
std::optional<double> offlineSeconds(const NativeBootstrap& contract, std::optional<Date> offlineUntil,
                                     Date now) {
    if (!offlineUntil)
        return contract.limits.offlineAccessSeconds;
    double seconds = offlineUntil->sinceReferenceDate - now.sinceReferenceDate;
    if (!std::isfinite(seconds) || seconds < 0)
        return 0.0;
    return seconds;
}
} // namespace

void AppModel::start() {
    requireMain("AppModel::start");
    busy_ = true;
    notifyChange();
    spawn(queue(), startUp(shared_from_this()));

    std::weak_ptr<AppModel> weak = weak_from_this();
    MainQueue* main = deps_.mainQueue;
    if (deps_.sleepNotices) {
        deps_.sleepNotices->start([weak, main](std::function<void()> ready) {
            main->post([weak, ready] {
                if (auto self = weak.lock())
                    self->willSleep(ready);
                else
                    ready();
            });
        });
    }
    if (deps_.deviceRemovals) {
        deps_.deviceRemovals->start([weak, main] {
            main->post([weak] {
                if (auto self = weak.lock())
                    self->deviceChanged();
            });
        });
    }
}

Task<void> AppModel::startUp(std::shared_ptr<AppModel> self) {
    co_await self->restoreSession();
}

Task<void> AppModel::restoreSession() {
    bool failed = false;
    std::optional<Bytes> item;
    try {
        const KeychainVault* vault = &vault_;
        auto job = [vault] { return vault->load(KeychainVault::deviceSessionAccount); };
        item = co_await runOn(actors(), job);
    } catch (...) {
        failed = true;
    }
    std::optional<DeviceSession> stored;
    if (item) {
        try {
            stored = DeviceSession::decode(
                std::string_view(reinterpret_cast<const char*>(item->data()), item->size()));
        } catch (...) {
            failed = true; // the item stays in the keyring
        }
    }
    if (stored) {
        try {
            co_await activateSession(*stored);
        } catch (...) {
            failed = true;
        }
    }
    if (failed)
        setMessage(unlockFailedText);
    busy_ = false;
    notifyChange();
    scheduleQueueWakeup();
}

Task<void> AppModel::activateSession(DeviceSession session) {
    const std::string account = session.account.id;
    const std::filesystem::path dataRoot = deps_.dataRoot;
    const KeychainVault* vault = &vault_;
    auto rootJob = [dataRoot, vault, account] { return workspacesRoot(dataRoot, *vault, account); };
    AccountFolder folder = co_await runOn(actors(), rootJob);
    auto cacheJob = [folder, account] {
        return std::make_shared<NativeDiscoveryCache>(folder.folder / "discovery", folder.key, account);
    };
    std::shared_ptr<NativeDiscoveryCache> cache = co_await runOn(actors(), cacheJob);

    // Arguments of an awaited call are named, never temporaries (see Task.hpp).
    const std::optional<NativeBootstrap> noContract;
    const std::optional<Date> noLimit;
    std::optional<NativeBootstrap> fetched;
    int status = 0;
    try {
        std::shared_ptr<NuvelAPI> api = api_;
        std::string token = session.token;
        auto job = [api, token, account](std::stop_token stop) {
            NativeBootstrap contract = api->bootstrap(token, std::nullopt, stop);
            contract.validate(account);
            return contract;
        };
        fetched = co_await runOn(actors(), job);
    } catch (const APIError& error) {
        status = error.status();
    } catch (...) {
        status = 0;
    }

    if (fetched) {
        Date validatedAt = now();
        NativeBootstrap contract = *fetched;
        try {
            auto job = [cache, contract, validatedAt] { cache->save(contract, validatedAt); };
            co_await runOn(actors(), job);
        } catch (...) {
            // Without a cached copy the next offline start opens the personal folder.
        }
        co_await openWorkspace(session, fetched, noLimit);
        co_return;
    }
    if (status == 401 || status == 403) {
        // The device is no longer allowed into the workspace: forget its contract, keep the
        // session and the local recordings.
        try {
            auto job = [cache] { cache->remove(); };
            co_await runOn(actors(), job);
        } catch (...) {
        }
        co_await openWorkspace(session, noContract, noLimit);
        co_return;
    }
    std::optional<CachedNativeDiscovery> cached;
    try {
        Date at = now();
        auto job = [cache, at] { return cache->load(at); };
        cached = co_await runOn(actors(), job);
    } catch (...) {
        cached.reset();
    }
    if (cached) {
        std::optional<NativeBootstrap> contract = cached->bootstrap;
        std::optional<Date> until = cached->expiresAt;
        co_await openWorkspace(session, contract, until);
    } else {
        co_await openWorkspace(session, noContract, noLimit);
    }
}

std::string AppModel::hexDigest(std::string_view text) {
    return hexString(Sha256::hash(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

AppModel::AccountFolder AppModel::workspacesRoot(const std::filesystem::path& dataRoot,
                                                 const KeychainVault& vault, const std::string& accountID) {
    const std::string hex = hexDigest(accountID);
    files::createOwnerOnlyDirectories(dataRoot);
    std::filesystem::path folder = dataRoot / "Nuvel" / "production" / hex;
    // A missing key is made anew only while nothing sealed with the old one exists: otherwise
    // the keyring's not-found status stands and no file is touched.
    SymmetricKey key = vault.mediaKey(accountID, holdsStoredData(folder));
    return AccountFolder{folder, key};
}

Task<void> AppModel::openWorkspace(DeviceSession session, std::optional<NativeBootstrap> contract,
                                   std::optional<Date> offlineUntil) {
    const std::string account = session.account.id;
    const std::filesystem::path dataRoot = deps_.dataRoot;
    const KeychainVault* vault = &vault_;
    auto rootJob = [dataRoot, vault, account] { return workspacesRoot(dataRoot, *vault, account); };
    AccountFolder folder = co_await runOn(actors(), rootJob);

    const bool personal = !contract || contract->workspace.kind == "personal";
    const std::string name =
        personal ? std::string("personal") : "workspace-" + hexDigest(contract->workspace.id);
    WorkspaceStoreFactory factory = deps_.openStore;
    std::filesystem::path root = folder.folder / name;
    SymmetricKey key = folder.key;
    auto openJob = [factory, root, key] {
        std::shared_ptr<WorkspaceStore> made = factory(root, key);
        if (!made)
            throw Error("the workspace store could not be opened");
        return made;
    };
    std::shared_ptr<WorkspaceStore> store = co_await runOn(actors(), openJob);
    auto recoverJob = [store, account] { return store->recover(account); };
    RecoveryReport report = co_await runOn(actors(), recoverJob);

    if (contract && contract->capabilities.nativeLibrary) {
        const std::filesystem::path cacheRoot = folder.folder / "cloud-documents";
        const std::optional<double> offline = offlineSeconds(*contract, offlineUntil, now());
        co_await cloud_->configure(session, contract->selectedWorkspaceID, cacheRoot, folder.key, offline);
    } else
        cloud_->reset();

    // One uninterrupted step: no observer sees the new store beside the old recordings.
    session_ = session;
    bootstrap_ = std::move(contract);
    store_ = store;
    recordings_ = std::move(report.recordings);
    selectedID_ = recordings_.empty() ? std::nullopt : std::optional<Uuid>(recordings_.front().id);
    message_ = report.unreadable > 0 ? localized(recoveryNeededText) : std::string();
    notifyChange();
    scheduleQueueWakeup();

    for (const auto& recording : recordings_)
        if (recording.transfer == TransferState::accepted && notepadNeedsSync(recording))
            spawn(queue(), runNotepadSync(shared_from_this(), recording.id));
}

} // namespace nuvel
