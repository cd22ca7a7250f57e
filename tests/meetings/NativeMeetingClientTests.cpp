// The meeting client's requests over real HTTP: method, path, query, headers and body of every
// operation, the argument checks that send nothing, and the assembled document.

#include "NuvelKit/support/Uuid.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"
#include "tests/meetings/MeetingServiceFixture.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace nuvel;
using namespace nuvel::test;
using Code = RecordingError::Code;

namespace {

std::string summaryJSON() {
    return json::Ordered::parse(golden("library-page.json"))["meetings"][0].dump();
}

// The headers every JSON request without a body carries.
void expectPlainHeaders(const SeenRequest& rq, const std::string& token = "tok") {
    EXPECT_EQ(rq.header("Authorization"), "Bearer " + token) << rq.line();
    EXPECT_EQ(rq.header("Accept"), "application/json") << rq.line();
    EXPECT_FALSE(rq.has("Content-Type")) << rq.line();
    EXPECT_FALSE(rq.has("Cookie")) << rq.line();
    EXPECT_FALSE(rq.has("Range")) << rq.line();
}

void expectJSONBody(const SeenRequest& rq, const std::string& body) {
    EXPECT_EQ(rq.header("Authorization"), "Bearer tok");
    EXPECT_EQ(rq.header("Accept"), "application/json");
    EXPECT_EQ(rq.header("Content-Type"), "application/json") << rq.line();
    EXPECT_EQ(rq.header("Content-Length"), std::to_string(body.size())) << rq.line();
    EXPECT_EQ(rq.headers.count("Content-Length"), 1u);
    EXPECT_EQ(rq.body, body) << rq.line();
}

class MeetingClientRequests : public ::testing::Test {
protected:
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
};

} // namespace

TEST_F(MeetingClientRequests, LibraryPageClampsTheLimitAndSendsTheCursorOnlyWhenGiven) {
    service.answer(answerJSON(golden("library-page.json")));
    MeetingLibraryPage page = client.libraryPage("ws_7", std::nullopt, 50, "tok");
    EXPECT_EQ(page.meetings.size(), MeetingLibraryPage::decode(golden("library-page.json")).meetings.size());
    SeenRequest rq = service.last();
    EXPECT_EQ(rq.method, "GET");
    EXPECT_EQ(rq.path, "/api/meetings");
    EXPECT_EQ(rq.query, "workspace_id=ws_7&limit=50");
    expectPlainHeaders(rq);

    client.libraryPage("ws_7", std::nullopt, 0, "tok");
    EXPECT_EQ(service.last().query, "workspace_id=ws_7&limit=1");
    client.libraryPage("ws_7", std::nullopt, -3, "tok");
    EXPECT_EQ(service.last().query, "workspace_id=ws_7&limit=1");
    client.libraryPage("ws_7", std::nullopt, 500, "tok");
    EXPECT_EQ(service.last().query, "workspace_id=ws_7&limit=100");

    // A base64 cursor keeps its "+", "/" and "=" as data.
    client.libraryPage("ws 7", std::string("eyJwIjo+Mn0/a="), 100, "tok");
    EXPECT_EQ(service.last().query, "workspace_id=ws%207&limit=100&cursor=eyJwIjo%2BMn0%2Fa%3D");
}

TEST_F(MeetingClientRequests, SearchSendsTheFirstTwoHundredCharactersAsWritten) {
    service.answer(answerJSON(golden("search-page.json")));
    MeetingSearchPage page = client.search("c++", std::nullopt, "tok");
    EXPECT_EQ(page.query, "budget");
    SeenRequest rq = service.last();
    EXPECT_EQ(rq.line(), "GET /api/search?q=c%2B%2B");
    expectPlainHeaders(rq);

    client.search("a&b=c d", std::string("ws_7"), "tok");
    EXPECT_EQ(service.last().query, "q=a%26b%3Dc%20d&workspace_id=ws_7");

    // Characters, not bytes: 250 "é" written as e + combining acute (two code points each).
    std::string accented;
    for (int i = 0; i < 250; ++i)
        accented += "e\xCC\x81";
    client.search(accented, std::nullopt, "tok");
    std::string expected;
    for (int i = 0; i < 200; ++i)
        expected += "e%CC%81";
    EXPECT_EQ(service.last().query, "q=" + expected);

    // Neither trimmed nor otherwise changed; an empty text is an empty "q".
    client.search("  x  ", std::nullopt, "tok");
    EXPECT_EQ(service.last().query, "q=%20%20x%20%20");
    client.search("", std::nullopt, "tok");
    EXPECT_EQ(service.last().query, "q=");
}

