#include "NuvelKit/meetings/MeetingExport.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <unordered_set>

namespace nuvel {
namespace {

using MeetingExport::clock;
using MeetingExport::export_;
using MeetingExport::Format;

NativeMeetingDocument goldenMeeting() {
    return NativeMeetingDocument::decode(test::golden("export/meeting-with-notes.json"));
}

const MeetingAccess access{"owner", "workspace", {{"export", true}}};

MeetingSummary summaryTitled(std::string title) {
    return MeetingSummary{"m1", std::move(title), "ready", std::nullopt, 1, access, "", 1.0, false,
                          0,    std::nullopt};
}

MeetingNotesDocument notes(bool aiNotes, bool stale, std::optional<MeetingJSON> content = std::nullopt) {
    return MeetingNotesDocument{aiNotes,
                                std::nullopt,
                                std::nullopt,
                                std::move(content),
                                std::nullopt,
                                std::nullopt,
                                MeetingNotesProvenance{"raw", 1, 1, stale},
                                std::nullopt};
}

TEST(MeetingExportText, GoldenExportsOfAMeetingWithNotes) {
    const NativeMeetingDocument meeting = goldenMeeting();
    EXPECT_EQ(export_(meeting, Format::markdown), test::golden("export/meeting-with-notes.md"));
    EXPECT_EQ(export_(meeting, Format::plainText), test::golden("export/meeting-with-notes.txt"));

    // The raw export: the original layer in the transcript's place, as the library model does.
    NativeMeetingDocument raw = meeting;
    raw.transcript = *meeting.originalTranscript;
    EXPECT_EQ(export_(raw, Format::markdown), test::golden("export/raw-layer.md"));
    EXPECT_EQ(export_(raw, Format::plainText), test::golden("export/raw-layer.txt"));
    // "original" names the raw layer as well; anything else is the corrected one.
    raw.transcript.layer = "original";
    EXPECT_EQ(export_(raw, Format::markdown), test::golden("export/raw-layer.md"));
    raw.transcript.layer = "Raw";
    EXPECT_NE(export_(raw, Format::markdown).find("\n\n## Corrected transcript \u00B7 Revision: 1\n\n"),
              std::string::npos);
}

TEST(MeetingExportText, MeetingWithoutNotesIsTitleHeadingAndWords) {
    MeetingTranscript body{1,
                           {MeetingWord{"w1", "first", 0, 400, std::string("S1"), std::nullopt},
                            MeetingWord{"w2", "second", 400, 380, std::nullopt, std::nullopt}},
                           {{"S1", MeetingSpeaker{"S1"}}}};
    NativeMeetingDocument meeting{summaryTitled("Standup <b>#1</b>\nnext"),
                                  MeetingTranscriptDocument::make("corrected", 3, 1000, body, access),
                                  std::nullopt, std::nullopt};
    EXPECT_EQ(export_(meeting, Format::markdown), "# Standup <b>#1</b>\nnext\n\n## Corrected transcript "
                                                  "\u00B7 Revision: 3\n\n[00:00] S1: first\n\nsecond\n");
    EXPECT_EQ(export_(meeting, Format::plainText), "Standup <b>#1</b>\nnext\n\nCorrected transcript \u00B7 "
                                                   "Revision: 3\n\n[00:00] S1: first\n\nsecond\n");

    // An empty title is an empty first part; no words leave the heading last.
    meeting.summary.title = "";
    meeting.transcript.transcript.words.clear();
    EXPECT_EQ(export_(meeting, Format::plainText), "\n\nCorrected transcript \u00B7 Revision: 3\n");
}

TEST(MeetingExportText, NotesSectionFollowsAiNotesAndStaleness) {
    NativeMeetingDocument meeting{
        summaryTitled("T"), MeetingTranscriptDocument::make("raw", 9, 0, {}, access),
        notes(false, true, MeetingJSON::decode(R"({"a":{"output":{"markdown":"x"}}})")), std::nullopt};
    meeting.transcript.original_revision = 4;
    EXPECT_EQ(export_(meeting, Format::markdown), "# T\n\n## Original transcript \u00B7 Revision: 4\n");

    meeting.notes = notes(true, false);
    EXPECT_EQ(export_(meeting, Format::markdown),
              "# T\n\n## Notes\n\n## Original transcript \u00B7 Revision: 4\n");
    meeting.notes = notes(true, true, MeetingJSON::decode(R"({"enhanced":{"output":{"markdown":"x"}}})"));
    EXPECT_EQ(export_(meeting, Format::plainText),
              "T\n\nNotes\n\nNotes reflect the original transcript; corrected text is newer.\n\n"
              "Original transcript \u00B7 Revision: 4\n");
}

TEST(MeetingExportText, NoteStampsAreAddedOnce) {
    NativeMeetingDocument meeting{
        summaryTitled("T"), MeetingTranscriptDocument::make("corrected", 1, 0, {}, access),
        notes(true, false, MeetingJSON::decode(R"({"a":{"status":"flagged","output":{
        "markdown":"Cites [02:05] already\nCites [2:05]\nHour [1:02:03]\n[Needs review] [00:07] in text [0:07]",
        "decisions":[{"decision":"at the edge","timestamp":"59:59"}]}}})")),
        std::nullopt};
    EXPECT_EQ(export_(meeting, Format::markdown), "# T\n\n## Notes\n\n"
                                                  "- [Needs review] Cites [02:05] already\n\n"
                                                  "- [Needs review] Cites [2:05] [02:05]\n\n"
                                                  "- [Needs review] Hour [1:02:03] [01:02:03]\n\n"
                                                  "- [Needs review] [Needs review] [00:07] in text [0:07]\n\n"
                                                  "- [Needs review] at the edge [59:59]\n\n"
                                                  "## Corrected transcript \u00B7 Revision: 1\n");
}

