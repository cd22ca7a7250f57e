// The stand-in's world kept on disk between runs: accounts, device sessions, meetings with their
// uploads, transcripts and sharing, and the retention settings. One JSON document holds everything
// but audio; each piece of audio (an uploaded part, a committed recording) is a file named by its
// SHA-256, written once. Sign-in codes live ten minutes and are not kept.

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"
#include "tools/standin-service/StandinBackend.hpp"

#include <set>
#include <stdexcept>

namespace nuvel::standin {
namespace {

namespace fs = std::filesystem;
using json::Ordered;

constexpr int stateVersion = 1;

Time timeOf(double seconds) {
    return Time(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
}

template <class T> Ordered optional(const std::optional<T>& value) {
    return value ? Ordered(*value) : Ordered(nullptr);
}

template <class T> std::optional<T> optionalOf(const Ordered& value) {
    if (value.is_null())
        return std::nullopt;
    return value.get<T>();
}

Ordered transcriptJson(const Transcript& transcript) {
    Ordered words = Ordered::array();
    for (const Word& word : transcript.words) {
        words.push_back({{"id", word.id},
                         {"text", word.text},
                         {"start", word.startMs},
                         {"end", word.endMs},
                         {"speaker", word.speaker}});
    }
    return {{"words", words}, {"speakers", transcript.speakers}};
}

Transcript transcriptOf(const Ordered& value) {
    Transcript transcript;
    for (const Ordered& word : value.at("words")) {
        transcript.words.push_back(Word{word.at("id").get<std::string>(), word.at("text").get<std::string>(),
                                        word.at("start").get<std::int64_t>(),
                                        word.at("end").get<std::int64_t>(),
                                        word.at("speaker").get<std::string>()});
    }
    transcript.speakers = value.at("speakers").get<std::map<std::string, std::string>>();
    return transcript;
}

Ordered accountJson(const StandinAccount& account) {
    Ordered workspaces = Ordered::array();
    for (const StandinWorkspace& w : account.workspaces) {
        workspaces.push_back({{"id", w.id},
                              {"kind", w.kind},
                              {"name", w.name},
                              {"role", w.role},
                              {"seat", w.seat},
                              {"canUpload", w.canUpload},
                              {"hardMaxMeetingSeconds", w.hardMaxMeetingSeconds}});
    }
    const StandinCapabilities& c = account.capabilities;
    const StandinLimits& l = account.limits;
    return {{"id", account.id},
            {"email", account.email},
            {"name", optional(account.name)},
            {"workspaces", workspaces},
            {"defaultWorkspaceId", account.defaultWorkspaceId},
            {"capabilities",
             {{"createIdempotency", c.createIdempotency},
              {"uploadReconciliation", c.uploadReconciliation},
              {"uploadHeartbeat", c.uploadHeartbeat},
              {"commitReconciliation", c.commitReconciliation},
              {"nativeLibrary", c.nativeLibrary},
              {"notepadSync", optional(c.notepadSync)}}},
            {"limits",
             {{"partBytes", l.partBytes},
              {"maxParts", l.maxParts},
              {"maxSourceBytes", l.maxSourceBytes},
              {"uploadExpiresSeconds", l.uploadExpiresSeconds},
              {"heartbeatSeconds", l.heartbeatSeconds},
              {"offlineAccessSeconds", optional(l.offlineAccessSeconds)}}}};
}

StandinAccount accountOf(const Ordered& value) {
    StandinAccount account;
    account.id = value.at("id").get<std::string>();
    account.email = value.at("email").get<std::string>();
    account.name = optionalOf<std::string>(value.at("name"));
    for (const Ordered& w : value.at("workspaces")) {
        StandinWorkspace workspace;
        workspace.id = w.at("id").get<std::string>();
        workspace.kind = w.at("kind").get<std::string>();
        workspace.name = w.at("name").get<std::string>();
        workspace.role = w.at("role").get<std::string>();
        workspace.seat = w.at("seat").get<bool>();
        workspace.canUpload = w.at("canUpload").get<bool>();
        workspace.hardMaxMeetingSeconds = w.at("hardMaxMeetingSeconds").get<double>();
        account.workspaces.push_back(std::move(workspace));
    }
    account.defaultWorkspaceId = value.at("defaultWorkspaceId").get<std::string>();
    const Ordered& c = value.at("capabilities");
    account.capabilities.createIdempotency = c.at("createIdempotency").get<bool>();
    account.capabilities.uploadReconciliation = c.at("uploadReconciliation").get<bool>();
    account.capabilities.uploadHeartbeat = c.at("uploadHeartbeat").get<bool>();
    account.capabilities.commitReconciliation = c.at("commitReconciliation").get<bool>();
    account.capabilities.nativeLibrary = c.at("nativeLibrary").get<bool>();
    account.capabilities.notepadSync = optionalOf<bool>(c.at("notepadSync"));
    const Ordered& l = value.at("limits");
    account.limits.partBytes = l.at("partBytes").get<std::int64_t>();
    account.limits.maxParts = l.at("maxParts").get<std::int64_t>();
    account.limits.maxSourceBytes = l.at("maxSourceBytes").get<std::int64_t>();
    account.limits.uploadExpiresSeconds = l.at("uploadExpiresSeconds").get<std::int64_t>();
    account.limits.heartbeatSeconds = l.at("heartbeatSeconds").get<std::int64_t>();
    account.limits.offlineAccessSeconds = optionalOf<double>(l.at("offlineAccessSeconds"));
    return account;
}

Ordered keptAccess(const StandinAccess& access) {
    Ordered can = Ordered::array();
    for (const auto& [right, allowed] : access.can)
        can.push_back({right, allowed});
    return {{"role", access.role}, {"via", access.via}, {"can", can}};
}

StandinAccess accessOf(const Ordered& value) {
    StandinAccess access;
    access.role = value.at("role").get<std::string>();
    access.via = value.at("via").get<std::string>();
    for (const Ordered& right : value.at("can"))
        access.can.emplace_back(right.at(0).get<std::string>(), right.at(1).get<bool>());
    return access;
}

} // namespace

// Writes a blob under its digest unless it is there already; returns the digest.
std::string BlobFolder::put(const std::string& bytes) {
    std::string name = hexString(Sha256::hash(viewOf(bytes)));
    const fs::path file = folder / name;
    if (!fs::exists(file))
        files::atomicWrite(file, viewOf(bytes));
    used.insert(name);
    return name;
}

std::string BlobFolder::get(const std::string& name) const {
    if (name.size() != 64 || name.find_first_not_of("0123456789abcdef") != std::string::npos) {
        throw std::runtime_error("the kept state names a damaged audio file");
    }
    return stringOf(files::readFile(folder / name));
}

void BlobFolder::removeUnused() const {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!used.contains(name) && name.size() == 64)
            fs::remove(entry.path(), error);
    }
}

