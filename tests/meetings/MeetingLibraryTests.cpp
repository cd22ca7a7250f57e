#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

using Code = json::JsonError::Code;
using test::decodeFailure;
using test::edited;
using test::failurePath;

std::string summaryText(const std::string& pointer, const std::optional<json::Value>& replacement) {
    json::Ordered page =
        json::Ordered::parse(edited("library-page.json", "/meetings/0" + pointer, replacement));
    return page["meetings"][0].dump();
}

MeetingSummary summaryWithDuration(double seconds) {
    MeetingSummary s = MeetingSummary::decode(summaryText("/id", json::Value("m")));
    s.duration = seconds;
    return s;
}

TEST(MeetingLibrary, GoldenPageAndReconciliationRoundTrip) {
    MeetingLibraryPage page = test::expectGoldenRoundTrip<MeetingLibraryPage>("library-page.json");
    ASSERT_EQ(page.meetings.size(), 2u);
    const MeetingSummary& first = page.meetings[0];
    EXPECT_EQ(first.workspace_id, "ws_7");
    EXPECT_EQ(first.revision, 4);
    EXPECT_EQ(first.duration, 3725.25);
    EXPECT_EQ(first.created_at, 1772445600.0);
    EXPECT_EQ(first.recorded_at, 1772442000.5);
    EXPECT_TRUE(first.access.canEdit() && first.access.canShare() && first.access.canDelete());
    EXPECT_FALSE(first.access.canManage());
    EXPECT_TRUE(first.access.allows("export"));
    EXPECT_EQ(page.meetings[1].workspace_id, std::nullopt);
    EXPECT_EQ(page.meetings[1].recorded_at, std::nullopt);
    EXPECT_TRUE(page.meetings[1].audio_deleted);
    EXPECT_EQ(page.next_cursor, "c_2");
    EXPECT_EQ(page.offline_access_seconds, 3600.0);

    MeetingReconciliation reconciliation =
        test::expectGoldenRoundTrip<MeetingReconciliation>("reconciliation.json");
    EXPECT_EQ(reconciliation.removed_ids, (std::vector<std::string>{"mtg_02", "mtg_03"}));
    EXPECT_EQ(reconciliation.meetings.at(0).revision, 5);
}

TEST(MeetingLibrary, AccessPermissions) {
    MeetingAccess onlyEdit = MeetingAccess::decode(R"({"role":"r","via":"v","can":{"edit":true}})");
    EXPECT_TRUE(onlyEdit.canEdit());
    EXPECT_FALSE(onlyEdit.canManage() || onlyEdit.canShare() || onlyEdit.canDelete());

    MeetingAccess none = MeetingAccess::decode(R"({"role":"r","via":"v","can":{}})");
    EXPECT_FALSE(none.canEdit() || none.canManage() || none.canShare() || none.canDelete());
    EXPECT_FALSE(MeetingAccess::decode(R"({"role":"r","via":"v","can":{"edit":false}})").canEdit());

    // Bool is only true or false: the number 1 fails the record, and so does a missing "can".
    EXPECT_EQ(decodeFailure<MeetingAccess>(R"({"role":"r","via":"v","can":{"edit":1}})"), Code::wrongType);
    EXPECT_EQ(failurePath<MeetingAccess>(R"({"role":"r","via":"v","can":{"edit":1}})"), "$.can.edit");
    EXPECT_EQ(decodeFailure<MeetingAccess>(R"({"role":"r","via":"v"})"), Code::missingKey);
    EXPECT_EQ(decodeFailure<MeetingAccess>(R"({"role":"r","via":"v","can":[]})"), Code::wrongType);

    // Permission names and the other fields compare by canonical equivalence.
    MeetingAccess decomposed{"r", "v", {{"e\xCC\x81", true}}};
    MeetingAccess composed{"r", "v", {{"\xC3\xA9", true}}};
    EXPECT_TRUE(decomposed.allows("\xC3\xA9"));
    EXPECT_EQ(decomposed, composed);
    EXPECT_FALSE(decomposed == (MeetingAccess{"r", "v", {{"\xC3\xA9", false}}}));
}

