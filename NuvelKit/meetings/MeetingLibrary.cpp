#include "NuvelKit/meetings/MeetingLibrary.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

#include <cmath>

namespace nuvel {
using namespace meetingcoding;

// MeetingAccess

bool MeetingAccess::allows(std::string_view permission) const {
    if (can.empty())
        return false;
    const bool* granted = findKey(can, permission);
    return granted != nullptr && *granted;
}

MeetingAccess MeetingAccess::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingAccess a;
    a.role = r.string("role");
    a.via = r.string("via");
    a.can = readBoolMap(r, "can");
    return a;
}

MeetingAccess MeetingAccess::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingAccess::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["role"] = role;
    o["via"] = via;
    o["can"] = writeBoolMap(can);
    return o;
}

std::string MeetingAccess::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingAccess& a, const MeetingAccess& b) {
    return sameText(a.role, b.role) && sameText(a.via, b.via) && sameMap(a.can, b.can);
}

// MeetingSummary

std::int64_t MeetingSummary::durationMilliseconds() const {
    // The bound is Int64.max / 1000: below it, duration * 1000 always fits an Int64.
    if (!std::isfinite(duration) || duration < 0 || !(duration < 9223372036854776.0))
        return 0;
    return std::int64_t(duration * 1000.0);
}

MeetingSummary MeetingSummary::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingSummary s;
    s.id = r.string("id");
    s.title = r.string("title");
    s.state = r.string("state");
    s.workspace_id = r.optString("workspace_id");
    s.revision = r.int64("revision");
    s.access = MeetingAccess::fromJson(r.value("access"), r.childPath("access"));
    s.updated_at = r.string("updated_at");
    s.duration = r.number("duration");
    s.audio_deleted = r.boolean("audio_deleted");
    s.created_at = r.number("created_at");
    s.recorded_at = r.optNumber("recorded_at");
    return s;
}

MeetingSummary MeetingSummary::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingSummary::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["title"] = title;
    o["state"] = state;
    json::putOptional(o, "workspace_id", workspace_id);
    o["revision"] = revision;
    o["access"] = access.toJson();
    o["updated_at"] = updated_at;
    o["duration"] = json::number(duration);
    o["audio_deleted"] = audio_deleted;
    o["created_at"] = json::number(created_at);
    if (recorded_at)
        o["recorded_at"] = json::number(*recorded_at);
    return o;
}

std::string MeetingSummary::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingSummary& a, const MeetingSummary& b) {
    return sameText(a.id, b.id) && sameText(a.title, b.title) && sameText(a.state, b.state) &&
           sameOptionalText(a.workspace_id, b.workspace_id) && a.revision == b.revision &&
           a.access == b.access && sameText(a.updated_at, b.updated_at) && a.duration == b.duration &&
           a.audio_deleted == b.audio_deleted && a.created_at == b.created_at &&
           sameOptional(a.recorded_at, b.recorded_at);
}

// MeetingLibraryPage

MeetingLibraryPage MeetingLibraryPage::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingLibraryPage p;
    p.contract_version = r.int64("contract_version");
    p.meetings = readList<MeetingSummary>(r, "meetings");
    p.next_cursor = r.optString("next_cursor");
    p.as_of = r.string("as_of");
    p.offline_access_seconds = r.optNumber("offline_access_seconds");
    return p;
}

MeetingLibraryPage MeetingLibraryPage::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingLibraryPage::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["contract_version"] = contract_version;
    o["meetings"] = writeList(meetings);
    json::putOptional(o, "next_cursor", next_cursor);
    o["as_of"] = as_of;
    if (offline_access_seconds)
        o["offline_access_seconds"] = json::number(*offline_access_seconds);
    return o;
}

std::string MeetingLibraryPage::encode() const {
    return json::dump(toJson());
}

// MeetingReconciliation

MeetingReconciliation MeetingReconciliation::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingReconciliation m;
    m.meetings = readList<MeetingSummary>(r, "meetings");
    m.removed_ids = r.stringList("removed_ids");
    return m;
}

MeetingReconciliation MeetingReconciliation::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingReconciliation::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["meetings"] = writeList(meetings);
    o["removed_ids"] = removed_ids;
    return o;
}

std::string MeetingReconciliation::encode() const {
    return json::dump(toJson());
}

} // namespace nuvel