TEST_F(MeetingClientRequests, ReadingOperations) {
    service.answer(answerJSON(summaryJSON()));
    EXPECT_EQ(client.meeting("mtg_01", "tok").id, "mtg_01");
    EXPECT_EQ(service.last().line(), "GET /api/meetings/mtg_01");
    expectPlainHeaders(service.last());

    service.answer(answerJSON(golden("transcript.json")));
    EXPECT_EQ(client.transcript("mtg_01", "raw", "tok").encode(),
              MeetingTranscriptDocument::decode(golden("transcript.json")).encode());
    EXPECT_EQ(service.last().line(), "GET /api/meetings/mtg_01/transcript?layer=raw");
    client.transcript("mtg_01", "corrected", "tok");
    EXPECT_EQ(service.last().line(), "GET /api/meetings/mtg_01/transcript?layer=corrected");
    expectPlainHeaders(service.last());

    service.answer(answerJSON(golden("notes.json")));
    EXPECT_EQ(client.notes("A-z_09", "tok").encode(),
              MeetingNotesDocument::decode(golden("notes.json")).encode());
    EXPECT_EQ(service.last().line(), "GET /api/meetings/A-z_09/notes");
    expectPlainHeaders(service.last());

    service.answer(answerJSON(golden("sharing.json")));
    EXPECT_EQ(client.sharing("mtg_01", "tok").shares.size(), 2u);
    EXPECT_EQ(service.last().line(), "GET /api/meetings/mtg_01/sharing");
    expectPlainHeaders(service.last());

    service.answer(answerJSON(R"({"retention_days":30,"retention_choices":[7,30,90,365]})"));
    MeetingJSON settings = client.settings("tok");
    ASSERT_NE(settings["retention_days"], nullptr);
    EXPECT_EQ(settings["retention_days"]->numberValue(), 30.0);
    EXPECT_EQ(service.last().line(), "GET /api/settings");
    expectPlainHeaders(service.last());
}

