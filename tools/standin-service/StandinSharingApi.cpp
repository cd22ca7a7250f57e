// Sharing, view-only links, the workspace's audio retention and the meeting audio download.
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "tools/standin-service/StandinBackend.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel::standin {

namespace {

const std::int64_t retentionChoices[] = {7, 30, 90, 365};

bool isEmailAddress(const std::string& text) {
    const std::size_t at = text.find('@');
    return text.size() <= 254 && at != std::string::npos && at > 0 && at + 1 < text.size() &&
           std::none_of(text.begin(), text.end(), [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

json::Ordered Backend::sharingJson(const StandinAccount& account, const Meeting& meeting, Time now) const {
    json::Ordered shares = json::Ordered::array();
    for (const Share& s : meeting.shares) {
        json::Ordered share{{"id", s.id}, {"kind", s.kind}};
        json::putOptional(share, "email", s.email);
        json::putOptional(share, "permission", s.permission);
        json::putOptional(share, "user_id", s.userId);
        shares.push_back(std::move(share));
    }
    json::Ordered links = json::Ordered::array();
    for (const Link& l : meeting.links) {
        if (l.expiresAt <= unixSeconds(now))
            continue;
        links.push_back({{"id", l.id},
                         {"expires_at", l.expiresAt},
                         {"include_audio", l.includeAudio},
                         {"created_at", l.createdAt}});
    }
    const bool share = allows(account, meeting, "share", now);
    json::Ordered out = json::Ordered::object();
    out["can"] = {{"share", share}, {"link", share}, {"manage", allows(account, meeting, "manage", now)}};
    out["workspace_id"] = meeting.workspaceId;
    out["plan_required"] = false;
    out["shares"] = std::move(shares);
    out["links"] = std::move(links);
    return out;
}

json::Ordered Backend::settingsJson(const std::string& workspaceId) const {
    auto it = retentionDays_.find(workspaceId);
    json::Ordered choices = json::Ordered::array();
    for (std::int64_t days : retentionChoices)
        choices.push_back(days);
    return json::Ordered{{"workspace_id", workspaceId},
                         {"retention_days", it == retentionDays_.end() ? 30 : it->second},
                         {"retention_choices", choices}};
}

Reply Backend::sharing(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "share", now))
        fail(403, "forbidden", "you may not share this meeting");
    return jsonReply(200, sharingJson(account, m, now));
}

Reply Backend::addShare(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "share", now))
        fail(403, "forbidden", "you may not share this meeting");
    const json::Value body = jsonBody(request, {"kind", "email", "permission", "user_ids"});
    const json::Reader r(body);
    const std::string kind = r.string("kind");
    // A guest comes by address, members by user id: neither carries the other's members.
    if (kind == "guest")
        requireMembers(body, {"kind", "email", "permission"}, "a guest share");
    if (kind == "member")
        requireMembers(body, {"kind", "user_ids"}, "a member share");
    const std::optional<std::string> email = r.optString("email");
    const std::optional<std::string> permission = r.optString("permission");
    const std::optional<std::vector<std::string>> userIds = r.optStringList("user_ids");
    if (kind == "guest") {
        const std::string address = lowercase(unicode::trimWhitespaceAndNewlines(email.value_or("")));
        if (!isEmailAddress(address))
            fail(422, "invalid_email", "a guest needs an e-mail address");
        const std::string granted = permission.value_or("viewer");
        if (granted != "viewer" && granted != "editor")
            fail(422, "invalid_permission", "permission must be viewer or editor");
        auto existing = std::find_if(m.shares.begin(), m.shares.end(),
                                     [&](const Share& s) { return s.email == address; });
        if (existing != m.shares.end()) {
            existing->permission = granted;
        } else {
            m.shares.push_back(
                Share{"sh_" + hexString(randomBytes(8)), "guest", address, granted, std::nullopt});
        }
    } else if (kind == "member") {
        if (!userIds || userIds->empty())
            fail(422, "invalid_share", "a member share needs user_ids");
        for (const std::string& userId : *userIds) {
            if (userId.empty())
                fail(422, "invalid_share", "user ids may not be empty");
        }
        for (const std::string& userId : *userIds) {
            const bool known = std::any_of(m.shares.begin(), m.shares.end(),
                                           [&](const Share& s) { return s.userId == userId; });
            if (!known)
                m.shares.push_back(
                    Share{"sh_" + hexString(randomBytes(8)), "member", std::nullopt, "editor", userId});
        }
    } else {
        fail(422, "invalid_share", "kind must be guest or member");
    }
    return jsonReply(201, sharingJson(account, m, now));
}

