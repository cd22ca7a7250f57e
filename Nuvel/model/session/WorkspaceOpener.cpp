#include "Nuvel/model/session/WorkspaceOpener.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <cmath>
#include <system_error>

namespace nuvel {

namespace {

// A recording folder (named by its UUID) or a sealed file: something a media key was used for.
bool isStoredData(const std::filesystem::path& path) {
    return Uuid::parse(path.filename().string()).has_value() || path.extension() == ".nuvel";
}

// Whether anything below the account folder was sealed with the account's key; a missing folder
// holds nothing. A folder that cannot be read to the end throws: what it holds is unknown, and
// answering "nothing" would let a new key be made beside data sealed with the old one.
bool holdsStoredData(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error);
    if (error == std::errc::no_such_file_or_directory)
        return false;
    if (error)
        throw fs::filesystem_error("scan stored recordings", folder, error);
    for (fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error)
            throw fs::filesystem_error("scan stored recordings", folder, error);
        if (isStoredData(it->path()))
            return true;
    }
    if (error)
        throw fs::filesystem_error("scan stored recordings", folder, error);
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

std::string WorkspaceOpener::hexDigest(std::string_view text) {
    return hexString(Sha256::hash(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

WorkspaceOpener::AccountFolder WorkspaceOpener::workspacesRoot(const std::filesystem::path& dataRoot,
                                                               const KeychainVault& vault,
                                                               const std::string& accountID) {
    files::createOwnerOnlyDirectories(dataRoot);
    std::filesystem::path folder = dataRoot / "Nuvel" / "production" / hexDigest(accountID);
    SymmetricKey key = vault.mediaKey(accountID, holdsStoredData(folder));
    return AccountFolder{folder, key};
}

Task<void> WorkspaceOpener::openWorkspace(DeviceSession session, std::optional<NativeBootstrap> contract,
                                          std::optional<Date> offlineUntil) {
    const std::string account = session.account.id;
    const std::filesystem::path dataRoot = ctx_.deps.dataRoot;
    const KeychainVault* vault = &ctx_.vault;
    auto rootJob = [dataRoot, vault, account] { return workspacesRoot(dataRoot, *vault, account); };
    AccountFolder folder = co_await runOn(ctx_.actors(), rootJob);

    const bool personal = !contract || contract->workspace.kind == "personal";
    const std::string name =
        personal ? std::string("personal") : "workspace-" + hexDigest(contract->workspace.id);
    WorkspaceStoreFactory factory = ctx_.deps.openStore;
    std::filesystem::path root = folder.folder / name;
    SymmetricKey key = folder.key;
    auto openJob = [factory, root, key] {
        std::shared_ptr<WorkspaceStore> made = factory(root, key);
        if (!made)
            throw Error("the workspace store could not be opened");
        return made;
    };
    std::shared_ptr<WorkspaceStore> store = co_await runOn(ctx_.actors(), openJob);
    auto recoverJob = [store, account] { return store->recover(account); };
    RecoveryReport report = co_await runOn(ctx_.actors(), recoverJob);

    if (contract && contract->capabilities.nativeLibrary) {
        const std::filesystem::path cacheRoot = folder.folder / "cloud-documents";
        const std::optional<double> offline = offlineSeconds(*contract, offlineUntil, ctx_.now());
        co_await ctx_.cloud->configure(session, contract->selectedWorkspaceID, cacheRoot, folder.key,
                                       offline);
    } else {
        ctx_.cloud->reset();
    }

    // One uninterrupted step: no observer sees the new store beside the old recordings.
    ctx_.tasks.cancel(ModelTasks::Scope::account);
    ModelState& state = ctx_.state;
    state.session = session;
    state.sessionRefused = false;
    state.bootstrap = std::move(contract);
    state.store = store;
    state.recordings = std::move(report.recordings);
    state.selectedID =
        state.recordings.empty() ? std::nullopt : std::optional<Uuid>(state.recordings.front().id);
    state.writeMessage(report.unreadable > 0 ? ctx_.localized(StatusText::recoveryNeeded) : std::string());
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();

    for (const auto& recording : state.recordings)
        if (recording.transfer == TransferState::accepted && notepadNeedsSync(recording))
            annotations_.startNotepadSync(recording.id);
}

void WorkspaceOpener::selectWorkspace(std::string workspaceID) {
    playback_.stopPlayback();
    ctx_.state.busy = true;
    ctx_.notifyChange();
    ctx_.tasks.start(switchWorkspace(ctx_.hold(), *ctx_.state.session, std::move(workspaceID)));
}

Task<void> WorkspaceOpener::switchWorkspace([[maybe_unused]] ModelContext::Hold hold, DeviceSession session,
                                            std::string workspaceID) {
    // A running annotation save holds the store it started with: it ends first.
    while (annotations_.annotationTask().isValid() && !annotations_.annotationTask().isFinished()) {
        TaskHandle running = annotations_.annotationTask();
        co_await running.join();
    }
    Task<void> opening = openChosenWorkspace(session, workspaceID);
    Outcome<void> opened = co_await attempt(opening);
    if (!opened.ok()) {
        // The old workspace stays open; a switch never falls back to the cached contract.
        opened.drop("switching the workspace");
        ctx_.writeMessage(StatusText::workspaceFailed);
    }
    ctx_.state.busy = false;
    ctx_.notifyChange();
    upload_.scheduleQueueWakeup();
}

Task<void> WorkspaceOpener::openChosenWorkspace(DeviceSession session, std::string workspaceID) {
    const std::string account = session.account.id;
    std::shared_ptr<NuvelAPI> api = ctx_.deps.api;
    const std::string token = session.token;
    auto fetch = [api, token, workspaceID, account](std::stop_token stop) {
        NativeBootstrap contract = api->bootstrap(token, workspaceID, stop);
        contract.validate(account);
        if (contract.selectedWorkspaceID != workspaceID)
            throw RecordingError(RecordingError::Code::accountMismatch);
        return contract;
    };
    NativeBootstrap contract = co_await runOn(ctx_.actors(), fetch);

    const std::filesystem::path dataRoot = ctx_.deps.dataRoot;
    const KeychainVault* vault = &ctx_.vault;
    auto cacheJob = [dataRoot, vault, account] {
        AccountFolder folder = workspacesRoot(dataRoot, *vault, account);
        return std::make_shared<NativeDiscoveryCache>(folder.folder / "discovery", folder.key, account);
    };
    std::shared_ptr<NativeDiscoveryCache> cache = co_await runOn(ctx_.actors(), cacheJob);
    const Date validatedAt = ctx_.now();
    auto save = [cache, contract, validatedAt] { cache->save(contract, validatedAt); };
    Outcome<void> saved = co_await attemptOn(ctx_.actors(), save);
    // The next offline start opens the chosen workspace only when this was kept.
    saved.drop("caching the chosen contract");

    const std::optional<NativeBootstrap> chosen = contract;
    const std::optional<Date> noLimit;
    co_await openWorkspace(session, chosen, noLimit);
}

} // namespace nuvel
