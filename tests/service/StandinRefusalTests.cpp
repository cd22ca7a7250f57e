// The stand-in refuses what the service refuses, so a client that drifts from the contract fails
// its tests instead of passing them. Requests are written by hand to control every header.
#include "tests/service/StandinTestSupport.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nuvel::test {
namespace {

struct Answer {
    int status = 0;
    std::string body;
    std::string headers;
};

// One request on its own connection, exactly as given; "Accept" only when `accept` is not empty.
Answer exchange(int port, const std::string& method, const std::string& target, const std::string& token,
                const std::string& accept, const std::string& body) {
    std::string request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token + "\r\n";
    if (!accept.empty())
        request += "Accept: " + accept + "\r\n";
    if (!body.empty())
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + body;

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Answer answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        std::string response;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            response.append(buffer, std::size_t(n));
        const std::size_t end = response.find("\r\n\r\n");
        if (response.rfind("HTTP/1.1 ", 0) == 0 && end != std::string::npos) {
            answer.status = std::stoi(response.substr(9, 3));
            answer.headers = response.substr(0, end);
            answer.body = response.substr(end + 4);
        }
    }
    ::close(fd);
    return answer;
}

std::string codeOf(const Answer& answer) {
    const Json body = Json::parse(answer.body, nullptr, false);
    if (!body.is_object() || !body.contains("error") || !body["error"].is_object())
        return "<none>";
    return body["error"].value("code", "<none>");
}

class StandinRefusals : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        token = service.issueToken();
        seeded = service.seedMeetings(1)[0];
        upload = bodyOf(send("POST", "/api/meetings", token, creation()))["id"];
    }
    static Json creation() {
        return Json{{"title", "Board"},
                    {"attendees", Json::array()},
                    {"recorded_at", "2024-05-01T09:30:00Z"},
                    {"duration_seconds", 61.5},
                    {"consent", true},
                    {"ai_notes", true},
                    {"locale", "en"},
                    {"time_zone", "Europe/Berlin"}};
    }
    static std::string creationWith(const char* key, const Json& value) {
        Json body = creation();
        body[key] = value;
        return body.dump();
    }
    std::string token, seeded, upload;
};

