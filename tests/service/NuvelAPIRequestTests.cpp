// What each operation of the service client puts on the wire, and what it makes of the answer.

#include "NuvelKit/meetings/NativeMeetingClient.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "tests/service/ServiceStub.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using test::Arrival;
using test::Reply;

struct Client {
    test::ServiceStub service;
    std::shared_ptr<test::ObservingTransport> transport = std::make_shared<test::ObservingTransport>();
    NuvelAPI api{service.origin(), transport};

    HttpHeaders sentHeaders() const { return transport->last().headers; }
};

const char* const meetingJSON =
    R"({"id":"mt_1","state":"processing","progress":0.25,"title":"Board","title_auto":true,)"
    R"("url":"https://app.example.com/m/mt_1","extra":1})";

TEST(NuvelAPIRequests, EachOperationHasItsPathMethodAndHeaders) {
    Client c;
    c.service.on("POST", "/api/device/token",
                 Reply{200, R"({"token":"tok_9","account":{"id":"acc_1","email":"ada@example.com"}})"});
    c.service.on("GET", "/api/bootstrap", Reply{200, test::contractText()});
    c.service.on(
        "GET", "/api/meetings/m1/upload",
        Reply{200,
              R"({"contract_version":1,"id":"m1","workspace_id":"ws_team","state":"open",)"
              R"("expires_at":"2024-05-01T10:00:00Z","part_bytes":4,"max_parts":3,)"
              R"("parts":[{"index":0,"bytes":4}],"commit":null,"can_upload":true,"heartbeat_seconds":30})"});
    c.service.on("POST", "/api/meetings/m1/heartbeat",
                 Reply{200, R"({"ok":true,"heartbeat_seconds":30,"expires_at":"2024-05-01T10:00:00Z"})"});
    c.service.on("POST", "/api/device/revoke", Reply{204, ""});
    c.service.on("GET", "/api/meetings/m1", Reply{200, meetingJSON});

    // Without a token and with a JSON body.
    DeviceSession session = c.api.exchangeCode("code+1", "verif", "Ada's laptop");
    EXPECT_EQ(session.token, "tok_9");
    EXPECT_EQ(session.account.id, "acc_1");
    Arrival a = c.service.last();
    EXPECT_EQ(a.method, "POST");
    EXPECT_EQ(a.path, "/api/device/token");
    EXPECT_FALSE(a.query);
    EXPECT_FALSE(a.header("Authorization"));
    EXPECT_EQ(a.header("Content-Type"), "application/json");
    EXPECT_EQ(a.header("Content-Length"), std::to_string(a.body.size()));
    EXPECT_EQ(json::parse(a.body),
              json::parse(R"({"code":"code+1","verifier":"verif","name":"Ada's laptop"})"));
    EXPECT_EQ(c.sentHeaders(), (HttpHeaders{{"Content-Type", "application/json"},
                                            {"Content-Length", std::to_string(a.body.size())}}));

    // A GET with a token and no body: only the authorisation, no body headers, no "?".
    NativeBootstrap contract = c.api.bootstrap("tok_9", std::nullopt);
    EXPECT_EQ(contract.selectedWorkspaceID, "ws_team");
    a = c.service.last();
    EXPECT_EQ(a.method, "GET");
    EXPECT_EQ(a.path, "/api/bootstrap");
    EXPECT_FALSE(a.query);
    EXPECT_EQ(a.header("Authorization"), "Bearer tok_9");
    EXPECT_FALSE(a.header("Content-Type"));
    EXPECT_FALSE(a.header("Content-Length"));
    EXPECT_EQ(c.transport->last().url, c.service.origin() + "/api/bootstrap");
    EXPECT_EQ(c.sentHeaders(), (HttpHeaders{{"Authorization", "Bearer tok_9"}}));

    // The one query item, encoded over the unreserved set so "+" and spaces arrive intact.
    c.api.bootstrap("tok_9", std::string("ws a+b/é"));
    a = c.service.last();
    EXPECT_EQ(a.query, "workspace_id=ws%20a%2Bb%2F%C3%A9");

    NativeUploadStatus status = c.api.uploadStatus("m1", "tok_9");
    EXPECT_EQ(status.parts.size(), 1u);
    a = c.service.last();
    EXPECT_EQ(a.method, "GET");
    EXPECT_EQ(a.path, "/api/meetings/m1/upload");
    EXPECT_FALSE(a.query);
    EXPECT_FALSE(a.header("Content-Type"));
    EXPECT_EQ(c.transport->last().url, c.service.origin() + "/api/meetings/m1/upload");

    NativeHeartbeat beat = c.api.heartbeat("m1", "tok_9");
    EXPECT_TRUE(beat.ok);
    a = c.service.last();
    EXPECT_EQ(a.method, "POST");
    EXPECT_EQ(a.body, "{}");
    EXPECT_EQ(a.header("Content-Type"), "application/json");
    EXPECT_EQ(a.header("Content-Length"), "2");
    EXPECT_EQ(c.sentHeaders(), (HttpHeaders{{"Authorization", "Bearer tok_9"},
                                            {"Content-Type", "application/json"},
                                            {"Content-Length", "2"}}));

    // A body-less POST: no content type; the transport's framing length of 0 is all.
    c.api.revokeDevice("tok_9");
    a = c.service.last();
    EXPECT_EQ(a.method, "POST");
    EXPECT_EQ(a.path, "/api/device/revoke");
    EXPECT_FALSE(a.header("Content-Type"));
    EXPECT_EQ(a.header("Content-Length").value_or("0"), "0");
    EXPECT_TRUE(a.body.empty());
    EXPECT_EQ(c.sentHeaders(), (HttpHeaders{{"Authorization", "Bearer tok_9"}}));

    RemoteMeeting m = c.api.meeting("m1", "tok_9");
    EXPECT_EQ(m, (RemoteMeeting{"mt_1", "processing", 0.25, "Board", true,
                                *Url::parse("https://app.example.com/m/mt_1")}));
    a = c.service.last();
    EXPECT_EQ(a.method, "GET");
    EXPECT_EQ(a.path, "/api/meetings/m1");
    EXPECT_FALSE(a.query);
}

TEST(NuvelAPIRequests, EveryExchangeHasTheSessionLimits) {
    Client c;
    c.service.on("POST", "/api/device/revoke", Reply{200, "anything at all"});
    c.api.revokeDevice("t");
    HttpRequest sent = c.transport->last();
    EXPECT_EQ(sent.idleTimeoutSeconds, 60);
    EXPECT_EQ(sent.totalTimeoutSeconds, 1800);
    EXPECT_EQ(sent.maxBodyBytes, 67108864u);
}

TEST(NuvelAPIRequests, PartsGoUpAsAudioWithTheirExactLength) {
    Client c;
    for (const char* path :
         {"/api/meetings/m-1_A/audio/0", "/api/meetings/m-1_A/audio/1", "/api/meetings/m-1_A/audio/12"})
        c.service.on("PUT", path, Reply{200, "not json"});
    const std::vector<std::pair<std::int64_t, Bytes>> parts = {
        {0, Bytes(65536, 0x41)}, {1, Bytes{0x00, 0x0d, 0x0a, 0xff}}, {12, Bytes(1048579, 0x7f)}};
    for (const auto& [index, bytes] : parts) {
        c.api.uploadPart("m-1_A", index, bytes, "tok");
        Arrival a = c.service.last();
        EXPECT_EQ(a.method, "PUT");
        EXPECT_EQ(a.path, "/api/meetings/m-1_A/audio/" + std::to_string(index));
        EXPECT_EQ(a.header("Content-Type"), "audio/mp4");
        EXPECT_EQ(a.header("Content-Length"), std::to_string(bytes.size()));
        EXPECT_EQ(a.headers.count("Content-Length"), 1u);
        EXPECT_FALSE(a.header("Expect"));
        EXPECT_EQ(a.body, stringOf(bytes));
        EXPECT_EQ(c.sentHeaders(), (HttpHeaders{{"Authorization", "Bearer tok"},
                                                {"Content-Type", "audio/mp4"},
                                                {"Content-Length", std::to_string(bytes.size())}}));
    }
}

TEST(NuvelAPIRequests, MeetingCreationCommitAndNotepadBodies) {
    Client c;
    c.service.on("POST", "/api/meetings", Reply{201, R"({"id":"mt_7","part_bytes":67108864,"max_parts":1})"});
    c.service.on("POST", "/api/meetings/mt_7/commit", Reply{202, ""});
    c.service.on("PUT", "/api/meetings/mt_7/notepad", Reply{200, R"({"revision":8})"});

    CreateMeetingRequest request;
    request.recorded_at = "2024-05-01T09:30:00Z";
    request.duration_seconds = 12.5;
    request.consent = true;
    request.locale = "en";
    request.time_zone = "UTC";
    EXPECT_EQ(c.api.createMeeting(request, "tok"), (CreatedMeeting{"mt_7", 67108864, 1}));
    Arrival a = c.service.last();
    EXPECT_EQ(a.body, json::dump(request.toJson()));
    EXPECT_EQ(a.header("Content-Type"), "application/json");

    const std::string digest(64, 'a');
    c.api.commitUpload("mt_7", 3, digest, "tok");
    a = c.service.last();
    EXPECT_EQ(a.path, "/api/meetings/mt_7/commit");
    EXPECT_EQ(a.body, R"({"parts":3,"sha256":")" + digest + R"("})");

    std::vector<NotepadLine> lines = {{"nabc", "first", 1200}, {"nxyz", "second", std::nullopt}};
    NotepadSaveResult result = c.api.saveNotepad("mt_7", 7, lines, "tok");
    EXPECT_EQ(result, NotepadSaveResult(NotepadSaved{8}));
    a = c.service.last();
    EXPECT_EQ(a.method, "PUT");
    EXPECT_EQ(a.body, R"({"base":7,"lines":[{"id":"nabc","text":"first","at":1200},)"
                      R"({"id":"nxyz","text":"second","at":null}]})");
}

TEST(NuvelAPIRequests, AnOriginWithATrailingSlashGivesOneSlash) {
    test::ServiceStub service;
    service.on("GET", "/api/meetings/m1", Reply{200, meetingJSON});
    auto transport = std::make_shared<test::ObservingTransport>();
    NuvelAPI api(service.origin() + "/", transport);
    api.meeting("m1", "t");
    EXPECT_EQ(transport->last().url, service.origin() + "/api/meetings/m1");

    for (const char* bad :
         {"ftp://host", "https://host/api", "https://host?x=1", "https://u@host", "host", "https://"})
        EXPECT_THROW(NuvelAPI(bad, transport), std::invalid_argument) << bad;
    EXPECT_THROW(NuvelAPI("https://host", nullptr), std::invalid_argument);
}

// The bearer token goes with every request: plain http only where it cannot leave the machine.
// Both service clients take the same origins.
TEST(NuvelAPIRequests, PlainHttpOriginsOnlyForLoopbackHosts) {
    auto transport = std::make_shared<test::ObservingTransport>();
    const struct {
        const char* origin;
        bool accepted;
    } cases[] = {
        {"https://api.example.com", true}, {"https://api.example.com:8443/", true},
        {"https://127.0.0.1", true},       {"http://127.0.0.1:8080", true},
        {"http://[::1]:8080/", true},      {"http://localhost", true},
        {"http://LocalHost:3000", true},   {"http://api.example.com", false},
        {"http://127.0.0.2", false},       {"http://localhost.example.com", false},
        {"http://10.0.0.1:8080", false},   {"http://[::2]", false},
        {"http://%6Cocalhost", false},     {"HTTP://127.0.0.1", false},
    };
    for (const auto& c : cases) {
        if (c.accepted) {
            EXPECT_NO_THROW(NuvelAPI(c.origin, transport)) << c.origin;
            EXPECT_NO_THROW(NativeMeetingClient(c.origin, transport)) << c.origin;
        } else {
            EXPECT_THROW(NuvelAPI(c.origin, transport), std::invalid_argument) << c.origin;
            EXPECT_THROW(NativeMeetingClient(c.origin, transport), std::invalid_argument) << c.origin;
        }
    }
}

} // namespace
} // namespace nuvel
