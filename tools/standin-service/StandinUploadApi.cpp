// Meeting creation, the resumable upload (status, heartbeat, parts, commit), the shared notepad and
// the processing status.
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Unicode.hpp"
#include "NuvelKit/support/Uuid.hpp"
#include "tools/standin-service/StandinBackend.hpp"

#include <algorithm>
#include <set>

namespace nuvel::standin {

namespace {

bool isLowerHexDigest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string mediaType(const Request& request) {
    const std::string type = request.header("Content-Type").value_or("");
    return unicode::trimWhitespaceAndNewlines(std::string_view(type).substr(0, type.find(';')));
}

// "2024-05-01T09:30:00Z": the form the device writes, nothing looser.
bool isWholeSecondUtc(const std::string& text) {
    static constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i])
            return false;
    }
    return true;
}

bool isLowerCaseUuid(const std::string& text) {
    const std::optional<Uuid> uuid = Uuid::parse(text);
    return uuid && uuid->lowercase() == text;
}

bool expired(const Meeting& meeting, Time now) {
    return !meeting.committed() && now > meeting.uploadExpiresAt;
}

// Parts stay acceptable only while the upload is open.
void requireOpen(const Meeting& meeting, Time now) {
    if (meeting.committed())
        fail(409, "upload_closed", "the upload was already committed");
    if (expired(meeting, now))
        fail(410, "upload_expired", "the upload expired");
}

json::Ordered createdJson(const Meeting& meeting) {
    return json::Ordered{
        {"id", meeting.id}, {"part_bytes", meeting.partBytes}, {"max_parts", meeting.maxParts}};
}

} // namespace

Reply Backend::createMeeting(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const json::Value body = jsonBody(request, {"title", "attendees", "recorded_at", "duration_seconds",
                                                "consent", "ai_notes", "locale", "time_zone", "workspace_id",
                                                "client_recording_id", "attendee_emails", "location"});
    const json::Reader r(body);
    const std::optional<std::string> title = r.optString("title");
    r.stringList("attendees");
    const std::string recordedAt = r.string("recorded_at");
    const double duration = r.number("duration_seconds");
    const bool consent = r.boolean("consent");
    const bool aiNotes = r.boolean("ai_notes");
    const std::string locale = r.string("locale");
    const std::string timeZone = r.string("time_zone");
    const std::optional<std::string> workspaceId = r.optString("workspace_id");
    const std::optional<std::string> clientRecordingId = r.optString("client_recording_id");
    const std::optional<std::vector<std::string>> attendeeEmails = r.optStringList("attendee_emails");
    const std::optional<std::string> location = r.optString("location");
    // The device leaves an empty title, location or address list out rather than sending it.
    if (title && title->empty())
        fail(422, "invalid_title", "an empty title is left out, not sent");
    if (location && location->empty())
        fail(422, "invalid_location", "an empty location is left out, not sent");
    if (attendeeEmails && attendeeEmails->empty())
        fail(422, "invalid_attendees", "an empty address list is left out, not sent");
    const std::optional<Date> recorded =
        isWholeSecondUtc(recordedAt) ? parseIso8601(recordedAt) : std::nullopt;
    if (!recorded)
        fail(400, "invalid_recorded_at",
             "recorded_at is a UTC time in whole seconds, such as 2024-05-01T09:30:00Z");
    if (locale != "ar" && locale != "en")
        fail(400, "invalid_locale", "locale is \"ar\" or \"en\"");
    if (timeZone.empty())
        fail(400, "invalid_time_zone", "time_zone names the device's time zone");
    if (clientRecordingId && !isLowerCaseUuid(*clientRecordingId)) {
        fail(400, "invalid_client_recording_id", "client_recording_id is a UUID in lower case");
    }
    if (!consent)
        fail(422, "consent_required", "recording consent is required");
    if (!(duration > 0))
        fail(422, "invalid_duration", "duration_seconds must be above 0");

    const StandinWorkspace* workspace =
        workspaceOf(account, workspaceId.value_or(account.defaultWorkspaceId));
    if (workspace == nullptr)
        fail(403, "workspace_forbidden", "the account has no such workspace");
    if (!workspace->canUpload)
        fail(403, "upload_forbidden", "this device may not upload to the workspace");
    if (duration > workspace->hardMaxMeetingSeconds)
        fail(422, "too_long", "the recording exceeds the workspace's limit");

    // The same client recording creates the same meeting, however often the request is repeated.
    if (clientRecordingId) {
        for (const auto& [id, existing] : meetings_) {
            if (!existing.deleted && existing.ownerAccountId == account.id &&
                existing.clientRecordingId == clientRecordingId) {
                return jsonReply(200, createdJson(existing));
            }
        }
    }

    Meeting m;
    m.id = "mt_" + hexString(randomBytes(16));
    m.ownerAccountId = account.id;
    m.workspaceId = workspace->id;
    m.titleAuto = !title || unicode::trimWhitespaceAndNewlines(*title).empty();
    m.title = m.titleAuto ? "Meeting on " + isoCalendarDate(*recorded) : *title;
    m.clientRecordingId = clientRecordingId;
    m.aiNotes = aiNotes;
    m.durationSeconds = duration;
    m.recordedAt = recorded->unixSeconds();
    m.createdAt = unixSeconds(now);
    m.updatedAt = m.createdAt;
    m.partBytes = account.limits.partBytes;
    m.maxParts = account.limits.maxParts;
    m.uploadExpiresAt = now + std::chrono::seconds(account.limits.uploadExpiresSeconds);
    Reply reply = jsonReply(201, createdJson(m));
    meetings_[m.id] = std::move(m);
    return reply;
}

