// Start-up: the stored device session, the workspace contract fetched or taken from the
// discovery cache, the account folder and media key, and the opening of the workspace store.
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "tests/model/ModelHarness.hpp"

#include <cerrno>
#include <dirent.h>
#include <fstream>
#include <linux/capability.h>
#include <optional>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {
const std::string unlockText = "Your saved recordings could not be unlocked. The files have been preserved.";

std::string hex(const std::string& text) {
    return hexString(Sha256::hash(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
}

std::vector<bool> startUp(AppHarness& h) {
    return h.startUp();
}

SymmetricKey mediaKey(AppHarness& h) {
    return KeychainVault(AppModel::keychainService, h.keyring).mediaKey("acc_1", false);
}

// Makes a folder unreadable to this thread while it lives: mode 000, and without the capabilities
// that let a privileged user read it anyway.
class UnreadableFolder {
public:
    explicit UnreadableFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
        EXPECT_EQ(::chmod(folder_.c_str(), 0), 0);
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~UnreadableFolder() {
        if (dropped_)
            ::syscall(SYS_capset, &header_, saved_);
        ::chmod(folder_.c_str(), 0700);
    }
    UnreadableFolder(const UnreadableFolder&) = delete;
    UnreadableFolder& operator=(const UnreadableFolder&) = delete;

    // Whether this thread really cannot list the folder: a process that keeps a capability
    // (one in a container that refuses capset, say) still reads it.
    bool unreadable() const {
        DIR* listing = ::opendir(folder_.c_str());
        if (listing == nullptr)
            return errno == EACCES;
        ::closedir(listing);
        return false;
    }

private:
    std::filesystem::path folder_;
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

// A discovery cache entry validated `age` seconds ago.
void cacheContract(AppHarness& h, const NativeBootstrap& contract, double age) {
    NativeDiscoveryCache cache(h.accountFolder() / "discovery", mediaKey(h), "acc_1");
    cache.save(contract, Date{700000000 - age});
}
} // namespace

TEST(AppModelStartup, WithoutAStoredSessionTheModelEndsSignedOutAndQuiet) {
    AppHarness h;
    std::vector<bool> busy = startUp(h);
    EXPECT_EQ(busy.front(), true) << "start shows the model busy first";
    EXPECT_EQ(busy.back(), false);
    EXPECT_FALSE(h.model->busy());
    EXPECT_FALSE(h.model->session());
    EXPECT_FALSE(h.model->store());
    EXPECT_EQ(h.model->message(), "");
    EXPECT_TRUE(h.api->bootstrapCalls.empty());
    EXPECT_TRUE(h.openedRoots.empty());
    // The system notices are listened to from start on.
    EXPECT_TRUE(h.sleepNotices->willSleep);
    EXPECT_TRUE(h.deviceRemovals->removed);
}

TEST(AppModelStartup, AStoredSessionThatCannotBeReadKeepsItsItemAndSaysSo) {
    {
        AppHarness h;
        const std::string noToken = R"({"account": {"id": "acc_1", "email": "ada@example.com"}})";
        h.keyring->add(AppModel::keychainService, KeychainVault::deviceSessionAccount,
                       ByteView(reinterpret_cast<const std::uint8_t*>(noToken.data()), noToken.size()));
        startUp(h);
        EXPECT_EQ(h.model->message(), unlockText);
        EXPECT_FALSE(h.model->session());
        EXPECT_FALSE(h.model->busy());
        EXPECT_EQ(h.keyring->itemCount(), 1u) << "the item is left where it was";
    }
    {
        AppHarness h;
        h.keyring->failWith(keychainStatus::authFailed);
        startUp(h);
        EXPECT_EQ(h.model->message(), unlockText);
        EXPECT_FALSE(h.model->busy());
    }
}

TEST(AppModelStartup, AFetchedContractOpensItsWorkspaceFolderAndIsCached) {
    AppHarness h;
    h.storeSession(sampleSession());
    h.api->answerBootstrap = [] { return sampleContract("team", "ws_team"); };
    LocalRecording first = sampleRecording("First"), second = sampleRecording("Second");
    h.nextReport.recordings = {first, second};
    h.model->onChange = [&] { ++h.changes; };
    h.model->start();
    h.queue.drain();

    EXPECT_EQ(h.api->bootstrapCalls, (std::vector<std::string>{"token-1|-"}));
    const auto workspace = h.accountFolder() / ("workspace-" + hex("ws_team"));
    ASSERT_EQ(h.openedRoots, (std::vector<std::filesystem::path>{workspace}));
    EXPECT_EQ(h.stores.at(workspace)->calls.front(), "recover acc_1");
    ASSERT_TRUE(h.model->session());
    EXPECT_EQ(h.model->session()->token, "token-1");
    ASSERT_TRUE(h.model->bootstrap());
    EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_team");
    EXPECT_EQ(h.model->store().get(), h.stores.at(workspace).get());
    ASSERT_EQ(h.model->recordings().size(), 2u);
    EXPECT_EQ(h.model->recordings()[0].id, first.id);
    EXPECT_EQ(h.model->selectedID(), first.id);
    EXPECT_EQ(h.model->message(), "");
    EXPECT_FALSE(h.model->busy());
    EXPECT_EQ(h.model->workspaceTitle(), "Field Team");

    // The cloud library is configured for the workspace with the contract's offline lease.
    EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"configure"}));
    EXPECT_EQ(h.cloud->configuredWorkspace, "ws_team");
    EXPECT_EQ(h.cloud->configuredCacheRoot, h.accountFolder() / "cloud-documents");
    EXPECT_EQ(h.cloud->configuredOfflineSeconds, 3600.0);

    // A new media key was made for the empty account, and the contract cached under it.
    Bytes key;
    EXPECT_EQ(h.keyring->copy(AppModel::keychainService, "media-v1-acc_1", key), keychainStatus::success);
    NativeDiscoveryCache cache(h.accountFolder() / "discovery", mediaKey(h), "acc_1");
    EXPECT_EQ(cache.load(Date{700000000 + 10}).bootstrap.selectedWorkspaceID, "ws_team");
}

