// The browser sign-in from the page to the open workspace: the callback's checks, the token
// exchange with the attempt's verifier, the stored session, the replaced and the given-up
// attempt, and callbacks refused while other work runs.
#include "tests/model/session/SessionFakes.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {
const std::string signInFailedText = "Sign-in could not finish. Please try again.";

// Signed in already over the stored session, in the team workspace.
void signedInAtStart(SessionHarness& h) {
    h.storeSession(sampleSession());
    h.service->answerEveryWorkspace();
    h.startUp();
}
} // namespace

TEST(SignIn, TheCallbackOfThePendingAttemptStoresTheSessionAndOpensItsWorkspace) {
    SessionHarness h;
    h.startUp();
    h.service->answerEveryWorkspace();
    h.service->session = DeviceSession{"token-new", DeviceAccount{"acc_1", "ada@example.com", std::nullopt}};
    h.nextReport.recordings = {sampleRecording("Kept")};
    h.model->signIn();
    ASSERT_EQ(h.browser->opened.size(), 1u);
    const std::string callback = h.service->approve(h.browser->opened[0]);
    EXPECT_TRUE(h.model->isSigningIn());

    std::vector<bool> busyWhenTold;
    h.model->onChange = [&] { busyWhenTold.push_back(h.model->busy()); };
    h.model->completeSignIn(callback);
    EXPECT_TRUE(h.model->busy()) << "busy from the callback's check on";
    EXPECT_FALSE(h.model->isSigningIn());
    h.queue.drain();

    EXPECT_EQ(h.service->exchanges, (std::vector<std::string>{"Nuvel for Linux"}));
    EXPECT_EQ(h.storedSession(), h.service->session.encode());
    ASSERT_TRUE(h.model->session());
    EXPECT_EQ(h.model->session()->token, "token-new");
    EXPECT_EQ(h.service->bootstrapCalls, (std::vector<std::string>{"token-new|-"}));
    EXPECT_EQ(h.openedRoots,
              (std::vector<std::filesystem::path>{h.accountFolder() / ("workspace-" + hexOf("ws_team"))}));
    EXPECT_EQ(h.model->recordings().size(), 1u);
    EXPECT_EQ(h.model->message(), "");
    EXPECT_FALSE(h.model->busy());
    EXPECT_EQ(busyWhenTold.front(), true);
    EXPECT_EQ(busyWhenTold.back(), false);

    // The attempt was used up: the same callback again fails and changes nothing else.
    const std::string session = h.model->session()->encode();
    h.model->completeSignIn(callback);
    h.queue.drain();
    EXPECT_EQ(h.model->message(), signInFailedText);
    EXPECT_EQ(h.model->session()->encode(), session);
    EXPECT_EQ(h.service->exchanges.size(), 1u);
}

TEST(SignIn, EveryFailureSaysOneSentenceUsesTheAttemptUpAndKeepsWhatTheModelHeld) {
    struct Case {
        std::string what;
        std::function<std::string(SessionHarness&, const std::string& callback)>
            arrange; // the callback delivered
        bool exchanged;
    };
    const std::vector<Case> cases = {
        {"no attempt pending",
         [](SessionHarness& h, const std::string& callback) {
             h.queue.advance(SessionController::signInAttemptSeconds); // given up
             return callback;
         },
         false},
        {"the exchange fails",
         [](SessionHarness& h, const std::string& c) {
             h.service->exchangeFails = true;
             return c;
         },
         true},
        {"the replaced attempt's late callback",
         [](SessionHarness& h, const std::string& c) {
             h.model->signIn(); // a new verifier: the old code no longer matches
             return c;
         },
         true},
        {"the keyring refuses the session",
         [](SessionHarness& h, const std::string& c) {
             h.keyring->failWith(keychainStatus::authFailed);
             return c;
         },
         true},
        {"the workspace cannot open",
         [](SessionHarness& h, const std::string& c) {
             h.failOpenStore = true;
             return c;
         },
         true},
    };
    for (const Case& c : cases) {
        SessionHarness h;
        h.startUp();
        h.service->answerEveryWorkspace();
        h.model->signIn();
        const std::string delivered = c.arrange(h, h.service->approve(h.browser->opened[0]));
        h.model->completeSignIn(delivered);
        h.queue.drain();
        EXPECT_EQ(h.model->message(), signInFailedText) << c.what;
        EXPECT_FALSE(h.model->session()) << c.what;
        EXPECT_FALSE(h.model->store()) << c.what;
        EXPECT_FALSE(h.model->busy()) << c.what;
        EXPECT_FALSE(h.model->isSigningIn()) << c.what;
        EXPECT_EQ(h.service->exchanges.size(), c.exchanged ? 1u : 0u) << c.what;
        // A failed opening keeps the stored session for the next start; nothing else is stored.
        EXPECT_EQ(h.storedSession().has_value(), c.what == "the workspace cannot open") << c.what;
        // The attempt is gone: even the right callback now fails.
        h.keyring->failWith(keychainStatus::success);
        h.model->setMessage("");
        h.model->completeSignIn(h.service->approve(h.browser->opened.back()));
        h.queue.drain();
        EXPECT_EQ(h.model->message(), signInFailedText) << c.what;
    }
}

