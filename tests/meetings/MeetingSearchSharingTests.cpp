#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using Code = json::JsonError::Code;
using test::decodeFailure;
using test::edited;

TEST(MeetingSearchPage, GoldenAndHits) {
    auto page = test::expectGoldenRoundTrip<MeetingSearchPage>("search-page.json");
    EXPECT_TRUE(page.truncated);
    ASSERT_EQ(page.results.size(), 1u);
    const auto& hit = page.results[0];
    EXPECT_EQ(hit.id(), "mtg_01/4");
    EXPECT_EQ(hit.at_ms, 61250);
    EXPECT_EQ(hit.snippetText(), "the budget draft");

    MeetingSearchPage::Hit other{0, "abc", "t", "raw", "k", 0, {{"Hel", false}, {"lo", true}}};
    EXPECT_EQ(other.id(), "abc/0");
    EXPECT_EQ(other.snippetText(), "Hello");

    auto empty = MeetingSearchPage::decode(R"({"query":"q","results":[],"truncated":true})");
    EXPECT_TRUE(empty.results.empty());
    EXPECT_TRUE(empty.truncated);

    EXPECT_EQ(decodeFailure<MeetingSearchPage>(
                  edited("search-page.json", "/results/0/at_ms", json::Value("61250"))),
              Code::wrongType);
    EXPECT_EQ(test::failurePath<MeetingSearchPage>(
                  edited("search-page.json", "/results/0/snippet/1/hit", json::Value(1))),
              "$.results[0].snippet[1].hit");
    EXPECT_EQ(decodeFailure<MeetingSearchPage>(edited("search-page.json", "/truncated", std::nullopt)),
              Code::missingKey);
}

TEST(MeetingSharing, GoldenDocument) {
    auto sharing = test::expectGoldenRoundTrip<MeetingSharingDocument>("sharing.json");
    EXPECT_TRUE(sharing.can.at("share"));
    ASSERT_EQ(sharing.shares.size(), 2u);
    EXPECT_EQ(sharing.shares[0].email, "guest@example.com");
    EXPECT_EQ(sharing.shares[1].email, std::nullopt);
    EXPECT_EQ(sharing.shares[1].permission, std::nullopt);
    ASSERT_EQ(sharing.links.size(), 3u);
    EXPECT_EQ(sharing.links[0].kind(), MeetingJSON::Kind::null); // a null link is kept as a value
    EXPECT_EQ(sharing.links[1], MeetingJSON::object({}));
    EXPECT_EQ(*sharing.links[2]["id"]->stringValue(), "ln_1");
    EXPECT_EQ(sharing.links[2]["expires_at"]->numberValue(), 1773050400.0);

    EXPECT_EQ(decodeFailure<MeetingSharingDocument>(edited("sharing.json", "/can/share", json::Value("yes"))),
              Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingSharingDocument>(edited("sharing.json", "/shares/1/id", std::nullopt)),
              Code::missingKey);
    EXPECT_EQ(decodeFailure<MeetingSharingDocument>(edited("sharing.json", "/links", json::Value())),
              Code::missingKey);
}

TEST(MeetingSharing, ShareRequests) {
    auto guest = test::expectGoldenRoundTrip<MeetingShareRequest>("share-request-guest.json");
    EXPECT_EQ(guest, MeetingShareRequest::guest("guest@example.com", "viewer"));
    auto members = test::expectGoldenRoundTrip<MeetingShareRequest>("share-request-members.json");
    EXPECT_EQ(members, MeetingShareRequest::members({"u_1", "u_2"}));
    EXPECT_FALSE(members == MeetingShareRequest::members({"u_2", "u_1"}));
    EXPECT_FALSE(members == MeetingShareRequest::members({}));
    EXPECT_EQ(decodeFailure<MeetingShareRequest>(R"({"kind":"member","user_ids":["a",2]})"), Code::wrongType);
}

TEST(MeetingSharing, GuestInvitationChecks) {
    using Refusal = GuestInvitationRefusal;
    auto invite = [](std::string_view address, bool acknowledged) {
        return MeetingShareRequest::guestInvitation(address, acknowledged);
    };

    auto ok = invite(" \t guest@example.com \n", true);
    ASSERT_TRUE(std::holds_alternative<MeetingShareRequest>(ok));
    const auto& request = std::get<MeetingShareRequest>(ok);
    EXPECT_EQ(request, MeetingShareRequest::guest("guest@example.com", "viewer"));
    EXPECT_EQ(request.encode(), R"({"kind":"guest","email":"guest@example.com","permission":"viewer"})");

    // The acknowledgement comes first: without it nothing is sent, whatever the address.
    EXPECT_EQ(std::get<Refusal>(invite("guest@example.com", false)), Refusal::acknowledgementMissing);
    EXPECT_EQ(std::get<Refusal>(invite("no-at-sign", false)), Refusal::acknowledgementMissing);

    EXPECT_EQ(std::get<Refusal>(invite("guest.example.com", true)), Refusal::invalidAddress);
    EXPECT_EQ(std::get<Refusal>(invite("   ", true)), Refusal::invalidAddress);
    EXPECT_EQ(std::get<Refusal>(invite("guest@exa\nmple.com", true)), Refusal::invalidAddress);
    // Nothing else is checked about the address.
    EXPECT_TRUE(std::holds_alternative<MeetingShareRequest>(invite("@", true)));
    EXPECT_TRUE(std::holds_alternative<MeetingShareRequest>(invite("a b@c\td", true)));
}

} // namespace
} // namespace nuvel