TEST(AppModelStartup, APersonalWorkspaceAndALibraryWithoutCloudUseThePersonalFolder) {
    AppHarness h;
    h.storeSession(sampleSession());
    h.api->answerBootstrap = [] {
        return sampleContract("personal", "ws_me",
                              R"({"create_idempotency": false, "upload_reconciliation": false,
                                  "upload_heartbeat": false, "commit_reconciliation": false,
                                  "native_library": false})");
    };
    startUp(h);
    EXPECT_EQ(h.openedRoots, (std::vector<std::filesystem::path>{h.accountFolder() / "personal"}));
    EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"reset"}));
    EXPECT_TRUE(h.model->recordings().empty());
    EXPECT_FALSE(h.model->selectedID());
    EXPECT_EQ(h.model->workspaceTitle(), "Personal workspace");
}

TEST(AppModelStartup, UnreadableRecordingsAreLeftOutWithTheRecoverySentence) {
    AppHarness h;
    h.storeSession(sampleSession());
    h.api->answerBootstrap = [] { return sampleContract(); };
    h.nextReport.recordings = {sampleRecording()};
    h.nextReport.unreadable = 2;
    h.localizePrefix = "[ar] ";
    startUp(h);
    EXPECT_EQ(h.model->message(),
              "[ar] Some saved recordings need recovery. Their files have been preserved.");
    EXPECT_EQ(h.model->recordings().size(), 1u);
}

TEST(AppModelStartup, ARefusedDeviceKeepsItsSessionButLosesItsCachedContract) {
    // An unknown session (401) is the library's to tell, with its offer to sign in again; a
    // device refused the workspace (403) is not.
    for (const int status : {401, 403}) {
        SCOPED_TRACE(status);
        AppHarness h;
        h.storeSession(sampleSession());
        cacheContract(h, sampleContract(), 10);
        h.api->answerBootstrap = [status]() -> NativeBootstrap { throw APIError(status, "refused"); };
        h.nextReport.recordings = {sampleRecording("Kept")};
        startUp(h);
        EXPECT_EQ(h.openedRoots, (std::vector<std::filesystem::path>{h.accountFolder() / "personal"}));
        EXPECT_TRUE(h.model->session());
        EXPECT_FALSE(h.model->bootstrap());
        EXPECT_EQ(h.model->recordings().size(), 1u) << "the local recordings stay listed";
        EXPECT_EQ(h.cloud->calls, status == 401 ? (std::vector<std::string>{"reset", "refuseSession"})
                                                : (std::vector<std::string>{"reset"}));
        EXPECT_EQ(h.model->sessionRefused(), status == 401);
        EXPECT_FALSE(std::filesystem::exists(
            NativeDiscoveryCache(h.accountFolder() / "discovery", mediaKey(h), "acc_1").file()));
        EXPECT_EQ(h.model->message(), "");
    }
}

TEST(AppModelStartup, OfflineTheCachedContractOpensItsWorkspaceForTheRestOfItsLease) {
    AppHarness h;
    h.storeSession(sampleSession());
    cacheContract(h, sampleContract("team", "ws_cached"), 100);
    // No answer from the service (the fake's default).
    startUp(h);
    EXPECT_EQ(h.openedRoots,
              (std::vector<std::filesystem::path>{h.accountFolder() / ("workspace-" + hex("ws_cached"))}));
    ASSERT_TRUE(h.model->bootstrap());
    EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_cached");
    EXPECT_EQ(h.cloud->configuredWorkspace, "ws_cached");
    EXPECT_EQ(h.cloud->configuredOfflineSeconds, 3500.0) << "the lease's end, not the contract's full span";
    EXPECT_EQ(h.model->message(), "");
}

