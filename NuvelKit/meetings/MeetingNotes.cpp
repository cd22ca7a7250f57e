#include "NuvelKit/meetings/MeetingNotes.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

// MeetingNotesProvenance

MeetingNotesProvenance MeetingNotesProvenance::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingNotesProvenance p;
    p.source_layer = r.string("source_layer");
    p.source_revision = r.int64("source_revision");
    p.corrected_revision = r.int64("corrected_revision");
    p.stale_text = r.boolean("stale_text");
    return p;
}

MeetingNotesProvenance MeetingNotesProvenance::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingNotesProvenance::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["source_layer"] = source_layer;
    o["source_revision"] = source_revision;
    o["corrected_revision"] = corrected_revision;
    o["stale_text"] = stale_text;
    return o;
}

std::string MeetingNotesProvenance::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingNotesProvenance& a, const MeetingNotesProvenance& b) {
    return sameText(a.source_layer, b.source_layer) && a.source_revision == b.source_revision &&
           a.corrected_revision == b.corrected_revision && a.stale_text == b.stale_text;
}

// MeetingNoteEvidence

MeetingNoteEvidence MeetingNoteEvidence::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingNoteEvidence e;
    e.template_ = r.string("template");
    e.path = r.string("path");
    e.start_ms = r.int64("start_ms");
    e.word_id = r.string("word_id");
    e.source_layer = r.string("source_layer");
    return e;
}

MeetingNoteEvidence MeetingNoteEvidence::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingNoteEvidence::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["template"] = template_;
    o["path"] = path;
    o["start_ms"] = start_ms;
    o["word_id"] = word_id;
    o["source_layer"] = source_layer;
    return o;
}

std::string MeetingNoteEvidence::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingNoteEvidence& a, const MeetingNoteEvidence& b) {
    return sameText(a.template_, b.template_) && sameText(a.path, b.path) && a.start_ms == b.start_ms &&
           sameText(a.word_id, b.word_id) && sameText(a.source_layer, b.source_layer);
}

// MeetingNotesDocument

const MeetingJSON::Object& MeetingNotesDocument::notesObject() const {
    static const MeetingJSON::Object empty;
    const MeetingJSON::Object* members = notes ? notes->objectValue() : nullptr;
    return members == nullptr ? empty : *members;
}

MeetingNotesDocument MeetingNotesDocument::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingNotesDocument d;
    d.ai_notes = r.boolean("ai_notes");
    d.run = readOptionalJSON(r, "run");
    d.index = readOptionalJSON(r, "index");
    d.notes = readOptionalJSON(r, "notes");
    d.type_template = r.optString("type_template");
    d.user_notes = readOptionalJSON(r, "user_notes");
    d.provenance = MeetingNotesProvenance::fromJson(r.value("provenance"), r.childPath("provenance"));
    d.evidence = readOptionalList<MeetingNoteEvidence>(r, "evidence");
    return d;
}

MeetingNotesDocument MeetingNotesDocument::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingNotesDocument::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["ai_notes"] = ai_notes;
    putOptionalJSON(o, "run", run);
    putOptionalJSON(o, "index", index);
    putOptionalJSON(o, "notes", notes);
    json::putOptional(o, "type_template", type_template);
    putOptionalJSON(o, "user_notes", user_notes);
    o["provenance"] = provenance.toJson();
    if (evidence)
        o["evidence"] = writeList(*evidence);
    return o;
}

std::string MeetingNotesDocument::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingNotesDocument& a, const MeetingNotesDocument& b) {
    return a.ai_notes == b.ai_notes && sameOptional(a.run, b.run) && sameOptional(a.index, b.index) &&
           sameOptional(a.notes, b.notes) && sameOptionalText(a.type_template, b.type_template) &&
           sameOptional(a.user_notes, b.user_notes) && a.provenance == b.provenance &&
           sameOptional(a.evidence, b.evidence, [](const auto& x, const auto& y) { return sameList(x, y); });
}

} // namespace nuvel
