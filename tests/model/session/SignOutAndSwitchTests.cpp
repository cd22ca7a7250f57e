// Signing out (online and offline, and a keyring that will not let go) and switching to
// another workspace of the account: the chosen contract kept for offline starts, and every
// failed switch keeping the open workspace.
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "tests/model/session/SessionFakes.hpp"

#include <limits>
#include <regex>
#include <tuple>

using namespace nuvel;
using namespace nuvel::test;

namespace {
const std::string revokeLaterText =
    "Signed out on this Mac. Revoke this device on the website when you are online.";
const std::string signOutFailedText = "Sign-out could not finish. Please try again.";
const std::string switchFailedText =
    "This workspace could not be opened. Your recordings remain in their original workspace.";

void signedInAtStart(SessionHarness& h) {
    h.storeSession(sampleSession());
    h.service->answerEveryWorkspace();
    h.startUp();
}

// The workspace the account's discovery cache holds.
std::string cachedWorkspace(SessionHarness& h) {
    NativeDiscoveryCache cache(h.accountFolder() / "discovery", h.accountKey(), "acc_1");
    return cache.load(Date{700000000 + 10}).bootstrap.selectedWorkspaceID;
}
} // namespace

TEST(SignOut, ForgetsTheAccountInMemoryKeepsItsFilesAndRevokesTheDevice) {
    for (const bool offline : {false, true}) {
        SCOPED_TRACE(offline ? "offline" : "online");
        SessionHarness h;
        const LocalRecording kept = sampleRecording("Kept");
        h.realStore({kept}, sampleContract());
        signedInAtStart(h);
        ASSERT_EQ(h.model->recordings().size(), 1u);
        h.service->revokeFails = offline;
        h.cloud->calls.clear();

        std::vector<bool> busyWhenTold;
        h.model->onChange = [&] { busyWhenTold.push_back(h.model->busy()); };
        h.model->signOut();
        h.queue.drain();
        EXPECT_EQ(busyWhenTold, (std::vector<bool>{true, false}));
        EXPECT_EQ(h.model->message(), offline ? revokeLaterText : "");
        EXPECT_EQ(h.service->revoked, (std::vector<std::string>{"token-1"}));
        EXPECT_FALSE(h.model->session());
        EXPECT_FALSE(h.model->bootstrap());
        EXPECT_FALSE(h.model->store());
        EXPECT_TRUE(h.model->recordings().empty());
        EXPECT_FALSE(h.model->selectedID());
        EXPECT_EQ(h.cloud->calls, (std::vector<std::string>{"reset"}));
        EXPECT_FALSE(h.storedSession());
        // What the account keeps on this machine: its media key, store and cached contract.
        Bytes key;
        EXPECT_EQ(h.keyring->copy(AppModel::keychainService, "media-v1-acc_1", key), keychainStatus::success);
        EXPECT_EQ(cachedWorkspace(h), "ws_team");

        // The next start finds no session; signing in again reopens the same store under the same key.
        h.restart();
        EXPECT_FALSE(h.model->session());
        h.signInThroughBrowser();
        ASSERT_EQ(h.model->recordings().size(), 1u);
        EXPECT_EQ(h.model->recordings()[0].id, kept.id);
    }
}

TEST(SignOut, AKeyringThatKeepsTheSessionLeavesTheModelSignedIn) {
    SessionHarness h;
    h.nextReport.recordings = sampleRecordings(2);
    signedInAtStart(h);
    const auto store = h.model->store();
    h.keyring->failWith(keychainStatus::authFailed);
    h.model->signOut();
    h.queue.drain();
    EXPECT_EQ(h.model->message(), signOutFailedText);
    EXPECT_TRUE(h.model->session());
    EXPECT_TRUE(h.model->bootstrap());
    EXPECT_EQ(h.model->store(), store);
    EXPECT_EQ(h.model->recordings().size(), 2u);
    EXPECT_FALSE(h.model->busy());
    EXPECT_TRUE(h.service->revoked.empty()) << "the device is revoked only once this machine has let go";
}

TEST(WorkspaceSwitch, OpensTheChosenWorkspaceAndKeepsItsContractForOfflineStarts) {
    SessionHarness h;
    signedInAtStart(h);
    h.model->selectWorkspace("ws_other");
    EXPECT_TRUE(h.model->busy());
    h.queue.drain();
    EXPECT_EQ(h.service->bootstrapCalls.back(), "token-1|ws_other");
    const auto chosen = h.accountFolder() / ("workspace-" + hexOf("ws_other"));
    EXPECT_EQ(h.openedRoots.back(), chosen);
    EXPECT_EQ(h.model->store()->root(), chosen);
    EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_other");
    EXPECT_EQ(h.cloud->configuredWorkspace, "ws_other");
    EXPECT_FALSE(h.model->busy());
    EXPECT_EQ(h.model->message(), "");
    EXPECT_EQ(cachedWorkspace(h), "ws_other");

    EXPECT_TRUE(std::regex_match(chosen.filename().string(), std::regex("workspace-[0-9a-f]{64}")));

    h.service->answer = nullptr; // offline from now on
    h.restart();
    EXPECT_EQ(h.openedRoots.back(), chosen);
    EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_other");

    // A personal workspace has the one "personal" store, whatever its id.
    h.service->answer = [](const std::optional<std::string>& id) { return sampleContract("personal", *id); };
    for (const std::string id : {"ws_me", "ws_me_renamed"}) {
        h.model->selectWorkspace(id);
        h.queue.drain();
        EXPECT_EQ(h.openedRoots.back(), h.accountFolder() / "personal") << id;
        EXPECT_EQ(h.model->workspaceTitle(), "Personal workspace") << id;
    }
}

