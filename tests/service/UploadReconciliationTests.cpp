#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/service/UploadReconciliation.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

constexpr std::int64_t P = 1000; // part size of the fixtures
const std::string digest = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

NativeUploadStatus status(std::vector<NativeUploadStatus::Part> parts = {}) {
    NativeUploadStatus s;
    s.contractVersion = 1;
    s.id = "mt_1";
    s.workspaceID = "ws_1";
    s.state = "open";
    s.expiresAt = "2024-05-01T10:00:00Z";
    s.partBytes = P;
    s.maxParts = 10;
    s.parts = std::move(parts);
    s.canUpload = true;
    s.heartbeatSeconds = 30;
    return s;
}

LocalUpload local(std::int64_t bytes) {
    return LocalUpload{"mt_1", "ws_1", bytes, digest};
}

UploadReconciliation resume(std::set<std::int64_t> acknowledged) {
    return UploadResume{P, std::move(acknowledged)};
}

RecordingError::Code contractFailure(const NativeUploadStatus& s, const LocalUpload& l) {
    try {
        reconcileUpload(s, l);
    } catch (const RecordingError& e) {
        return e.code();
    }
    ADD_FAILURE() << "reconciled";
    return RecordingError::Code::accountMismatch;
}

TEST(NativeUploadStatus, DecodesStrictlyWithOptionalCommit) {
    const char* text = R"({"contract_version":1,"id":"mt_1","workspace_id":"ws_1","state":"open",
        "expires_at":"2024-05-01T10:00:00Z","part_bytes":1000,"max_parts":10,
        "parts":[{"index":0,"bytes":1000},{"index":1,"bytes":500}],
        "commit":{"parts":2,"sha256":"ab","accepted":false},"can_upload":true,"heartbeat_seconds":30})";
    NativeUploadStatus s = NativeUploadStatus::decode(text);
    EXPECT_EQ(s.id, "mt_1");
    EXPECT_EQ(s.workspaceID, "ws_1");
    EXPECT_EQ(s.expiresAt, "2024-05-01T10:00:00Z");
    ASSERT_EQ(s.parts.size(), 2u);
    EXPECT_EQ(s.parts[1].index, 1);
    EXPECT_EQ(s.parts[1].bytes, 500);
    ASSERT_TRUE(s.commit);
    EXPECT_EQ(s.commit->parts, 2);
    EXPECT_EQ(s.commit->sha256, "ab");
    EXPECT_FALSE(s.commit->accepted);

    json::Value v = json::parse(text);
    v["commit"] = nullptr;
    EXPECT_FALSE(NativeUploadStatus::fromJson(v).commit);
    v.erase("commit");
    EXPECT_FALSE(NativeUploadStatus::fromJson(v).commit);

    auto fails = [&](auto change) {
        json::Value w = json::parse(text);
        change(w);
        return [w] { NativeUploadStatus::fromJson(w); };
    };
    EXPECT_THROW(fails([](json::Value& w) { w.erase("can_upload"); })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["can_upload"] = 1; })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["part_bytes"] = 1000.5; })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["parts"][0]["bytes"] = 1.5; })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["parts"][0].erase("index"); })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["commit"].erase("accepted"); })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["commit"]["accepted"] = 0; })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["commit"]["sha256"] = 5; })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w.erase("expires_at"); })(), json::JsonError);
    EXPECT_THROW(fails([](json::Value& w) { w["parts"] = nullptr; })(), json::JsonError);
}

TEST(NativeHeartbeat, DecodesStrictly) {
    NativeHeartbeat h = NativeHeartbeat::decode(R"({"ok":true,"heartbeat_seconds":20,"expires_at":"x"})");
    EXPECT_TRUE(h.ok);
    EXPECT_EQ(h.heartbeatSeconds, 20);
    EXPECT_EQ(h.expiresAt, "x");
    EXPECT_THROW(NativeHeartbeat::decode(R"({"ok":1,"heartbeat_seconds":20,"expires_at":"x"})"),
                 json::JsonError);
    EXPECT_THROW(NativeHeartbeat::decode(R"({"ok":true,"heartbeat_seconds":2.5,"expires_at":"x"})"),
                 json::JsonError);
    EXPECT_THROW(NativeHeartbeat::decode(R"({"ok":true,"heartbeat_seconds":20})"), json::JsonError);
}

TEST(UploadReconciliation, PartCountRoundsUp) {
    EXPECT_EQ(uploadPartCount(3 * P, P), 3);
    EXPECT_EQ(uploadPartCount(3 * P + 1, P), 4);
    EXPECT_EQ(uploadPartCount(1, P), 1);
    EXPECT_EQ(uploadPartCount(std::numeric_limits<std::int64_t>::max(), 67108864), 137438953472);
}

TEST(UploadReconciliation, AcknowledgesOnlyPartsOfTheExpectedSize) {
    // 2.5 parts: the last holds half a part.
    EXPECT_EQ(reconcileUpload(status({{0, P}, {1, P}, {2, P / 2}}), local(2 * P + P / 2)), resume({0, 1, 2}));
    // A last part reported full, or any part short or long, is sent again.
    EXPECT_EQ(reconcileUpload(status({{0, P}, {1, P}, {2, P}}), local(2 * P + P / 2)), resume({0, 1}));
    EXPECT_EQ(reconcileUpload(status({{0, P - 1}, {1, P + 1}, {2, 0}}), local(3 * P)), resume({}));
    // Order does not matter, and a part listed twice counts once.
    EXPECT_EQ(reconcileUpload(status({{2, 1}, {0, P}, {0, P}}), local(2 * P + 1)), resume({0, 2}));
    EXPECT_EQ(reconcileUpload(status(), local(1)), resume({}));
    // The part size is the status's own.
    NativeUploadStatus s = status({{0, 400}, {1, 100}});
    s.partBytes = 400;
    EXPECT_EQ(reconcileUpload(s, local(500)), (UploadReconciliation{UploadResume{400, {0, 1}}}));
}