TEST(MeetingLibrary, OptionalFieldsMissingOrNullAreAbsentAndLeftOut) {
    for (const auto& replacement :
         {std::optional<json::Value>(), std::optional<json::Value>(json::Value())}) {
        MeetingSummary s = MeetingSummary::decode(summaryText("/workspace_id", replacement));
        EXPECT_EQ(s.workspace_id, std::nullopt);
        EXPECT_FALSE(json::parse(s.encode()).contains("workspace_id"));

        MeetingSummary r = MeetingSummary::decode(summaryText("/recorded_at", replacement));
        EXPECT_EQ(r.recorded_at, std::nullopt);
        EXPECT_FALSE(json::parse(r.encode()).contains("recorded_at"));

        MeetingLibraryPage p =
            MeetingLibraryPage::decode(edited("library-page.json", "/next_cursor", replacement));
        EXPECT_EQ(p.next_cursor, std::nullopt);
        MeetingLibraryPage q =
            MeetingLibraryPage::decode(edited("library-page.json", "/offline_access_seconds", replacement));
        EXPECT_EQ(q.offline_access_seconds, std::nullopt);
    }
    // An optional field of the wrong type still fails.
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/workspace_id", json::Value(7))), Code::wrongType);
}

TEST(MeetingLibrary, RequiredFieldsAndTypesAreStrict) {
    // Missing and null both fail a required field; the page fails with the summary it holds.
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/audio_deleted", std::nullopt)), Code::missingKey);
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/audio_deleted", json::Value())), Code::missingKey);
    EXPECT_EQ(failurePath<MeetingLibraryPage>(
                  edited("library-page.json", "/meetings/0/audio_deleted", std::nullopt)),
              "$.meetings[0].audio_deleted");
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/audio_deleted", json::Value(1))), Code::wrongType);

    // Int takes only whole numbers in range.
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/revision", json::Value(3.5))), Code::outOfRange);
    EXPECT_EQ(decodeFailure<MeetingLibraryPage>(
                  edited("library-page.json", "/meetings/1/revision", json::Value(3.5))),
              Code::outOfRange);
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/revision", json::Value("3"))), Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingSummary>(summaryText("/revision", json::parse("9223372036854775808"))),
              Code::outOfRange);
    EXPECT_EQ(MeetingSummary::decode(summaryText("/revision", json::Value(3.0))).revision, 3);

    // Nothing beyond the type is checked; unknown keys are ignored wherever they are.
    EXPECT_EQ(MeetingSummary::decode(summaryText("/revision", json::Value(-7))).revision, -7);
    MeetingLibraryPage page = MeetingLibraryPage::decode(
        edited("library-page.json", "/meetings/0/access/extra", json::parse(R"({"x":[1]})")));
    EXPECT_EQ(page.meetings[0].encode(),
              MeetingLibraryPage::decode(test::golden("library-page.json")).meetings[0].encode());
    EXPECT_EQ(decodeFailure<MeetingLibraryPage>("[]"), Code::wrongType);
}

TEST(MeetingLibrary, NumbersBeyondTheDoubleRangeAreCorruptData) {
    std::string text = summaryText("/created_at", json::Value(1));
    text.replace(text.find("\"created_at\":1") + 13, 1, "1e400");
    EXPECT_EQ(decodeFailure<MeetingSummary>(text), Code::nonFinite);
}

TEST(MeetingLibrary, DurationMilliseconds) {
    EXPECT_EQ(summaryWithDuration(1.5).durationMilliseconds(), 1500);
    EXPECT_EQ(summaryWithDuration(2.9999).durationMilliseconds(), 2999);
    EXPECT_EQ(summaryWithDuration(0.0005).durationMilliseconds(), 0);
    EXPECT_EQ(summaryWithDuration(-1).durationMilliseconds(), 0);
    EXPECT_EQ(summaryWithDuration(-0.0).durationMilliseconds(), 0);
    EXPECT_EQ(summaryWithDuration(std::nan("")).durationMilliseconds(), 0);
    EXPECT_EQ(summaryWithDuration(std::numeric_limits<double>::infinity()).durationMilliseconds(), 0);
    EXPECT_EQ(summaryWithDuration(9223372036854776.0).durationMilliseconds(), 0);
    // The largest duration below the bound converts without overflow.
    double largest = std::nextafter(9223372036854776.0, 0.0);
    std::int64_t ms = summaryWithDuration(largest).durationMilliseconds();
    EXPECT_GT(ms, 9223372036854770000);
    EXPECT_EQ(ms, std::int64_t(largest * 1000.0));
}

TEST(MeetingLibrary, SummaryEquality) {
    MeetingSummary a = summaryWithDuration(12);
    MeetingSummary b = a;
    b.title = "Cafe\xCC\x81";
    a.title = "Caf\xC3\xA9";
    EXPECT_EQ(a, b);
    b.recorded_at.reset();
    EXPECT_FALSE(a == b);
    MeetingSummary nan = summaryWithDuration(std::nan(""));
    EXPECT_FALSE(nan == nan);
    EXPECT_EQ(summaryWithDuration(0.0), summaryWithDuration(-0.0));
}

} // namespace
} // namespace nuvel
