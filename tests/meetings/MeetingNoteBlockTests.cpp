#include "NuvelKit/meetings/MeetingNoteBlock.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {
namespace {

using MeetingExport::noteBlocks;
using MeetingExport::stampMilliseconds;

// A notes document with AI notes on, the given notes JSON and evidence list.
MeetingNotesDocument notesWith(const std::string& notes, const std::string& evidence = "null",
                               bool aiNotes = true) {
    return MeetingNotesDocument::decode(
        std::string(R"({"ai_notes":)") + (aiNotes ? "true" : "false") + R"(,"notes":)" + notes +
        R"(,"provenance":{"source_layer":"raw","source_revision":1,"corrected_revision":1,"stale_text":false},)" +
        R"("evidence":)" + evidence + "}");
}

std::vector<std::string> texts(const std::vector<MeetingNoteBlock>& blocks) {
    std::vector<std::string> out;
    for (const auto& block : blocks)
        out.push_back(block.text);
    return out;
}

using Texts = std::vector<std::string>;
constexpr std::int64_t second = 1000;

TEST(MeetingStamp, AcceptsMinutesSecondsAndHours) {
    EXPECT_EQ(stampMilliseconds("4:05"), 245 * second);
    EXPECT_EQ(stampMilliseconds("02:30"), 150 * second);
    EXPECT_EQ(stampMilliseconds("1:02:03"), 3723 * second);
    EXPECT_EQ(stampMilliseconds("1:2:3"), 3723 * second);
    EXPECT_EQ(stampMilliseconds("75:30"), (75 * 60 + 30) * second); // the first piece is unbounded
    EXPECT_EQ(stampMilliseconds("0:00"), 0);
    EXPECT_EQ(stampMilliseconds("00059:59"), 3599 * second);
}

TEST(MeetingStamp, RefusesMalformedText) {
    for (const char* bad : {"",
                            "405",
                            "1:2:3:4",
                            ":05",
                            "4:",
                            "1::05",
                            "-1:05",
                            "4:-5",
                            "4:05 ",
                            " 4:05",
                            "+4:05",
                            "4:60",
                            "1:60:00",
                            "2:30:61",
                            "2:75:00",
                            "4:5a",
                            "4.5:00",
                            "0x1:00",
                            "\xD9\xA4:\xD9\xA0\xD9\xA5", // Arabic-Indic digits
                            "\xEF\xBC\x94:05"})          // fullwidth digit four
        EXPECT_FALSE(stampMilliseconds(bad)) << bad;
}

TEST(MeetingStamp, LargestValueAndOverflow) {
    constexpr std::int64_t maxSeconds = 9223372036854775; // INT64_MAX / 1000
    // 153722867280912 * 60 + 55 and 2562047788015 * 3600 + 12 * 60 + 55 are that many seconds.
    EXPECT_EQ(stampMilliseconds("153722867280912:55"), maxSeconds * 1000);
    EXPECT_EQ(stampMilliseconds("2562047788015:12:55"), maxSeconds * 1000);
    EXPECT_EQ(stampMilliseconds("9223372036854775:00:00"), std::nullopt);
    EXPECT_FALSE(stampMilliseconds("153722867280912:56"));
    EXPECT_FALSE(stampMilliseconds("2562047788015:12:56"));
    EXPECT_FALSE(stampMilliseconds("153722867280913:00"));
    // A piece that fits an Int64 but whose seconds do not fit in milliseconds, and one beyond Int64.
    EXPECT_FALSE(stampMilliseconds("9223372036854775807:00"));
    EXPECT_FALSE(stampMilliseconds("0:9223372036854775807"));
    EXPECT_FALSE(stampMilliseconds("9223372036854775808:00"));
    EXPECT_FALSE(stampMilliseconds("99999999999999999999999999:00:00"));
}

TEST(MeetingNoteBlocks, TemplatesInKeyOrderSkippingUnusableOnes) {
    auto blocks = noteBlocks(notesWith(R"({
        "b": {"output": {"markdown": "from b"}},
        "a": {"output": {"markdown": "from a"}},
        "enhanced": {"output": {"markdown": "never"}},
        "no_output": {"status": "flagged"},
        "string_output": {"output": "text"},
        "not_an_entry": ["output"],
        "\u00e9": {"output": {"markdown": "precomposed"}},
        "e\u0301x": {"output": {"markdown": "decomposed"}}})"));
    // "é" sorts after "b" in code point order; "e" + combining acute + "x" is canonically "éx".
    EXPECT_EQ(texts(blocks), (Texts{"from a", "from b", "precomposed", "decomposed"}));
    EXPECT_EQ(blocks[0].template_, "a");
    EXPECT_EQ(blocks[0].kind, "summary");
    EXPECT_FALSE(blocks[0].flagged);

    EXPECT_TRUE(noteBlocks(notesWith(R"({"a": {"output": {"markdown": "x"}}})", "null", false)).empty());
    EXPECT_TRUE(noteBlocks(notesWith(R"(["a"])")).empty());
    EXPECT_TRUE(noteBlocks(notesWith("null")).empty());
}

TEST(MeetingNoteBlocks, SummaryLinesAndTheirCitations) {
    auto blocks = noteBlocks(notesWith(R"({"t": {"status": "flagged", "output": {"markdown":
        " Budget [4:05] \n\n   \nPlan [1:02:03] then [0:10]\r\nBad [12:75]\u2028Short [4:5]\u000bLocal [\u0664:\u0660\u0665] [4:05]\f\t\u3000\u0085x"}}})"));
    EXPECT_EQ(texts(blocks), (Texts{" Budget [4:05] ", "Plan [1:02:03] then [0:10]", "Bad [12:75]",
                                    "Short [4:5]", "Local [\u0664:\u0660\u0665] [4:05]", "x"}));
    ASSERT_EQ(blocks.size(), 6u);
    EXPECT_EQ(blocks[0].evidenceMS, 245 * second);
    EXPECT_EQ(blocks[1].evidenceMS, 3723 * second); // only the first citation counts
    EXPECT_EQ(blocks[2].evidenceMS, std::nullopt);  // 75 seconds
    EXPECT_EQ(blocks[3].evidenceMS, std::nullopt);  // one digit after the colon
    EXPECT_EQ(blocks[4].evidenceMS, std::nullopt);  // the first citation is not in ASCII digits
    for (const auto& block : blocks) {
        EXPECT_TRUE(block.flagged);
        EXPECT_EQ(block.evidenceWordID, std::nullopt);
        EXPECT_EQ(block.sourceLayer, std::nullopt);
    }
}

