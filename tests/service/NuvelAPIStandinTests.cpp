// The device and upload client against the stand-in service over real HTTP on loopback: the whole
// road of one recording from sign-in to revocation, the stand-in's injected faults, and the
// discovery cache holding a contract the service really sent.

#include "NuvelKit/meetings/MeetingCacheError.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/CurlTransport.hpp"
#include "NuvelKit/service/NativeDiscoveryCache.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/service/UploadReconciliation.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/store/StoreFiles.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/standin-service/StandinService.hpp"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace nuvel {
namespace {

using namespace std::chrono_literals;

const std::string account = StandinService::defaultAccountId;

template <class F> APIError apiError(F&& f) {
    try {
        f();
    } catch (const APIError& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other error: " << e.what();
        return APIError(0, "none");
    }
    ADD_FAILURE() << "no APIError";
    return APIError(0, "none");
}

std::string sha256Hex(ByteView bytes) {
    return hexString(Sha256::hash(bytes));
}

// What every request of the client looks like on arrival, whatever the operation: the token only
// where one is needed, the body's type and exact length only with a body, and nothing else of the
// client's own (libcurl's default "Accept: */*" is the platform's, not the client's).
void expectHeaderRules(const StandinLoggedRequest& r, const std::string& token) {
    SCOPED_TRACE(r.method + " " + r.target);
    if (r.path == "/api/device/token")
        EXPECT_FALSE(r.header("Authorization"));
    else
        EXPECT_EQ(r.header("Authorization"), "Bearer " + token);
    if (r.bodyLength > 0) {
        EXPECT_EQ(r.header("Content-Type"),
                  r.path.find("/audio/") != std::string::npos ? "audio/mp4" : "application/json");
        EXPECT_EQ(r.header("Content-Length"), std::to_string(r.bodyLength));
    } else {
        EXPECT_FALSE(r.header("Content-Type"));
        EXPECT_EQ(r.header("Content-Length").value_or("0"), "0");
    }
    for (const auto& [name, value] : r.headers) {
        const bool allowed = headerNameEquals(name, "Host") || headerNameEquals(name, "Authorization") ||
                             headerNameEquals(name, "Content-Type") ||
                             headerNameEquals(name, "Content-Length") ||
                             (headerNameEquals(name, "Accept") && value == "*/*");
        EXPECT_TRUE(allowed) << name << ": " << value;
    }
}

class NuvelAPIStandin : public ::testing::Test {
protected:
    static std::string started(StandinService& s) {
        s.start();
        return s.origin();
    }

    // A meeting that takes parts, created through the client.
    std::string createMeeting(const std::string& token) {
        CreateMeetingRequest request;
        request.recorded_at = "2024-05-01T09:30:00Z";
        request.duration_seconds = 30;
        request.consent = true;
        request.locale = "en";
        request.time_zone = "UTC";
        return api.createMeeting(request, token).id;
    }

