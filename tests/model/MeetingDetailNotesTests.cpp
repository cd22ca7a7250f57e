// Notes of the detail screen: section titles, evidence in the transcript, and the notes text
// with its citation keys and chips.
#include "Nuvel/model/detail/MeetingDetailNotes.hpp"
#include "tests/model/MeetingDetailFixtures.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

using namespace nuvel::test;
using namespace nuvel::meetingdetail;
using Evidence = MeetingDetailSnapshot::Evidence;
using Note = MeetingDetailSnapshot::Note;

MeetingNoteBlock block(std::string kind, std::optional<std::int64_t> ms,
                       std::optional<std::string> wordID = {}, std::optional<std::string> layer = {},
                       bool flagged = false) {
    return MeetingNoteBlock{"meeting", std::move(kind),   "text",          ms,
                            flagged,   std::move(wordID), std::move(layer)};
}

TEST(MeetingDetailNotes, TitlesAndFlaggedText) {
    const std::vector<MeetingNoteBlock> blocks = {
        block("action_items", {}),   block("decisions", {}),
        block("open_proposals", {}), block("quotes", {}),
        block("summary", {}),        block("also_discussed", {}),
        block("risks", {}),          block("Summary", {}, {}, {}, true)};
    const auto notes = makeNotes(blocks, {}, "2", "raw");
    std::vector<std::string> titles;
    for (const Note& note : notes) {
        titles.push_back(note.title);
        EXPECT_EQ(note.origin, "generated");
        EXPECT_TRUE(note.evidence.empty());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Action items", "Decisions", "Open proposals", "Quotes",
                                                "Summary", "Also discussed", "Notes", "Notes"}));
    EXPECT_EQ(notes[0].text, "text");
    EXPECT_EQ(notes[7].text, "Needs review \u00B7 text");
}