TEST(MeetingClientBearer, AnEmptyTokenIsStillSentAsABearerToken) {
    // The HTTP server trims the blank after "Bearer", so the request is read off the socket.
    RawHttpExchange capture("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                            "Content-Length: 2\r\nConnection: close\r\n\r\n{}");
    NativeMeetingClient client{"http://127.0.0.1:" + std::to_string(capture.port()), curl()};
    client.settings("");
    std::string request = capture.request();
    EXPECT_NE(request.find("\r\nAuthorization: Bearer \r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nAccept: application/json\r\n"), std::string::npos) << request;
}

TEST_F(MeetingClientRequests, ReconcileJoinsTheIdsInOrder) {
    service.answer(answerJSON(golden("reconciliation.json")));
    MeetingReconciliation answer = client.reconcile({"mtg_02", "mtg_01", "x"}, "tok");
    EXPECT_EQ(answer.removed_ids, (std::vector<std::string>{"mtg_02", "mtg_03"}));
    EXPECT_EQ(service.last().line(), "GET /api/meetings/reconcile?ids=mtg_02%2Cmtg_01%2Cx");
    expectPlainHeaders(service.last());

    client.reconcile({}, "tok");
    EXPECT_EQ(service.last().line(), "GET /api/meetings/reconcile?ids=");

    std::vector<std::string> hundred;
    for (int i = 0; i < 100; ++i)
        hundred.push_back("m" + std::to_string(i));
    service.clear();
    client.reconcile(hundred, "tok");
    ASSERT_EQ(service.log().size(), 1u);
    EXPECT_EQ(service.last().query.rfind("ids=m0%2Cm1%2C", 0), 0u);
}

TEST_F(MeetingClientRequests, ChangingOperationsSendTheirBodies) {
    MeetingRevisionRequest revision = MeetingRevisionRequest::decode(golden("revision-request.json"));
    service.answer(answerJSON(golden("revision-result.json")));
    MeetingRevisionResult result = client.revise("mtg_01", revision, "tok");
    EXPECT_EQ(result.revision, 13);
    EXPECT_EQ(service.last().line(), "PATCH /api/meetings/mtg_01/revision");
    expectJSONBody(service.last(), revision.encode());

    service.answer(answerJSON("{\"whatever\":1}"));
    client.rename("mtg_01", "Q2 \"plan\" — Zoë", "tok");
    EXPECT_EQ(service.last().line(), "PATCH /api/meetings/mtg_01");
    expectJSONBody(service.last(), R"({"title":"Q2 \"plan\" — Zoë"})");

    MeetingShareRequest share = MeetingShareRequest::guest("guest@example.com", "viewer");
    client.addShare("mtg_01", share, "tok");
    EXPECT_EQ(service.last().line(), "POST /api/meetings/mtg_01/shares");
    expectJSONBody(service.last(), share.encode());

    service.answer(answerJSON(R"({"id":"ln_9","expires_at":1773050400,"include_audio":true})", 201));
    MeetingJSON link = client.createLink("mtg_01", 7, true, "tok");
    EXPECT_EQ(*link["id"]->stringValue(), "ln_9");
    EXPECT_EQ(service.last().line(), "POST /api/meetings/mtg_01/links");
    EXPECT_EQ(json::parse(service.last().body), json::parse(R"({"expires_days":7,"include_audio":true})"));
    EXPECT_EQ(service.last().header("Content-Type"), "application/json");
    client.createLink("mtg_01", 30, false, "tok");
    EXPECT_EQ(json::parse(service.last().body), json::parse(R"({"expires_days":30,"include_audio":false})"));

    service.answer(answerJSON(""));
    client.updateSettings(365, "tok");
    EXPECT_EQ(service.last().line(), "PUT /api/settings");
    expectJSONBody(service.last(), R"({"retention_days":365})");
}

TEST_F(MeetingClientRequests, DeletionsCarryNoBodyAndAnyTwoHundredSucceeds) {
    service.answer([](const httplib::Request&, httplib::Response& rs) { rs.status = 204; });
    client.deleteMeeting("mtg_01", "tok");
    EXPECT_EQ(service.last().line(), "DELETE /api/meetings/mtg_01");
    expectPlainHeaders(service.last());
    EXPECT_EQ(service.last().body, "");

    client.removeShare("mtg_01", "sh_1", "tok");
    EXPECT_EQ(service.last().line(), "DELETE /api/meetings/mtg_01/shares/sh_1");
    expectPlainHeaders(service.last());

    client.revokeLink("mtg_01", "ln_1", "tok");
    EXPECT_EQ(service.last().line(), "DELETE /api/meetings/mtg_01/links/ln_1");
    expectPlainHeaders(service.last());

    client.rename("mtg_01", "t", "tok"); // 204, no body
    service.answer(answerJSON("<html>fine</html>"));
    client.rename("mtg_01", "t", "tok");

    // An operation with a result cannot take an empty answer: the decoder's error passes through.
    service.answer([](const httplib::Request&, httplib::Response& rs) { rs.status = 204; });
    EXPECT_THROW(client.meeting("mtg_01", "tok"), json::JsonError);
    service.answer(answerJSON(R"({"id":"mtg_01"})"));
    EXPECT_THROW(client.meeting("mtg_01", "tok"), json::JsonError);
}