    StandinService service;
    std::shared_ptr<CurlTransport> transport = std::make_shared<CurlTransport>();
    NuvelAPI api{started(service), transport};
};

TEST_F(NuvelAPIStandin, OneRecordingFromSignInToRevocation) {
    StandinLimits limits;
    limits.partBytes = 65536;
    service.setLimits(account, limits);

    // Sign-in: the device page the browser is sent to exists, the approval's callback passes the
    // attempt's check, and the code with the verifier yields the session.
    PKCEAttempt attempt = PKCEAttempt::make();
    HttpResponse page = transport->send({"GET", attempt.authorizationURL(service.origin())}, {});
    EXPECT_EQ(page.status, 302);
    const std::string callback = page.header("Location").value_or("");
    const std::string code = attempt.validateCallback(callback);
    EXPECT_EQ(callback, "nuvel://auth?code=" + code);
    service.clearRequests();
    const DeviceSession session = api.exchangeCode(code, attempt.verifier(), "Ada's laptop");
    EXPECT_EQ(session.account, (DeviceAccount{account, "you@nuvel.test", "Stand-in User"}));
    const std::string& token = session.token;

    // The contract, for the default workspace and for a chosen one.
    const NativeBootstrap personal = api.bootstrap(token, std::nullopt);
    EXPECT_EQ(personal.selectedWorkspaceID, "ws_personal");
    EXPECT_NO_THROW(personal.validate(session.account.id));
    const NativeBootstrap team = api.bootstrap(token, std::string("ws_team"));
    EXPECT_EQ(team.selectedWorkspaceID, "ws_team");
    EXPECT_EQ(team.workspace.id, "ws_team");
    EXPECT_EQ(team.limits.partBytes, 65536);
    EXPECT_NO_THROW(team.validate(session.account.id));
    EXPECT_THROW(team.validate("acct_someone_else"), RecordingError);

    // The recording and its transport file: four parts, the last one short.
    test::TempDir dir("standin-road");
    const Date recordedAt = Date::now();
    LocalRecording recording = LocalRecording::make(session.account.id, std::string("ws_team"),
                                                    "Board review", true, recordedAt, Uuid::random());
    recording.segments = {
        RecordingSegment{Uuid::random(), 42.5, recordedAt, "m4a", std::nullopt, std::nullopt}};
    Bytes audio(3 * 65536 + 1234);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = std::uint8_t((i * 131) ^ (i >> 9));
    const std::filesystem::path file = dir / "transport.m4a";
    files::atomicWrite(file, audio);
    const std::string digest = sha256OfFile(file);
    EXPECT_EQ(digest, sha256Hex(audio));

    const CreateMeetingRequest request =
        CreateMeetingRequest::make(recording, session.account.id, "en", "UTC", true);
    const CreatedMeeting created = api.createMeeting(request, token);
    EXPECT_EQ(created.partBytes, 65536);
    EXPECT_EQ(created.maxParts, 256);
    // A later run sends the same body and gets the same meeting.
    EXPECT_EQ(api.createMeeting(request, token), created);
    const std::string& id = created.id;

    const LocalUpload local{id, std::string("ws_team"), std::int64_t(audio.size()), digest};
    EXPECT_EQ(reconcileUpload(api.uploadStatus(id, token), local),
              UploadReconciliation(UploadResume{65536, {}}));
    const NativeHeartbeat beat = api.heartbeat(id, token);
    EXPECT_TRUE(beat.ok);
    EXPECT_EQ(beat.heartbeatSeconds, 30);

    const std::int64_t count = uploadPartCount(std::int64_t(audio.size()), created.partBytes);
    ASSERT_EQ(count, 4);
    auto part = [&](std::int64_t index) {
        const std::size_t from = std::size_t(index * created.partBytes);
        return ByteView(audio).subspan(
            from, std::min<std::size_t>(std::size_t(created.partBytes), audio.size() - from));
    };
    // A first run that got two parts through; the status says which are still to go.
    api.uploadPart(id, 0, part(0), token);
    api.uploadPart(id, 2, part(2), token);
    const UploadResume resume = std::get<UploadResume>(reconcileUpload(api.uploadStatus(id, token), local));
    EXPECT_EQ(resume.acknowledged, (std::set<std::int64_t>{0, 2}));
    for (std::int64_t i = 0; i < count; ++i)
        if (!resume.acknowledged.contains(i))
            api.uploadPart(id, i, part(i), token);
    api.commitUpload(id, count, digest, token);
    EXPECT_EQ(reconcileUpload(api.uploadStatus(id, token), local), UploadReconciliation(UploadAccepted{}));
    EXPECT_EQ(service.storedAudio(id), stringOf(audio));

    // Processing moves on with every look at the meeting.
    std::vector<std::string> states;
    for (int i = 0; i < 3; ++i)
        states.push_back(api.meeting(id, token).state);
    EXPECT_EQ(states, (std::vector<std::string>{"queued", "running", "completed"}));
    const RemoteMeeting done = api.meeting(id, token);
    EXPECT_EQ(done.state, "completed");
    EXPECT_EQ(done.progress, 1.0);
    EXPECT_EQ(done.title, "Board review");
    EXPECT_FALSE(done.titleAuto);

    // The shared notepad: saved from revision 0, then a save from the same base conflicts.
    const std::vector<NotepadLine> lines = {{"nab1", "Agenda", 1200}, {"nab2", "Owners", std::nullopt}};
    EXPECT_EQ(api.saveNotepad(id, 0, lines, token), NotepadSaveResult(NotepadSaved{1}));
    EXPECT_EQ(api.saveNotepad(id, 0, {{"nzz9", "Mine", std::nullopt}}, token),
              NotepadSaveResult(NotepadConflicted{1, lines}));

    api.revokeDevice(token);
    const APIError revoked = apiError([&] { api.meeting(id, token); });
    EXPECT_EQ(revoked.status(), 401);
    EXPECT_EQ(revoked.code(), "device_revoked");

    // What arrived: exact targets (no "?" without a query), the header rules, the heartbeat's
    // "{}", and every part as exactly its slice of the file.
    const std::string m = "/api/meetings/" + id;
    const std::vector<std::string> expected = {"POST /api/device/token",
                                               "GET /api/bootstrap",
                                               "GET /api/bootstrap?workspace_id=ws_team",
                                               "POST /api/meetings",
                                               "POST /api/meetings",
                                               "GET " + m + "/upload",
                                               "POST " + m + "/heartbeat",
                                               "PUT " + m + "/audio/0",
                                               "PUT " + m + "/audio/2",
                                               "GET " + m + "/upload",
                                               "PUT " + m + "/audio/1",
                                               "PUT " + m + "/audio/3",
                                               "POST " + m + "/commit",
                                               "GET " + m + "/upload",
                                               "GET " + m,
                                               "GET " + m,
                                               "GET " + m,
                                               "GET " + m,
                                               "PUT " + m + "/notepad",
                                               "PUT " + m + "/notepad",
                                               "POST /api/device/revoke",
                                               "GET " + m};
    const std::vector<StandinLoggedRequest> log = service.requests();
    std::vector<std::string> targets;
    for (const StandinLoggedRequest& r : log) {
        targets.push_back(r.method + " " + r.target);
        expectHeaderRules(r, token);
        if (r.path.ends_with("/heartbeat")) {
            EXPECT_EQ(r.bodyLength, 2u);
            EXPECT_EQ(r.bodySha256, sha256Hex(viewOf("{}")));
        }
        if (const std::size_t at = r.path.find("/audio/"); at != std::string::npos) {
            const ByteView sent = part(std::stoll(r.path.substr(at + 7)));
            EXPECT_EQ(r.bodyLength, sent.size()) << r.path;
            EXPECT_EQ(r.bodySha256, sha256Hex(sent)) << r.path;
        }
    }
    EXPECT_EQ(targets, expected);
    EXPECT_FALSE(log.at(1).query);
    EXPECT_EQ(log.back().status, 401);
}

TEST_F(NuvelAPIStandin, InjectedFaultsReachTheCallerAsTheirErrors) {
    const std::string token = service.issueToken();
    const std::string id = createMeeting(token);
    const std::string meeting = "/api/meetings/" + id;

    // A redirect is an answer: the target is never asked for.
    service.clearRequests();
    service.addFault("GET", meeting, StandinFault::redirect(service.origin() + "/api/elsewhere").times(1));
    const APIError redirected = apiError([&] { api.meeting(id, token); });
    EXPECT_EQ(redirected.status(), 302);
    EXPECT_EQ(redirected.code(), "unknown");
    const std::vector<StandinLoggedRequest> log = service.requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, 302);
    EXPECT_FALSE(
        std::any_of(log.begin(), log.end(), [](const auto& r) { return r.path == "/api/elsewhere"; }));

