#include "NuvelKit/meetings/MeetingCorrection.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace nuvel {
namespace {

using Code = json::JsonError::Code;
using test::decodeFailure;

std::vector<std::string> keysOf(const std::string& encoded) {
    std::vector<std::string> keys;
    const json::Ordered object = json::Ordered::parse(encoded);
    for (const auto& [key, value] : object.items())
        keys.push_back(key);
    return keys;
}

TEST(MeetingRevision, GoldenRequestAndResult) {
    auto request = test::expectGoldenRoundTrip<MeetingRevisionRequest>("revision-request.json");
    EXPECT_EQ(request.revision, 12);
    ASSERT_EQ(request.operations.size(), 3u);
    EXPECT_EQ(request.operations[0], MeetingRevisionOperation::wordText("w1", "Hello"));
    EXPECT_EQ(request.operations[1], MeetingRevisionOperation::speakerLabel("S2", "Grace"));
    EXPECT_EQ(request.operations[2], MeetingRevisionOperation::wordSpeaker("w2", "S1"));

    auto result = test::expectGoldenRoundTrip<MeetingRevisionResult>("revision-result.json");
    EXPECT_EQ(result.revision, 13);
    EXPECT_EQ(result.operation_id, request.operation_id);
    EXPECT_FALSE(result.replayed);
}

TEST(MeetingRevision, OperationsCarryOnlyTheirKindsFields) {
    EXPECT_EQ(keysOf(MeetingRevisionOperation::speakerLabel("S1", "Ada").encode()),
              (std::vector<std::string>{"type", "speaker_id", "label"}));
    EXPECT_EQ(keysOf(MeetingRevisionOperation::wordText("w", "t").encode()),
              (std::vector<std::string>{"type", "word_id", "text"}));
    EXPECT_EQ(keysOf(MeetingRevisionOperation::wordSpeaker("w", "S").encode()),
              (std::vector<std::string>{"type", "word_id", "speaker_id"}));

    // Decoding does not ask for the fields a kind needs, and reads any kind.
    auto noText = MeetingRevisionOperation::decode(R"({"type":"word_text","word_id":"w"})");
    EXPECT_EQ(noText.text, std::nullopt);
    EXPECT_EQ(MeetingRevisionOperation::decode(R"({"type":"word_text","word_id":null})").word_id,
              std::nullopt);
    EXPECT_EQ(MeetingRevisionOperation::decode(R"({"type":"merge"})").type, "merge");
    EXPECT_EQ(decodeFailure<MeetingRevisionOperation>(R"({"type":"word_text","word_id":7})"),
              Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingRevisionOperation>(R"({"word_id":"w"})"), Code::missingKey);

    EXPECT_EQ(decodeFailure<MeetingRevisionRequest>(R"({"operation_id":"a","revision":3.5,"operations":[]})"),
              Code::outOfRange);
    EXPECT_EQ(decodeFailure<MeetingRevisionResult>(R"({"revision":1,"operation_id":"a","replayed":1})"),
              Code::wrongType);
    EXPECT_FALSE(MeetingRevisionOperation::wordText("w", "t") ==
                 MeetingRevisionOperation::wordSpeaker("w", "t"));
    EXPECT_EQ(MeetingRevisionOperation::wordText("w", "Caf\xC3\xA9"),
              MeetingRevisionOperation::wordText("w", "Cafe\xCC\x81"));
}

TEST(MeetingCorrection, RevisionText) {
    EXPECT_EQ(parseMeetingRevision("12"), 12);
    EXPECT_EQ(parseMeetingRevision("+12"), 12);
    EXPECT_EQ(parseMeetingRevision("-3"), -3);
    EXPECT_EQ(parseMeetingRevision("007"), 7);
    EXPECT_EQ(parseMeetingRevision("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(parseMeetingRevision("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    for (const char* bad : {"", "+", "-", "12a", " 12", "12 ", "+-3", "--3", "1.0", "9223372036854775808",
                            "-9223372036854775809", "12345678901234567890", "\xD9\xA1\xD9\xA2"})
        EXPECT_EQ(parseMeetingRevision(bad), std::nullopt) << bad;
}

TEST(MeetingCorrection, BecomesOperations) {
    auto word = MeetingCorrection::word("w1", "Hello").revisionOperations();
    EXPECT_EQ(word, std::vector{MeetingRevisionOperation::wordText("w1", "Hello")});
    auto rename = MeetingCorrection::renameSpeaker("S1", "Ada").revisionOperations();
    EXPECT_EQ(rename, std::vector{MeetingRevisionOperation::speakerLabel("S1", "Ada")});

    // One word_speaker per chosen word, in the order of the list, all with the same speaker.
    auto assign = MeetingCorrection::assignSpeaker({"w3", "w1", "w2"}, "S2").revisionOperations();
    EXPECT_EQ(assign, (std::vector{MeetingRevisionOperation::wordSpeaker("w3", "S2"),
                                   MeetingRevisionOperation::wordSpeaker("w1", "S2"),
                                   MeetingRevisionOperation::wordSpeaker("w2", "S2")}));
    EXPECT_TRUE(MeetingCorrection::assignSpeaker({}, "S2").revisionOperations().empty());
}

TEST(MeetingCorrection, BecomesARequestUnderAFreshKeptKey) {
    const std::regex lowerUuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    auto correction = MeetingCorrection::assignSpeaker({"w1", "w2"}, "S1");

    auto request = makeRevisionRequest(correction, "+12");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->revision, 12);
    EXPECT_TRUE(std::regex_match(request->operation_id, lowerUuid)) << request->operation_id;
    EXPECT_EQ(request->operations.size(), 2u);

    // Each correction gets its own key.
    std::set<std::string> keys{request->operation_id};
    for (int i = 0; i < 20; ++i)
        keys.insert(makeRevisionRequest(correction, "12")->operation_id);
    EXPECT_EQ(keys.size(), 21u);

    // Sent again, from memory or from its draft, the pending request is the same bytes.
    const std::string sent = request->encode();
    EXPECT_EQ(request->encode(), sent);
    MeetingRevisionRequest fromDraft = MeetingRevisionRequest::decode(sent);
    EXPECT_EQ(fromDraft, *request);
    EXPECT_EQ(fromDraft.encode(), sent);

    for (const char* bad : {"", "+", "12a", "99999999999999999999"})
        EXPECT_EQ(makeRevisionRequest(correction, bad), std::nullopt) << bad;

    auto id = Uuid::parse("3F2C8D1E-6A4B-4C1D-9E2F-0A1B2C3D4E5F");
    EXPECT_EQ(MeetingRevisionRequest::make(*id, 1, {}).operation_id, "3f2c8d1e-6a4b-4c1d-9e2f-0a1b2c3d4e5f");
}

} // namespace
} // namespace nuvel
