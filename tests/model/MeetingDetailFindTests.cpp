// Find within a meeting, and the detail screen's tables and sentences.
#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/DetailStamps.hpp"
#include "Nuvel/model/detail/MeetingDetailTables.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using namespace nuvel::meetingdetail;
using Ranges = std::vector<TextRange>;

TEST(MeetingDetailFind, FoldsCaseDiacriticsTatweelsAndMarks) {
    // محمد with tatweels between the letters and a shadda on the second mim.
    const std::u16string decorated = u"\u0645\u0640\u062D\u0640\u0645\u0651\u0640\u062F";
    const struct {
        const char* name;
        std::u16string query, text;
        Ranges ranges;
    } cases[] = {
        {"an Arabic word written with tatweels and a shadda",
         u"\u0645\u062D\u0645\u062F",
         u"\u0642\u0627\u0644 " + decorated + u".",
         {{4, 8}}},
        {"a query with marks finds the plain word",
         u"\u0645\u064F\u062D\u064E\u0645\u0651\u064E\u062F",
         u"\u0645\u062D\u0645\u062F",
         {{0, 4}}},
        {"a capitalised query without accents",
         u"CAFE",
         u"Le caf\u00E9 et le cafe\u0301!",
         {{3, 4}, {14, 5}}},
        {"an accented query finds plain text", u"R\u00E9sum\u00E9", u"resume", {{0, 6}}},
        {"hits do not overlap", u"aa", u"aaaaa", {{0, 2}, {2, 2}}},
        {"a hit inside a cluster widens to it", u"e", u"cafe\u0301", {{3, 2}}},
        {"a ligature-like fold spans its source", u"ss", u"Stra\u00DFe STRASSE", {{4, 1}, {11, 2}}},
        {"emoji are matched whole", u"\U0001F600", u"a\U0001F600b", {{1, 2}}},
        {"text across lines", u"one two", u"ONE TWO\none two", {{0, 7}, {8, 7}}},
        {"no hit", u"zebra", u"horse", {}},
        {"a query of tatweels folds to nothing", u"\u0640\u0640", u"\u0640\u0640\u0640", {}},
        {"a query of marks folds to nothing", u"\u0301", u"e\u0301", {}},
        {"an empty text", u"a", u"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(findRanges(c.query, c.text), c.ranges) << c.name;
    EXPECT_EQ(findFolded(u"\u0640A\u0301\u0651\u0903"), u"a");
}

TEST(MeetingDetailFind, FindNextWrapsAround) {
    const std::u16string text = u"plan the plan, then plan";
    const struct {
        const char* name;
        std::u16string query;
        TextRange selection;
        FindResult expected;
    } cases[] = {
        {"from the start", u"plan", {0, 0}, TextRange{0, 4}},
        {"after the selection's end", u"plan", {0, 4}, TextRange{9, 4}},
        {"a caret inside a match moves on", u"plan", {10, 0}, TextRange{20, 4}},
        {"the last match wraps to the first", u"plan", {20, 4}, TextRange{0, 4}},
        {"no matches", u"zebra", {0, 0}, FindNoMatches{"No matches in this meeting."}},
        {"tatweels only find nothing", u"\u0640", {0, 0}, FindNoMatches{"No matches in this meeting."}},
        {"an empty query does nothing", u"", {0, 0}, FindNothing{}},
    };
    for (const auto& c : cases) {
        const FindResult result = findNext(c.query, text, c.selection);
        ASSERT_EQ(result.index(), c.expected.index()) << c.name;
        if (const auto* range = std::get_if<TextRange>(&result)) {
            EXPECT_EQ(*range, std::get<TextRange>(c.expected)) << c.name;
        } else if (const auto* none = std::get_if<FindNoMatches>(&result)) {
            EXPECT_EQ(none->sentence, std::get<FindNoMatches>(c.expected).sentence) << c.name;
        }
    }
}

TEST(MeetingDetailTables, NotesStatusSentences) {
    const struct {
        const char* status;
        const char* sentence;
    } cases[] = {
        {"ready", "Notes ready. Check sources before sharing."},
        {"completed", "Notes ready. Check sources before sharing."},
        {"disabled", "AI notes are disabled for this meeting."},
        {"pending", "Your transcript is ready. Notes are still being generated."},
        {"running", "Your transcript is ready. Notes are still being generated."},
        {"failed", "Notes could not be generated. The transcript remains available."},
        {"limit_reached", "The notes generation limit has been reached. The transcript remains available."},
        {"Ready", "Notes are not available yet. The transcript remains available."},
        {"", "Notes are not available yet. The transcript remains available."},
        {"queued", "Notes are not available yet. The transcript remains available."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(notesStatusText(c.status), c.sentence) << c.status;
    DetailLocale locale;
    locale.localize = [](std::string_view text) { return "[" + std::string(text) + "]"; };
    EXPECT_EQ(notesStatusText("failed", locale),
              "[Notes could not be generated. The transcript remains available.]");
}

TEST(MeetingDetailTables, ExportSpeedAndAudioTables) {
    MeetingDetailSnapshot allowed;
    allowed.canExport = true;
    MeetingDetailSnapshot refused;
    using Request = std::optional<std::pair<std::string, std::string>>;
    const struct {
        int item;
        const MeetingDetailSnapshot* shown;
        bool original;
        Request request;
    } exports[] = {
        {0, &allowed, false, std::nullopt},
        {1, &allowed, false, Request({"md", "corrected"})},
        {2, &allowed, true, Request({"txt", "raw"})},
        {3, &allowed, true, Request({"srt", "raw"})},
        {4, &allowed, false, Request({"vtt", "corrected"})},
        {5, &allowed, false, std::nullopt},
        {-1, &allowed, false, std::nullopt},
        {1, &refused, false, std::nullopt},
        {1, nullptr, false, std::nullopt},
    };
    for (const auto& c : exports)
        EXPECT_EQ(exportRequest(c.item, c.shown, c.original), c.request) << c.item;
    EXPECT_EQ(exportItems[2].title, "Plain text");

    const std::optional<float> speeds[] = {std::nullopt, 0.75f, 1.0f, 1.25f, 1.5f, 2.0f, std::nullopt};
    for (int i = -1; i <= 5; ++i)
        EXPECT_EQ(playbackSpeed(i), speeds[i + 1]) << i;
    EXPECT_EQ(speedTitles[defaultSpeedIndex], "1\u00D7");

    MeetingDetailSnapshot deleted = allowed, audio = allowed, noPermission = allowed;
    deleted.audioDeleted = true, deleted.canDownloadAudio = true;
    audio.canDownloadAudio = true;
    const struct {
        const MeetingDetailSnapshot* shown;
        bool available;
        std::optional<std::string> sentence;
    } audioCases[] = {
        {nullptr, false, std::nullopt},
        {&audio, true, std::nullopt},
        {&deleted, false, "Audio has expired. Transcript and notes remain available."},
        {&audio, false, "Audio is unavailable. Transcript and notes remain available."},
        {&noPermission, false,
         "Your permission does not include audio playback. Transcript and notes remain available."},
    };
    for (const auto& c : audioCases)
        EXPECT_EQ(audioStatusText(c.shown, c.available), c.sentence);
}

TEST(MeetingDetailTables, CopyPutsStampsBackOrRefuses) {
    MeetingDetailSnapshot allowed;
    allowed.canExport = true;
    MeetingDetailSnapshot refused;
    DetailText transcript;
    transcript.append(std::u16string_view(u"Ada \u00B7 0:00\nhello"), DetailStyle{});
    const DetailText notes =
        noteBodyText("Decided [12:05] today", {NoteCitation{"00:42", "nuvel-evidence:0-0", "t"}});

    const auto onNotes = std::get<CopyDocument>(copyDocument(&allowed, false, transcript, notes));
    EXPECT_EQ(onNotes.text, u"Decided [12:05] today \u200900:42");
    EXPECT_EQ(onNotes.sentence, "Copied. Private notes are excluded.");
    EXPECT_EQ(std::get<CopyDocument>(copyDocument(&allowed, true, transcript, notes)).text,
              transcript.string);
    for (const MeetingDetailSnapshot* shown : std::vector<const MeetingDetailSnapshot*>{&refused, nullptr})
        EXPECT_EQ(std::get<CopyRefused>(copyDocument(shown, true, transcript, notes)).sentence,
                  "This workspace does not allow exporting this meeting.");
}

} // namespace
} // namespace nuvel