json::Ordered Backend::saveState(BlobFolder& blobs) const {
    Ordered accounts = Ordered::array();
    for (const auto& [id, account] : accounts_)
        accounts.push_back(accountJson(account));
    Ordered tokens = Ordered::object();
    for (const auto& [token, t] : tokens_) {
        tokens[token] = {{"accountId", t.accountId}, {"deviceName", t.deviceName}, {"revoked", t.revoked}};
    }
    Ordered meetings = Ordered::array();
    for (const auto& [id, m] : meetings_) {
        Ordered parts = Ordered::object();
        for (const auto& [number, bytes] : m.parts)
            parts[std::to_string(number)] = blobs.put(bytes);
        Ordered shares = Ordered::array();
        for (const Share& s : m.shares) {
            shares.push_back({{"id", s.id},
                              {"kind", s.kind},
                              {"email", optional(s.email)},
                              {"permission", optional(s.permission)},
                              {"userId", optional(s.userId)}});
        }
        Ordered links = Ordered::array();
        for (const Link& l : m.links) {
            links.push_back({{"id", l.id},
                             {"expiresAt", l.expiresAt},
                             {"createdAt", l.createdAt},
                             {"includeAudio", l.includeAudio}});
        }
        Ordered commit = nullptr;
        if (m.commit)
            commit = {
                {"parts", m.commit->parts}, {"sha256", m.commit->sha256}, {"accepted", m.commit->accepted}};
        meetings.push_back({{"id", m.id},
                            {"ownerAccountId", m.ownerAccountId},
                            {"workspaceId", m.workspaceId},
                            {"title", m.title},
                            {"titleAuto", m.titleAuto},
                            {"clientRecordingId", optional(m.clientRecordingId)},
                            {"aiNotes", m.aiNotes},
                            {"durationSeconds", m.durationSeconds},
                            {"recordedAt", optional(m.recordedAt)},
                            {"createdAt", m.createdAt},
                            {"updatedAt", m.updatedAt},
                            {"state", m.state},
                            {"partBytes", m.partBytes},
                            {"maxParts", m.maxParts},
                            {"parts", parts},
                            {"uploadExpiresAt", unixSeconds(m.uploadExpiresAt)},
                            {"commit", commit},
                            {"audio", m.audio.empty() ? Ordered(nullptr) : Ordered(blobs.put(m.audio))},
                            {"audioContentType", m.audioContentType},
                            {"sampleAudio", m.sampleAudio},
                            {"audioDeleted", m.audioDeleted},
                            {"notepadRevision", m.notepadRevision},
                            {"notepadLines", m.notepadLines},
                            {"revision", m.revision},
                            {"contentReady", m.contentReady},
                            {"raw", transcriptJson(m.raw)},
                            {"corrected", transcriptJson(m.corrected)},
                            {"appliedOperations", m.appliedOperations},
                            {"access", m.access ? keptAccess(*m.access) : Ordered(nullptr)},
                            {"shares", shares},
                            {"links", links},
                            {"deleted", m.deleted}});
    }
    return {{"version", stateVersion},
            {"accounts", accounts},
            {"tokens", tokens},
            {"meetings", meetings},
            {"retentionDays", retentionDays_},
            {"seedCounter", seedCounter_}};
}

