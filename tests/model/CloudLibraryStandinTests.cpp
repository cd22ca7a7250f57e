// The cloud library with the real meeting client over HTTP against the stand-in service: paging
// and reconciliation of a real library, the retention, and a meeting that
// opens from its sealed copy with the service gone while the lease holds, and not after.
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
namespace fs = std::filesystem;

namespace {

class CloudLibraryStandin : public ::testing::Test {
protected:
    void SetUp() override {
        service.start();
        client = std::make_shared<NativeMeetingClient>(service.origin(), std::make_shared<CurlTransport>());
        CloudLibraryDependencies d;
        d.mainQueue = &queue;
        d.actorExecutor = &executor;
        d.client = client;
        d.now = [this] { return Date{800'000'000 + queue.now()}; };
        d.continuousNow = [this] { return queue.now(); };
        model = makeCloudMeetingModel(std::move(d));
        session = DeviceSession{service.issueToken(), DeviceAccount{StandinService::defaultAccountId,
                                                                    "you@nuvel.test", std::nullopt}};
    }

    void attach(double offlineSeconds) {
        runToCompletion(queue,
                        model->configure(session, workspace, dir / "cloud-documents", key, offlineSeconds));
        queue.drain();
    }
    void open(const std::string& id) {
        model->openMeeting(id, false);
        queue.drain();
    }
    std::unique_ptr<MeetingCache> diskCache() {
        return std::make_unique<MeetingCache>(dir / "cloud-documents", key,
                                              MeetingCacheScope{session.account.id, workspace});
    }
    std::vector<std::string> listedIDs() const {
        std::vector<std::string> ids;
        for (const MeetingSummary& meeting : model->state().meetings)
            ids.push_back(meeting.id);
        return ids;
    }
    const CloudMeetingState& s() const { return model->state(); }

    TempDir dir{"cloud-standin"};
    StandinService service;
    ManualMainQueue queue{0};
    InlineExecutor executor;
    std::shared_ptr<NativeMeetingClient> client;
    std::unique_ptr<CloudMeetingModel> model;
    DeviceSession session;
    const std::string workspace = "ws_personal";
    const SymmetricKey key = SymmetricKey::random();
};

} // namespace

TEST_F(CloudLibraryStandin, PagesTheLibraryAndRevokesAMeetingTheServiceNoLongerHas) {
    const std::vector<std::string> ids = service.seedMeetings(120);
    attach(86400);
    while (s().hasMore) {
        model->loadLibrary(true);
        queue.drain();
    }
    EXPECT_EQ(listedIDs(), service.meetingIds());
    EXPECT_EQ(s().message, "");

    open(ids[5]);
    ASSERT_TRUE(s().document);
    EXPECT_EQ(s().document->summary.id, ids[5]);
    EXPECT_TRUE(s().document->notes);
    EXPECT_TRUE(s().sharing);
    EXPECT_NO_THROW(diskCache()->load<NativeMeetingDocument>(ids[5], Date{800'000'000 + queue.now()}));

    client->deleteMeeting(ids[5], session.token);
    model->loadLibrary(false);
    queue.drain();
    std::vector<std::string> expected = service.meetingIds();
    expected.resize(50);
    EXPECT_EQ(listedIDs(), expected);
    EXPECT_FALSE(s().selectedID || s().document);
    EXPECT_EQ(s().message, "");
    EXPECT_TRUE(diskCache()->revocations().contains(ids[5]));
}

TEST_F(CloudLibraryStandin, AMeetingOpensFromItsCopyWithTheServiceGoneOnlyWhileTheLeaseHolds) {
    StandinLimits limits;
    limits.offlineAccessSeconds = 600;
    service.setLimits(StandinService::defaultAccountId, limits);
    const std::vector<std::string> ids = service.seedMeetings(3);
    attach(600);
    open(ids[0]);
    const NativeMeetingDocument seen = *s().document;
    open(ids[1]);
    queue.advance(300);

    service.stop();
    open(ids[0]);
    ASSERT_TRUE(s().document);
    EXPECT_EQ(*s().document, seen);
    EXPECT_TRUE(s().offline);
    EXPECT_FALSE(s().loading);
    EXPECT_TRUE(model->documentLeaseIsValid());
    EXPECT_EQ(s().message, cloud_sentences::meetingOffline);
    EXPECT_EQ(s().meetings.size(), 3u);
    open(ids[2]); // never opened: nothing to show
    EXPECT_FALSE(s().document);
    EXPECT_EQ(s().message, cloud_sentences::meetingOffline);

    open(ids[0]);
    ASSERT_TRUE(s().document);
    queue.advance(300);
    EXPECT_FALSE(s().document);
    EXPECT_EQ(s().message, cloud_sentences::leaseExpired);
    EXPECT_TRUE(s().meetings.empty()); // the library's lease ended with it
    open(ids[0]);
    EXPECT_FALSE(s().document);
    EXPECT_EQ(s().message, cloud_sentences::meetingOffline);
}

TEST_F(CloudLibraryStandin, TheRetentionShownIsTheOneTheServiceHolds) {
    attach(86400);
    runToCompletion(queue, model->refreshServerRetention(s().generation, session));
    EXPECT_EQ(s().retentionDays, 30);
    ASSERT_FALSE(s().retentionChoices.empty());
    model->setServerRetentionDays(90);
    queue.drain();
    EXPECT_EQ(s().retentionDays, 90);
    EXPECT_EQ(s().message, "");
}