// Any web page or local program can open a nuvel:// address while the browser sign-in runs: one
// that is not the form the device page answers with leaves the attempt waiting for its own.
TEST(SignIn, AnAddressNotOfTheCallbacksFormLeavesThePendingAttemptWaiting) {
    const std::vector<std::pair<std::string, std::function<std::string(const std::string&)>>> forged = {
        {"a state the attempt never made", [](const std::string& c) { return c + "&state=forged"; }},
        {"a code of another length", [](const std::string& c) { return c + "0"; }},
        {"an upper-case code",
         [](const std::string& c) {
             std::string upper = c;
             upper.back() = 'A';
             return upper;
         }},
        {"another host", [](const std::string& c) { return "nuvel://other?" + c.substr(c.find("code=")); }},
        {"no code", [](const std::string&) { return std::string("nuvel://auth"); }},
    };
    for (const auto& [what, forge] : forged) {
        SessionHarness h;
        h.startUp();
        h.service->answerEveryWorkspace();
        h.model->signIn();
        const std::string callback = h.service->approve(h.browser->opened[0]);
        h.model->completeSignIn(forge(callback));
        h.queue.drain();
        EXPECT_EQ(h.model->message(), "") << what;
        EXPECT_TRUE(h.model->isSigningIn()) << what;
        EXPECT_FALSE(h.model->busy()) << what;
        EXPECT_EQ(h.queue.pendingTimers(), 1u) << what << ": the attempt's time still runs";
        EXPECT_TRUE(h.service->exchanges.empty()) << what;

        h.model->completeSignIn(callback);
        h.queue.drain();
        EXPECT_EQ(h.model->message(), "") << what;
        ASSERT_TRUE(h.model->session()) << what << ": the attempt's own callback still signs in";
        EXPECT_EQ(h.service->exchanges.size(), 1u) << what;
    }
}

TEST(SignIn, AnAttemptIsGivenUpSilentlyAfterTenMinutesAndANewOneReplacesIt) {
    SessionHarness h;
    h.startUp();
    h.model->signIn();
    EXPECT_TRUE(h.model->isSigningIn());
    h.model->signIn();
    ASSERT_EQ(h.browser->opened.size(), 2u) << "a pending attempt does not block the next";
    EXPECT_NE(h.browser->opened[0], h.browser->opened[1]);
    EXPECT_EQ(h.queue.pendingTimers(), 1u) << "one attempt waits, the newest";

    h.queue.advance(SessionController::signInAttemptSeconds - 1);
    EXPECT_TRUE(h.model->isSigningIn());
    h.queue.advance(1);
    EXPECT_FALSE(h.model->isSigningIn());
    EXPECT_EQ(h.model->message(), "");
    EXPECT_EQ(h.changes, 0);
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
}

TEST(SignIn, ACallbackDuringOtherWorkIsRefusedAndNeverSwapsTheSessionOrStore) {
    const std::vector<std::pair<std::string, std::function<void(SessionHarness&)>>> work = {
        {"a recording",
         [](SessionHarness& h) {
             h.model->startNewRecording({});
             h.queue.drain();
             ASSERT_TRUE(h.model->isRecording());
         }},
        {"an upload",
         [](SessionHarness& h) {
             h.model->startUploadIfAllowed(h.model->recordings()[0].id, false);
             ASSERT_TRUE(h.model->uploading());
         }},
        {"an import",
         [](SessionHarness& h) {
             h.executor.holding = true;
             h.model->importAudio(h.data.path() / "meeting.m4a", false);
             h.queue.drain();
             ASSERT_TRUE(h.model->busy());
         }},
        {"a workspace switch",
         [](SessionHarness& h) {
             h.executor.holding = true;
             h.model->selectWorkspace("ws_other");
             h.queue.drain();
             ASSERT_TRUE(h.model->busy());
         }},
    };
    for (const auto& [what, begin] : work) {
        SessionHarness h;
        h.nextReport.recordings = {sampleRecording()};
        signedInAtStart(h);
        h.service->session = sampleSession("acc_2");
        h.model->signIn(); // signing in again, to another account
        const std::string callback = h.service->approve(h.browser->opened.back());
        begin(h);
        const auto store = h.model->store();
        h.model->completeSignIn(callback);
        EXPECT_EQ(h.model->message(), signInFailedText) << what;
        EXPECT_FALSE(h.model->isSigningIn()) << what;
        h.releaseHeld();
        EXPECT_TRUE(h.service->exchanges.empty()) << what;
        ASSERT_TRUE(h.model->session()) << what;
        EXPECT_EQ(h.model->session()->account.id, "acc_1") << what;
        EXPECT_EQ(h.storedSession(), sampleSession().encode()) << what;
        if (what != "a workspace switch") {
            EXPECT_EQ(h.model->store(), store) << what;
        }
    }
}