TEST(AppModelStartup, OfflineAfterTheLeaseOrWithAContractThatFailsItsChecksOpensPersonal) {
    {
        AppHarness h;
        h.storeSession(sampleSession());
        cacheContract(h, sampleContract(), 3600); // expired just now
        startUp(h);
        EXPECT_EQ(h.openedRoots, (std::vector<std::filesystem::path>{h.accountFolder() / "personal"}));
        EXPECT_FALSE(h.model->bootstrap());
        EXPECT_TRUE(h.model->session());
        EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"reset"}));
    }
    {
        AppHarness h;
        h.storeSession(sampleSession());
        NativeBootstrap foreign = sampleContract();
        foreign.account.id = "acc_2"; // a contract for another account fails validation
        h.api->answerBootstrap = [foreign] { return foreign; };
        startUp(h);
        EXPECT_EQ(h.openedRoots, (std::vector<std::filesystem::path>{h.accountFolder() / "personal"}));
        EXPECT_FALSE(h.model->bootstrap());
    }
}

TEST(AppModelStartup, AMissingMediaKeyBesideStoredOrUnreadableDataMakesNoNewKeyAndTouchesNothing) {
    struct Row {
        const char* what;
        const char* lockedFolder; // below the account folder, made unreadable; none: all readable
    };
    const Row rows[] = {
        {"a stored recording", nullptr},
        {"a store folder that cannot be read", "personal"},
        {"an account folder that cannot be read", ""},
    };
    // An unreadable folder must give the same answer as one holding a recording: only a folder
    // that truly cannot be read makes those rows show anything.
    {
        TempDir probe("unreadable");
        UnreadableFolder locked(probe.path());
        if (!locked.unreadable())
            GTEST_SKIP() << "this process reads a folder of mode 000 even with CAP_DAC_OVERRIDE and "
                            "CAP_DAC_READ_SEARCH dropped, so no folder can be made unreadable to it";
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppHarness h;
        h.storeSession(sampleSession());
        h.api->answerBootstrap = [] { return sampleContract(); };
        const auto folder = h.accountFolder() / "personal" / Uuid::random().uppercase();
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "manifest.nuvel") << "sealed";
        {
            std::optional<UnreadableFolder> locked;
            if (row.lockedFolder) {
                locked.emplace(h.accountFolder() / row.lockedFolder);
                ASSERT_TRUE(locked->unreadable());
            }
            startUp(h);
        }
        EXPECT_EQ(h.model->message(), unlockText);
        EXPECT_FALSE(h.model->session());
        EXPECT_FALSE(h.model->store());
        EXPECT_TRUE(h.openedRoots.empty());
        EXPECT_EQ(h.keyring->itemCount(), 1u) << "only the session: no new media key";
        EXPECT_TRUE(std::filesystem::exists(folder / "manifest.nuvel"));
    }
}

TEST(AppModelStartup, FoldersThatHoldNoSealedDataDoNotBlockANewKey) {
    AppHarness h;
    h.storeSession(sampleSession());
    h.api->answerBootstrap = [] { return sampleContract(); };
    std::filesystem::create_directories(h.accountFolder() / "personal" / "not-a-uuid");
    std::ofstream(h.accountFolder() / "personal" / "notes.txt") << "plain";
    startUp(h);
    EXPECT_TRUE(h.model->session());
    EXPECT_EQ(h.model->message(), "");
}

TEST(AppModelStartup, ARecoveryReportOrCloudThatFailsLeavesTheModelSignedOut) {
    for (const std::string failure : {"store", "recovery", "cloud"}) {
        AppHarness h;
        h.storeSession(sampleSession());
        h.api->answerBootstrap = [] { return sampleContract(); };
        h.failOpenStore = failure == "store";
        h.failRecover = failure == "recovery";
        h.cloud->failConfigure = failure == "cloud";
        startUp(h);
        EXPECT_EQ(h.model->message(), unlockText) << failure;
        EXPECT_FALSE(h.model->session()) << failure;
        EXPECT_FALSE(h.model->bootstrap()) << failure;
        EXPECT_FALSE(h.model->store()) << failure;
        EXPECT_TRUE(h.model->recordings().empty()) << failure;
        EXPECT_FALSE(h.model->busy()) << failure;
    }
}

TEST(AppModelStartup, TheEndOfStartUpWakesAQueuedUpload) {
    AppHarness h;
    h.storeSession(sampleSession());
    h.api->answerBootstrap = [] { return sampleContract(); };
    LocalRecording queued = sampleRecording();
    queued.uploadQueued = true;
    queued.transfer = TransferState::uploading; // a run that stopped with the application
    h.nextReport.recordings = {queued};
    int runs = 0; // runs started: `uploading` turning true
    bool was = false;
    h.model->onChange = [&] {
        runs += h.model->uploading() && !was ? 1 : 0;
        was = h.model->uploading();
    };
    h.model->start();
    h.queue.drain();
    EXPECT_EQ(runs, 1);
}