TEST(MeetingExportText, ClockOnItsBounds) {
    EXPECT_EQ(clock(0), "00:00");
    EXPECT_EQ(clock(999), "00:00");
    EXPECT_EQ(clock(65432), "01:05");
    EXPECT_EQ(clock(3599999), "59:59");
    EXPECT_EQ(clock(3600000), "01:00:00");
    EXPECT_EQ(clock(3723000), "01:02:03");
    EXPECT_EQ(clock(360000000), "100:00:00");
    EXPECT_EQ(clock(-1), "00:00");
    EXPECT_EQ(clock(std::numeric_limits<std::int64_t>::min()), "00:00");
    // 9223372036854775807 ms is 2562047788015 h, 12 min, 55 s (and 807 ms).
    EXPECT_EQ(clock(std::numeric_limits<std::int64_t>::max()), "2562047788015:12:55");
}

TEST(MeetingExportText, FormatsAndTheirExtensions) {
    using MeetingExport::allFormats;
    using MeetingExport::formatFromRawValue;
    using MeetingExport::rawValue;
    EXPECT_EQ(allFormats, (std::array{Format::markdown, Format::plainText, Format::srt, Format::vtt}));
    const char* extensions[] = {"md", "txt", "srt", "vtt"};
    for (std::size_t i = 0; i < allFormats.size(); ++i) {
        EXPECT_EQ(rawValue(allFormats[i]), extensions[i]);
        EXPECT_EQ(formatFromRawValue(extensions[i]), allFormats[i]);
    }
    for (const char* other : {"", "MD", "Txt", ".srt", "vtt ", "markdown", "webvtt"})
        EXPECT_EQ(formatFromRawValue(other), std::nullopt) << other;
    std::unordered_set<Format> hashed(allFormats.begin(), allFormats.end());
    EXPECT_EQ(hashed.size(), 4u);
}

} // namespace
} // namespace nuvel
