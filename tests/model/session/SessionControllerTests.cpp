// The browser sign-in up to the browser, its silent end when no callback comes, the device name
// sent at sign-in, and sign-out ending the open account's background work.
#include "tests/model/ModelHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {
const std::string signInFailedText = "Sign-in could not finish. Please try again.";
} // namespace

TEST(SessionSignIn, OpensTheBrowserOnceAndEndsSilentlyWhenNoCallbackComes) {
    PartsHarness h;
    SessionController& session = h.parts->session;
    session.signIn();
    ASSERT_EQ(h.browser->opened.size(), 1u);
    ASSERT_TRUE(session.pendingAttempt());
    EXPECT_EQ(h.browser->opened[0],
              "https://nuvel.test/device?challenge=" + session.pendingAttempt()->challenge());
    EXPECT_TRUE(session.isSigningIn());
    EXPECT_EQ(h.changes, 0);

    h.queue.advance(599);
    EXPECT_TRUE(session.isSigningIn());
    h.queue.advance(1);
    EXPECT_FALSE(session.isSigningIn());
    EXPECT_FALSE(session.pendingAttempt());
    EXPECT_EQ(h.state().message, "");
    EXPECT_EQ(h.changes, 0);

    session.signIn();
    EXPECT_EQ(h.browser->opened.size(), 2u);
    EXPECT_TRUE(session.isSigningIn());
}

TEST(SessionSignIn, AnAttemptThatCannotStartSaysSoAndKeepsNothing) {
    const std::vector<std::pair<std::string, std::function<void(PartsHarness&)>>> failures = {
        {"the browser refuses", [](PartsHarness& h) { h.browser->accepts = false; }},
        {"no random bytes", [](PartsHarness& h) { h.failRandom = true; }},
    };
    for (const auto& [what, arrange] : failures) {
        PartsHarness h;
        arrange(h);
        h.parts->session.signIn();
        EXPECT_EQ(h.state().message, signInFailedText) << what;
        EXPECT_FALSE(h.parts->session.isSigningIn()) << what;
        EXPECT_FALSE(h.parts->session.pendingAttempt()) << what;
        EXPECT_EQ(h.changes, 1) << what;
        EXPECT_EQ(h.queue.pendingTimers(), 0u) << what;
    }
    PartsHarness noBrowser([](AppModelDependencies& d) { d.browser.reset(); });
    noBrowser.parts->session.signIn();
    EXPECT_EQ(noBrowser.state().message, signInFailedText) << "no browser at all";
}

TEST(SessionSignIn, TheDeviceNameIsTheMachinesOrNuvelForLinux) {
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::string("Ada's laptop"), "Ada's laptop"},
        {std::string(""), "Nuvel for Linux"},
        {std::nullopt, "Nuvel for Linux"},
    };
    for (const auto& [host, sent] : cases) {
        PartsHarness h;
        h.hostName = host;
        EXPECT_EQ(h.parts->session.deviceName(), sent);
    }
}

TEST(SessionSignOut, EndsTheAccountsWaitsAndHoldsTheModelBusyUntilItEnds) {
    PartsHarness h;
    auto list = sampleRecordings(2);
    list[0].transfer = TransferState::accepted;
    list[0].remoteID = "mt_1";
    list[1].uploadQueued = true;
    list[1].retryAt = Date{700000000 + 60};
    h.signedInWith(list);
    h.parts->annotations.setNotepad("shared", list[0].id);
    h.queue.drain();
    ASSERT_EQ(h.queue.pendingTimers(), 2u) << "the notepad's wait and the queue's";
    TaskHandle wait = h.parts->annotations.notepadDebounce().at(list[0].id);

    std::vector<bool> busyWhenTold;
    h.context().setObservers([&] { busyWhenTold.push_back(h.state().busy); }, {});
    h.parts->session.signOut();
    h.queue.drain();
    EXPECT_TRUE(wait.isCancelled());
    EXPECT_EQ(h.queue.pendingTimers(), 0u);
    EXPECT_EQ(busyWhenTold, (std::vector<bool>{true, false}));
}