Reply Backend::uploadStatus(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    const Meeting& m = ownMeeting(account, request.segments[2]);
    json::Ordered parts = json::Ordered::array();
    if (m.committed()) {
        // The parts are joined at commit; their sizes follow from the part size.
        const auto total = static_cast<std::int64_t>(m.audio.size());
        for (std::int64_t i = 0; i < m.commit->parts; ++i) {
            parts.push_back({{"index", i}, {"bytes", std::min(m.partBytes, total - i * m.partBytes)}});
        }
    } else {
        for (const auto& [index, bytes] : m.parts) {
            parts.push_back({{"index", index}, {"bytes", static_cast<std::int64_t>(bytes.size())}});
        }
    }
    json::Ordered out = json::Ordered::object();
    out["contract_version"] = 1;
    out["id"] = m.id;
    out["workspace_id"] = m.workspaceId;
    out["state"] = m.committed() ? "committed" : expired(m, now) ? "expired" : "open";
    out["expires_at"] = isoTime(m.uploadExpiresAt);
    out["part_bytes"] = m.partBytes;
    out["max_parts"] = m.maxParts;
    out["parts"] = std::move(parts);
    if (m.commit) {
        out["commit"] = {
            {"parts", m.commit->parts}, {"sha256", m.commit->sha256}, {"accepted", m.commit->accepted}};
    }
    out["can_upload"] = !m.committed() && !expired(m, now);
    out["heartbeat_seconds"] = account.limits.heartbeatSeconds;
    return jsonReply(200, out);
}

Reply Backend::heartbeat(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = ownMeeting(account, request.segments[2]);
    jsonBody(request, {}); // the empty object "{}"
    requireOpen(m, now);
    m.uploadExpiresAt = now + std::chrono::seconds(account.limits.uploadExpiresSeconds);
    return jsonReply(200, json::Ordered{{"ok", true},
                                        {"heartbeat_seconds", account.limits.heartbeatSeconds},
                                        {"expires_at", isoTime(m.uploadExpiresAt)}});
}

Reply Backend::uploadPart(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = ownMeeting(account, request.segments[2]);
    const std::string& text = request.segments[4];
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        fail(400, "invalid_part", "the part index must be a decimal number");
    }
    const std::int64_t index = std::stoll(text);
    if (index >= m.maxParts)
        fail(400, "invalid_part", "the part index is beyond max_parts");
    if (mediaType(request) != "audio/mp4")
        fail(415, "unsupported_media_type", "parts must be audio/mp4");
    requireOpen(m, now);
    if (request.body.empty())
        fail(400, "empty_part", "a part holds at least one byte");
    if (static_cast<std::int64_t>(request.body.size()) > m.partBytes)
        fail(413, "part_too_large", "a part holds at most part_bytes");
    m.parts[index] = request.body;
    m.uploadExpiresAt = now + std::chrono::seconds(account.limits.uploadExpiresSeconds);
    return emptyReply(204);
}

