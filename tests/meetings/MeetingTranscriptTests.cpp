#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using Code = json::JsonError::Code;
using test::decodeFailure;
using test::edited;

MeetingWord word(std::string id, std::int64_t start, std::int64_t end) {
    return MeetingWord{std::move(id), "x", start, end, std::nullopt, std::nullopt};
}

MeetingTranscriptDocument documentWith(std::vector<MeetingWord> words) {
    MeetingAccess access{"owner", "workspace", {}};
    return MeetingTranscriptDocument::make("corrected", 2, 1000, MeetingTranscript{1, std::move(words), {}},
                                           access);
}

TEST(MeetingTranscript, GoldenRoundTrip) {
    auto doc = test::expectGoldenRoundTrip<MeetingTranscriptDocument>("transcript.json");
    EXPECT_EQ(doc.layer, "corrected");
    EXPECT_EQ(doc.revision, 3);
    EXPECT_EQ(doc.original_revision, 1);
    EXPECT_EQ(doc.duration_ms, 900);
    ASSERT_EQ(doc.transcript.words.size(), 3u);
    const MeetingWord& second = doc.transcript.words[1];
    EXPECT_EQ(second.start_ms, 500);
    EXPECT_EQ(second.end_ms, 900);
    EXPECT_EQ(second.speaker, "S2");
    EXPECT_EQ(second.overlap, true);
    EXPECT_EQ(doc.transcript.words[2].speaker, std::nullopt);
    EXPECT_EQ(doc.speakerLabel("S1"), "Ada");
    ASSERT_TRUE(doc.speaker_warning.has_value());
    EXPECT_EQ(*(*doc.speaker_warning)["code"]->stringValue(), "low_confidence");
    ASSERT_TRUE(doc.corrections.has_value());
    EXPECT_EQ(doc.corrections->arrayValue()->size(), 1u);
    EXPECT_TRUE(doc.access.canEdit());
    EXPECT_EQ(MeetingTranscriptDocument::decode(doc.encode()), doc);
}

TEST(MeetingTranscript, OptionalWordFieldsAndOpenParts) {
    for (const auto& replacement :
         {std::optional<json::Value>(), std::optional<json::Value>(json::Value())}) {
        auto doc = MeetingTranscriptDocument::decode(
            edited("transcript.json", "/transcript/words/1/speaker", replacement));
        EXPECT_EQ(doc.transcript.words[1].speaker, std::nullopt);
        doc = MeetingTranscriptDocument::decode(
            edited("transcript.json", "/transcript/words/1/overlap", replacement));
        EXPECT_EQ(doc.transcript.words[1].overlap, std::nullopt);
        EXPECT_EQ(doc.transcript.words[1].encode(),
                  R"({"id":"w2","text":"világ","start_ms":500,"end_ms":900,"speaker":"S2"})");

        // A null open-ended part is absent, not the null case, and is left out again.
        doc = MeetingTranscriptDocument::decode(edited("transcript.json", "/speaker_warning", replacement));
        EXPECT_EQ(doc.speaker_warning, std::nullopt);
        EXPECT_FALSE(json::parse(doc.encode()).contains("speaker_warning"));
    }
    auto ok =
        MeetingTranscriptDocument::decode(edited("transcript.json", "/speaker_warning", json::Value("ok")));
    EXPECT_EQ(ok.speaker_warning, MeetingJSON::string("ok"));
    auto empty =
        MeetingTranscriptDocument::decode(edited("transcript.json", "/corrections", json::Value::array()));
    EXPECT_EQ(empty.corrections, MeetingJSON::array({}));
    EXPECT_EQ(MeetingTranscriptDocument::decode(
                  edited("transcript.json", "/transcript/speakers", json::Value::object()))
                  .transcript.speakers.size(),
              0u);
}

