// What the manifest holds of a run in progress: the parts' progress, saved after every part, and
// the notepad and annotations, which the road's saves never take back.
#include "tests/model/upload/UploadStandinHarness.hpp"

#include <numeric>

using namespace nuvel;
using namespace nuvel::test;

namespace {

using Calls = std::vector<std::string>;

StandinCapabilities noReconciliation() {
    StandinCapabilities c;
    c.uploadReconciliation = c.uploadHeartbeat = false;
    return c;
}

} // namespace

// The process dies just before part `diesAt` goes: nothing written after that reaches the disk.
// Every part the service accepted is in the manifest before the next one goes, so the next start
// sends only the parts from the one that died on.
TEST(UploadProgress, ARunThatDiesSendsAgainOnlyThePartsNotYetAccepted) {
    constexpr std::int64_t parts = 25;
    for (const std::int64_t diesAt :
         {std::int64_t(1), std::int64_t(7), std::int64_t(8), std::int64_t(9), std::int64_t(19), parts - 1}) {
        SCOPED_TRACE(diesAt);
        StandinUploads s(noReconciliation());
        s.media->defaultSize = parts * StandinUploads::smallParts().partBytes;
        const LocalRecording r = s.recording();
        s.startWith({r});
        bool died = false;
        std::vector<std::size_t> savedAsEachGoes; // parts in the stored manifest as each part goes
        s.api->beforePart = [&](std::int64_t index) {
            if (died)
                return;
            savedAsEachGoes.push_back(s.stored(r.id).acknowledgedParts.size());
            if (index == diesAt) {
                died = *s.savesLost = true;
                throw std::runtime_error("the process died");
            }
        };
        s.send(r.id);
        EXPECT_EQ(s.count("PUT audio/" + std::to_string(diesAt)), 0);

        *s.savesLost = false;
        const std::set<std::int64_t> saved = s.stored(r.id).acknowledgedParts;
        const std::int64_t resumesAt = std::int64_t(saved.size());
        EXPECT_EQ(saved.empty() ? -1 : *saved.rbegin(), resumesAt - 1)
            << "the parts saved are the first ones";
        EXPECT_EQ(resumesAt, diesAt);
        std::vector<std::size_t> onePerPart(std::size_t(diesAt) + 1);
        std::iota(onePerPart.begin(), onePerPart.end(), std::size_t(0));
        EXPECT_EQ(savedAsEachGoes, onePerPart) << "one manifest save per accepted part";
        s.service.clearRequests();
        s.app->restart();
        s.app->queue.advance(1);

        Calls expected = {"GET /api/bootstrap"};
        for (std::int64_t i = resumesAt; i < parts; ++i)
            expected.push_back("PUT audio/" + std::to_string(i));
        expected.insert(expected.end(), {"POST commit", "GET meeting"});
        EXPECT_EQ(s.calls(), expected);
        const LocalRecording stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, TransferState::accepted);
        EXPECT_EQ(std::int64_t(stored.acknowledgedParts.size()), parts);
        EXPECT_EQ(hexOf(*s.service.storedAudio(*stored.remoteID)), stored.transportSHA256);
    }
}

// A notepad save that lands while a run is under way (its revision and lines written by the
// notepad sync) stays in the manifest through every later save of the road, whichever way the
// run ends.
TEST(UploadProgress, TheRoadsSavesKeepANotepadSavedMeanwhile) {
    const std::vector<NotepadLine> lines = {{"nabc", "agenda", std::nullopt}, {"ndef", "actions", 1200}};
    for (const bool partFails : {false, true}) {
        SCOPED_TRACE(partFails);
        StandinUploads s;
        s.media->defaultSize = 20 * StandinUploads::smallParts().partBytes;
        const LocalRecording r = s.recording();
        s.startWith({r});
        if (partFails)
            s.service.addFault("PUT", "/api/meetings/[^/]+/audio/12",
                               StandinFault::error(503, "busy").times(1));
        s.api->beforePart = [&](std::int64_t index) {
            if (index != 1)
                return;
            WorkspaceStore& store = *s.app->model->store();
            LocalRecording noted = store.loadRecording(r.id);
            noted.notepad = noted.notepadBase = lines;
            noted.notepadRevision = 7;
            store.saveManifest(noted);
        };
        s.send(r.id);

        const LocalRecording stored = s.stored(r.id);
        EXPECT_EQ(stored.transfer, partFails ? TransferState::failed : TransferState::accepted);
        EXPECT_EQ(stored.acknowledgedParts.size(), partFails ? 12u : 20u);
        EXPECT_EQ(stored.notepadRevision, 7);
        EXPECT_EQ(stored.notepad, lines);
        EXPECT_EQ(stored.notepadBase, lines);
    }
}
