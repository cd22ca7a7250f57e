// Device sign-in pages, the token exchange, device revocation and the workspace contract.
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "tools/standin-service/StandinBackend.hpp"

#include <algorithm>
#include <stdexcept>

namespace nuvel::standin {

namespace {

constexpr auto codeLifetime = std::chrono::minutes(10);

bool isBase64UrlCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// An S256 challenge: the base64url form of a SHA-256 digest, 43 characters without padding.
bool isChallenge(const std::string& text) {
    return text.size() == 43 && std::all_of(text.begin(), text.end(), isBase64UrlCharacter);
}

// RFC 7636: 43 to 128 characters of the unreserved set.
bool isVerifier(const std::string& text) {
    return text.size() >= 43 && text.size() <= 128 && std::all_of(text.begin(), text.end(), [](char c) {
               return isBase64UrlCharacter(c) || c == '.' || c == '~';
           });
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

Reply html(int status, const std::string& body) {
    Reply reply;
    reply.status = status;
    reply.contentType = "text/html; charset=utf-8";
    reply.body =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Nuvel stand-in</title></head><body>\n" +
        body + "</body></html>\n";
    return reply;
}

json::Ordered accountJson(const StandinAccount& account) {
    json::Ordered out{{"id", account.id}, {"email", account.email}};
    if (account.name)
        out["name"] = *account.name;
    return out;
}

} // namespace

std::string Backend::approveSignIn(const std::string& challenge, const std::string& accountId, Time now) {
    if (!isChallenge(challenge))
        throw std::invalid_argument("not an S256 challenge");
    if (findAccount(accountId) == nullptr)
        throw std::invalid_argument("unknown account " + accountId);
    for (auto it = codes_.begin(); it != codes_.end();) {
        it = it->second.expiresAt <= now ? codes_.erase(it) : std::next(it);
    }
    std::string code = hexString(randomBytes(32));
    codes_[code] = SignInCode{challenge, accountId, now + codeLifetime};
    return code;
}

// The real page signs the user in and sends the browser back to the app with a one-time code;
// the stand-in signs in its sample account at once.
Reply Backend::devicePage(const Request& request, Time now) {
    const std::string challenge = request.param("challenge").value_or("");
    if (!isChallenge(challenge))
        fail(400, "invalid_challenge", "the page needs an S256 challenge");
    return approved(challenge, defaultAccountId, now);
}

// Signs in another of the stand-in's accounts, for tests that need one.
Reply Backend::approvePage(const Request& request, Time now) {
    const std::string challenge = request.param("challenge").value_or("");
    const std::string accountId = request.param("account").value_or(defaultAccountId);
    if (!isChallenge(challenge))
        fail(400, "invalid_challenge", "the page needs an S256 challenge");
    if (findAccount(accountId) == nullptr)
        fail(404, "not_found", "no such account");
    return approved(challenge, accountId, now);
}

Reply Backend::approved(const std::string& challenge, const std::string& accountId, Time now) {
    const std::string code = approveSignIn(challenge, accountId, now);
    Reply reply = html(302, "<p>Signed in as " + escapeHtml(findAccount(accountId)->email) +
                                ". Returning to Nuvel…</p>\n");
    reply.headers.emplace_back("Location", "nuvel://auth?code=" + code);
    return reply;
}

Reply Backend::exchangeToken(const Request& request, Time now) {
    const json::Value body = jsonBody(request, {"code", "verifier", "name"});
    const json::Reader reader(body);
    const std::string code = reader.string("code");
    const std::string verifier = reader.string("verifier");
    const std::string name = reader.string("name");
    if (name.empty() || unicode::graphemeCount(name) > 200)
        fail(400, "invalid_request", "the device name must be 1 to 200 characters");
    auto it = codes_.find(code);
    if (it == codes_.end() || it->second.expiresAt <= now)
        fail(400, "invalid_grant", "unknown or expired code");
    // A code is good for one exchange, even a failed one, so a verifier cannot be guessed.
    const SignInCode grant = it->second;
    codes_.erase(it);
    if (!isVerifier(verifier) ||
        base64UrlEncode(ByteView(Sha256::hash(viewOf(verifier)))) != grant.challenge) {
        fail(400, "invalid_grant", "the verifier does not match the challenge");
    }
    const std::string token = issueToken(grant.accountId, name);
    return jsonReply(
        200, json::Ordered{{"token", token}, {"account", accountJson(*findAccount(grant.accountId))}});
}

Reply Backend::revokeDevice(const Request& request) {
    authenticate(request);
    revokeToken(*bearerToken(request));
    return emptyReply(204);
}

Reply Backend::bootstrap(const Request& request) {
    const StandinAccount& account = authenticate(request);
    const std::string selected = request.param("workspace_id").value_or(account.defaultWorkspaceId);
    const StandinWorkspace* workspace = workspaceOf(account, selected);
    if (workspace == nullptr)
        fail(404, "workspace_not_found", "the account has no such workspace");

    json::Ordered workspaces = json::Ordered::array();
    for (const StandinWorkspace& w : account.workspaces) {
        workspaces.push_back(
            {{"id", w.id}, {"kind", w.kind}, {"name", w.name}, {"role", w.role}, {"seat", w.seat}});
    }
    const StandinLimits& l = account.limits;
    json::Ordered limits{{"part_bytes", l.partBytes},
                         {"max_parts", l.maxParts},
                         {"max_source_bytes", l.maxSourceBytes},
                         {"upload_expires_seconds", l.uploadExpiresSeconds},
                         {"heartbeat_seconds", l.heartbeatSeconds}};
    json::putOptional(limits, "offline_access_seconds", l.offlineAccessSeconds);
    const StandinCapabilities& c = account.capabilities;
    json::Ordered capabilities{{"create_idempotency", c.createIdempotency},
                               {"upload_reconciliation", c.uploadReconciliation},
                               {"upload_heartbeat", c.uploadHeartbeat},
                               {"commit_reconciliation", c.commitReconciliation},
                               {"native_library", c.nativeLibrary}};
    json::putOptional(capabilities, "notepad_sync", c.notepadSync);

    json::Ordered out = json::Ordered::object();
    out["contract_version"] = 1;
    out["account"] = accountJson(account);
    out["default_workspace_id"] = account.defaultWorkspaceId;
    out["selected_workspace_id"] = workspace->id;
    out["workspaces"] = std::move(workspaces);
    out["workspace"] = {{"id", workspace->id},
                        {"kind", workspace->kind},
                        {"name", workspace->name},
                        {"role", workspace->role},
                        {"seat", workspace->seat},
                        {"can_upload", workspace->canUpload},
                        {"hard_max_meeting_seconds", workspace->hardMaxMeetingSeconds}};
    out["limits"] = std::move(limits);
    out["capabilities"] = std::move(capabilities);
    return jsonReply(200, out);
}

} // namespace nuvel::standin