    // A proxy's HTML error page names no code.
    service.addFault("GET", "/api/bootstrap", StandinFault::htmlPage(500).times(1));
    const APIError html = apiError([&] { api.bootstrap(token, std::nullopt); });
    EXPECT_EQ(html.status(), 500);
    EXPECT_EQ(html.code(), "unknown");
    EXPECT_FALSE(html.retryAfter());

    // Retry-After in seconds only; "inf" is no delay.
    const std::pair<const char*, std::optional<double>> delays[] = {{"120", 120.0}, {"inf", std::nullopt}};
    for (const auto& [header, delay] : delays) {
        service.addFault("POST", meeting + "/heartbeat",
                         StandinFault::error(503, "busy").retryAfter(header).times(1));
        const APIError busy = apiError([&] { api.heartbeat(id, token); });
        EXPECT_EQ(busy.status(), 503) << header;
        EXPECT_EQ(busy.code(), "busy") << header;
        EXPECT_EQ(busy.retryAfter(), delay) << header;
    }

    // A connection dropped after the part was read is lost; the next attempt goes through.
    const Bytes bytes(70000, 0x5a);
    service.addFault("PUT", meeting + "/audio/0", StandinFault::dropConnection().times(1));
    try {
        api.uploadPart(id, 0, bytes, token);
        ADD_FAILURE() << "the dropped part succeeded";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.code(), TransportError::Code::connectionLost);
    }
    EXPECT_NO_THROW(api.uploadPart(id, 0, bytes, token));

    // A slow part stopped from another thread ends with the cancellation, before the service answers.
    service.clearRequests();
    service.addFault("PUT", meeting + "/audio/1", StandinFault::delayed(200ms).times(1));
    // The stop comes once the service holds the part; the answer would follow 200 ms later.
    std::stop_source stop;
    std::thread canceller([&] {
        service.waitForRequests(1, 10s);
        stop.request_stop();
    });
    EXPECT_THROW(api.uploadPart(id, 1, bytes, token, stop.get_token()), Cancelled);
    canceller.join();
    const std::vector<StandinLoggedRequest> held = service.requests();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].status, 0); // not answered yet: the call ended within the delay
}

