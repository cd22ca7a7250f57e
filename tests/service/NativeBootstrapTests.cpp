#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

const char* const contractText = R"({
  "contract_version": 1,
  "account": {"id": "acc_1", "email": "ada@example.com", "name": "Ada"},
  "default_workspace_id": "ws_personal",
  "selected_workspace_id": "ws_team",
  "workspaces": [
    {"id": "ws_personal", "kind": "personal", "name": "Personal", "role": "owner", "seat": true},
    {"id": "ws_team", "kind": "team", "name": "Team", "role": "member", "seat": false}
  ],
  "workspace": {"id": "ws_team", "kind": "team", "name": "Team", "role": "member", "seat": false,
                "can_upload": true, "hard_max_meeting_seconds": 14400},
  "limits": {"part_bytes": 8388608, "max_parts": 512, "max_source_bytes": 4294967296,
             "upload_expires_seconds": 86400, "heartbeat_seconds": 30, "offline_access_seconds": 3600.5},
  "capabilities": {"create_idempotency": true, "upload_reconciliation": true, "upload_heartbeat": false,
                   "commit_reconciliation": true, "native_library": true, "notepad_sync": false},
  "unknown_member": {"ignored": true}
})";

json::Value contractJson() {
    return json::parse(contractText);
}

bool invalidTransport(const NativeBootstrap& contract, const std::string& account = "acc_1") {
    try {
        contract.validate(account);
    } catch (const RecordingError& e) {
        return e.code() == RecordingError::Code::invalidTransport;
    }
    return false;
}

TEST(NativeBootstrap, DecodesEveryField) {
    NativeBootstrap b = NativeBootstrap::fromJson(contractJson());
    EXPECT_EQ(b.contractVersion, 1);
    EXPECT_EQ(b.account, (DeviceAccount{"acc_1", "ada@example.com", "Ada"}));
    EXPECT_EQ(b.defaultWorkspaceID, "ws_personal");
    EXPECT_EQ(b.selectedWorkspaceID, "ws_team");
    ASSERT_EQ(b.workspaces.size(), 2u);
    EXPECT_EQ(b.workspaces[0], (NativeWorkspace{"ws_personal", "personal", "Personal", "owner", true}));
    EXPECT_EQ(b.workspace.id, "ws_team");
    EXPECT_TRUE(b.workspace.canUpload);
    EXPECT_EQ(b.workspace.hardMaxMeetingSeconds, 14400.0);
    EXPECT_EQ(b.limits, (NativeLimits{8388608, 512, 4294967296, 86400, 30, 3600.5}));
    EXPECT_EQ(b.capabilities, (NativeCapabilities{true, true, false, true, true, false}));
    EXPECT_NO_THROW(b.validate("acc_1"));
}

TEST(NativeBootstrap, EncodesAndDecodesBackFieldForField) {
    NativeBootstrap b = NativeBootstrap::fromJson(contractJson());
    std::string encoded = b.encode();
    EXPECT_EQ(NativeBootstrap::decode(encoded).encode(), encoded);
    EXPECT_EQ(encoded.find("unknown_member"), std::string::npos);

    json::Value v = contractJson();
    v["capabilities"].erase("notepad_sync");
    v["limits"]["offline_access_seconds"] = nullptr;
    NativeBootstrap bare = NativeBootstrap::fromJson(v);
    EXPECT_FALSE(bare.capabilities.notepadSync);
    EXPECT_FALSE(bare.limits.offlineAccessSeconds);
    std::string bareText = bare.encode();
    EXPECT_EQ(bareText.find("notepad_sync"), std::string::npos);
    EXPECT_EQ(bareText.find("offline_access_seconds"), std::string::npos);
    NativeBootstrap back = NativeBootstrap::decode(bareText);
    EXPECT_FALSE(back.capabilities.notepadSync);
    EXPECT_FALSE(back.limits.offlineAccessSeconds);
    EXPECT_EQ(back.encode(), bareText);
}