TEST(MeetingNoteBlocks, ItemTextsAndDetails) {
    auto blocks = noteBlocks(notesWith(R"({"t": {"output": {
        "action_items": [
            {"task": "", "text": "skipped: the empty task decides"},
            {"task": 4, "text": "from text", "owner": "Ada", "deadline": ""},
            "not an object", {}, {"owner": "no main text"}],
        "decisions": [{"decision": "Ship", "owner": 3, "decided_by": "Ben", "why": "", "rationale": " cost "}],
        "open_proposals": [{"proposal": "Move", "proposed_by": "Cy", "speaker": "Di"}],
        "quotes": {"0": {"quote": "not an array"}},
        "also_discussed": [{"text": "Hiring", "why": "growth", "decided_by": "first"}]}}})"));
    EXPECT_EQ(texts(blocks),
              (Texts{"from text \u00B7 owner: Ada", "Ship \u00B7 decided_by: Ben \u00B7 rationale:  cost ",
                     "Move \u00B7 proposed_by: Cy \u00B7 speaker: Di",
                     "Hiring \u00B7 decided_by: first \u00B7 why: growth"}));
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].kind, "action_items");
    EXPECT_EQ(blocks[1].kind, "decisions");
    EXPECT_EQ(blocks[2].kind, "open_proposals");
    EXPECT_EQ(blocks[3].kind, "also_discussed");
}

TEST(MeetingNoteBlocks, EvidenceByTemplateAndPathThenTimestamps) {
    const std::string evidence = R"([
        {"template": "other", "path": "/output/quotes/1", "start_ms": 1, "word_id": "x", "source_layer": "raw"},
        {"template": "t", "path": "/output/quotes/1", "start_ms": 2500, "word_id": "w7", "source_layer": "corrected"},
        {"template": "t", "path": "/output/quotes/1", "start_ms": 9999, "word_id": "w8", "source_layer": "raw"},
        {"template": "t", "path": "/output/quotes/0", "start_ms": 5, "word_id": "w0", "source_layer": "raw"},
        {"template": "t", "path": "/output/decisions/0", "start_ms": -40, "word_id": "w1", "source_layer": "raw"}])";
    auto blocks = noteBlocks(notesWith(R"({"t": {"output": {
        "decisions": [{"decision": "cited", "timestamp": "9:00"}, {"decision": "stamped", "timestamp": "02:30"},
                      {"decision": "bad stamp", "timestamp": "2:30:61"}, {"decision": "number stamp", "timestamp": 150}],
        "quotes": [{"quote": ""}, {"quote": "second", "timestamp": "1:00"}]}}})",
                                       evidence));
    ASSERT_EQ(texts(blocks), (Texts{"cited", "stamped", "bad stamp", "number stamp", "second"}));
    // A matching record wins over the item's own timestamp, and its position is taken as it is.
    EXPECT_EQ(blocks[0].evidenceMS, -40);
    EXPECT_EQ(blocks[0].evidenceWordID, "w1");
    EXPECT_EQ(blocks[1].evidenceMS, 150 * second);
    EXPECT_EQ(blocks[1].evidenceWordID, std::nullopt);
    EXPECT_EQ(blocks[1].sourceLayer, std::nullopt);
    EXPECT_EQ(blocks[2].evidenceMS, std::nullopt);
    EXPECT_EQ(blocks[3].evidenceMS, std::nullopt);
    // The skipped first quote keeps its position: the second matches /output/quotes/1, first record.
    EXPECT_EQ(blocks[4], (MeetingNoteBlock{"t", "quotes", "second", 2500, false, std::string("w7"),
                                           std::string("corrected")}));
}

} // namespace
} // namespace nuvel