TEST_F(NuvelAPIStandin, QueryValuesArriveEncoded) {
    StandinWorkspace plus;
    plus.id = "ws+plus";
    plus.name = "Plus";
    const StandinAccount before = *service.account(account);
    std::vector<StandinWorkspace> workspaces = before.workspaces;
    workspaces.push_back(plus);
    service.setWorkspaces(account, workspaces, before.defaultWorkspaceId);
    const std::string token = service.issueToken();

    // Read raw, "+" would be a space and name no workspace of the account.
    const NativeBootstrap contract = api.bootstrap(token, std::string("ws+plus"));
    EXPECT_EQ(contract.selectedWorkspaceID, "ws+plus");
    EXPECT_NO_THROW(contract.validate(account));
    EXPECT_EQ(service.requests().back().query, "workspace_id=ws%2Bplus");
}

TEST_F(NuvelAPIStandin, DiscoveryCacheKeepsTheContractTheServiceSent) {
    StandinLimits limits;
    limits.offlineAccessSeconds = 3600;
    service.setLimits(account, limits);
    const std::string token = service.issueToken();
    const NativeBootstrap contract = api.bootstrap(token, std::string("ws_team"));
    contract.validate(account);

    test::TempDir dir("standin-discovery");
    const SymmetricKey key = SymmetricKey::random();
    const Date validatedAt = Date::now();
    NativeDiscoveryCache(dir / "discovery", key, account).save(contract, validatedAt);

    // A fresh instance, as after a restart, opens it within the contract's own lease.
    NativeDiscoveryCache cache(dir / "discovery", key, account);
    const CachedNativeDiscovery cached = cache.load(validatedAt.adding(3599));
    EXPECT_EQ(cached.bootstrap.encode(), contract.encode());
    EXPECT_EQ(cached.validatedAt, validatedAt);
    EXPECT_EQ(cached.expiresAt, validatedAt.adding(3600));
    EXPECT_NO_THROW(cached.bootstrap.validate(account));
    EXPECT_THROW(cache.load(validatedAt.adding(3600)), MeetingCacheError);
}

} // namespace
} // namespace nuvel
