// Many uploads through a service that drops connections, fails, refuses for a while, answers
// slowly and loses answers after doing the work: each recording reaches the service at most once
// and whole, or stops in a state that says why.
#include "tests/model/upload/UploadStandinHarness.hpp"

#include <random>

using namespace nuvel;
using namespace nuvel::test;

namespace {

StandinFault randomFault(std::mt19937& random) {
    switch (std::uniform_int_distribution<int>(0, 5)(random)) {
    case 0:
        return StandinFault::dropConnection();
    case 1:
        return StandinFault::loseAnswer();
    case 2:
        return StandinFault::error(503, "unavailable");
    case 3:
        return StandinFault::error(500, "internal").retryAfter("20");
    case 4:
        return StandinFault::error(409, "capture_in_progress");
    default:
        return StandinFault::delayed(std::chrono::milliseconds(20));
    }
}

std::string randomTarget(std::mt19937& random) {
    switch (std::uniform_int_distribution<int>(0, 4)(random)) {
    case 0:
        return "/api/meetings";
    case 1:
        return "/api/meetings/[^/]+/upload";
    case 2:
        return "/api/meetings/[^/]+/heartbeat";
    case 3:
        return "/api/meetings/[^/]+/audio/" +
               std::to_string(std::uniform_int_distribution<int>(0, 5)(random));
    default:
        return "/api/meetings/[^/]+/commit";
    }
}

bool settled(const LocalRecording& r) {
    return r.transfer == TransferState::accepted || !r.uploadQueued.value_or(false);
}

} // namespace

TEST(UploadSoak, FortyUploadsThroughAnUnreliableServiceEndWholeAndOnce) {
    std::mt19937 random(20261209);
    StandinUploads s;
    std::vector<LocalRecording> list;
    for (int i = 0; i < 40; ++i) {
        list.push_back(s.recording("Soak " + std::to_string(i)));
        s.media->sizes[list.back().id] = std::uniform_int_distribution<std::int64_t>(1, 5500)(random);
    }
    s.startWith(list);

    for (const LocalRecording& r : list) {
        for (int faults = std::uniform_int_distribution<int>(0, 3)(random); faults > 0; --faults) {
            const std::string target = randomTarget(random);
            s.service.addFault(target == "/api/meetings" ? "POST" : "", target, randomFault(random).times(1));
        }
        s.send(r.id);
        for (int waited = 0; !settled(s.listed(r.id)) && waited < 40; ++waited)
            s.app->queue.advance(120);
        s.service.clearFaults();
        EXPECT_TRUE(settled(s.listed(r.id))) << r.title;
    }

    std::map<std::string, int> meetingsPerRecording;
    int accepted = 0;
    for (const LocalRecording& r : list) {
        const LocalRecording stored = s.stored(r.id);
        const bool named = stored.transfer == TransferState::accepted ||
                           stored.transfer == TransferState::failed ||
                           stored.transfer == TransferState::needsReview;
        EXPECT_TRUE(named) << r.title;
        if (stored.remoteID)
            ++meetingsPerRecording[*stored.remoteID];
        if (stored.transfer != TransferState::accepted)
            continue;
        ++accepted;
        const std::optional<std::string> audio = s.service.storedAudio(*stored.remoteID);
        ASSERT_TRUE(audio) << r.title;
        EXPECT_EQ(std::int64_t(audio->size()), stored.transportBytes) << r.title;
        EXPECT_EQ(hexOf(*audio), stored.transportSHA256) << r.title << ": the whole file, each part once";
    }
    for (const auto& [meeting, recordings] : meetingsPerRecording)
        EXPECT_EQ(recordings, 1) << meeting;
    EXPECT_EQ(s.service.meetingIds().size(), list.size()) << "one meeting per recording, never a duplicate";
    EXPECT_GE(accepted, 36) << "with idempotent creation and reconciliation nearly all get through";
}
