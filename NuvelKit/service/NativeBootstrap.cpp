#include "NuvelKit/service/NativeBootstrap.hpp"

#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <cmath>

namespace nuvel {

NativeWorkspace NativeWorkspace::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    return NativeWorkspace{r.string("id"), r.string("kind"), r.string("name"), r.string("role"),
                           r.boolean("seat")};
}

json::Ordered NativeWorkspace::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["kind"] = kind;
    o["name"] = name;
    o["role"] = role;
    o["seat"] = seat;
    return o;
}

NativeWorkspaceAccess NativeWorkspaceAccess::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeWorkspaceAccess a;
    a.id = r.string("id");
    a.kind = r.string("kind");
    a.name = r.string("name");
    a.role = r.string("role");
    a.seat = r.boolean("seat");
    a.canUpload = r.boolean("can_upload");
    a.hardMaxMeetingSeconds = r.number("hard_max_meeting_seconds");
    return a;
}

json::Ordered NativeWorkspaceAccess::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["kind"] = kind;
    o["name"] = name;
    o["role"] = role;
    o["seat"] = seat;
    o["can_upload"] = canUpload;
    o["hard_max_meeting_seconds"] = hardMaxMeetingSeconds;
    return o;
}

NativeLimits NativeLimits::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeLimits l;
    l.partBytes = r.int64("part_bytes");
    l.maxParts = r.int64("max_parts");
    l.maxSourceBytes = r.int64("max_source_bytes");
    l.uploadExpiresSeconds = r.int64("upload_expires_seconds");
    l.heartbeatSeconds = r.int64("heartbeat_seconds");
    l.offlineAccessSeconds = r.optNumber("offline_access_seconds");
    return l;
}

json::Ordered NativeLimits::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["part_bytes"] = partBytes;
    o["max_parts"] = maxParts;
    o["max_source_bytes"] = maxSourceBytes;
    o["upload_expires_seconds"] = uploadExpiresSeconds;
    o["heartbeat_seconds"] = heartbeatSeconds;
    json::putOptional(o, "offline_access_seconds", offlineAccessSeconds);
    return o;
}

NativeCapabilities NativeCapabilities::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeCapabilities c;
    c.createIdempotency = r.boolean("create_idempotency");
    c.uploadReconciliation = r.boolean("upload_reconciliation");
    c.uploadHeartbeat = r.boolean("upload_heartbeat");
    c.commitReconciliation = r.boolean("commit_reconciliation");
    c.nativeLibrary = r.boolean("native_library");
    c.notepadSync = r.optBoolean("notepad_sync");
    return c;
}

json::Ordered NativeCapabilities::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["create_idempotency"] = createIdempotency;
    o["upload_reconciliation"] = uploadReconciliation;
    o["upload_heartbeat"] = uploadHeartbeat;
    o["commit_reconciliation"] = commitReconciliation;
    o["native_library"] = nativeLibrary;
    json::putOptional(o, "notepad_sync", notepadSync);
    return o;
}

NativeBootstrap NativeBootstrap::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeBootstrap b;
    b.contractVersion = r.int64("contract_version");
    b.account = DeviceAccount::fromJson(r.value("account"), r.childPath("account"));
    b.defaultWorkspaceID = r.string("default_workspace_id");
    b.selectedWorkspaceID = r.string("selected_workspace_id");
    b.workspaces = r.list<NativeWorkspace>("workspaces", [](const json::Value& e, const std::string& p) {
        return NativeWorkspace::fromJson(e, p);
    });
    b.workspace = NativeWorkspaceAccess::fromJson(r.value("workspace"), r.childPath("workspace"));
    b.limits = NativeLimits::fromJson(r.value("limits"), r.childPath("limits"));
    b.capabilities = NativeCapabilities::fromJson(r.value("capabilities"), r.childPath("capabilities"));
    return b;
}

NativeBootstrap NativeBootstrap::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered NativeBootstrap::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["contract_version"] = contractVersion;
    o["account"] = account.toJson();
    o["default_workspace_id"] = defaultWorkspaceID;
    o["selected_workspace_id"] = selectedWorkspaceID;
    json::Ordered list = json::Ordered::array();
    for (const NativeWorkspace& w : workspaces)
        list.push_back(w.toJson());
    o["workspaces"] = std::move(list);
    o["workspace"] = workspace.toJson();
    o["limits"] = limits.toJson();
    o["capabilities"] = capabilities.toJson();
    return o;
}

std::string NativeBootstrap::encode() const {
    return json::dump(toJson());
}

void NativeBootstrap::validate(std::string_view expectedAccountID) const {
    auto require = [](bool ok) {
        if (!ok)
            throw RecordingError(RecordingError::Code::invalidTransport);
    };
    require(contractVersion == 1);
    require(account.id == expectedAccountID);
    require(selectedWorkspaceID == workspace.id);
    require(std::any_of(workspaces.begin(), workspaces.end(),
                        [&](const NativeWorkspace& w) { return w.id == selectedWorkspaceID; }));
    require(limits.partBytes >= 1 && limits.partBytes <= maximumPartBytes);
    require(limits.maxParts > 0);
    require(limits.maxSourceBytes > 0);
    require(std::isfinite(workspace.hardMaxMeetingSeconds) && workspace.hardMaxMeetingSeconds > 0);
}

} // namespace nuvel
