#include "NuvelKit/service/NativeUploadStatus.hpp"

namespace nuvel {

NativeUploadStatus::Part NativeUploadStatus::Part::fromJson(const json::Value& value,
                                                            const std::string& path) {
    json::Reader r(value, path);
    return Part{r.int64("index"), r.int64("bytes")};
}

NativeUploadStatus::Commit NativeUploadStatus::Commit::fromJson(const json::Value& value,
                                                                const std::string& path) {
    json::Reader r(value, path);
    Commit c;
    c.parts = r.int64("parts");
    c.sha256 = r.string("sha256");
    c.accepted = r.boolean("accepted");
    return c;
}

NativeUploadStatus NativeUploadStatus::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeUploadStatus s;
    s.contractVersion = r.int64("contract_version");
    s.id = r.string("id");
    s.workspaceID = r.string("workspace_id");
    s.state = r.string("state");
    s.expiresAt = r.string("expires_at");
    s.partBytes = r.int64("part_bytes");
    s.maxParts = r.int64("max_parts");
    s.parts = r.list<Part>("parts",
                           [](const json::Value& e, const std::string& p) { return Part::fromJson(e, p); });
    if (const json::Value* commit = r.optValue("commit"))
        s.commit = Commit::fromJson(*commit, r.childPath("commit"));
    s.canUpload = r.boolean("can_upload");
    s.heartbeatSeconds = r.int64("heartbeat_seconds");
    return s;
}

NativeUploadStatus NativeUploadStatus::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

NativeHeartbeat NativeHeartbeat::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeHeartbeat h;
    h.ok = r.boolean("ok");
    h.heartbeatSeconds = r.int64("heartbeat_seconds");
    h.expiresAt = r.string("expires_at");
    return h;
}

NativeHeartbeat NativeHeartbeat::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

} // namespace nuvel