// Removing what is already gone succeeds: the caller's intent holds either way.
Reply Backend::removeShare(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "share", now))
        fail(403, "forbidden", "you may not share this meeting");
    const std::string& id = request.segments[4];
    std::erase_if(m.shares, [&](const Share& s) { return s.id == id; });
    return emptyReply(204);
}

Reply Backend::createLink(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "share", now))
        fail(403, "forbidden", "you may not share this meeting");
    const json::Value body = jsonBody(request, {"expires_days", "include_audio"});
    const json::Reader r(body);
    const double days = r.number("expires_days");
    const bool includeAudio = r.boolean("include_audio");
    if (days != 1 && days != 7 && days != 30)
        fail(422, "invalid_link", "expires_days must be 1, 7 or 30");
    Link link{"ln_" + hexString(randomBytes(8)), unixSeconds(now) + days * 86400.0, unixSeconds(now),
              includeAudio};
    m.links.push_back(link);
    // The address is handed out once; the sharing list names the link only by id.
    const std::string url = webOrigin_ + "/s/#" + hexString(randomBytes(32));
    return jsonReply(201, json::Ordered{{"id", link.id},
                                        {"url", url},
                                        {"expires_at", link.expiresAt},
                                        {"include_audio", includeAudio}});
}

Reply Backend::revokeLink(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!allows(account, m, "share", now))
        fail(403, "forbidden", "you may not share this meeting");
    const std::string& id = request.segments[4];
    std::erase_if(m.links, [&](const Link& l) { return l.id == id; });
    return emptyReply(204);
}

// The settings of the account's default workspace: the requests name no workspace.
Reply Backend::settings(const Request& request) {
    const StandinAccount& account = authenticate(request);
    return jsonReply(200, settingsJson(account.defaultWorkspaceId));
}

Reply Backend::updateSettings(const Request& request) {
    const StandinAccount& account = authenticate(request);
    const json::Value body = jsonBody(request, {"retention_days"});
    const std::int64_t days = json::Reader(body).int64("retention_days");
    if (std::find(std::begin(retentionChoices), std::end(retentionChoices), days) ==
        std::end(retentionChoices)) {
        fail(422, "invalid_retention", "retention_days must be one of retention_choices");
    }
    const StandinWorkspace* workspace = workspaceOf(account, account.defaultWorkspaceId);
    if (workspace == nullptr || (workspace->role != "owner" && workspace->role != "admin")) {
        fail(403, "forbidden", "only an owner or admin changes the retention");
    }
    retentionDays_[workspace->id] = days;
    return jsonReply(200, settingsJson(workspace->id));
}

Reply Backend::audio(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const Meeting& m = visibleMeeting(account, request.segments[2]);
    if (!m.committed())
        fail(404, "audio_unavailable", "the meeting's audio was not uploaded yet");
    if (audioGone(m, now))
        fail(410, "audio_expired", "the workspace's retention removed the audio");
    if (!allows(account, m, "audio", now))
        fail(403, "forbidden", "you may not play this meeting's audio");
    Reply reply;
    // A ranged request gets the part it asked for as 206; the server library cuts the body to
    // the range, answers 416 for one it cannot satisfy, and gives the whole audio only as 200.
    reply.status = request.header("Range") ? 206 : 200;
    reply.body = audioOf(m);
    reply.contentType = m.audioContentType;
    return reply;
}

} // namespace nuvel::standin