void Backend::loadState(const json::Ordered& state, const BlobFolder& blobs) {
    if (state.at("version").get<int>() != stateVersion)
        throw std::runtime_error("the kept state is of another version");
    std::map<std::string, StandinAccount> accounts;
    for (const Ordered& a : state.at("accounts")) {
        StandinAccount account = accountOf(a);
        accounts[account.id] = std::move(account);
    }
    std::map<std::string, DeviceToken> tokens;
    for (const auto& [token, t] : state.at("tokens").items()) {
        tokens[token] = DeviceToken{t.at("accountId").get<std::string>(),
                                    t.at("deviceName").get<std::string>(), t.at("revoked").get<bool>()};
    }
    std::map<std::string, Meeting> meetings;
    for (const Ordered& v : state.at("meetings")) {
        Meeting m;
        m.id = v.at("id").get<std::string>();
        m.ownerAccountId = v.at("ownerAccountId").get<std::string>();
        m.workspaceId = v.at("workspaceId").get<std::string>();
        m.title = v.at("title").get<std::string>();
        m.titleAuto = v.at("titleAuto").get<bool>();
        m.clientRecordingId = optionalOf<std::string>(v.at("clientRecordingId"));
        m.aiNotes = v.at("aiNotes").get<bool>();
        m.durationSeconds = v.at("durationSeconds").get<double>();
        m.recordedAt = optionalOf<double>(v.at("recordedAt"));
        m.createdAt = v.at("createdAt").get<double>();
        m.updatedAt = v.at("updatedAt").get<double>();
        m.state = v.at("state").get<std::string>();
        m.partBytes = v.at("partBytes").get<std::int64_t>();
        m.maxParts = v.at("maxParts").get<std::int64_t>();
        for (const auto& [number, blob] : v.at("parts").items()) {
            m.parts[std::stoll(number)] = blobs.get(blob.get<std::string>());
        }
        m.uploadExpiresAt = timeOf(v.at("uploadExpiresAt").get<double>());
        if (const Ordered& c = v.at("commit"); !c.is_null()) {
            m.commit = UploadCommit{c.at("parts").get<std::int64_t>(), c.at("sha256").get<std::string>(),
                                    c.at("accepted").get<bool>()};
        }
        if (const Ordered& audio = v.at("audio"); !audio.is_null())
            m.audio = blobs.get(audio.get<std::string>());
        m.audioContentType = v.at("audioContentType").get<std::string>();
        m.sampleAudio = v.at("sampleAudio").get<bool>();
        m.audioDeleted = v.at("audioDeleted").get<bool>();
        m.notepadRevision = v.at("notepadRevision").get<std::int64_t>();
        m.notepadLines = v.at("notepadLines");
        m.revision = v.at("revision").get<std::int64_t>();
        m.contentReady = v.at("contentReady").get<bool>();
        m.raw = transcriptOf(v.at("raw"));
        m.corrected = transcriptOf(v.at("corrected"));
        m.appliedOperations = v.at("appliedOperations").get<std::map<std::string, std::int64_t>>();
        if (const Ordered& access = v.at("access"); !access.is_null())
            m.access = accessOf(access);
        for (const Ordered& s : v.at("shares")) {
            m.shares.push_back(Share{s.at("id").get<std::string>(), s.at("kind").get<std::string>(),
                                     optionalOf<std::string>(s.at("email")),
                                     optionalOf<std::string>(s.at("permission")),
                                     optionalOf<std::string>(s.at("userId"))});
        }
        for (const Ordered& l : v.at("links")) {
            m.links.push_back(Link{l.at("id").get<std::string>(), l.at("expiresAt").get<double>(),
                                   l.at("createdAt").get<double>(), l.at("includeAudio").get<bool>()});
        }
        m.deleted = v.at("deleted").get<bool>();
        meetings[m.id] = std::move(m);
    }
    // Only a whole document replaces the world: a damaged one above changed nothing.
    accounts_ = std::move(accounts);
    tokens_ = std::move(tokens);
    meetings_ = std::move(meetings);
    retentionDays_ = state.at("retentionDays").get<std::map<std::string, std::int64_t>>();
    seedCounter_ = state.at("seedCounter").get<std::uint64_t>();
}

} // namespace nuvel::standin