TEST_F(MeetingClientRequests, ArgumentChecksRunBeforeAnyRequest) {
    const MeetingSummary summary = MeetingSummary::decode(summaryJSON());
    const MeetingRevisionRequest revision = MeetingRevisionRequest::decode(golden("revision-request.json"));
    const MeetingShareRequest share = MeetingShareRequest::members({"u_1"});
    const std::vector<std::string> badIDs = {"",     "a/b", "a.b", "a b", "..", "caf\xC3\xA9",
                                             "a%2F", "a?b", "a\nb"};

    for (const std::string& bad : badIDs) {
        SCOPED_TRACE("id \"" + bad + "\"");
        auto unsafe = [&](const std::function<void()>& call) {
            EXPECT_EQ(recordingFailure(call), Code::unsafePath);
        };
        unsafe([&] { client.meeting(bad, "tok"); });
        unsafe([&] { client.transcript(bad, "corrected", "tok"); });
        unsafe([&] { client.notes(bad, "tok"); });
        MeetingSummary badSummary = summary;
        badSummary.id = bad;
        unsafe([&] { client.document(badSummary, "tok"); });
        unsafe([&] { client.revise(bad, revision, "tok"); });
        unsafe([&] { client.rename(bad, "t", "tok"); });
        unsafe([&] { client.deleteMeeting(bad, "tok"); });
        unsafe([&] { client.reconcile({"ok", bad}, "tok"); });
        unsafe([&] { client.sharing(bad, "tok"); });
        unsafe([&] { client.addShare(bad, share, "tok"); });
        unsafe([&] { client.removeShare(bad, "sh_1", "tok"); });
        unsafe([&] { client.removeShare("mtg_01", bad, "tok"); });
        unsafe([&] { client.createLink(bad, 7, false, "tok"); });
        unsafe([&] { client.revokeLink(bad, "ln_1", "tok"); });
        unsafe([&] { client.revokeLink("mtg_01", bad, "tok"); });
        unsafe([&] { client.audioRequest(bad, "tok"); });
    }

    auto invalid = [&](const std::function<void()>& call) {
        EXPECT_EQ(recordingFailure(call), Code::invalidTransport);
    };
    // Value checks come before the id checks.
    for (const char* layer : {"Raw", "CORRECTED", "", "original", "raw "}) {
        invalid([&] { client.transcript("mtg_01", layer, "tok"); });
        invalid([&] { client.transcript("bad/id", layer, "tok"); });
    }
    std::vector<std::string> tooMany(101, "m");
    invalid([&] { client.reconcile(tooMany, "tok"); });
    tooMany[3] = "bad/id";
    invalid([&] { client.reconcile(tooMany, "tok"); });
    for (int days : {0, 2, 14, 31, -7}) {
        invalid([&] { client.createLink("mtg_01", days, true, "tok"); });
        invalid([&] { client.createLink("bad/id", days, true, "tok"); });
    }
    for (int days : {0, 1, 60, 180, 366})
        invalid([&] { client.updateSettings(days, "tok"); });

    // A token that could end the header line and start another is refused, by every operation.
    for (const std::string& token :
         {std::string("t\r\nX-Evil: 1"), std::string("t\n"), std::string("t\0k", 3)}) {
        invalid([&] { client.libraryPage("ws", std::nullopt, 10, token); });
        invalid([&] { client.search("q", std::nullopt, token); });
        invalid([&] { client.meeting("mtg_01", token); });
        invalid([&] { client.document(summary, token); });
        invalid([&] { client.deleteMeeting("mtg_01", token); });
        invalid([&] { client.settings(token); });
        invalid([&] { client.updateSettings(30, token); });
        invalid([&] { client.audioRequest("mtg_01", token); });
    }

    EXPECT_TRUE(service.log().empty()) << service.log().front().line();
}

