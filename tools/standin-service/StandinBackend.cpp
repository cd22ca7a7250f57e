#include "tools/standin-service/StandinBackend.hpp"

#include "NuvelKit/store/NuvelLink.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Time.hpp"
#include "tools/standin-service/StandinSample.hpp"

#include <algorithm>
#include <functional>
#include <span>
#include <stdexcept>

namespace nuvel::standin {

double unixSeconds(Time time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::string isoTime(Time time) {
    return iso8601(Date::fromUnix(unixSeconds(time)));
}

namespace {

using Handler = std::function<Reply()>;

// Calls the handler of the request's method, or answers 405 naming the allowed methods.
Reply byMethod(const std::string& method, std::initializer_list<std::pair<const char*, Handler>> handlers) {
    std::string allowed;
    for (const auto& [name, handler] : handlers) {
        if (method == name)
            return handler();
        allowed += allowed.empty() ? name : std::string(", ") + name;
    }
    Reply reply = errorReply(405, "method_not_allowed", method + " is not allowed here");
    reply.headers.emplace_back("Allow", allowed);
    return reply;
}

// The query items an API request may carry: those of its operation, none for the others.
std::span<const std::string_view> queryNamesOf(const std::string& method, const std::vector<std::string>& s) {
    static constexpr std::string_view bootstrap[] = {"workspace_id"};
    static constexpr std::string_view library[] = {"workspace_id", "limit", "cursor"};
    static constexpr std::string_view search[] = {"q", "workspace_id"};
    static constexpr std::string_view reconcile[] = {"ids"};
    static constexpr std::string_view transcript[] = {"layer"};
    if (method == "GET" && s.size() == 2 && s[1] == "bootstrap")
        return bootstrap;
    if (method == "GET" && s.size() == 2 && s[1] == "meetings")
        return library;
    if (method == "GET" && s.size() == 2 && s[1] == "search")
        return search;
    if (method == "GET" && s.size() == 3 && s[1] == "meetings" && s[2] == "reconcile")
        return reconcile;
    if (method == "GET" && s.size() == 4 && s[1] == "meetings" && s[3] == "transcript")
        return transcript;
    return {};
}

StandinAccount defaultAccount() {
    StandinAccount account;
    account.id = defaultAccountId;
    account.email = "you@nuvel.test";
    account.name = "Stand-in User";
    StandinWorkspace personal;
    personal.id = "ws_personal";
    personal.kind = "personal";
    personal.name = "Personal";
    personal.role = "owner";
    StandinWorkspace team;
    team.id = "ws_team";
    team.kind = "team";
    team.name = "Team";
    team.role = "member";
    team.hardMaxMeetingSeconds = 2 * 3600;
    account.workspaces = {personal, team};
    account.defaultWorkspaceId = personal.id;
    return account;
}

} // namespace

Backend::Backend(StandinOptions options) : options_(options) {
    putAccount(defaultAccount());
}

Reply Backend::handle(const Request& request, Time now) {
    try {
        return route(request, now);
    } catch (const ApiFailure& failure) {
        return errorReply(failure.status(), failure.code(), failure.what(), failure.extra());
    } catch (const json::JsonError& error) {
        return errorReply(400, "invalid_request", error.what());
    } catch (const std::exception& error) {
        return errorReply(500, "internal_error", error.what());
    }
}

Reply Backend::route(const Request& request, Time now) {
    const std::vector<std::string>& s = request.segments;
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    if (s.size() == 1 && s[0] == "device")
        return byMethod(method, {{"GET", [&] { return devicePage(request, now); }}});
    if (s.size() == 2 && s[0] == "device" && s[1] == "approve") {
        return byMethod(method, {{"GET", [&] { return approvePage(request, now); }}});
    }
    if (s.size() < 2 || s[0] != "api")
        fail(404, "not_found", "no such page");
    // Both clients ask for JSON: the device client with "*/*", the library client by name.
    if (!acceptsJson(request))
        fail(406, "not_acceptable", "the request must accept application/json");
    requireQueryNames(request, queryNamesOf(method, s));
    if (s.size() == 3 && s[1] == "device" && s[2] == "token") {
        return byMethod(method, {{"POST", [&] { return exchangeToken(request, now); }}});
    }
    if (s.size() == 3 && s[1] == "device" && s[2] == "revoke") {
        return byMethod(method, {{"POST", [&] { return revokeDevice(request); }}});
    }
    if (s.size() == 2 && s[1] == "bootstrap")
        return byMethod(method, {{"GET", [&] { return bootstrap(request); }}});
    if (s.size() == 2 && s[1] == "search")
        return byMethod(method, {{"GET", [&] { return search(request); }}});
    if (s.size() == 2 && s[1] == "settings") {
        return byMethod(method, {{"GET", [&] { return settings(request); }},
                                 {"PUT", [&] { return updateSettings(request); }}});
    }
    if (s.size() == 2 && s[1] == "meetings") {
        return byMethod(method, {{"GET", [&] { return libraryPage(request, now); }},
                                 {"POST", [&] { return createMeeting(request, now); }}});
    }
    if (s.size() == 3 && s[1] == "meetings" && s[2] == "reconcile") {
        return byMethod(method, {{"GET", [&] { return reconcile(request, now); }}});
    }
    if (s.size() >= 3 && s[1] == "meetings")
        return routeMeeting(request, method, now);
    fail(404, "not_found", "no such endpoint");
}

Reply Backend::routeMeeting(const Request& request, const std::string& method, Time now) {
    const std::vector<std::string>& s = request.segments; // api meetings {id} ...
    const std::size_t n = s.size();
    const std::string leaf = n > 3 ? s[3] : std::string();
    if (n == 3) {
        return byMethod(method, {{"GET", [&] { return meetingStatus(request, now); }},
                                 {"PATCH", [&] { return rename(request, now); }},
                                 {"DELETE", [&] { return deleteMeeting(request, now); }}});
    }
    if (n == 4 && leaf == "upload")
        return byMethod(method, {{"GET", [&] { return uploadStatus(request, now); }}});
    if (n == 4 && leaf == "heartbeat")
        return byMethod(method, {{"POST", [&] { return heartbeat(request, now); }}});
    if (n == 4 && leaf == "audio")
        return byMethod(method, {{"GET", [&] { return audio(request, now); }}});
    if (n == 5 && leaf == "audio")
        return byMethod(method, {{"PUT", [&] { return uploadPart(request, now); }}});
    if (n == 4 && leaf == "commit")
        return byMethod(method, {{"POST", [&] { return commitUpload(request, now); }}});
    if (n == 4 && leaf == "notepad")
        return byMethod(method, {{"PUT", [&] { return saveNotepad(request, now); }}});
    if (n == 4 && leaf == "transcript")
        return byMethod(method, {{"GET", [&] { return transcript(request, now); }}});
    if (n == 4 && leaf == "notes")
        return byMethod(method, {{"GET", [&] { return notes(request, now); }}});
    if (n == 4 && leaf == "revision")
        return byMethod(method, {{"PATCH", [&] { return revise(request, now); }}});
    if (n == 4 && leaf == "sharing")
        return byMethod(method, {{"GET", [&] { return sharing(request, now); }}});
    if (n == 4 && leaf == "shares")
        return byMethod(method, {{"POST", [&] { return addShare(request, now); }}});
    if (n == 5 && leaf == "shares")
        return byMethod(method, {{"DELETE", [&] { return removeShare(request, now); }}});
    if (n == 4 && leaf == "links")
        return byMethod(method, {{"POST", [&] { return createLink(request, now); }}});
    if (n == 5 && leaf == "links")
        return byMethod(method, {{"DELETE", [&] { return revokeLink(request, now); }}});
    fail(404, "not_found", "no such endpoint");
}

// --- accounts, tokens and access ---

void Backend::putAccount(StandinAccount account) {
    const std::string id = account.id;
    accounts_[id] = std::move(account);
}

StandinAccount* Backend::findAccount(const std::string& id) {
    auto it = accounts_.find(id);
    return it == accounts_.end() ? nullptr : &it->second;
}

std::string Backend::issueToken(const std::string& accountId, const std::string& deviceName) {
    if (findAccount(accountId) == nullptr)
        throw std::invalid_argument("unknown account " + accountId);
    std::string token = "nvt_" + base64UrlEncode(randomBytes(32));
    tokens_[token] = DeviceToken{accountId, deviceName, false};
    return token;
}

void Backend::revokeToken(const std::string& token) {
    auto it = tokens_.find(token);
    if (it != tokens_.end())
        it->second.revoked = true;
}

StandinAccount& Backend::authenticate(const Request& request) {
    const std::optional<std::string> token = bearerToken(request);
    if (!token)
        fail(401, "unauthorized", "a bearer token is required");
    auto it = tokens_.find(*token);
    if (it == tokens_.end())
        fail(401, "unauthorized", "unknown token");
    if (it->second.revoked)
        fail(401, "device_revoked", "this device was signed out");
    StandinAccount* account = findAccount(it->second.accountId);
    if (account == nullptr)
        fail(401, "unauthorized", "the account no longer exists");
    return *account;
}

const StandinWorkspace* Backend::workspaceOf(const StandinAccount& account,
                                             const std::string& workspaceId) const {
    for (const StandinWorkspace& w : account.workspaces) {
        if (w.id == workspaceId)
            return &w;
    }
    return nullptr;
}

Meeting* Backend::findMeeting(const std::string& id) {
    auto it = meetings_.find(id);
    return it == meetings_.end() || it->second.deleted ? nullptr : &it->second;
}

Meeting& Backend::ownMeeting(const StandinAccount& account, const std::string& id) {
    Meeting* meeting = findMeeting(id);
    if (meeting == nullptr || meeting->ownerAccountId != account.id)
        fail(404, "not_found", "no such meeting");
    return *meeting;
}

Meeting& Backend::visibleMeeting(const StandinAccount& account, const std::string& id) {
    Meeting* meeting = findMeeting(id);
    if (meeting == nullptr ||
        (meeting->ownerAccountId != account.id && workspaceOf(account, meeting->workspaceId) == nullptr)) {
        fail(404, "not_found", "no such meeting");
    }
    return *meeting;
}

bool Backend::audioGone(const Meeting& meeting, Time now) const {
    if (meeting.audioDeleted)
        return true;
    auto it = retentionDays_.find(meeting.workspaceId);
    const std::int64_t days = it == retentionDays_.end() ? 30 : it->second;
    return meeting.committed() && unixSeconds(now) > meeting.createdAt + static_cast<double>(days) * 86400.0;
}

StandinAccess Backend::accessFor(const StandinAccount& account, const Meeting& meeting, Time now) const {
    if (meeting.access)
        return *meeting.access;
    const bool owner = meeting.ownerAccountId == account.id;
    StandinAccess access;
    access.role = owner ? "owner" : "member";
    access.via = owner ? "owner" : "workspace";
    access.can = {{"edit", true},    {"manage", owner}, {"share", true},
                  {"delete", owner}, {"export", true},  {"audio", !audioGone(meeting, now)}};
    return access;
}

bool Backend::allows(const StandinAccount& account, const Meeting& meeting, const std::string& right,
                     Time now) const {
    for (const auto& [name, granted] : accessFor(account, meeting, now).can) {
        if (name == right)
            return granted;
    }
    return false;
}

json::Ordered Backend::accessJson(const StandinAccess& access) const {
    json::Ordered can = json::Ordered::object();
    for (const auto& [name, granted] : access.can)
        can[name] = granted;
    return json::Ordered{{"role", access.role}, {"via", access.via}, {"can", can}};
}

// The one document of GET meetings/{id}: the device API's processing status and the library's
// summary share that path, so it carries the members of both.
json::Ordered Backend::meetingJson(const StandinAccount& account, const Meeting& meeting, Time now) const {
    json::Ordered out = json::Ordered::object();
    out["id"] = meeting.id;
    out["title"] = meeting.title;
    out["state"] = meeting.state;
    out["workspace_id"] = meeting.workspaceId;
    out["revision"] = meeting.revision;
    out["access"] = accessJson(accessFor(account, meeting, now));
    out["updated_at"] = iso8601(Date::fromUnix(meeting.updatedAt));
    out["duration"] = meeting.durationSeconds;
    out["audio_deleted"] = audioGone(meeting, now);
    out["created_at"] = meeting.createdAt;
    if (meeting.recordedAt)
        out["recorded_at"] = *meeting.recordedAt;
    const std::string& s = meeting.state;
    out["progress"] = s == "completed" || s == "failed" ? 1.0 : s == "running" ? 0.5 : 0.0;
    out["title_auto"] = meeting.titleAuto;
    out["url"] = "https://" + std::string(NuvelLink::webHost) + "/m/" + meeting.id;
    return out;
}

void Backend::finishProcessing(Meeting& meeting) {
    if (meeting.contentReady)
        return;
    meeting.raw = sample::transcript(meeting.durationSeconds);
    meeting.corrected = meeting.raw;
    meeting.contentReady = true;
}

void Backend::setProcessingState(Meeting& meeting, const std::string& state) {
    meeting.state = state;
    if (state == "completed")
        finishProcessing(meeting);
}

std::vector<std::string> Backend::meetingIds() const {
    std::vector<const Meeting*> live;
    for (const auto& [id, meeting] : meetings_) {
        if (!meeting.deleted)
            live.push_back(&meeting);
    }
    std::sort(live.begin(), live.end(), [](const Meeting* a, const Meeting* b) {
        return a->createdAt != b->createdAt ? a->createdAt > b->createdAt : a->id < b->id;
    });
    std::vector<std::string> ids;
    ids.reserve(live.size());
    for (const Meeting* m : live)
        ids.push_back(m->id);
    return ids;
}

std::string Backend::audioOf(const Meeting& meeting) const {
    return meeting.sampleAudio ? sample::wavTone(meeting.durationSeconds) : meeting.audio;
}

std::vector<std::string> Backend::seedMeetings(std::size_t count, const std::string& accountId,
                                               const std::optional<std::string>& workspaceId, Time now) {
    StandinAccount* account = findAccount(accountId);
    if (account == nullptr)
        throw std::invalid_argument("unknown account " + accountId);
    const std::string workspace = workspaceId.value_or(account->defaultWorkspaceId);
    if (workspaceOf(*account, workspace) == nullptr)
        throw std::invalid_argument("unknown workspace " + workspace);
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t n = seedCounter_++;
        Meeting m;
        m.id = "mt_" + hexString(randomBytes(16));
        m.ownerAccountId = accountId;
        m.workspaceId = workspace;
        m.title = sample::title(n);
        m.aiNotes = n % 3 != 2;
        m.durationSeconds = sample::durationSeconds(n);
        m.createdAt = unixSeconds(now) - 3600.0 * static_cast<double>(i);
        m.updatedAt = m.createdAt;
        m.recordedAt = m.createdAt - 600.0;
        m.partBytes = account->limits.partBytes;
        m.maxParts = account->limits.maxParts;
        // Seeded meetings were never uploaded: their commit record only says that one happened.
        m.commit = UploadCommit{1, hexString(Sha256::hash(viewOf(m.id))), true};
        m.sampleAudio = true;
        m.audioContentType = "audio/wav";
        setProcessingState(m, "completed");
        ids.push_back(m.id);
        meetings_[m.id] = std::move(m);
    }
    return ids;
}

} // namespace nuvel::standin