Reply Backend::commitUpload(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = ownMeeting(account, request.segments[2]);
    const json::Value body = jsonBody(request, {"parts", "sha256"});
    const json::Reader r(body);
    const std::int64_t count = r.int64("parts");
    const std::string sha256 = r.string("sha256");
    if (!isLowerHexDigest(sha256))
        fail(400, "invalid_request", "sha256 must be 64 lower-case hexadecimal digits");
    const json::Ordered accepted{{"id", m.id}, {"state", "queued"}};
    if (m.committed()) {
        if (m.commit->parts == count && m.commit->sha256 == sha256)
            return jsonReply(200, accepted);
        fail(409, "already_committed", "another file was committed to this meeting");
    }
    if (expired(m, now))
        fail(410, "upload_expired", "the upload expired");

    // A refused commit is recorded too: the upload status then reports it as not accepted.
    m.commit = UploadCommit{count, sha256, false};
    const bool contiguous = count >= 1 && count <= m.maxParts &&
                            static_cast<std::int64_t>(m.parts.size()) == count &&
                            m.parts.begin()->first == 0 && m.parts.rbegin()->first == count - 1;
    if (!contiguous)
        fail(422, "part_count_mismatch", "the service holds a different set of parts");
    for (const auto& [index, bytes] : m.parts) {
        if (index < count - 1 && static_cast<std::int64_t>(bytes.size()) != m.partBytes) {
            fail(422, "part_size_mismatch", "every part but the last must hold part_bytes");
        }
    }
    Sha256 digest;
    for (const auto& [index, bytes] : m.parts)
        digest.update(viewOf(bytes));
    if (hexString(digest.finalize()) != sha256)
        fail(422, "digest_mismatch", "the parts do not have that SHA-256");

    m.audio.clear();
    for (const auto& [index, bytes] : m.parts)
        m.audio += bytes;
    m.parts.clear();
    m.commit->accepted = true;
    m.state = "queued";
    m.updatedAt = unixSeconds(now);
    return jsonReply(200, accepted);
}

Reply Backend::saveNotepad(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = ownMeeting(account, request.segments[2]);
    const json::Value body = jsonBody(request, {"base", "lines"});
    const json::Reader r(body);
    const std::int64_t base = r.int64("base");
    const std::vector<NotepadLine> lines = r.objectList<NotepadLine>("lines", NotepadLine::fromJson);
    // A line is sent whole: "id", "text" and "at", which is null for a line without a time.
    for (const json::Value& line : body.at("lines")) {
        requireMembers(line, {"id", "text", "at"}, "a notepad line");
        if (!line.contains("at"))
            fail(400, "invalid_notepad", "every line carries \"at\", null when it has no time");
    }
    if (lines.size() > Notepad::maxLines)
        fail(422, "invalid_notepad", "a notepad holds at most 400 lines");
    std::set<std::string> ids;
    for (const NotepadLine& line : lines) {
        if (!Notepad::isValidLineID(line.id) || !ids.insert(line.id).second) {
            fail(422, "invalid_notepad", "line ids must be unique and of the form n[a-z0-9]{3,15}");
        }
        if (unicode::graphemeCount(line.text) > Notepad::maxLineCharacters)
            fail(422, "invalid_notepad", "a line is too long");
    }
    if (base != m.notepadRevision) {
        json::Ordered detail{{"revision", m.notepadRevision}, {"lines", m.notepadLines}};
        throw ApiFailure(409, "notepad_conflict", "the notepad changed since that revision",
                         json::Ordered{{"detail", detail}});
    }
    json::Ordered stored = json::Ordered::array();
    for (const NotepadLine& line : lines)
        stored.push_back(line.toJson());
    m.notepadLines = std::move(stored);
    m.notepadRevision += 1;
    m.updatedAt = unixSeconds(now);
    return jsonReply(200, json::Ordered{{"revision", m.notepadRevision}});
}

Reply Backend::meetingStatus(const Request& request, Time now) {
    const StandinAccount& account = authenticate(request);
    Meeting& m = visibleMeeting(account, request.segments[2]);
    Reply reply = jsonReply(200, meetingJson(account, m, now));
    if (options_.advanceOnRead && m.committed()) {
        if (m.state == "queued") {
            setProcessingState(m, "running");
        } else if (m.state == "running") {
            setProcessingState(m, "completed");
        }
    }
    return reply;
}

} // namespace nuvel::standin