TEST_F(StandinRefusals, EachDeviationFromTheContractGetsItsStatusAndCode) {
    const std::string m = "/api/meetings/" + seeded;
    const std::string u = "/api/meetings/" + upload;
    const std::string json = "application/json";
    const struct Case {
        const char* what;
        std::string method, target, accept, body;
        int status;
        const char* code;
    } cases[] = {
        {"a bare ?", "GET", "/api/bootstrap?", json, "", 400, "invalid_query"},
        {"an item the operation does not take", "GET", "/api/bootstrap?workspace=ws_team", json, "", 400,
         "invalid_query"},
        {"an item where none is taken", "GET", "/api/settings?x=1", json, "", 400, "invalid_query"},
        {"an item twice", "GET", "/api/meetings?workspace_id=ws_personal&workspace_id=ws_personal", json, "",
         400, "invalid_query"},
        {"no Accept", "GET", "/api/bootstrap", "", "", 406, "not_acceptable"},
        {"an Accept without JSON", "GET", m, "text/html", "", 406, "not_acceptable"},
        {"an empty reconcile id", "GET", "/api/meetings/reconcile?ids=" + seeded + ",,mt_x", json, "", 400,
         "invalid_ids"},
        {"a trailing comma", "GET", "/api/meetings/reconcile?ids=" + seeded + ",", json, "", 400,
         "invalid_ids"},
        {"an unknown key in the token exchange", "POST", "/api/device/token", "*/*",
         R"({"code":"c","verifier":"v","name":"Laptop","scope":"all"})", 400, "unknown_field"},
        {"an unknown key in a creation", "POST", "/api/meetings", "*/*", creationWith("notes", "x"), 400,
         "unknown_field"},
        {"a heartbeat that is not {}", "POST", u + "/heartbeat", "*/*", R"({"ok":true})", 400,
         "unknown_field"},
        {"an unknown key in a commit", "POST", u + "/commit", "*/*",
         R"({"parts":1,"sha256":")" + std::string(64, 'a') + R"(","size":3})", 400, "unknown_field"},
        {"an unknown key in a notepad line", "PUT", u + "/notepad", "*/*",
         R"({"base":0,"lines":[{"id":"nabc","text":"x","at":null,"color":"red"}]})", 400, "unknown_field"},
        {"a notepad line without at", "PUT", u + "/notepad", "*/*",
         R"({"base":0,"lines":[{"id":"nabc","text":"x"}]})", 400, "invalid_notepad"},
        {"an unknown key in a rename", "PATCH", m, json, R"({"title":"t","color":"red"})", 400,
         "unknown_field"},
        {"a word_text operation with a label", "PATCH", m + "/revision", json,
         R"({"operation_id":"o","revision":1,"operations":[{"type":"word_text","word_id":"w","text":"a","label":"b"}]})",
         400, "unknown_field"},
        {"a guest share with user ids", "POST", m + "/shares", json,
         R"({"kind":"guest","email":"a@example.com","permission":"viewer","user_ids":["u1"]})", 400,
         "unknown_field"},
        {"an unknown key in a link", "POST", m + "/links", json,
         R"({"expires_days":7,"include_audio":false,"x":1})", 400, "unknown_field"},
        {"an unknown key in the settings", "PUT", "/api/settings", json, R"({"retention_days":30,"x":1})",
         400, "unknown_field"},
        {"an empty title", "POST", "/api/meetings", "*/*", creationWith("title", ""), 422, "invalid_title"},
        {"an empty location", "POST", "/api/meetings", "*/*", creationWith("location", ""), 422,
         "invalid_location"},
        {"an empty address list", "POST", "/api/meetings", "*/*",
         creationWith("attendee_emails", Json::array()), 422, "invalid_attendees"},
        {"a fractional recorded_at", "POST", "/api/meetings", "*/*",
         creationWith("recorded_at", "2024-05-01T09:30:00.5Z"), 400, "invalid_recorded_at"},
        {"a recorded_at with an offset", "POST", "/api/meetings", "*/*",
         creationWith("recorded_at", "2024-05-01T11:30:00+02:00"), 400, "invalid_recorded_at"},
        {"a regional locale", "POST", "/api/meetings", "*/*", creationWith("locale", "en-US"), 400,
         "invalid_locale"},
        {"another language", "POST", "/api/meetings", "*/*", creationWith("locale", "de"), 400,
         "invalid_locale"},
        {"an upper-case client recording id", "POST", "/api/meetings", "*/*",
         creationWith("client_recording_id", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"), 400,
         "invalid_client_recording_id"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Answer answer = exchange(service.port(), c.method, c.target, token, c.accept, c.body);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_EQ(codeOf(answer), c.code) << answer.body;
    }
    // The same requests within the contract are taken.
    EXPECT_EQ(exchange(service.port(), "GET", "/api/bootstrap", token, "*/*", "").status, 200);
    EXPECT_EQ(exchange(service.port(), "GET", m, token, json, "").status, 200);
    EXPECT_EQ(exchange(service.port(), "GET", "/api/meetings/reconcile?ids=", token, json, "").status, 200);
    EXPECT_EQ(exchange(service.port(), "POST", u + "/heartbeat", token, "*/*", "{}").status, 200);
    EXPECT_EQ(exchange(service.port(), "POST", "/api/meetings", token, "*/*",
                       creationWith("client_recording_id", "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"))
                  .status,
              201);
}

TEST_F(StandinRefusals, RangedAudioIsAPartialAnswerAndWholeAudioAPlainOne) {
    const std::string path = "/api/meetings/" + seeded + "/audio";
    const std::string audio = *service.storedAudio(seeded);
    httplib::Client c = client();
    auto whole = c.Get(path, bearer(token));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->body, audio);

    httplib::Headers ranged = bearer(token);
    ranged.emplace("Range", "bytes=0-1023");
    auto part = c.Get(path, ranged);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206);
    EXPECT_EQ(part->body, audio.substr(0, 1024));
    EXPECT_EQ(part->get_header_value("Content-Range"), "bytes 0-1023/" + std::to_string(audio.size()));

    httplib::Headers beyond = bearer(token);
    beyond.emplace("Range",
                   "bytes=" + std::to_string(audio.size()) + "-" + std::to_string(audio.size() + 10));
    EXPECT_EQ(c.Get(path, beyond)->status, 416);

    // A refusal of a ranged request keeps its whole error body.
    service.setAudioDeleted(seeded, true);
    auto gone = c.Get(path, ranged);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->status, 410);
    EXPECT_EQ(errorCode(gone), "audio_expired");
}

} // namespace
} // namespace nuvel::test
