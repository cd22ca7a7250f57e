#include "NuvelKit/meetings/MeetingNotes.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "tests/meetings/MeetingDocumentSupport.hpp"

#include <gtest/gtest.h>

namespace nuvel {
namespace {

using Code = json::JsonError::Code;
using test::decodeFailure;
using test::edited;

const char* minimalNotes =
    R"({"ai_notes":false,"provenance":{"source_layer":"raw","source_revision":1,"corrected_revision":2,"stale_text":true}})";

TEST(MeetingNotes, GoldenRoundTrips) {
    auto notes = test::expectGoldenRoundTrip<MeetingNotesDocument>("notes.json");
    EXPECT_TRUE(notes.ai_notes);
    EXPECT_EQ(*(*notes.run)["state"]->stringValue(), "completed");
    EXPECT_EQ(notes.type_template, "meeting");
    EXPECT_EQ(notes.provenance.source_revision, 3);
    ASSERT_TRUE(notes.evidence && notes.evidence->size() == 1);
    const MeetingNoteEvidence& cite = notes.evidence->front();
    EXPECT_EQ(cite.template_, "meeting");
    EXPECT_EQ(cite.path, "/output/action_items/0");
    EXPECT_EQ(cite.start_ms, 500);
    EXPECT_EQ(cite.word_id, "w2");
    EXPECT_EQ(notes.notesObject().count("meeting"), 1u);

    auto opened = test::expectGoldenRoundTrip<NativeMeetingDocument>("meeting-document.json");
    EXPECT_EQ(opened.summary.id, "mtg_01");
    EXPECT_EQ(opened.transcript.layer, "corrected");
    ASSERT_TRUE(opened.originalTranscript.has_value());
    EXPECT_EQ(opened.originalTranscript->transcript.words[0].text, "Helo");
    ASSERT_TRUE(opened.notes.has_value());
    EXPECT_TRUE(opened.notes->evidence.has_value() && opened.notes->evidence->empty());
    EXPECT_EQ(NativeMeetingDocument::decode(opened.encode()), opened);
}

TEST(MeetingNotes, OptionalPartsAreAbsentWhenMissingOrNull) {
    auto notes = MeetingNotesDocument::decode(minimalNotes);
    EXPECT_FALSE(notes.run || notes.index || notes.notes || notes.type_template || notes.user_notes ||
                 notes.evidence);
    EXPECT_EQ(notes.encode(), test::compact(minimalNotes));

    for (const char* key : {"/run", "/index", "/notes", "/user_notes", "/type_template", "/evidence"}) {
        auto nulled = MeetingNotesDocument::decode(edited("notes.json", key, json::Value()));
        EXPECT_FALSE(json::parse(nulled.encode()).contains(std::string(key + 1))) << key;
    }
    // An empty evidence list is present, and differs from none.
    auto withEmpty = MeetingNotesDocument::decode(edited("notes.json", "/evidence", json::Value::array()));
    auto without = MeetingNotesDocument::decode(edited("notes.json", "/evidence", std::nullopt));
    EXPECT_TRUE(withEmpty.evidence.has_value());
    EXPECT_FALSE(withEmpty == without);
}

TEST(MeetingNotes, StrictTypes) {
    EXPECT_EQ(decodeFailure<MeetingNotesDocument>(edited("notes.json", "/provenance", std::nullopt)),
              Code::missingKey);
    EXPECT_EQ(decodeFailure<MeetingNotesDocument>(
                  edited("notes.json", "/provenance/stale_text", json::Value("yes"))),
              Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingNotesDocument>(edited("notes.json", "/ai_notes", json::Value(1))),
              Code::wrongType);
    EXPECT_EQ(decodeFailure<MeetingNotesDocument>(
                  edited("notes.json", "/provenance/source_revision", json::Value(2.5))),
              Code::outOfRange);
    EXPECT_EQ(decodeFailure<MeetingNotesDocument>(edited("notes.json", "/type_template", json::Value(false))),
              Code::wrongType);
    EXPECT_EQ(
        test::failurePath<MeetingNotesDocument>(edited("notes.json", "/evidence/0/word_id", json::Value(4))),
        "$.evidence[0].word_id");
    // The opened meeting is not built at all when its notes are malformed.
    EXPECT_EQ(decodeFailure<NativeMeetingDocument>(
                  edited("meeting-document.json", "/notes/ai_notes", json::Value(0))),
              Code::wrongType);
}

TEST(MeetingNotes, OpenedMeetingKeys) {
    // The second layer is read only under its own camelCase key.
    json::Ordered doc = json::Ordered::parse(test::golden("meeting-document.json"));
    doc["original_transcript"] = doc["originalTranscript"];
    doc.erase("originalTranscript");
    EXPECT_EQ(NativeMeetingDocument::decode(doc.dump()).originalTranscript, std::nullopt);

    auto noNotes = NativeMeetingDocument::decode(edited("meeting-document.json", "/notes", std::nullopt));
    EXPECT_EQ(noNotes.notes, std::nullopt);
    EXPECT_FALSE(json::parse(noNotes.encode()).contains("notes"));

    auto built = NativeMeetingDocument{noNotes.summary, noNotes.transcript,
                                       MeetingNotesDocument::decode(minimalNotes)};
    EXPECT_EQ(built.originalTranscript, std::nullopt);
}

TEST(MeetingNotes, NotesObject) {
    for (const char* notes : {R"([1])", R"("text")"}) {
        auto doc = MeetingNotesDocument::decode(edited("notes.json", "/notes", json::parse(notes)));
        EXPECT_TRUE(doc.notesObject().empty()) << notes;
    }
    EXPECT_TRUE(MeetingNotesDocument::decode(minimalNotes).notesObject().empty());
}

TEST(MeetingNotes, EqualityComparesEveryField) {
    auto a = NativeMeetingDocument::decode(
        edited("meeting-document.json", "/notes", json::parse(test::golden("notes.json"))));
    auto b = a;
    EXPECT_EQ(a, b);
    b.notes->evidence->front().start_ms += 1;
    EXPECT_FALSE(a == b);
    b = a;
    b.notes->run = MeetingJSON::decode(R"({"updated":1772445700,"state":"completed"})");
    EXPECT_EQ(a, b);
    b.notes->run = MeetingJSON::decode(R"({"state":"completed","updated":"1772445700"})");
    EXPECT_FALSE(a == b);
    b = a;
    b.originalTranscript.reset();
    EXPECT_FALSE(a == b);
}

} // namespace
} // namespace nuvel
