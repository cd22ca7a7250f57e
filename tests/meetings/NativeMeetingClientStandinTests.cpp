// The meeting-library client against the stand-in service over real HTTP on loopback: paging and
// search through values that only survive encoding, one meeting through every operation, and the
// audio of an uploaded and of a seeded meeting.

#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "NuvelKit/support/Uuid.hpp"
#include "tests/meetings/MeetingServiceFixture.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace nuvel;
using namespace nuvel::test;
namespace fs = std::filesystem;

namespace {

// A base64 cursor as it must travel in a query.
std::string encodedCursor(const std::string& cursor) {
    std::string out;
    for (char c : cursor) {
        if (c == '+')
            out += "%2B";
        else if (c == '/')
            out += "%2F";
        else if (c == '=')
            out += "%3D";
        else
            out += c;
    }
    return out;
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class MeetingClientStandin : public ::testing::Test {
protected:
    static std::string started(StandinService& s) {
        s.start();
        return s.origin();
    }

    StandinService service;
    std::shared_ptr<CurlTransport> transport = std::make_shared<CurlTransport>();
    NativeMeetingClient client{started(service), transport};
    const std::string token = service.issueToken();
    const std::vector<std::string> ids = service.seedMeetings(5);
};

} // namespace

TEST_F(MeetingClientStandin, PagesFollowTheirCursorsAndSearchKeepsItsPlusSigns) {
    service.clearRequests();
    std::vector<std::string> listed;
    std::vector<std::string> cursors;
    std::optional<std::string> cursor;
    do {
        const MeetingLibraryPage page = client.libraryPage("ws_personal", cursor, 2, token);
        EXPECT_EQ(page.offline_access_seconds, 86400.0);
        for (const MeetingSummary& m : page.meetings)
            listed.push_back(m.id);
        cursor = page.next_cursor;
        if (cursor)
            cursors.push_back(*cursor);
    } while (cursor && cursors.size() < 5);
    EXPECT_EQ(listed, ids);
    ASSERT_EQ(cursors.size(), 2u);
    for (const std::string& c : cursors) {
        EXPECT_NE(c.find('+'), std::string::npos) << c;
        EXPECT_NE(c.find('/'), std::string::npos) << c;
    }
    const std::vector<StandinLoggedRequest> pages = service.requests();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].query, "workspace_id=ws_personal&limit=2");
    EXPECT_EQ(pages[1].query, "workspace_id=ws_personal&limit=2&cursor=" + encodedCursor(cursors[0]));
    EXPECT_EQ(pages[2].query, "workspace_id=ws_personal&limit=2&cursor=" + encodedCursor(cursors[1]));

    // Sent raw, "c++" would be read as "c" and match half the transcript.
    client.rename(ids[1], "C++ code review", token);
    const MeetingSearchPage found = client.search("c++", std::string("ws_personal"), token);
    EXPECT_EQ(found.query, "c++");
    ASSERT_EQ(found.results.size(), 1u);
    EXPECT_EQ(found.results[0].meeting_id, ids[1]);
    EXPECT_EQ(found.results[0].kind, "title");
    EXPECT_EQ(found.results[0].snippetText(), "C++ code review");
    EXPECT_EQ(service.requests().back().query, "q=c%2B%2B&workspace_id=ws_personal");
}