TEST(NativeBootstrap, EveryRequiredKeyIsRequired) {
    struct Case {
        const char* object; // empty: the top level
        const char* key;
    };
    const Case cases[] = {
        {"", "contract_version"},
        {"", "account"},
        {"", "default_workspace_id"},
        {"", "selected_workspace_id"},
        {"", "workspaces"},
        {"", "workspace"},
        {"", "limits"},
        {"", "capabilities"},
        {"workspace", "id"},
        {"workspace", "kind"},
        {"workspace", "name"},
        {"workspace", "role"},
        {"workspace", "seat"},
        {"workspace", "can_upload"},
        {"workspace", "hard_max_meeting_seconds"},
        {"limits", "part_bytes"},
        {"limits", "max_parts"},
        {"limits", "max_source_bytes"},
        {"limits", "upload_expires_seconds"},
        {"limits", "heartbeat_seconds"},
        {"capabilities", "create_idempotency"},
        {"capabilities", "upload_reconciliation"},
        {"capabilities", "upload_heartbeat"},
        {"capabilities", "commit_reconciliation"},
        {"capabilities", "native_library"},
        {"account", "id"},
        {"account", "email"},
    };
    for (const Case& c : cases) {
        for (bool asNull : {false, true}) {
            json::Value v = contractJson();
            json::Value& holder = *c.object ? v[c.object] : v;
            if (asNull)
                holder[c.key] = nullptr;
            else
                holder.erase(c.key);
            EXPECT_THROW(NativeBootstrap::fromJson(v), json::JsonError) << c.object << "." << c.key;
        }
    }
    for (const char* key : {"id", "kind", "name", "role", "seat"}) {
        json::Value v = contractJson();
        v["workspaces"][1].erase(key);
        EXPECT_THROW(NativeBootstrap::fromJson(v), json::JsonError) << "workspaces[1]." << key;
    }
}

TEST(NativeBootstrap, DecodingIsStrictAboutTypes) {
    struct Case {
        std::function<void(json::Value&)> change;
        const char* what;
    };
    const Case cases[] = {
        {[](json::Value& v) { v["workspace"]["seat"] = 1; }, "Bool given as a number"},
        {[](json::Value& v) { v["workspace"]["can_upload"] = "true"; }, "Bool given as a string"},
        {[](json::Value& v) { v["capabilities"]["native_library"] = 0; }, "flag given as a number"},
        {[](json::Value& v) { v["capabilities"]["notepad_sync"] = 1; }, "optional flag given as a number"},
        {[](json::Value& v) { v["limits"]["part_bytes"] = 1024.5; }, "Int given as a fraction"},
        {[](json::Value& v) { v["contract_version"] = 1.5; }, "version given as a fraction"},
        {[](json::Value& v) { v["contract_version"] = true; }, "Int given as a Bool"},
        {[](json::Value& v) { v["contract_version"] = "1"; }, "Int given as a string"},
        {[](json::Value& v) { v["limits"]["max_source_bytes"] = 9.3e18; }, "Int64 out of range"},
        {[](json::Value& v) { v["limits"]["max_parts"] = 18446744073709551615u; },
         "Int above the 64-bit range"},
        {[](json::Value& v) { v["workspace"]["hard_max_meeting_seconds"] = "3600"; },
         "Double given as a string"},
        {[](json::Value& v) { v["workspace"]["hard_max_meeting_seconds"] = false; },
         "Double given as a Bool"},
        {[](json::Value& v) { v["limits"]["offline_access_seconds"] = "600"; },
         "optional Double as a string"},
        {[](json::Value& v) { v["workspaces"] = json::Value::object(); }, "list given as an object"},
        {[](json::Value& v) { v["workspaces"][0] = "ws_personal"; }, "workspace given as a string"},
        {[](json::Value& v) { v["account"]["name"] = 5; }, "account name given as a number"},
        {[](json::Value& v) { v["limits"] = json::Value::array(); }, "limits given as an array"},
        {[](json::Value& v) { v["selected_workspace_id"] = 7; }, "id given as a number"},
    };
    for (const Case& c : cases) {
        json::Value v = contractJson();
        c.change(v);
        EXPECT_THROW(NativeBootstrap::fromJson(v), json::JsonError) << c.what;
    }
    // Whole numbers written with a fraction part are whole numbers; integers are Doubles.
    json::Value v = contractJson();
    v["limits"]["part_bytes"] = 1024.0;
    v["workspace"]["hard_max_meeting_seconds"] = 60;
    NativeBootstrap b = NativeBootstrap::fromJson(v);
    EXPECT_EQ(b.limits.partBytes, 1024);
    EXPECT_EQ(b.workspace.hardMaxMeetingSeconds, 60.0);
    EXPECT_THROW(NativeBootstrap::decode("{"), json::JsonError);
    EXPECT_THROW(NativeBootstrap::decode("[]"), json::JsonError);
}