TEST(MeetingDetailNotes, EvidenceFromACitedWordOrACitedMoment) {
    const auto words = snapshotWordsOf({word("a", "x", 60500, 61200), word("b", "x", 62000, 62400),
                                        word("c", "x", 73000, 73400), word("d", "x", 7500, 8000),
                                        word("a", "duplicate id", 90000, 90400)});
    constexpr std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* name;
        MeetingNoteBlock block;
        std::optional<Evidence> expected;
    } cases[] = {
        {"a cited moment takes 12 s from its anchor", block("quotes", 61000),
         Evidence{{"a", "b"}, "2", "01:01 \u00B7 Timestamp reference", "corrected"}},
        {"a cited word of the raw layer", block("quotes", 5000, "b", "raw"),
         Evidence{{"b"}, "Original transcript \u00B7 2", "01:02 \u00B7 Source word", "raw"}},
        {"the first word of an id", block("quotes", {}, "a", "original"),
         Evidence{{"a"}, "2", "01:00 \u00B7 Source word", "original"}},
        {"a cited word without a layer takes the notes' layer", block("quotes", {}, "c"),
         Evidence{{"c"}, "2", "01:13 \u00B7 Source word", "corrected"}},
        {"an unknown word falls back to the moment", block("quotes", 73100, "zz", "raw"),
         Evidence{{"c"}, "2", "01:13 \u00B7 Timestamp reference", "corrected"}},
        {"no word starts within 2 s of the moment", block("quotes", 5000), std::nullopt},
        {"the anchor may start exactly 2 s after", block("quotes", 5500),
         Evidence{{"d"}, "2", "00:05 \u00B7 Timestamp reference", "corrected"}},
        {"no word near a moment an hour in", block("quotes", 3600000), std::nullopt},
        {"unknown word and no moment", block("quotes", {}, "zz"), std::nullopt},
        {"a moment at the end of time", block("quotes", huge), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(noteEvidence(c.block, words, "2", "corrected"), c.expected) << c.name;

    const auto late = snapshotWordsOf({word("h", "x", 3600500, 3601000)});
    EXPECT_EQ(noteEvidence(block("quotes", 3600000), late, "2", "raw")->label,
              "01:00:00 \u00B7 Timestamp reference");
    const auto endless = snapshotWordsOf({word("e", "x", huge - 10, huge)});
    EXPECT_EQ(noteEvidence(block("quotes", huge - 20), endless, "2", "raw")->wordIDs,
              std::vector<std::string>{"e"});
}

// A snapshot with the given notes and the evidence and words they cite.
MeetingDetailSnapshot withNotes(std::vector<Note> notes, std::string status = "ready") {
    MeetingDetailSnapshot snapshot;
    snapshot.notes = std::move(notes);
    snapshot.notesStatus = std::move(status);
    return snapshot;
}

TEST(MeetingDetailNotes, NotesTextKeysEveryCitation) {
    const Evidence first{{"w1"}, "2", "01:01 \u00B7 Timestamp reference", "raw"};
    const Evidence second{{"w2"}, "Original transcript \u00B7 2", "03:10 \u00B7 Source word", "raw"};
    const auto content = notesContent(withNotes(
        {Note{"Summary", "Kickoff [01:01] went well", "generated", {first}},
         Note{"Mine", "Bring coffee", "user", {}}, Note{"Quotes", "No stamp here", "generated", {second}}}));
    EXPECT_EQ(content.text.string, u"AI-generated notes. Check sources before sharing.\n"
                                   u"Summary\nKickoff \uFFFC went well\n"
                                   u"Mine \u00B7 User-authored notes\nBring coffee\n"
                                   u"Quotes\nNo stamp here \u2009\uFFFC");
    EXPECT_EQ(content.evidenceRanges, (std::map<std::string, Evidence>{{"0-0", first}, {"2-0", second}}));
    EXPECT_FALSE(content.showTranscript);
    EXPECT_FALSE(content.text.rightToLeft);

    std::vector<DetailTextRun> chips;
    for (const auto& run : content.text.runs)
        if (run.chip)
            chips.push_back(run);
    ASSERT_EQ(chips.size(), 2u);
    EXPECT_EQ(chips[0].style.link, "nuvel-evidence:0-0");
    EXPECT_EQ(chips[0].style.tooltip,
              "Source \u00B7 01:01 \u00B7 Timestamp reference \u00B7 Source revision: 2");
    EXPECT_EQ(chips[0].chip, (DetailChip{"01:01", "[01:01]"}));
    EXPECT_EQ(chips[1].style.link, "nuvel-evidence:2-0");
    EXPECT_EQ(chips[1].chip, (DetailChip{"03:10", "03:10"}));
    // The disclaimer is secondary; after it, links take the link colour and the rest the label's.
    EXPECT_EQ(content.text.runs.front().style.color, DetailColor::secondaryLabel);
    for (std::size_t i = 1; i < content.text.runs.size(); ++i) {
        const auto& style = content.text.runs[i].style;
        EXPECT_EQ(style.color, style.link.empty() ? DetailColor::label : DetailColor::link) << i;
    }

    // Paragraph styles at the start of the disclaimer, a header and a body.
    EXPECT_EQ(content.text.paragraphStyleAt(0), (DetailParagraphStyle{0, 6, 3, true}));
    EXPECT_EQ(content.text.paragraphStyleAt(50), (DetailParagraphStyle{14, 4, 3, true}));
    EXPECT_EQ(content.text.paragraphStyleAt(58), (DetailParagraphStyle{0, 4, 3}));
}

TEST(MeetingDetailNotes, WithoutNotesTheStatusSentenceShowsAndTheTranscriptTabOpens) {
    const auto content = notesContent(withNotes({}, "disabled"));
    EXPECT_EQ(content.text.string, u"AI notes are disabled for this meeting.");
    EXPECT_TRUE(content.showTranscript);
    EXPECT_EQ(content.text.runs.front().style.color, DetailColor::secondaryLabel);
    EXPECT_EQ(content.text.paragraphStyleAt(0), (DetailParagraphStyle{0, 0, 3}));
    // Only user-authored notes: no disclaimer.
    const auto mine = notesContent(withNotes({Note{"Mine", "Hello", "user", {}}}));
    EXPECT_EQ(mine.text.string, u"Mine \u00B7 User-authored notes\nHello");
    // The direction follows the notes' own texts.
    DetailLocale arabicFirst;
    arabicFirst.preferredLanguages = {"ar-EG"};
    EXPECT_TRUE(notesContent(withNotes({Note{"Notes", "\u0645\u0631\u062D\u0628\u0627 ok", "generated", {}}}))
                    .text.rightToLeft);
    EXPECT_TRUE(
        notesContent(withNotes({Note{"Notes", "1234", "generated", {}}}), arabicFirst).text.rightToLeft);
}

TEST(MeetingDetailNotes, SnapshotCitesTheWordsOfItsNoteBlocks) {
    NativeMeetingDocument document =
        meetingOf({word("w1", "Send", 60500, 61200), word("w2", "budget", 62000, 62400),
                   word("w3", "later", 73000, 73400)});
    document.notes = notesDocument(
        R"({"meeting": {"status": "flagged", "output": {"action_items": [{"task": "Send it", "timestamp": "1:01"},
                                                                      {"task": "Review"}]}}})",
        R"([{"template": "meeting", "path": "/output/action_items/1", "start_ms": 0, "word_id": "w3", "source_layer": "corrected"}])");
    const auto snapshot = MeetingDetailSnapshot::make(document, nullptr);
    EXPECT_EQ(
        snapshot.notes,
        (std::vector<Note>{Note{"Action items",
                                "Needs review \u00B7 Send it",
                                "generated",
                                {Evidence{{"w1", "w2"}, "2", "01:01 \u00B7 Timestamp reference", "raw"}}},
                           Note{"Action items",
                                "Needs review \u00B7 Review",
                                "generated",
                                {Evidence{{"w3"}, "2", "01:13 \u00B7 Source word", "corrected"}}}}));
    EXPECT_EQ(notesContent(snapshot).evidenceRanges.count("1-0"), 1u);
}

} // namespace
} // namespace nuvel