TEST_F(MeetingClientStandin, OneMeetingThroughEveryOperation) {
    const std::string id = ids[0];
    service.clearRequests();

    const MeetingSummary summary = client.meeting(id, token);
    EXPECT_EQ(summary.state, "completed");
    EXPECT_EQ(summary.revision, 1);
    EXPECT_TRUE(summary.access.canDelete());
    const MeetingTranscriptDocument raw = client.transcript(id, "raw", token);
    EXPECT_EQ(raw.layer, "raw");
    ASSERT_FALSE(raw.transcript.words.empty());
    const MeetingNotesDocument notes = client.notes(id, token);
    EXPECT_TRUE(notes.ai_notes);
    EXPECT_FALSE(notes.notesObject().empty());
    const NativeMeetingDocument document = client.document(summary, token);
    EXPECT_EQ(document.transcript.layer, "corrected");
    EXPECT_EQ(document.transcript.transcript, raw.transcript);
    EXPECT_EQ(document.notes, notes);

    // A correction, its replay, and a correction made against a revision the service has left.
    const std::string wordID = raw.transcript.words.front().id;
    const MeetingRevisionRequest fix = MeetingRevisionRequest::make(
        Uuid::random(), 1, {MeetingRevisionOperation::wordText(wordID, "Hello")});
    const MeetingRevisionResult applied = client.revise(id, fix, token);
    EXPECT_EQ(applied.revision, 2);
    EXPECT_FALSE(applied.replayed);
    EXPECT_TRUE(client.revise(id, fix, token).replayed);
    const MeetingRevisionRequest stale =
        MeetingRevisionRequest::make(Uuid::random(), 1, {MeetingRevisionOperation::wordText(wordID, "Hi")});
    const MeetingClientError conflict = clientFailure([&] { client.revise(id, stale, token); });
    EXPECT_EQ(conflict.status(), 409);
    EXPECT_EQ(conflict.code(), "revision_conflict");
    EXPECT_EQ(conflict.currentRevision(), 2);
    EXPECT_EQ(client.transcript(id, "corrected", token).transcript.words.front().text, "Hello");

    client.rename(id, "Renamed review", token);
    EXPECT_EQ(client.meeting(id, token).title, "Renamed review");

    client.addShare(id, MeetingShareRequest::guest("Guest@Example.com", "viewer"), token);
    const MeetingSharingDocument shared = client.sharing(id, token);
    ASSERT_EQ(shared.shares.size(), 1u);
    EXPECT_EQ(shared.shares[0].email, "guest@example.com");
    client.removeShare(id, shared.shares[0].id, token);
    EXPECT_TRUE(client.sharing(id, token).shares.empty());

    const MeetingJSON link = client.createLink(id, 7, true, token);
    ASSERT_NE(link["id"], nullptr);
    ASSERT_NE(link["id"]->stringValue(), nullptr);
    const std::string linkID = *link["id"]->stringValue();
    EXPECT_EQ(link["include_audio"]->boolValue(), true);
    EXPECT_EQ(client.sharing(id, token).links.size(), 1u);
    client.revokeLink(id, linkID, token);
    EXPECT_TRUE(client.sharing(id, token).links.empty());

    EXPECT_EQ(client.settings(token)["retention_days"]->numberValue(), 30.0);
    client.updateSettings(90, token);
    EXPECT_EQ(client.settings(token)["retention_days"]->numberValue(), 90.0);

    client.deleteMeeting(id, token);
    const MeetingClientError gone = clientFailure([&] { client.meeting(id, token); });
    EXPECT_EQ(gone.status(), 404);
    EXPECT_EQ(gone.code(), "not_found");
    const MeetingReconciliation reconciled = client.reconcile({id, ids[1]}, token);
    EXPECT_EQ(reconciled.removed_ids, std::vector<std::string>{id});
    ASSERT_EQ(reconciled.meetings.size(), 1u);
    EXPECT_EQ(reconciled.meetings[0].id, ids[1]);

    // Every operation's request as it arrived (the document's two run side by side, so the lines
    // are compared in order of their text).
    const std::string m = "/api/meetings/" + id;
    std::vector<std::string> expected = {"GET " + m,
                                         "GET " + m + "/transcript?layer=raw",
                                         "GET " + m + "/notes",
                                         "GET " + m + "/transcript?layer=corrected",
                                         "GET " + m + "/notes",
                                         "PATCH " + m + "/revision",
                                         "PATCH " + m + "/revision",
                                         "PATCH " + m + "/revision",
                                         "GET " + m + "/transcript?layer=corrected",
                                         "PATCH " + m,
                                         "GET " + m,
                                         "POST " + m + "/shares",
                                         "GET " + m + "/sharing",
                                         "DELETE " + m + "/shares/" + shared.shares[0].id,
                                         "GET " + m + "/sharing",
                                         "POST " + m + "/links",
                                         "GET " + m + "/sharing",
                                         "DELETE " + m + "/links/" + linkID,
                                         "GET " + m + "/sharing",
                                         "GET /api/settings",
                                         "PUT /api/settings",
                                         "GET /api/settings",
                                         "DELETE " + m,
                                         "GET " + m,
                                         "GET /api/meetings/reconcile?ids=" + id + "%2C" + ids[1]};
    std::vector<std::string> arrived;
    for (const StandinLoggedRequest& r : service.requests()) {
        SCOPED_TRACE(r.method + " " + r.target);
        arrived.push_back(r.method + " " + r.target);
        EXPECT_EQ(r.header("Authorization"), "Bearer " + token);
        EXPECT_EQ(r.header("Accept"), "application/json");
        EXPECT_FALSE(r.header("Range"));
        EXPECT_FALSE(r.header("Expect"));
        if (r.bodyLength > 0) {
            EXPECT_EQ(r.header("Content-Type"), "application/json");
            EXPECT_EQ(r.header("Content-Length"), std::to_string(r.bodyLength));
        } else {
            EXPECT_FALSE(r.header("Content-Type"));
        }
    }
    std::sort(expected.begin(), expected.end());
    std::sort(arrived.begin(), arrived.end());
    EXPECT_EQ(arrived, expected);
}

TEST_F(MeetingClientStandin, AudioOfAnUploadedAndOfASeededMeetingLandsOwnerOnly) {
    NuvelAPI api(service.origin(), transport);
    CreateMeetingRequest request;
    request.title = "Uploaded";
    request.recorded_at = "2024-05-01T09:30:00Z";
    request.duration_seconds = 12;
    request.consent = true;
    request.locale = "en";
    request.time_zone = "UTC";
    const std::string uploaded = api.createMeeting(request, token).id;
    Bytes audio(150000);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = std::uint8_t(i * 37 + (i >> 8));
    api.uploadPart(uploaded, 0, audio, token);
    api.commitUpload(uploaded, 1, hexString(Sha256::hash(audio)), token);

    TempDir dir("standin-audio");
    const fs::path folder = dir / "playback";
    client.downloadAudio(uploaded, token, folder / "uploaded.m4a");
    EXPECT_EQ(files::readFile(folder / "uploaded.m4a"), audio);
    EXPECT_EQ(modeOf(folder / "uploaded.m4a"), 0600u);

    client.downloadAudio(ids[2], token, folder / "seeded.wav");
    const Bytes seeded = files::readFile(folder / "seeded.wav");
    EXPECT_EQ(stringOf(seeded), service.storedAudio(ids[2]));
    EXPECT_EQ(stringOf(seeded).substr(0, 4), "RIFF");
    EXPECT_EQ(modeOf(folder / "seeded.wav"), 0600u);

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"seeded.wav", "uploaded.m4a"}));
}

TEST_F(MeetingClientStandin, AnInjectedRefusalIsTheClientsError) {
    service.addFault("GET", "/api/meetings/[^/]+/sharing",
                     StandinFault::error(403, "plan_required").times(1));
    const MeetingClientError refused = clientFailure([&] { client.sharing(ids[0], token); });
    EXPECT_EQ(refused.status(), 403);
    EXPECT_EQ(refused.code(), "plan_required");
    EXPECT_FALSE(refused.currentRevision());
    EXPECT_EQ(client.sharing(ids[0], token).workspace_id, "ws_personal");
}