TEST(NativeBootstrap, ValidationRulesInOrder) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Rule {
        const char* name;
        std::function<void(NativeBootstrap&)> breakIt;
    };
    const Rule rules[] = {
        {"version 2", [](NativeBootstrap& b) { b.contractVersion = 2; }},
        {"version 0", [](NativeBootstrap& b) { b.contractVersion = 0; }},
        {"another account", [](NativeBootstrap& b) { b.account.id = "acc_2"; }},
        {"account id differs in case", [](NativeBootstrap& b) { b.account.id = "ACC_1"; }},
        {"selected is not the described workspace",
         [](NativeBootstrap& b) { b.workspace.id = "ws_personal"; }},
        {"selected workspace not listed", [](NativeBootstrap& b) { b.workspaces.pop_back(); }},
        {"no workspaces", [](NativeBootstrap& b) { b.workspaces.clear(); }},
        {"part size 0", [](NativeBootstrap& b) { b.limits.partBytes = 0; }},
        {"negative part size", [](NativeBootstrap& b) { b.limits.partBytes = -1; }},
        {"part size above 64 MiB", [](NativeBootstrap& b) { b.limits.partBytes = 67108865; }},
        {"no parts", [](NativeBootstrap& b) { b.limits.maxParts = 0; }},
        {"negative parts", [](NativeBootstrap& b) { b.limits.maxParts = -4; }},
        {"no source bytes", [](NativeBootstrap& b) { b.limits.maxSourceBytes = 0; }},
        {"no recording time", [](NativeBootstrap& b) { b.workspace.hardMaxMeetingSeconds = 0; }},
        {"negative recording time", [](NativeBootstrap& b) { b.workspace.hardMaxMeetingSeconds = -1; }},
        {"infinite recording time", [inf](NativeBootstrap& b) { b.workspace.hardMaxMeetingSeconds = inf; }},
        {"NaN recording time", [](NativeBootstrap& b) { b.workspace.hardMaxMeetingSeconds = std::nan(""); }},
    };
    const NativeBootstrap good = NativeBootstrap::fromJson(contractJson());
    for (const Rule& rule : rules) {
        NativeBootstrap b = good;
        rule.breakIt(b);
        EXPECT_TRUE(invalidTransport(b)) << rule.name;
    }
    EXPECT_TRUE(invalidTransport(good, "acc_2"));
    EXPECT_TRUE(invalidTransport(good, ""));
}

TEST(NativeBootstrap, ValidationBoundariesAndCarriedFields) {
    const NativeBootstrap good = NativeBootstrap::fromJson(contractJson());
    const std::function<void(NativeBootstrap&)> accepted[] = {
        [](NativeBootstrap& b) { b.limits.partBytes = 1; },
        [](NativeBootstrap& b) { b.limits.partBytes = 67108864; },
        [](NativeBootstrap& b) { b.limits.maxParts = 1; },
        [](NativeBootstrap& b) { b.limits.maxSourceBytes = 1; },
        [](NativeBootstrap& b) {
            b.workspace.hardMaxMeetingSeconds = std::numeric_limits<double>::denorm_min();
        },
        // Carried, never validated.
        [](NativeBootstrap& b) { b.defaultWorkspaceID = "ws_nowhere"; },
        [](NativeBootstrap& b) { b.workspace.canUpload = false; },
        [](NativeBootstrap& b) { b.limits.heartbeatSeconds = -1; },
        [](NativeBootstrap& b) { b.limits.uploadExpiresSeconds = 0; },
        [](NativeBootstrap& b) { b.limits.offlineAccessSeconds = std::nan(""); },
        [](NativeBootstrap& b) { b.workspace.name = ""; },
        // The first listed entry with the selected id ends the scan; duplicates are fine.
        [](NativeBootstrap& b) { b.workspaces.push_back(b.workspaces.back()); },
    };
    for (std::size_t i = 0; i < std::size(accepted); ++i) {
        NativeBootstrap b = good;
        accepted[i](b);
        EXPECT_NO_THROW(b.validate("acc_1")) << "case " << i;
        EXPECT_NO_THROW(b.validate("acc_1")) << "validation changes nothing, case " << i;
    }
}

} // namespace
} // namespace nuvel
