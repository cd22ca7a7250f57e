// The changes to an open meeting over HTTP against the stand-in service: a correction saved and
// then refused as a conflict with its draft kept, a replayed key counted as saved, an invitation,
// a view-only link of the service's own form, its revocation, a rename, a delete, and audio that
// retention removed.
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "tests/support/ManualMainQueue.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <gtest/gtest.h>

using namespace nuvel;
using namespace nuvel::test;

namespace {

class CloudChangesStandin : public ::testing::Test {
protected:
    void SetUp() override {
        service.start();
        ids = service.seedMeetings(3);
        CloudLibraryDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.client = std::make_shared<NativeMeetingClient>(service.origin(), std::make_shared<CurlTransport>());
        d.now = [this] { return Date{800'000'000 + queue.now()}; };
        d.continuousNow = [this] { return queue.now(); };
        d.confirmDelete = []() -> Task<bool> { co_return true; };
        // As the application is set up beside a stand-in: the web origin is the service's own.
        d.webHost = "127.0.0.1";
        model = makeCloudMeetingModel(std::move(d));
        session = DeviceSession{service.issueToken(), DeviceAccount{StandinService::defaultAccountId,
                                                                    "you@nuvel.test", std::nullopt}};
        runToCompletion(queue,
                        model->configure(session, "ws_personal", dir.path() / "cloud-documents", key, 3600));
        queue.drain();
        model->openMeeting(ids[0], false);
        queue.drain();
    }
    const CloudMeetingState& s() const { return model->state(); }
    std::optional<MeetingRevisionRequest> draft() {
        try {
            return MeetingCache(dir.path() / "cloud-documents", key,
                                MeetingCacheScope{session.account.id, "ws_personal"})
                .loadDraft<MeetingRevisionRequest>(CloudLibrary::draftKey(ids[0]));
        } catch (...) {
            return std::nullopt;
        }
    }
    CorrectionCompletion record() {
        return [this](bool saved, bool conflict) {
            outcomes.push_back(std::string(saved ? "saved" : "unsaved") + (conflict ? ",conflict" : ""));
        };
    }

    TempDir dir{"cloud-changes-standin"};
    StandinService service;
    ManualMainQueue queue{0};
    InlineExecutor executor;
    std::unique_ptr<CloudMeetingModel> model;
    DeviceSession session;
    const SymmetricKey key = SymmetricKey::random();
    std::vector<std::string> ids;
    std::vector<std::string> outcomes;
};

} // namespace

TEST_F(CloudChangesStandin, ACorrectionIsSavedThenAStaleOneConflictsAndAReplayCountsAsSaved) {
    ASSERT_TRUE(s().document);
    const std::int64_t revision = s().document->transcript.revision;
    const std::string word = s().document->transcript.transcript.words.at(0).id;
    model->submitCorrection({MeetingRevisionOperation::wordText(word, "Hello")}, revision, record());
    const MeetingRevisionRequest first = *s().pendingCorrection;
    queue.drain();
    ASSERT_EQ(outcomes, std::vector<std::string>{"saved"});
    ASSERT_TRUE(s().document);
    EXPECT_EQ(s().document->transcript.revision, revision + 1);
    EXPECT_EQ(s().document->transcript.transcript.words.at(0).text, "Hello");
    EXPECT_FALSE(draft());

    model->submitCorrection({MeetingRevisionOperation::wordText(word, "Hi")}, revision, record());
    queue.drain();
    EXPECT_EQ(outcomes.back(), "unsaved,conflict");
    EXPECT_EQ(s().message, cloud_sentences::correctionConflict);
    EXPECT_EQ(draft(), s().pendingCorrection);

    runToCompletion(queue, model->retryCorrection(ids[0], first, record(), session, s().generation));
    queue.drain();
    EXPECT_EQ(outcomes.back(), "saved"); // the service knew the key
}

TEST_F(CloudChangesStandin, AGuestALinkARenameAndADeleteReachTheService) {
    model->updateSharing({"guest", "guest@example.com", "viewer", std::nullopt}, {});
    queue.drain();
    EXPECT_EQ(s().message, cloud_sentences::sharingUpdated);
    ASSERT_TRUE(s().sharing);
    ASSERT_EQ(s().sharing->shares.size(), 1u);
    EXPECT_EQ(s().sharing->shares[0].email, std::optional<std::string>("guest@example.com"));

    model->createLink(7, false);
    queue.drain();
    EXPECT_EQ(s().message, cloud_sentences::linkCreated);
    ASSERT_TRUE(s().pendingLinkURL);
    EXPECT_EQ(s().pendingLinkURL->rfind(service.origin() + "/s/#", 0), 0u);
    ASSERT_EQ(s().sharing->links.size(), 1u);
    const std::string link = *s().sharing->links[0]["id"]->stringValue();
    model->revokeLink(link);
    queue.drain();
    EXPECT_FALSE(s().pendingLinkURL);
    EXPECT_TRUE(s().sharing->links.empty());

    model->renameTitle("  Renamed review ");
    queue.drain();
    EXPECT_EQ(s().document->summary.title, "Renamed review");

    model->confirmDelete();
    queue.drain();
    EXPECT_FALSE(s().selectedID);
    EXPECT_EQ(service.meetingIds(), (std::vector<std::string>{ids[1], ids[2]}));
    EXPECT_EQ(s().meetings.size(), 2u);
}

TEST_F(CloudChangesStandin, AudioThatRetentionRemovedIsMarkedUnavailable) {
    service.setAudioDeleted(ids[0], true);
    model->play(std::nullopt);
    queue.drain();
    EXPECT_FALSE(s().audioAvailable);
    EXPECT_EQ(s().message, cloud_sentences::audioExpired);
    EXPECT_TRUE(s().selectedID);
}
