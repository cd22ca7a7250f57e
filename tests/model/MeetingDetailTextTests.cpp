// The detail screen's transcript text and stamps: chips in note text, link values, selected
// words, jumps to a time or to a citation's words.
#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/DetailStamps.hpp"
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"
#include "tests/model/MeetingDetailFixtures.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace nuvel {
namespace {

using namespace nuvel::test;
using namespace nuvel::meetingdetail;

TEST(MeetingDetailStamps, SecondsOfAStamp) {
    const struct {
        const char* stamp;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"1:05", 65},
        {"01:01", 61},
        {"1:02:03", 3723},
        {"1:75", 135},
        {"0:00", 0},
        {"1::05", 65},
        {":1:05:", 65},
        {"+1:05", 65},
        {"1:-5", 55},
        {"5", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"", std::nullopt},
        {"::", std::nullopt},
        {"1:5a", std::nullopt},
        {"1: 5", std::nullopt},
        {"+-1:05", std::nullopt},
        {"\xD9\xA1:\xD9\xA0\xD9\xA5", std::nullopt}, // Arabic-Indic digits are not decimal here
        {"153722867280912930:07", std::numeric_limits<std::int64_t>::max()},
        {"153722867280912930:08", std::nullopt}, // beyond an Int64 of seconds
        {"153722867280912931:00", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stampSeconds(c.stamp), c.seconds) << c.stamp;
}

std::vector<DetailTextRun> chipsOf(const DetailText& text) {
    std::vector<DetailTextRun> chips;
    for (const auto& run : text.runs)
        if (run.chip)
            chips.push_back(run);
    return chips;
}

TEST(MeetingDetailStamps, NoteBodyTurnsStampsIntoChips) {
    const NoteCitation at042{"0:42", "nuvel-evidence:0-0", "first"},
        at310{"3:10", "nuvel-evidence:0-1", "second"};
    const struct {
        const char* name;
        std::string text;
        std::vector<NoteCitation> citations;
        std::u16string shown, copied;
        std::vector<std::pair<std::string, std::string>> chipLinks; // link, tooltip
    } cases[] = {
        {"a stamp without citations plays from its time",
         "Start [1:05] now",
         {},
         u"Start \uFFFC now",
         u"Start [1:05] now",
         {{"nuvel-time:65000", "Play from here"}}},
        {"too few or too many digits stay plain",
         "[1:5] and [123:45] and [1:05:5]",
         {},
         u"[1:5] and [123:45] and [1:05:5]",
         u"[1:5] and [123:45] and [1:05:5]",
         {}},
        {"a cited stamp in place, the other appended",
         "Budget [0:42].",
         {at042, at310},
         u"Budget \uFFFC. \u2009\uFFFC",
         u"Budget [0:42]. \u20093:10",
         {{"nuvel-evidence:0-0", "first"}, {"nuvel-evidence:0-1", "second"}}},
        {"equal values meet the first citation",
         "[00:42] then [0:42] and [3:10]",
         {at042, at310},
         u"\uFFFC then \uFFFC and \uFFFC",
         u"[00:42] then [0:42] and [3:10]",
         {{"nuvel-evidence:0-0", "first"},
          {"nuvel-evidence:0-0", "first"},
          {"nuvel-evidence:0-1", "second"}}},
        {"hours, minutes and seconds",
         "[1:00:00]",
         {},
         u"\uFFFC",
         u"[1:00:00]",
         {{"nuvel-time:3600000", "Play from here"}}},
        {"stamps in other digits stay as typed",
         "[\xD9\xA1:\xD9\xA0\xD9\xA5] [1:75]",
         {},
         u"[\u0661:\u0660\u0665] \uFFFC",
         u"[\u0661:\u0660\u0665] [1:75]",
         {{"nuvel-time:135000", "Play from here"}}},
        {"only citations", "", {at310}, u" \u2009\uFFFC", u" \u20093:10", {{"nuvel-evidence:0-1", "second"}}},
    };
    for (const auto& c : cases) {
        const DetailText body = noteBodyText(c.text, c.citations);
        EXPECT_EQ(body.string, c.shown) << c.name;
        EXPECT_EQ(body.plainTextWithStamps(), c.copied) << c.name;
        std::vector<std::pair<std::string, std::string>> links;
        for (const auto& chip : chipsOf(body)) {
            links.emplace_back(chip.style.link, chip.style.tooltip);
            EXPECT_EQ(body.string[chip.range.location], objectReplacementCharacter) << c.name;
        }
        EXPECT_EQ(links, c.chipLinks) << c.name;
        for (const auto& run : body.runs)
            EXPECT_EQ(run.style.font, (DetailFont{14, false})) << c.name;
    }
}

TEST(MeetingDetailStamps, LinksAskForATimeOrACitation) {
    const struct {
        const char* link;
        DetailLink expected;
    } cases[] = {
        {"nuvel-time:65000", TimeLink{65000}},
        {"nuvel-time:-5", TimeLink{-5}},
        {"nuvel-time:12a", std::monostate{}},
        {"nuvel-time:", std::monostate{}},
        {"nuvel-time:99999999999999999999", std::monostate{}},
        {"nuvel-evidence:0-0", EvidenceLink{"0-0"}},
        {"nuvel-evidence:", EvidenceLink{""}},
        {"https://example.com", std::monostate{}},
        {"NUVEL-TIME:5", std::monostate{}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDetailLink(c.link), c.expected) << c.link;
    EXPECT_EQ(parseDetailLink(timeLink(42)), DetailLink(TimeLink{42}));
    EXPECT_EQ(parseDetailLink(evidenceLink("3-1")), DetailLink(EvidenceLink{"3-1"}));
}

MeetingDetailSnapshot shown(std::vector<MeetingWord> words) {
    return MeetingDetailSnapshot::make(meetingOf(std::move(words)), nullptr);
}

TEST(MeetingDetailTranscript, SpeakerBlocksWordRangesAndCorrections) {
    NativeMeetingDocument document =
        meetingOf({word("w1", "Hello", 1500, 1900, "S1"), word("w2", "w\u00F6rld", 2000, 2400, "S1"),
                   word("w3", "ok", -1500, 10, "S3"), word("w4", "fine", 65000, 65100)});
    document.transcript.corrections = MeetingJSON::decode(R"([{"id": "w2", "from": "word"}])");
    const auto content = transcriptContent(MeetingDetailSnapshot::make(document, nullptr));
    const DetailText& text = content.text;
    EXPECT_EQ(text.string, u"Ada \u00B7 0:01\nHello w\u00F6rld\nUnnamed speaker \u00B7 0:00\nok\nUnnamed "
                           u"speaker \u00B7 1:05\nfine");
    EXPECT_EQ(content.wordRanges,
              (WordRanges{{"w1", {11, 5}}, {"w2", {17, 5}}, {"w3", {46, 2}}, {"w4", {72, 4}}}));

    const DetailStyle header{DetailFont{12, true}, DetailColor::secondaryLabel, false, {}, {}};
    const DetailStyle words{DetailFont{15, false}, DetailColor::label, false, {}, {}};
    DetailStyle corrected = words;
    corrected.underline = true;
    corrected.tooltip = "Corrected transcript: word";
    ASSERT_GE(text.runs.size(), 4u);
    EXPECT_EQ(text.runs[0], (DetailTextRun{{0, 11}, header, std::nullopt}));
    EXPECT_EQ(text.runs[1], (DetailTextRun{{11, 6}, words, std::nullopt})); // "Hello " merges with its space
    EXPECT_EQ(text.runs[2], (DetailTextRun{{17, 5}, corrected, std::nullopt}));
    EXPECT_EQ(text.paragraphStyleAt(0), (DetailParagraphStyle{0, 2, 3}));
    EXPECT_EQ(text.paragraphStyleAt(11), (DetailParagraphStyle{0, 0, 3}));
    EXPECT_EQ(text.paragraphStyleAt(23), (DetailParagraphStyle{16, 2, 3}));
    EXPECT_EQ(text.paragraphStyleAt(46), (DetailParagraphStyle{0, 0, 3}));
    EXPECT_FALSE(text.rightToLeft);

    const auto empty = transcriptContent(shown({}));
    EXPECT_EQ(empty.text.string, u"The transcript is not available yet.");
    EXPECT_TRUE(empty.wordRanges.empty());
    EXPECT_EQ(empty.text.runs.front().style.color, DetailColor::label);
}

TEST(MeetingDetailTranscript, DirectionOfTheWords) {
    const std::string arabic10 = "\u0645\u0631\u062D\u0628\u0627\u0645\u0631\u062D\u0628\u0627";
    const std::vector<std::string> english{"en-US"}, arabic{"ar-SA", "en"}, none{};
    const struct {
        const char* name;
        std::vector<std::string> texts;
        std::vector<std::string> languages;
        bool rightToLeft;
    } cases[] = {
        {"a tie for an English reader", {arabic10, "abcdeFGHIJ"}, english, false},
        {"a tie for an Arabic reader", {arabic10, "abcdeFGHIJ"}, arabic, true},
        {"a tie without languages", {arabic10, "\u00C0\u024Fabcdefgh"}, none, false},
        {"nothing of either", {"1234 !?"}, arabic, true},
        {"more Arabic", {arabic10, "abc"}, english, true},
        {"more Latin", {"\uFB50\uFEFF\u08A0", "abcd"}, arabic, false},
        {"Latin ranges end at U+024F", {"\u0250\u0250", "\u0600"}, english, true},
        {"presentation forms count as Arabic", {"\uFE70\uFDFF", "a"}, english, true},
        {"broken bytes count as neither", {"\xD9", "\xFF\xFE"}, english, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string_view> views(c.texts.begin(), c.texts.end());
        EXPECT_EQ(prefersRightToLeft(views, c.languages), c.rightToLeft) << c.name;
        std::vector<MeetingWord> words;
        for (const auto& t : c.texts)
            words.push_back(word("w" + std::to_string(words.size()), t, 0, 1));
        DetailLocale locale;
        locale.preferredLanguages = c.languages;
        EXPECT_EQ(transcriptContent(shown(words), locale).text.rightToLeft, c.rightToLeft) << c.name;
    }
}

TEST(MeetingDetailTranscript, MinuteClock) {
    const struct {
        std::int64_t ms;
        const char* text;
    } cases[] = {{0, "0:00"},
                 {-500, "0:00"},
                 {-999, "0:00"},
                 {-1000, "0:00"},
                 {999, "0:00"},
                 {65000, "1:05"},
                 {3725000, "62:05"},
                 {4500000, "75:00"},
                 {std::numeric_limits<std::int64_t>::max(), "153722867280912:55"}};
    for (const auto& c : cases)
        EXPECT_EQ(minuteClock(c.ms), c.text) << c.ms;
}

TEST(MeetingDetailTranscript, SelectedWordsAndPlayingThem) {
    // "Ada · 0:00\n" is 11 units; then "one two three" from unit 11.
    const auto snapshot = shown({word("w1", "one", 500, 900, "S1"), word("w2", "two", 1000, 1400, "S1"),
                                 word("w3", "three", 2000, 2400, "S1")});
    const auto content = transcriptContent(snapshot);
    const struct {
        const char* name;
        TextRange selection;
        std::vector<std::size_t> selected;
        std::optional<std::int64_t> playFrom;
    } cases[] = {
        {"a caret inside a word", {12, 0}, {0}, 0},
        {"a caret at the space after a word", {14, 0}, {}, std::nullopt},
        {"a caret at a word's start", {15, 0}, {1}, 250},
        {"a caret at the end of the text", {24, 0}, {}, std::nullopt},
        {"a selection of a word's last unit and the space", {13, 2}, {0}, 0},
        {"a selection of the space between words", {14, 1}, {}, std::nullopt},
        {"a selection over two words", {13, 3}, {0, 1}, 0},
        {"from the second word", {16, 100}, {1, 2}, 250},
        {"the header only", {0, 11}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto selected = selectedWords(snapshot.words, content.wordRanges, c.selection);
        EXPECT_EQ(selected, c.selected) << c.name;
        EXPECT_EQ(selectionPlayPosition(snapshot.words, selected), c.playFrom) << c.name;
    }
    EXPECT_TRUE(correctionAllowed(&snapshot, false, 1, false));
    EXPECT_FALSE(correctionAllowed(&snapshot, true, 1, false));
    EXPECT_FALSE(correctionAllowed(&snapshot, false, 0, false));
    EXPECT_FALSE(correctionAllowed(&snapshot, false, 1, true));
    EXPECT_FALSE(correctionAllowed(nullptr, false, 1, false));
    MeetingDetailSnapshot readOnly = snapshot;
    readOnly.canEdit = false;
    EXPECT_FALSE(correctionAllowed(&readOnly, false, 1, false));
}

TEST(MeetingDetailTranscript, JumpsToATimeAndToCitedWords) {
    std::vector<MeetingWord> words;
    for (int i = 0; i < 50; ++i)
        words.push_back(word("w" + std::to_string(i), "w", 1000 * i + 300, 1000 * i + 800, "S1"));
    const auto snapshot = shown(words);
    const auto content = transcriptContent(snapshot);
    const auto& ranges = content.wordRanges;

    const TimeJump middle = jumpToTime(snapshot.words, ranges, 10900);
    EXPECT_EQ(middle.selection, ranges.at("w11"));
    EXPECT_EQ(middle.playFrom, 10900);
    const TimeJump past = jumpToTime(snapshot.words, ranges, 999999);
    EXPECT_EQ(past.selection, std::nullopt);
    EXPECT_EQ(past.playFrom, 999999);

    using Evidence = MeetingDetailSnapshot::Evidence;
    const auto selection = [&](std::vector<std::string> ids) {
        return evidenceSelection(Evidence{std::move(ids), "2", "label", std::nullopt}, snapshot.words,
                                 ranges);
    };
    const auto cited = std::get<EvidenceSelection>(selection({"w40", "w10", "w11", "w12", "gone"}));
    EXPECT_EQ(cited.selection.location, ranges.at("w10").location);
    EXPECT_EQ(cited.selection.end(), ranges.at("w40").end());
    EXPECT_EQ(cited.playFrom, 10300 - 750);
    EXPECT_EQ(std::get<EvidenceSelection>(selection({"w0"})).playFrom, 0); // starts before 750 ms
    EXPECT_EQ(std::get<EvidenceRefused>(selection({"gone"})).sentence,
              "This source is not available in the current transcript revision.");
    EXPECT_TRUE(std::holds_alternative<EvidenceRefused>(selection({})));

    const struct {
        std::optional<std::string> layer;
        bool snapshotShown, originalLoaded;
        std::variant<EvidenceLayer, EvidenceRefused> expected;
    } layers[] = {
        {"raw", true, true, EvidenceLayer::original},
        {"original", true, true, EvidenceLayer::original},
        {"raw", true, false, EvidenceRefused{}},
        {"original", false, true, EvidenceRefused{}},
        {"corrected", true, false, EvidenceLayer::corrected},
        {"corrected", false, false, EvidenceLayer::keep},
        {"Raw", true, true, EvidenceLayer::keep},
        {std::nullopt, true, true, EvidenceLayer::keep},
    };
    for (const auto& c : layers) {
        const auto choice = evidenceLayer(Evidence{{}, "", "", c.layer}, c.snapshotShown, c.originalLoaded);
        ASSERT_EQ(choice.index(), c.expected.index()) << c.layer.value_or("(none)");
        if (const auto* refused = std::get_if<EvidenceRefused>(&choice)) {
            EXPECT_EQ(
                refused->sentence,
                "This citation refers to the original transcript. Refresh to load that source version.");
        } else {
            EXPECT_EQ(std::get<EvidenceLayer>(choice), std::get<EvidenceLayer>(c.expected));
        }
    }
}

} // namespace
} // namespace nuvel
