// Sharing, view-only links, rename and delete of the open meeting: the address check of a new
// link, the sentences of each outcome, the title limits, and a delete that is asked first.
#include "tests/model/CloudLibraryHarness.hpp"

using namespace nuvel;
using namespace nuvel::test;

namespace {

std::string linkAnswer(const std::string& url) {
    return R"({"id":"ln_1","url":")" + url + R"(","include_audio":true})";
}

using Opened = OpenedMeeting;

} // namespace

TEST(CloudLibrarySharing, OnlyALinkOnTheWebHostWithASixtyFourCharacterSecretIsKeptAndARefusedOneRevoked) {
    using namespace cloud_sentences;
    const std::string secret(64, 'f');
    const std::string good = "https://app.getnuvel.com/s/#" + secret;
    struct Row {
        const char* name;
        std::string url;
        bool kept;
        std::string webHost = "app.getnuvel.com";
    };
    const std::vector<Row> rows = {
        {"the service's link", good, true},
        {"the web host in other letter case", "https://App.GetNuvel.COM/s/#" + secret, true},
        {"a stand-in's link on its own origin", "http://127.0.0.1:8123/s/#" + secret, true, "127.0.0.1"},
        {"localhost in capitals", "http://LOCALHOST:8123/s/#" + secret, true, "localhost"},
        {"plain http on this machine that is not the web host", "http://127.0.0.1:8123/s/#" + secret, false},
        {"a deeper path ending in /s/", "https://app.getnuvel.com/team/s/#" + secret, true},
        {"plain http", "http://app.getnuvel.com/s/#" + secret, false},
        {"another host", "https://app.getnuvel.com.evil.test/s/#" + secret, false},
        {"a user name", "https://ada@app.getnuvel.com/s/#" + secret, false},
        {"a user and password", "https://ada:pw@app.getnuvel.com/s/#" + secret, false},
        {"a path not ending in /s/", "https://app.getnuvel.com/s/x#" + secret, false},
        {"no fragment", "https://app.getnuvel.com/s/", false},
        {"63 characters", "https://app.getnuvel.com/s/#" + std::string(63, 'f'), false},
        {"65 characters", "https://app.getnuvel.com/s/#" + std::string(65, 'f'), false},
        {"not a URL", "not a link", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Opened o(row.webHost);
        o.h.service->linkAnswer = linkAnswer(row.url);
        o.h.model->createLink(7, true);
        o.h.queue.drain();
        ASSERT_EQ(o.h.service->count("POST /api/meetings/m0/links"), 1u);
        EXPECT_EQ(o.h.service->seen().front().body, R"({"expires_days":7,"include_audio":true})");
        EXPECT_EQ(o.h.s().pendingLinkURL, row.kept ? std::optional(row.url) : std::nullopt);
        EXPECT_EQ(o.h.s().message, row.kept ? linkCreated : linkFailed);
        // Only a kept link reloads the sharing list; a refused one does not stay live unseen.
        EXPECT_EQ(o.h.service->count("GET /api/meetings/m0/sharing"), row.kept ? 1u : 0u);
        EXPECT_EQ(o.h.service->count("DELETE /api/meetings/m0/links/ln_1"), row.kept ? 0u : 1u);
    }
    // An answer without a string "url" is no link either; one that names no link leaves nothing
    // to revoke.
    for (const std::string answer : {R"({"id":"ln_1","url":7})", R"({"url":"http://app.getnuvel.com/s/"})"}) {
        SCOPED_TRACE(answer);
        Opened o;
        o.h.service->linkAnswer = answer;
        o.h.model->createLink(30, false);
        o.h.queue.drain();
        EXPECT_FALSE(o.h.s().pendingLinkURL);
        EXPECT_EQ(o.h.s().message, linkFailed);
        EXPECT_EQ(o.h.service->count("DELETE /api/meetings/m0/links/ln_1"),
                  answer.find("ln_1") != std::string::npos ? 1u : 0u);
    }
}

TEST(CloudLibrarySharing, EachChangeReportsItsOwnSentence) {
    using namespace cloud_sentences;
    const std::string earlier = "https://app.getnuvel.com/s/#" + std::string(64, 'e');
    struct Row {
        const char* name;
        std::function<void(CloudMeetingModel&)> act;
        std::string failing; // request line made to fail with 500, or none
        std::string_view message;
        bool pendingLinkBefore;
        std::optional<std::string> pendingLinkAfter; // "new" for the created link
        std::optional<bool> invited = std::nullopt;  // how an invitation ended, for the sheet
    };
    std::optional<bool> invited;
    const std::string fresh = "https://app.getnuvel.com/s/#" + std::string(64, 'a');
    auto invite = [&invited](CloudMeetingModel& m) {
        m.updateSharing({"email", "guest@example.com", "viewer", std::nullopt},
                        [&invited](bool done) { invited = done; });
    };
    auto removeShare = [](CloudMeetingModel& m) { m.revokeShare("sh_1"); };
    auto link = [](CloudMeetingModel& m) { m.createLink(7, false); };
    auto unlink = [](CloudMeetingModel& m) { m.revokeLink("ln_1"); };
    const std::vector<Row> rows = {
        {"invited", invite, "", sharingUpdated, false, std::nullopt, true},
        {"invited but the list did not reload", invite, "GET /api/meetings/m0/sharing", sharingFailed, false,
         std::nullopt, false},
        {"invitation refused", invite, "POST /api/meetings/m0/shares", sharingFailed, false, std::nullopt,
         false},
        {"share revoked: no sentence", removeShare, "", "", false, std::nullopt},
        {"share not revoked", removeShare, "DELETE /api/meetings/m0/shares/sh_1", sharingFailed, false,
         std::nullopt},
        {"link created, list not refreshed", link, "GET /api/meetings/m0/sharing", linkListNotRefreshed,
         false, fresh},
        // An earlier link still shown is not the link that failed now.
        {"link refused with an earlier one shown", link, "POST /api/meetings/m0/links", linkFailed, true,
         earlier},
        {"link revoked: the sentence offering it goes", unlink, "", "", true, std::nullopt},
        {"link not revoked", unlink, "DELETE /api/meetings/m0/links/ln_1", linkNotRevoked, true, earlier},
        {"renamed: no sentence", [](CloudMeetingModel& m) { m.renameTitle("Plan"); }, "", "", false,
         std::nullopt},
        {"rename refused", [](CloudMeetingModel& m) { m.renameTitle("Plan"); }, "PATCH /api/meetings/m0",
         renameFailed, false, std::nullopt},
        {"delete refused", [](CloudMeetingModel& m) { m.confirmDelete(); }, "DELETE /api/meetings/m0",
         deleteFailed, false, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Opened o;
        if (row.pendingLinkBefore) {
            o.h.service->linkAnswer = linkAnswer(earlier);
            o.h.model->createLink(7, false);
            o.h.queue.drain();
            ASSERT_EQ(o.h.s().pendingLinkURL, earlier);
            o.h.service->linkAnswer = linkAnswer(fresh);
        }
        auto listed = [&o] { return o.h.s().sharing ? o.h.s().sharing->encode() : std::string(); };
        const std::string sharingBefore = listed();
        if (!row.failing.empty())
            o.h.service->fail(row.failing, 500);
        invited.reset();
        row.act(*o.h.model);
        o.h.queue.drain();
        EXPECT_EQ(invited, row.invited);
        EXPECT_EQ(o.h.s().message, row.message);
        EXPECT_EQ(o.h.s().pendingLinkURL, row.pendingLinkAfter);
        EXPECT_EQ(o.h.s().selectedID, std::optional<std::string>("m0"));
        if (!row.failing.empty()) { // a failure leaves the list as it was
            EXPECT_EQ(listed(), sharingBefore);
        }
    }
}

TEST(CloudLibrarySharing, ATitleIsTrimmedAndHoldsOneToTwoHundredCharacters) {
    const std::string accented = "e\u0301"; // one character, two code points
    struct Row {
        std::string title;
        std::optional<std::string> sent;
    };
    const std::vector<Row> rows = {
        {"  Weekly plan \n", "Weekly plan"},
        {std::string(200, 'x'), std::string(200, 'x')},
        {std::string(201, 'x'), std::nullopt},
        {[&] {
             std::string t;
             for (int i = 0; i < 200; ++i)
                 t += accented;
             return t;
         }(),
         [&] {
             std::string t;
             for (int i = 0; i < 200; ++i)
                 t += accented;
             return t;
         }()},
        {" \t\n ", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.title.substr(0, 20));
        Opened o;
        o.h.model->renameTitle(row.title);
        o.h.queue.drain();
        ASSERT_EQ(o.h.service->count("PATCH /api/meetings/m0"), row.sent ? 1u : 0u);
        if (!row.sent)
            continue;
        EXPECT_EQ(json::parse(o.h.service->seen().front().body).at("title").get<std::string>(), *row.sent);
        // The meeting reloads in place with its new title.
        ASSERT_TRUE(o.h.s().document);
        EXPECT_EQ(o.h.s().document->summary.title, *row.sent);
    }
}

TEST(CloudLibrarySharing, ADeleteIsAskedFirstAndClosesTheMeetingEvenAfterAnotherWasOpened) {
    {
        Opened o; // declined
        o.h.confirmAnswer = false;
        o.h.model->confirmDelete();
        o.h.queue.drain();
        EXPECT_EQ(o.h.confirmations, 1);
        EXPECT_EQ(o.h.service->count("DELETE /api/meetings/m0"), 0u);
        EXPECT_EQ(o.h.s().selectedID, std::optional<std::string>("m0"));
    }
    {
        Opened o; // confirmed
        o.h.model->confirmDelete();
        o.h.queue.drain();
        EXPECT_EQ(o.h.service->count("DELETE /api/meetings/m0"), 1u);
        EXPECT_FALSE(o.h.s().document);
        EXPECT_FALSE(o.h.s().selectedID);
        EXPECT_EQ(joinedIDs(o.h.s().meetings), "m1");
        EXPECT_EQ(o.h.service->count("GET /api/meetings"), 1u); // the library reloads
        EXPECT_EQ(o.h.s().message, "");
        EXPECT_THROW(o.h.diskCache()->loadWithLease<NativeMeetingDocument>("m0", o.h.wallNow()),
                     std::exception);
    }
    {
        Opened o; // the answer comes after m1 was opened: the generation alone decides
        o.h.executor.holding = true;
        o.h.model->confirmDelete();
        o.h.queue.drain();
        o.h.model->openMeeting("m1", false);
        o.h.executor.run(0); // the delete request
        o.h.executor.holding = false;
        o.h.executor.runAll();
        o.h.queue.drain();
        EXPECT_EQ(o.h.service->count("DELETE /api/meetings/m0"), 1u);
        EXPECT_EQ(joinedIDs(o.h.s().meetings), "m1");
        EXPECT_EQ(o.h.s().selectedID, std::optional<std::string>("m1"));
    }
}

TEST(CloudLibrarySharing, NothingStartsWithoutTheRightOrTheLeaseAndAccessErrorsTakeOver) {
    using namespace cloud_sentences;
    auto everything = [](CloudMeetingModel& m) {
        m.updateSharing({"email", "guest@example.com", "viewer", std::nullopt}, {});
        m.revokeShare("sh_1");
        m.createLink(7, false);
        m.revokeLink("ln_1");
        m.renameTitle("Plan");
        m.confirmDelete();
    };
    {
        CloudHarness h; // no rights at all
        h.list(1);
        h.service->library[0].access = rights({"export"});
        h.attach();
        h.open("m0");
        h.service->clearSeen();
        everything(*h.model);
        h.queue.drain();
        EXPECT_TRUE(h.service->seen().empty());
        EXPECT_EQ(h.confirmations, 0);
    }
    {
        Opened o; // the lease ended
        o.h.clockShift = 7200;
        const std::size_t changes = o.h.shown.size();
        everything(*o.h.model);
        o.h.queue.drain();
        EXPECT_TRUE(o.h.service->seen().empty());
        EXPECT_EQ(o.h.shown.size(), changes);
    }
    {
        Opened o; // a rejected session signs the library out; the change's own sentence is not shown
        o.h.service->fail("POST /api/meetings/m0/links", 401);
        o.h.model->createLink(7, false);
        o.h.queue.drain();
        EXPECT_FALSE(o.h.s().session);
        EXPECT_EQ(o.h.s().message, meetingSignIn);
    }
    {
        Opened o; // a forbidden meeting is revoked without a sentence from here
        o.h.service->fail("PATCH /api/meetings/m0", 403);
        o.h.model->renameTitle("Plan");
        o.h.queue.drain();
        EXPECT_FALSE(o.h.s().selectedID);
        EXPECT_EQ(joinedIDs(o.h.s().meetings), "m1");
        EXPECT_EQ(o.h.s().message, "");
    }
}