TEST(WorkspaceSwitch, AFailedSwitchSaysSoAndKeepsTheOpenWorkspace) {
    using Answer = std::function<NativeBootstrap(const std::optional<std::string>&)>;
    struct Case {
        std::string what;
        Answer answer;
        bool storeFails;
        std::string cachedAfter; // a contract that was fetched and checked is kept
    };
    auto contractFor = [](std::string account, std::string selected) -> Answer {
        return [account, selected](const std::optional<std::string>&) {
            NativeBootstrap contract = sampleContract("team", selected);
            contract.account.id = account;
            return contract;
        };
    };
    const std::vector<Case> cases = {
        {"the service cannot be reached", nullptr, false, "ws_team"},
        {"the service refuses",
         [](const std::optional<std::string>&) -> NativeBootstrap { throw APIError(403, "forbidden"); },
         false, "ws_team"},
        {"a contract for another account", contractFor("acc_2", "ws_other"), false, "ws_team"},
        {"an answer for another workspace", contractFor("acc_1", "ws_team"), false, "ws_team"},
        {"the chosen store does not open", contractFor("acc_1", "ws_other"), true, "ws_other"},
    };
    for (const Case& c : cases) {
        SessionHarness h;
        h.nextReport.recordings = sampleRecordings(2);
        signedInAtStart(h);
        const auto store = h.model->store();
        const auto recordings = h.model->recordings();
        h.service->answer = c.answer;
        h.failOpenStore = c.storeFails;
        h.model->selectWorkspace("ws_other");
        h.queue.drain();
        EXPECT_EQ(h.model->message(), switchFailedText) << c.what;
        EXPECT_EQ(h.model->store(), store) << c.what;
        EXPECT_EQ(h.model->recordings().size(), recordings.size()) << c.what;
        EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_team") << c.what;
        EXPECT_FALSE(h.model->busy()) << c.what;
        EXPECT_EQ(cachedWorkspace(h), c.cachedAfter) << c.what;
    }
}

TEST(WorkspaceSwitch, BeginsOnlyAfterTheRunningAnnotationSave) {
    SessionHarness h;
    h.nextReport.recordings = sampleRecordings(1);
    signedInAtStart(h);
    auto old = std::dynamic_pointer_cast<FakeStore>(h.model->store());
    h.executor.holding = true;
    h.model->setScratchpad("before the switch", h.model->recordings()[0].id);
    h.queue.drain();
    ASSERT_EQ(h.executor.held.size(), 1u) << "the save waits on the executor";
    const std::size_t fetches = h.service->bootstrapCalls.size();
    h.model->selectWorkspace("ws_other");
    h.queue.drain();
    EXPECT_EQ(h.executor.held.size(), 1u) << "the switch waits for the save";
    h.executor.runNewest();
    h.queue.drain();
    EXPECT_EQ(old->annotationSaves.size(), 1u) << "saved into the store it started with";
    EXPECT_EQ(h.service->bootstrapCalls.size(), fetches);
    h.releaseHeld();
    EXPECT_EQ(h.service->bootstrapCalls.back(), "token-1|ws_other");
    EXPECT_EQ(h.model->bootstrap()->selectedWorkspaceID, "ws_other");
}

TEST(WorkspaceOpening, TheCloudLibraryGetsTheLeaseLeftOfACachedContractNeverBelowZero) {
    // The queue's clock starts at 1000: "now" is 700000000 on the wall clock.
    const std::vector<std::tuple<std::string, std::optional<Date>, std::optional<double>>> cases = {
        {"no offline limit: the contract's own span", std::nullopt, 3600.0},
        {"a limit ahead", Date{700000000 + 90.5}, 90.5},
        {"a limit passed", Date{700000000 - 5}, 0.0},
        {"a limit that is no time", Date{std::numeric_limits<double>::quiet_NaN()}, 0.0},
    };
    for (const auto& [what, until, seconds] : cases) {
        PartsHarness h;
        runToCompletion(h.queue, h.parts->workspaces.openWorkspace(sampleSession(), sampleContract(), until));
        EXPECT_EQ(h.cloud->configuredOfflineSeconds, seconds) << what;
        EXPECT_EQ(h.cloud->configuredCacheRoot, h.accountFolder() / "cloud-documents") << what;
    }
}