TEST_F(MeetingClientRequests, DocumentFetchesTheCorrectedTranscriptAndTheNotes) {
    const MeetingSummary summary = MeetingSummary::decode(summaryJSON());
    const std::string transcript = golden("transcript.json");
    const std::string notes = golden("notes.json");
    service.answer([&](const httplib::Request& rq, httplib::Response& rs) {
        if (rq.path == "/api/meetings/mtg_01/transcript")
            rs.set_content(transcript, "application/json");
        else if (rq.path == "/api/meetings/mtg_01/notes")
            rs.set_content(notes, "application/json");
        else
            rs.status = 500;
    });
    NativeMeetingDocument document = client.document(summary, "tok");
    EXPECT_EQ(document.summary, summary);
    EXPECT_EQ(document.transcript.encode(), MeetingTranscriptDocument::decode(transcript).encode());
    ASSERT_TRUE(document.notes);
    EXPECT_EQ(document.notes->encode(), MeetingNotesDocument::decode(notes).encode());
    EXPECT_FALSE(document.originalTranscript);

    std::vector<std::string> lines;
    for (const SeenRequest& rq : service.log()) {
        lines.push_back(rq.line());
        expectPlainHeaders(rq);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /api/meetings/mtg_01/notes",
                                               "GET /api/meetings/mtg_01/transcript?layer=corrected"}));
}

TEST_F(MeetingClientRequests, DocumentWithoutNotesFailsWithTheNotesError) {
    const MeetingSummary summary = MeetingSummary::decode(summaryJSON());
    const std::string transcript = golden("transcript.json");
    service.answer([&](const httplib::Request& rq, httplib::Response& rs) {
        if (rq.path.ends_with("/transcript")) {
            rs.set_content(transcript, "application/json");
        } else {
            rs.status = 404;
            rs.set_content(R"({"error":{"code":"notes_not_found"}})", "application/json");
        }
    });
    MeetingClientError e = clientFailure([&] { client.document(summary, "tok"); });
    EXPECT_EQ(e.status(), 404);
    EXPECT_EQ(e.code(), "notes_not_found");
}

TEST(MeetingClientDocument, AFailedTranscriptCancelsTheNotesRequest) {
    Gate notesReleased; // outlives the service, whose handlers wait at it
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
    const MeetingSummary summary = MeetingSummary::decode(summaryJSON());
    Gate notesArrived;
    service.answer([&](const httplib::Request& rq, httplib::Response& rs) {
        if (rq.path.ends_with("/notes")) {
            notesArrived.open();
            notesReleased.wait(); // never answers while the test runs
            rs.set_content(golden("notes.json"), "application/json");
        } else {
            notesArrived.wait(); // fail only once the notes request is in flight
            rs.status = 503;
            rs.set_header("Retry-After", "5");
            rs.set_content(R"({"error":"overloaded"})", "application/json");
        }
    });

    auto started = std::chrono::steady_clock::now();
    MeetingClientError e = clientFailure([&] { client.document(summary, "tok"); });
    auto took = std::chrono::steady_clock::now() - started;
    // The document returned while the notes request still had no answer: it was cancelled.
    EXPECT_FALSE(notesReleased.isOpen());
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(e.status(), 503);
    EXPECT_EQ(e.code(), "overloaded");
    EXPECT_EQ(e.retryAfter(), 5.0);
    EXPECT_EQ(service.log().size(), 2u);
    notesReleased.open();
}

TEST(MeetingClientDocument, TheCallersStopEndsBothRequests) {
    Gate release;
    MeetingService service;
    NativeMeetingClient client{service.origin(), curl()};
    service.answer([&](const httplib::Request&, httplib::Response& rs) {
        release.wait();
        rs.status = 500;
    });
    std::stop_source stop;
    std::thread canceller([&] {
        if (service.waitForRequests(2))
            stop.request_stop();
    });
    EXPECT_THROW(client.document(MeetingSummary::decode(summaryJSON()), "tok", stop.get_token()), Cancelled);
    EXPECT_FALSE(release.isOpen());
    canceller.join();
    release.open();
}