TEST(MeetingTranscript, AMalformedWordOrSpeakerFailsTheDocument) {
    EXPECT_EQ(decodeFailure<MeetingTranscriptDocument>(
                  edited("transcript.json", "/transcript/words/0/end_ms", std::nullopt)),
              Code::missingKey);
    EXPECT_EQ(decodeFailure<MeetingTranscriptDocument>(
                  edited("transcript.json", "/transcript/words/0/start_ms", json::Value("100"))),
              Code::wrongType);
    EXPECT_EQ(test::failurePath<MeetingTranscriptDocument>(
                  edited("transcript.json", "/transcript/speakers/S2/label", std::nullopt)),
              "$.transcript.speakers.S2.label");
    EXPECT_EQ(decodeFailure<MeetingTranscriptDocument>(
                  edited("transcript.json", "/transcript/words/0/overlap", json::Value(1))),
              Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingTranscriptDocument>(
                  edited("transcript.json", "/duration_ms", json::Value(1.25))),
              Code::outOfRange);
    EXPECT_EQ(decodeFailure<MeetingTranscriptDocument>(edited("transcript.json", "/access", std::nullopt)),
              Code::missingKey);
}

TEST(MeetingTranscript, WordAtAPosition) {
    auto doc = documentWith({word("a", 0, 500), word("b", 500, 900)});
    EXPECT_EQ(doc.word(0)->id, "a");
    EXPECT_EQ(doc.word(499)->id, "a");
    EXPECT_EQ(doc.word(500)->id, "b"); // half-open: the end belongs to the next word
    EXPECT_EQ(doc.word(899)->id, "b");
    EXPECT_EQ(doc.word(900), nullptr);
    EXPECT_EQ(doc.word(-1), nullptr);

    // A word starting before zero is skipped even where it spans the position; an empty or
    // reversed word never matches; overlapping words go to the first in transcript order.
    auto odd = documentWith({word("neg", -20, 100), word("empty", 10, 10), word("rev", 30, 20),
                             word("x", 0, 50), word("y", 0, 80)});
    EXPECT_EQ(odd.word(5)->id, "x");
    EXPECT_EQ(odd.word(10)->id, "x");
    EXPECT_EQ(odd.word(25)->id, "x");
    EXPECT_EQ(odd.word(60)->id, "y");
    EXPECT_EQ(odd.word(90), nullptr);
    EXPECT_EQ(documentWith({}).word(0), nullptr);
    EXPECT_EQ(documentWith({word("max", 0, std::numeric_limits<std::int64_t>::max())})
                  .word(std::numeric_limits<std::int64_t>::max() - 1)
                  ->id,
              "max");
}

TEST(MeetingTranscript, SpeakerLabelAndTiming) {
    auto doc = MeetingTranscriptDocument::decode(test::golden("transcript.json"));
    EXPECT_EQ(doc.speakerLabel(std::nullopt), "");
    EXPECT_EQ(doc.speakerLabel("S9"), "");
    EXPECT_EQ(doc.speakerLabel("S2"), ""); // present with an empty label

    EXPECT_FALSE(word("w", 400, 400).hasTiming());
    EXPECT_FALSE(word("w", 500, 400).hasTiming());
    EXPECT_FALSE(word("w", -1, 400).hasTiming());
    EXPECT_TRUE(word("w", 0, 1).hasTiming());
}

TEST(MeetingTranscript, EqualityAndTheConvenienceConstructor) {
    auto a = MeetingTranscriptDocument::decode(test::golden("transcript.json"));
    // Speakers written in another order, and a label in another normal form, are the same.
    auto b =
        MeetingTranscriptDocument::decode(edited("transcript.json", "/transcript/speakers",
                                                 json::parse(R"({"S2":{"label":""},"S1":{"label":"Ada"}})")));
    EXPECT_EQ(a, b);
    auto c = a;
    c.transcript.words[1].text = "vila\xCC\x81g";
    EXPECT_EQ(a, c);
    std::swap(c.transcript.words[0], c.transcript.words[1]);
    EXPECT_FALSE(a == c);
    auto d = a;
    d.corrections.reset();
    EXPECT_FALSE(a == d);

    auto made = documentWith({word("a", 0, 1)});
    EXPECT_EQ(made.contract_version, 1);
    EXPECT_EQ(made.original_revision, 1);
    EXPECT_EQ(made.revision, 2);
    EXPECT_EQ(made.duration_ms, 1000);
    EXPECT_FALSE(made.speaker_warning || made.corrections);
}

} // namespace
} // namespace nuvel