TEST(UploadReconciliation, PartOutOfRangeFailsTheWholeReduction) {
    EXPECT_EQ(contractFailure(status({{0, P}, {3, P}}), local(3 * P)),
              RecordingError::Code::invalidTransport);
    EXPECT_EQ(contractFailure(status({{-1, P}, {0, P}}), local(3 * P)),
              RecordingError::Code::invalidTransport);
    EXPECT_EQ(contractFailure(status({{0, P}, {4, 1}}), local(3 * P + 1)),
              RecordingError::Code::invalidTransport);
    EXPECT_NO_THROW(reconcileUpload(status({{3, 1}}), local(3 * P + 1)));
}

TEST(UploadReconciliation, StatusMustDescribeThisUpload) {
    struct Case {
        const char* what;
        std::function<void(NativeUploadStatus&, LocalUpload&)> change;
    };
    const Case cases[] = {
        {"version 2", [](NativeUploadStatus& s, LocalUpload&) { s.contractVersion = 2; }},
        {"version 0", [](NativeUploadStatus& s, LocalUpload&) { s.contractVersion = 0; }},
        {"no remote id", [](NativeUploadStatus&, LocalUpload& l) { l.remoteID.reset(); }},
        {"another meeting", [](NativeUploadStatus&, LocalUpload& l) { l.remoteID = "mt_2"; }},
        {"another workspace", [](NativeUploadStatus&, LocalUpload& l) { l.workspaceID = "ws_2"; }},
        {"part size 0", [](NativeUploadStatus& s, LocalUpload&) { s.partBytes = 0; }},
        {"part size above 64 MiB", [](NativeUploadStatus& s, LocalUpload&) { s.partBytes = 67108865; }},
        {"empty file", [](NativeUploadStatus&, LocalUpload& l) { l.bytes = 0; }},
        {"negative size", [](NativeUploadStatus&, LocalUpload& l) { l.bytes = -1; }},
        {"one part too many",
         [](NativeUploadStatus& s, LocalUpload& l) {
             s.maxParts = 3;
             l.bytes = 3 * P + 1;
         }},
    };
    for (const Case& c : cases) {
        NativeUploadStatus s = status();
        LocalUpload l = local(3 * P);
        c.change(s, l);
        EXPECT_EQ(contractFailure(s, l), RecordingError::Code::invalidTransport) << c.what;
    }
    // A recording without a workspace skips the workspace check; the largest part size passes.
    LocalUpload noWorkspace = local(3 * P);
    noWorkspace.workspaceID.reset();
    EXPECT_EQ(reconcileUpload(status(), noWorkspace), resume({}));
    NativeUploadStatus big = status();
    big.partBytes = 67108864;
    big.maxParts = 1;
    EXPECT_EQ(reconcileUpload(big, local(67108864)), (UploadReconciliation{UploadResume{67108864, {}}}));
}

TEST(UploadReconciliation, AcceptedCommitMustMatchTheFileExactly) {
    NativeUploadStatus s = status();
    s.canUpload = false; // an accepted commit wins over everything after it
    s.commit = NativeUploadStatus::Commit{3, digest, true};
    EXPECT_EQ(reconcileUpload(s, local(3 * P)), UploadReconciliation{UploadAccepted{}});

    NativeUploadStatus upper = s;
    for (char& c : upper.commit->sha256)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(contractFailure(upper, local(3 * P)), RecordingError::Code::ambiguousRequest);
    NativeUploadStatus otherDigest = s;
    otherDigest.commit->sha256 = std::string(64, '0');
    EXPECT_EQ(contractFailure(otherDigest, local(3 * P)), RecordingError::Code::ambiguousRequest);
    NativeUploadStatus otherCount = s;
    otherCount.commit->parts = 2;
    EXPECT_EQ(contractFailure(otherCount, local(3 * P)), RecordingError::Code::ambiguousRequest);
    // The same commit against a file one byte longer (four parts) is another file.
    NativeUploadStatus roomy = s;
    roomy.maxParts = 4;
    EXPECT_EQ(contractFailure(roomy, local(3 * P + 1)), RecordingError::Code::ambiguousRequest);
    // The checks of the status come first.
    NativeUploadStatus wrongVersion = s;
    wrongVersion.contractVersion = 2;
    EXPECT_EQ(contractFailure(wrongVersion, local(3 * P)), RecordingError::Code::invalidTransport);
}

TEST(UploadReconciliation, CommitNotAcceptedIsIgnored) {
    NativeUploadStatus s = status({{0, P}});
    s.commit = NativeUploadStatus::Commit{2, "other", false};
    EXPECT_EQ(reconcileUpload(s, local(3 * P)), resume({0}));
}

TEST(UploadReconciliation, NoMorePartsAcceptedIsUploadUnavailable) {
    NativeUploadStatus s = status({{0, P}, {1, P}, {2, P}});
    s.canUpload = false;
    for (bool withCommit : {false, true}) {
        if (withCommit)
            s.commit = NativeUploadStatus::Commit{3, digest, false};
        try {
            reconcileUpload(s, local(3 * P));
            ADD_FAILURE() << "reconciled";
        } catch (const APIError& e) {
            EXPECT_EQ(e.status(), 409);
            EXPECT_EQ(e.code(), "upload_unavailable");
            EXPECT_FALSE(e.retryAfter());
        }
    }
    // Parts are not looked at: even one out of range does not change the answer.
    s.parts.push_back({7, P});
    EXPECT_THROW(reconcileUpload(s, local(3 * P)), APIError);
}

} // namespace
} // namespace nuvel
