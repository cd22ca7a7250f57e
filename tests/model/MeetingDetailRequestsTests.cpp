// The detail screen's requests as calls of the cloud library: each request's call, the revision
// the screen spells, the operations a correction becomes, the export formats, and the retry of a
// saved correction with its immediate answer when nothing can be retried.
#include "Nuvel/model/cloud/MeetingDetailRequests.hpp"
#include "tests/model/ModelHarness.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

struct Screen {
    Screen() {
        cloud.shown.selectedID = "m0";
        cloud.shown.session =
            DeviceSession{"token-1", DeviceAccount{"acct_1", "ada@example.com", std::nullopt}};
        cloud.shown.pendingCorrection = MeetingRevisionRequest::make(Uuid::random(), 4, {});
        cloud.leaseValid = true;
    }
    std::vector<std::string> calls() {
        std::vector<std::string> all = local;
        all.insert(all.end(), cloud.calls.begin(), cloud.calls.end());
        return all;
    }

    ManualMainQueue queue{0};
    FakeCloud cloud;
    std::vector<std::string> local;
    std::vector<std::string> results;
    MeetingDetailRequests requests{cloud, queue, [this] { local.push_back("stopLocalPlayback"); },
                                   [this](bool saved, bool conflict, const std::string& message) {
                                       results.push_back(std::string(saved ? "saved" : "unsaved") +
                                                         (conflict ? ",conflict" : "") + " " + message);
                                   }};
};

} // namespace

TEST(MeetingDetailRequests, EachRequestBecomesItsLibraryCall) {
    struct Row {
        const char* name;
        std::function<void(MeetingDetailRequests&)> request;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows = {
        {"play", [](auto& r) { r.play(1500); }, {"stopLocalPlayback", "play 1500"}},
        {"toggle", [](auto& r) { r.togglePlayback(); }, {"stopLocalPlayback", "play"}},
        {"seek leaves local playback", [](auto& r) { r.seek(700); }, {"play 700"}},
        {"speed", [](auto& r) { r.speed(1.5f); }, {"setSpeed 1.5"}},
        {"word",
         [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), "12"); },
         {"submitCorrection 12 word_text:w1::Hi"}},
        {"signed revision",
         [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), "+7"); },
         {"submitCorrection 7 word_text:w1::Hi"}},
        {"speaker name",
         [](auto& r) { r.correction(MeetingCorrection::renameSpeaker("s1", "Ada"), "3"); },
         {"submitCorrection 3 speaker_label::s1:Ada"}},
        {"two words to a speaker",
         [](auto& r) {
             r.correction(MeetingCorrection::assignSpeaker({"w2", "w1"}, "s2"), "3");
         },
         {"submitCorrection 3 word_speaker:w2:s2: word_speaker:w1:s2:"}},
        {"no words is still a request",
         [](auto& r) { r.correction(MeetingCorrection::assignSpeaker({}, "s2"), "3"); },
         {"submitCorrection 3"}},
        {"empty revision", [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), ""); }, {}},
        {"lone sign", [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), "+"); }, {}},
        {"letters", [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), "12a"); }, {}},
        {"beyond 64 bits",
         [](auto& r) { r.correction(MeetingCorrection::word("w1", "Hi"), "9223372036854775808"); },
         {}},
        {"export vtt", [](auto& r) { r.exportMeeting("vtt", "raw"); }, {"export 3 raw"}},
        {"export md", [](auto& r) { r.exportMeeting("md", "corrected"); }, {"export 0 corrected"}},
        {"export other", [](auto& r) { r.exportMeeting("pdf", "corrected"); }, {}},
        {"invite",
         [](auto& r) {
             r.createShare({"email", "g@example.com", "viewer", std::nullopt});
         },
         {"updateSharing email g@example.com"}},
        {"revoke share", [](auto& r) { r.revokeShare("sh_1"); }, {"revokeShare sh_1"}},
        {"link", [](auto& r) { r.createLink(30, true); }, {"createLink 30 audio"}},
        {"revoke link", [](auto& r) { r.revokeLink("ln_1"); }, {"revokeLink ln_1"}},
        {"rename", [](auto& r) { r.rename("Plan"); }, {"renameTitle Plan"}},
        {"delete", [](auto& r) { r.deleteMeeting(); }, {"confirmDelete"}},
        {"refresh", [](auto& r) { r.refresh(); }, {"openMeeting m0"}},
        {"reload keeps the meeting", [](auto& r) { r.reloadCorrection(); }, {"openMeeting m0 refreshing"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Screen w;
        row.request(w.requests);
        EXPECT_EQ(w.calls(), row.calls);
    }
    Screen w; // without a selected meeting nothing reloads
    w.cloud.shown.selectedID.reset();
    w.requests.refresh();
    w.requests.reloadCorrection();
    EXPECT_TRUE(w.calls().empty());
}

TEST(MeetingDetailRequests, ARetrySendsThePendingCorrectionOrAnswersAtOnce) {
    struct Row {
        const char* name;
        std::function<void(Screen&)> change;
        bool sent;
    };
    const std::vector<Row> rows = {
        {"everything there", [](Screen&) {}, true},
        {"no lease", [](Screen& w) { w.cloud.leaseValid = false; }, false},
        {"no meeting", [](Screen& w) { w.cloud.shown.selectedID.reset(); }, false},
        {"nothing pending", [](Screen& w) { w.cloud.shown.pendingCorrection.reset(); }, false},
        {"signed out", [](Screen& w) { w.cloud.shown.session.reset(); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Screen w;
        w.cloud.shown.message = "Correction not sent.";
        row.change(w);
        const std::string key =
            w.cloud.shown.pendingCorrection ? w.cloud.shown.pendingCorrection->operation_id : "";
        w.requests.retryCorrection();
        w.queue.drain();
        if (row.sent) {
            EXPECT_EQ(w.cloud.calls,
                      std::vector<std::string>{"retryCorrection m0 " + key + " token-1 current"});
            EXPECT_TRUE(w.results.empty()); // the library answers
            ASSERT_EQ(w.cloud.completions.size(), 1u);
            w.cloud.shown.message = "";
            w.cloud.completions.front()(true, false);
            EXPECT_EQ(w.results, std::vector<std::string>{"saved "});
        } else {
            EXPECT_TRUE(w.cloud.calls.empty());
            EXPECT_EQ(w.results, std::vector<std::string>{"unsaved Correction not sent."});
        }
    }
    // A completion that arrives after the requests are gone shows nothing.
    Screen w;
    std::vector<std::string> shown;
    auto requests = std::make_unique<MeetingDetailRequests>(
        w.cloud, w.queue, nullptr, [&](bool, bool, const std::string&) { shown.push_back("shown"); });
    requests->correction(MeetingCorrection::word("w1", "Hi"), "3");
    ASSERT_EQ(w.cloud.completions.size(), 1u);
    requests.reset();
    w.cloud.completions.front()(true, false);
    EXPECT_TRUE(shown.empty());
}
