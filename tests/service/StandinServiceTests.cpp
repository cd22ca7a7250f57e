// The stand-in's device and upload API, its request log, hostile input and the child-process mode,
// all over real HTTP on loopback.
#include "tests/service/StandinTestSupport.hpp"
#include "tests/support/TempDir.hpp"

#include <regex>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace nuvel::test {
namespace {

// RFC 7636, appendix B.
constexpr const char* rfcVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr const char* rfcChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

class StandinDeviceTest : public StandinTest {};

TEST_F(StandinDeviceTest, BrowserSignInRedirectsToTheAppAndTheCodeNeedsTheMatchingVerifier) {
    httplib::Client c = client();
    // The device page signs in the sample account and sends the browser back to the app.
    auto redirect = c.Get(std::string("/device?challenge=") + rfcChallenge);
    ASSERT_TRUE(redirect);
    EXPECT_EQ(redirect->status, 302);
    EXPECT_EQ(redirect->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    std::smatch code;
    const std::string location = redirect->get_header_value("Location");
    ASSERT_TRUE(std::regex_match(location, code, std::regex("nuvel://auth\\?code=([0-9a-f]{64})")))
        << location;
    // Another account signs in through the approve page.
    auto other = c.Get(std::string("/device/approve?challenge=") + rfcChallenge + "&account=nobody");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);

    auto exchange = [&](const std::string& grant, const std::string& verifier) {
        return send("POST", "/api/device/token", "",
                    Json{{"code", grant}, {"verifier", verifier}, {"name", "Laptop"}});
    };
    auto session = exchange(code[1], rfcVerifier);
    ASSERT_TRUE(session);
    ASSERT_EQ(session->status, 200) << session->body;
    const Json doc = bodyOf(session);
    EXPECT_EQ(doc["account"]["id"], StandinService::defaultAccountId);
    EXPECT_TRUE(doc["account"].contains("email"));
    const std::string token = doc["token"];
    EXPECT_EQ(get("/api/bootstrap", token)->status, 200);

    // One exchange per code.
    EXPECT_EQ(errorCode(exchange(code[1], rfcVerifier)), "invalid_grant");
    // A wrong verifier spends the code: the right one cannot follow.
    const std::string second = service.approveSignIn(rfcChallenge);
    EXPECT_EQ(errorCode(exchange(second, std::string(rfcVerifier).replace(0, 1, "e"))), "invalid_grant");
    EXPECT_EQ(errorCode(exchange(second, rfcVerifier)), "invalid_grant");
    // A verifier outside RFC 7636's alphabet or length is refused too.
    EXPECT_EQ(errorCode(exchange(service.approveSignIn(rfcChallenge), "short")), "invalid_grant");

    EXPECT_EQ(errorCode(c.Get("/device?challenge=tooShort")), "invalid_challenge");
    EXPECT_THROW(service.approveSignIn("tooShort"), std::invalid_argument);
}

TEST_F(StandinDeviceTest, BootstrapSelectsTheAskedWorkspaceAndCarriesTheKnobs) {
    const std::string token = service.issueToken();
    const Json standard = bodyOf(get("/api/bootstrap", token));
    EXPECT_EQ(standard["contract_version"], 1);
    EXPECT_EQ(standard["selected_workspace_id"], "ws_personal");
    EXPECT_EQ(standard["workspace"]["id"], "ws_personal");
    EXPECT_EQ(standard["workspaces"].size(), 2u);
    EXPECT_EQ(standard["capabilities"]["notepad_sync"], true);
    EXPECT_TRUE(standard["limits"].contains("offline_access_seconds"));

    StandinCapabilities caps;
    caps.uploadHeartbeat = false;
    caps.notepadSync = std::nullopt;
    service.setCapabilities(StandinService::defaultAccountId, caps);
    StandinLimits limits;
    limits.partBytes = 0; // out of range on purpose: the client must refuse it
    limits.offlineAccessSeconds = std::nullopt;
    service.setLimits(StandinService::defaultAccountId, limits);
    const Json team = bodyOf(get("/api/bootstrap?workspace_id=ws_team", token));
    EXPECT_EQ(team["selected_workspace_id"], "ws_team");
    EXPECT_EQ(team["workspace"]["role"], "member");
    EXPECT_EQ(team["default_workspace_id"], "ws_personal");
    EXPECT_EQ(team["capabilities"]["upload_heartbeat"], false);
    EXPECT_FALSE(team["capabilities"].contains("notepad_sync"));
    EXPECT_EQ(team["limits"]["part_bytes"], 0);
    EXPECT_FALSE(team["limits"].contains("offline_access_seconds"));

    EXPECT_EQ(errorCode(get("/api/bootstrap?workspace_id=ws_other", token)), "workspace_not_found");
    EXPECT_EQ(client().Get("/api/bootstrap")->status, 401);
    EXPECT_EQ(get("/api/bootstrap", "nvt_unknown")->status, 401);
}

TEST_F(StandinDeviceTest, RevokedDevicesGet401) {
    const std::string token = service.issueToken();
    auto revoke = client().Post("/api/device/revoke", bearer(token), "", "");
    ASSERT_TRUE(revoke);
    EXPECT_EQ(revoke->status, 204);
    auto after = get("/api/bootstrap", token);
    EXPECT_EQ(after->status, 401);
    EXPECT_EQ(errorCode(after), "device_revoked");

    const std::string other = service.issueToken();
    service.revokeToken(other);
    EXPECT_EQ(get("/api/meetings?workspace_id=ws_personal", other)->status, 401);
}

class StandinUploadTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        StandinLimits limits;
        limits.partBytes = 1000;
        limits.maxParts = 3;
        service.setLimits(StandinService::defaultAccountId, limits);
        token = service.issueToken();
    }
    Json creation(const std::optional<std::string>& clientId = std::nullopt) const {
        Json r{{"attendees", Json::array()},
               {"recorded_at", "2024-05-01T09:30:00Z"},
               {"duration_seconds", 61.5},
               {"consent", true},
               {"ai_notes", true},
               {"locale", "en"},
               {"time_zone", "Europe/Berlin"}};
        if (clientId)
            r["client_recording_id"] = *clientId;
        return r;
    }
    std::string create() const { return bodyOf(send("POST", "/api/meetings", token, creation()))["id"]; }
    httplib::Result part(const std::string& id, int index, const std::string& bytes,
                         const std::string& type = "audio/mp4") const {
        return sendRaw("PUT", "/api/meetings/" + id + "/audio/" + std::to_string(index), token, bytes, type);
    }
    httplib::Result commit(const std::string& id, int parts, const std::string& sha) const {
        return send("POST", "/api/meetings/" + id + "/commit", token,
                    Json{{"parts", parts}, {"sha256", sha}});
    }
    std::string token;
};

TEST_F(StandinUploadTest, CreationIsIdempotentPerClientRecordingAndChecksTheRequest) {
    auto first = send("POST", "/api/meetings", token, creation("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    ASSERT_EQ(first->status, 201) << first->body;
    const Json created = bodyOf(first);
    EXPECT_TRUE(std::regex_match(created["id"].get<std::string>(), std::regex("mt_[0-9a-f]{32}")));
    EXPECT_EQ(created["part_bytes"], 1000);
    EXPECT_EQ(created["max_parts"], 3);
    auto again = send("POST", "/api/meetings", token, creation("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    EXPECT_EQ(again->status, 200);
    EXPECT_EQ(bodyOf(again)["id"], created["id"]);
    EXPECT_NE(bodyOf(send("POST", "/api/meetings", token, creation()))["id"], created["id"]);

    Json noConsent = creation();
    noConsent["consent"] = false;
    EXPECT_EQ(errorCode(send("POST", "/api/meetings", token, noConsent)), "consent_required");
    Json missing = creation();
    missing.erase("time_zone");
    EXPECT_EQ(errorCode(send("POST", "/api/meetings", token, missing)), "invalid_request");
    Json foreign = creation();
    foreign["workspace_id"] = "ws_elsewhere";
    EXPECT_EQ(send("POST", "/api/meetings", token, foreign)->status, 403);
}

TEST_F(StandinUploadTest, PartsHeartbeatAndCommitWithDigestCheck) {
    const std::string id = create();
    const std::string audio = std::string(1000, 'a') + std::string(1000, 'b') + std::string(500, 'c');

    Json status = bodyOf(get("/api/meetings/" + id + "/upload", token));
    EXPECT_EQ(status["contract_version"], 1);
    EXPECT_EQ(status["state"], "open");
    EXPECT_EQ(status["parts"], Json::array());
    EXPECT_FALSE(status.contains("commit"));
    EXPECT_EQ(status["can_upload"], true);

    auto beat = sendRaw("POST", "/api/meetings/" + id + "/heartbeat", token, "{}", "application/json");
    ASSERT_EQ(beat->status, 200) << beat->body;
    EXPECT_EQ(bodyOf(beat)["ok"], true);
    EXPECT_EQ(bodyOf(beat)["heartbeat_seconds"], 30);

    EXPECT_EQ(part(id, 0, audio.substr(0, 1000))->status, 204);
    EXPECT_EQ(part(id, 2, audio.substr(2000))->status, 204);
    EXPECT_EQ(errorCode(part(id, 1, std::string(1001, 'x'))), "part_too_large");
    EXPECT_EQ(errorCode(part(id, 1, audio.substr(1000, 1000), "application/octet-stream")),
              "unsupported_media_type");
    EXPECT_EQ(errorCode(part(id, 3, "x")), "invalid_part");
    EXPECT_EQ(errorCode(part(id, 1, "")), "empty_part");
    status = bodyOf(get("/api/meetings/" + id + "/upload", token));
    EXPECT_EQ(status["parts"],
              (Json::array({{{"index", 0}, {"bytes", 1000}}, {{"index", 2}, {"bytes", 500}}})));

    // A missing part, a wrong count or a wrong digest is refused, and the refused commit is reported.
    EXPECT_EQ(errorCode(commit(id, 3, sha256Hex(audio))), "part_count_mismatch");
    ASSERT_EQ(part(id, 1, audio.substr(1000, 1000))->status, 204);
    EXPECT_EQ(errorCode(commit(id, 2, sha256Hex(audio))), "part_count_mismatch");
    EXPECT_EQ(errorCode(commit(id, 3, sha256Hex(audio + "x"))), "digest_mismatch");
    status = bodyOf(get("/api/meetings/" + id + "/upload", token));
    EXPECT_EQ(status["commit"]["accepted"], false);
    EXPECT_EQ(status["can_upload"], true);

    auto done = commit(id, 3, sha256Hex(audio));
    ASSERT_EQ(done->status, 200) << done->body;
    EXPECT_EQ(bodyOf(done)["state"], "queued");
    EXPECT_EQ(service.storedAudio(id), audio);
    status = bodyOf(get("/api/meetings/" + id + "/upload", token));
    EXPECT_EQ(status["state"], "committed");
    EXPECT_EQ(status["commit"], (Json{{"parts", 3}, {"sha256", sha256Hex(audio)}, {"accepted", true}}));
    EXPECT_EQ(status["can_upload"], false);
    EXPECT_EQ(status["parts"].size(), 3u);
    // The same commit again is answered as done; anything else is refused.
    EXPECT_EQ(commit(id, 3, sha256Hex(audio))->status, 200);
    EXPECT_EQ(errorCode(commit(id, 3, sha256Hex("other"))), "already_committed");
    EXPECT_EQ(errorCode(part(id, 0, "late")), "upload_closed");

    // Another account's token does not see the meeting.
    StandinAccount other;
    other.id = "acct_other";
    other.email = "other@nuvel.test";
    other.workspaces = {StandinWorkspace{"ws_other", "personal", "Other"}};
    other.defaultWorkspaceId = "ws_other";
    service.putAccount(other);
    EXPECT_EQ(get("/api/meetings/" + id + "/upload", service.issueToken("acct_other"))->status, 404);
}

// A service started on a state folder finds its world again after a restart: the signed-in
// device, renamed and seeded meetings, and an upload that was half sent. A damaged state is
// refused whole instead of starting empty over it.
TEST(StandinKeptState, SessionsMeetingsAndUploadsSurviveARestart) {
    TempDir folder("standin-state");
    StandinOptions options;
    options.seed = true;
    options.stateFolder = folder.path().string();
    const std::string audio = std::string(1000, 'a') + "tail";
    std::string token, id, seeded;
    {
        StandinService first(options);
        first.start();
        StandinLimits limits;
        limits.partBytes = 1000;
        first.setLimits(StandinService::defaultAccountId, limits);
        httplib::Client c("127.0.0.1", first.port());
        const httplib::Headers auth{{"Authorization", "Bearer " + (token = first.issueToken())}};
        seeded = first.meetingIds().front();
        ASSERT_EQ(
            c.Patch("/api/meetings/" + seeded, auth, R"({"title":"Kept title"})", "application/json")->status,
            200);
        const Json created{{"attendees", Json::array()}, {"recorded_at", "2024-05-01T09:30:00Z"},
                           {"duration_seconds", 2.0},    {"consent", true},
                           {"ai_notes", false},          {"locale", "en"},
                           {"time_zone", "UTC"}};
        auto made = c.Post("/api/meetings", auth, created.dump(), "application/json");
        ASSERT_EQ(made->status, 201) << made->body;
        id = Json::parse(made->body)["id"];
        ASSERT_EQ(c.Put("/api/meetings/" + id + "/audio/0", auth, audio.substr(0, 1000), "audio/mp4")->status,
                  204);
    }
    options.seed = false;
    StandinService second(options);
    second.start();
    httplib::Client c("127.0.0.1", second.port());
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    EXPECT_EQ(c.Get("/api/bootstrap", auth)->status, 200);
    EXPECT_EQ(Json::parse(c.Get("/api/meetings/" + seeded, auth)->body)["title"], "Kept title");
    EXPECT_EQ(second.meetingIds().size(), 4u);
    ASSERT_EQ(c.Put("/api/meetings/" + id + "/audio/1", auth, audio.substr(1000), "audio/mp4")->status, 204);
    const Json commit{{"parts", 2}, {"sha256", sha256Hex(audio)}};
    EXPECT_EQ(c.Post("/api/meetings/" + id + "/commit", auth, commit.dump(), "application/json")->status,
              200);
    EXPECT_EQ(second.storedAudio(id), audio);
    second.stop();

    std::filesystem::resize_file(folder / "state.json", 100);
    EXPECT_ANY_THROW(StandinService{options});
}

TEST_F(StandinUploadTest, ProcessingMovesOnAfterCommitAndProducesTranscriptAndNotes) {
    const std::string id = create();
    EXPECT_EQ(bodyOf(get("/api/meetings/" + id, token))["state"], "uploading");
    ASSERT_EQ(part(id, 0, "audio")->status, 204);
    ASSERT_EQ(commit(id, 1, sha256Hex("audio"))->status, 200);

    std::vector<std::string> states;
    for (int i = 0; i < 4; ++i)
        states.push_back(bodyOf(get("/api/meetings/" + id, token))["state"]);
    EXPECT_EQ(states, (std::vector<std::string>{"queued", "running", "completed", "completed"}));
    const Json meeting = bodyOf(get("/api/meetings/" + id, token));
    EXPECT_EQ(meeting["progress"], 1.0);
    EXPECT_EQ(meeting["url"], "https://app.getnuvel.com/m/" + id);
    EXPECT_EQ(meeting["title_auto"], true);
    EXPECT_EQ(meeting["duration"], 61.5);

    const Json transcript = bodyOf(get("/api/meetings/" + id + "/transcript?layer=raw", token));
    ASSERT_FALSE(transcript["transcript"]["words"].empty());
    EXPECT_LE(transcript["transcript"]["words"].back()["end_ms"].get<std::int64_t>(), 61500);
    const Json notes = bodyOf(get("/api/meetings/" + id + "/notes", token));
    EXPECT_EQ(notes["run"]["state"], "completed");
    EXPECT_TRUE(notes["notes"].is_object());

    service.setProcessingState(id, "failed");
    EXPECT_EQ(service.processingState(id), "failed");
    EXPECT_EQ(bodyOf(get("/api/meetings/" + id, token))["state"], "failed");
}

TEST_F(StandinUploadTest, NotepadSavesByRevisionAndAnswersConflictsWithTheEnvelope) {
    const std::string id = create();
    const std::string path = "/api/meetings/" + id + "/notepad";
    const Json lines = Json::array({{{"id", "nabc1"}, {"text", "Agenda"}, {"at", nullptr}},
                                    {{"id", "nabc2"}, {"text", "Budget"}, {"at", 1200}}});
    auto saved = send("PUT", path, token, Json{{"base", 0}, {"lines", lines}});
    ASSERT_EQ(saved->status, 200) << saved->body;
    EXPECT_EQ(bodyOf(saved), (Json{{"revision", 1}}));

    auto conflict = send("PUT", path, token, Json{{"base", 0}, {"lines", Json::array()}});
    EXPECT_EQ(conflict->status, 409);
    const Json envelope = bodyOf(conflict);
    EXPECT_EQ(envelope["error"]["code"], "notepad_conflict");
    EXPECT_EQ(envelope["error"]["detail"]["revision"], 1);
    EXPECT_EQ(envelope["error"]["detail"]["lines"], lines);

    EXPECT_EQ(errorCode(send("PUT", path, token,
                             Json{{"base", 1},
                                  {"lines", Json::array({{{"id", "X"}, {"text", "t"}, {"at", nullptr}}})}})),
              "invalid_notepad");
    service.setNotepad(id, StandinNotepad{7, R"([{"id":"nzz9","text":"Server","at":null}])"});
    EXPECT_EQ(bodyOf(send("PUT", path, token, Json{{"base", 7}, {"lines", Json::array()}})),
              (Json{{"revision", 8}}));
    EXPECT_EQ(service.notepad(id)->linesJson, "[]");
}

TEST_F(StandinUploadTest, ConcurrentUploadsAllLand) {
#if defined(__SANITIZE_THREAD__)
    // The server library is a prebuilt, uninstrumented shared library: ThreadSanitizer cannot see
    // its internal synchronisation between connections. KnobsAndRequestsInterleave covers our lock.
    GTEST_SKIP();
#endif
    std::vector<std::thread> threads;
    std::vector<std::string> ids(16);
    for (std::size_t t = 0; t < ids.size(); ++t) {
        threads.emplace_back([&, t] {
            const std::string id = create();
            const std::string audio(1500, static_cast<char>('a' + t));
            part(id, 1, audio.substr(1000));
            part(id, 0, audio.substr(0, 1000));
            sendRaw("POST", "/api/meetings/" + id + "/heartbeat", token, "{}", "application/json");
            if (commit(id, 2, sha256Hex(audio))->status == 200)
                ids[t] = id;
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (std::size_t t = 0; t < ids.size(); ++t) {
        ASSERT_FALSE(ids[t].empty()) << t;
        EXPECT_EQ(service.storedAudio(ids[t]), std::string(1500, static_cast<char>('a' + t)));
    }
}

TEST_F(StandinUploadTest, KnobsAndRequestsInterleave) {
    std::thread requests([&] {
        for (int i = 0; i < 10; ++i) {
            const std::string id = create();
            part(id, 0, "abc");
            commit(id, 1, sha256Hex("abc"));
            get("/api/meetings/" + id, token);
        }
    });
    for (int i = 0; i < 200; ++i) {
        for (const std::string& id : service.meetingIds()) {
            service.setProcessingState(id, "running");
            service.storedAudio(id);
        }
        service.requests();
        service.addFault("GET", "/nowhere", StandinFault::error(500, "x").times(1));
    }
    requests.join();
    EXPECT_EQ(service.meetingIds().size(), 10u);
}

class StandinSmallBodyTest : public StandinTest {
protected:
    StandinSmallBodyTest() : StandinTest(StandinOptions{0, false, 4096}) {}
};

TEST_F(StandinSmallBodyTest, HostileInputGetsJsonErrors) {
    const std::string token = service.issueToken();
    auto check = [](const httplib::Result& r, int status, const std::string& code,
                    int line = __builtin_LINE()) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, status) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json");
        EXPECT_EQ(errorCode(r), code);
    };
    check(sendRaw("POST", "/api/meetings", token, "{\"attendees\": [", "application/json"), 400,
          "invalid_json");
    check(sendRaw("POST", "/api/meetings", token, "[1,2]", "application/json"), 400, "invalid_request");
    check(sendRaw("POST", "/api/meetings", token, "{\"n\": 1e400}", "application/json"), 400, "invalid_json");
    check(sendRaw("POST", "/api/meetings", token, "{}", "text/plain"), 415, "unsupported_media_type");
    check(sendRaw("POST", "/api/meetings", token, std::string(5000, ' '), "application/json"), 413,
          "too_large");
    check(get("/api/nothing/here", token), 404, "not_found");
    check(get("/api/meetings/..%2F..%2Fetc/audio", token), 404, "not_found");
    check(get("/api/meetings/%zz", token), 400, "invalid_request");
    check(get("/api/meetings/mt_x/transcript?layer=%FF", token), 400, "invalid_request");
    check(get("/etc/passwd", token), 404, "not_found");
    auto wrongMethod = sendRaw("PUT", "/api/bootstrap", token, "{}", "application/json");
    check(wrongMethod, 405, "method_not_allowed");
    EXPECT_EQ(wrongMethod->get_header_value("Allow"), "GET");
    // A chunked body is bounded as it is read.
    httplib::Client c = client();
    auto chunked = c.Post(
        "/api/meetings", bearer(token),
        [](std::size_t offset, httplib::DataSink& sink) {
            if (offset < 8192) {
                sink.write(std::string(1024, ' ').data(), 1024);
            } else {
                sink.done();
            }
            return true;
        },
        "application/json");
    check(chunked, 413, "too_large");
    EXPECT_EQ(service.requests().back().bodyLength, 8192u);
    auto small = c.Post(
        "/api/meetings", bearer(token),
        [](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
                sink.write("{}", 2);
            } else {
                sink.done();
            }
            return true;
        },
        "application/json");
    check(small, 400, "invalid_request"); // read whole, then found wanting
    // The service still answers afterwards.
    EXPECT_EQ(get("/api/bootstrap", token)->status, 200);
}

TEST_F(StandinDeviceTest, RequestLogRecordsWhatWasSent) {
    const std::string token = service.issueToken();
    service.clearRequests();
    ASSERT_TRUE(get("/api/bootstrap", token));
    ASSERT_TRUE(get("/api/bootstrap?workspace_id=ws_team", token));
    ASSERT_TRUE(sendRaw("POST", "/api/meetings/mt_none/heartbeat", token, "{}", "application/json"));
    ASSERT_TRUE(service.waitForRequests(3, std::chrono::seconds(2)));
    const std::vector<StandinLoggedRequest> log = service.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/api/bootstrap");
    EXPECT_FALSE(log[0].query.has_value());
    EXPECT_EQ(log[0].header("authorization"), "Bearer " + token);
    EXPECT_FALSE(log[0].header("REMOTE_ADDR").has_value());
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[1].query, "workspace_id=ws_team");
    EXPECT_EQ(log[1].target, "/api/bootstrap?workspace_id=ws_team");
    EXPECT_EQ(log[2].bodyLength, 2u);
    EXPECT_EQ(log[2].bodySha256, sha256Hex("{}"));
    EXPECT_EQ(log[2].header("Content-Type"), "application/json");
    EXPECT_EQ(log[2].status, 404);
    EXPECT_LT(log[0].sequence, log[2].sequence);
    service.clearRequests();
    EXPECT_TRUE(service.requests().empty());
    EXPECT_FALSE(service.waitForRequests(1, std::chrono::milliseconds(20)));
}

// --- the executable ---

struct Child {
    pid_t pid = -1;
    int input = -1;  // its stdin
    int output = -1; // its stdout
};

Child spawnStandin() {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string path = std::string(NUVEL_BINARY_DIR) + "/tools/standin-service/nuvel-standin";
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("--seed"), nullptr};
    Child child;
    EXPECT_EQ(posix_spawn(&child.pid, path.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    child.input = in[1];
    child.output = out[0];
    return child;
}

std::string firstLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

// Waits up to five seconds for the child to end; its exit status, or -1 when it did not end.
int waitForExit(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

TEST(StandinProcess, PrintsItsOriginAndEndsWhenItsInputCloses) {
    Child child = spawnStandin();
    std::smatch port;
    const std::string line = firstLine(child.output);
    ASSERT_TRUE(std::regex_match(line, port, std::regex("listening on http://127\\.0\\.0\\.1:(\\d+)")))
        << line;
    httplib::Client c("127.0.0.1", std::stoi(port[1]));
    auto page = c.Get(std::string("/device?challenge=") + rfcChallenge);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 302);
    close(child.input);
    EXPECT_EQ(waitForExit(child.pid), 0);
    close(child.output);
}

TEST(StandinProcess, EndsOnSigterm) {
    Child child = spawnStandin();
    ASSERT_EQ(firstLine(child.output).rfind("listening on ", 0), 0u);
    kill(child.pid, SIGTERM);
    EXPECT_EQ(waitForExit(child.pid), 0);
    close(child.input);
    close(child.output);
}

} // namespace
} // namespace nuvel::test
