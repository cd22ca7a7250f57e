#include "NuvelKit/meetings/MeetingTranscript.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

// MeetingWord

MeetingWord MeetingWord::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingWord w;
    w.id = r.string("id");
    w.text = r.string("text");
    w.start_ms = r.int64("start_ms");
    w.end_ms = r.int64("end_ms");
    w.speaker = r.optString("speaker");
    w.overlap = r.optBoolean("overlap");
    return w;
}

MeetingWord MeetingWord::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingWord::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["text"] = text;
    o["start_ms"] = start_ms;
    o["end_ms"] = end_ms;
    json::putOptional(o, "speaker", speaker);
    json::putOptional(o, "overlap", overlap);
    return o;
}

std::string MeetingWord::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingWord& a, const MeetingWord& b) {
    return sameText(a.id, b.id) && sameText(a.text, b.text) && a.start_ms == b.start_ms &&
           a.end_ms == b.end_ms && sameOptionalText(a.speaker, b.speaker) && a.overlap == b.overlap;
}

// MeetingSpeaker

MeetingSpeaker MeetingSpeaker::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    return MeetingSpeaker{r.string("label")};
}

MeetingSpeaker MeetingSpeaker::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingSpeaker::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["label"] = label;
    return o;
}

std::string MeetingSpeaker::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingSpeaker& a, const MeetingSpeaker& b) {
    return sameText(a.label, b.label);
}

// MeetingTranscript

MeetingTranscript MeetingTranscript::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingTranscript t;
    t.version = r.int64("version");
    t.words = readList<MeetingWord>(r, "words");
    t.speakers = readMap<MeetingSpeaker>(r, "speakers", [](const json::Value& v, const std::string& p) {
        return MeetingSpeaker::fromJson(v, p);
    });
    return t;
}

MeetingTranscript MeetingTranscript::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingTranscript::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["version"] = version;
    o["words"] = writeList(words);
    json::Ordered speakerObject = json::Ordered::object();
    for (const auto& [id, speaker] : speakers)
        speakerObject[id] = speaker.toJson();
    o["speakers"] = std::move(speakerObject);
    return o;
}

std::string MeetingTranscript::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingTranscript& a, const MeetingTranscript& b) {
    return a.version == b.version && sameList(a.words, b.words) && sameMap(a.speakers, b.speakers);
}

// MeetingTranscriptDocument

MeetingTranscriptDocument MeetingTranscriptDocument::make(std::string layer, std::int64_t revision,
                                                          std::int64_t duration_ms,
                                                          MeetingTranscript transcript,
                                                          MeetingAccess access) {
    MeetingTranscriptDocument d;
    d.contract_version = 1;
    d.layer = std::move(layer);
    d.revision = revision;
    d.original_revision = 1;
    d.duration_ms = duration_ms;
    d.transcript = std::move(transcript);
    d.access = std::move(access);
    return d;
}

std::string MeetingTranscriptDocument::speakerLabel(const std::optional<std::string>& speakerID) const {
    if (!speakerID)
        return {};
    const MeetingSpeaker* speaker = findKey(transcript.speakers, *speakerID);
    return speaker == nullptr ? std::string() : speaker->label;
}

const MeetingWord* MeetingTranscriptDocument::word(std::int64_t position) const {
    for (const MeetingWord& w : transcript.words) {
        if (w.start_ms < 0)
            continue;
        // Half-open: a position equal to end_ms belongs to the word that starts there.
        if (w.start_ms <= position && position < w.end_ms)
            return &w;
    }
    return nullptr;
}

MeetingTranscriptDocument MeetingTranscriptDocument::fromJson(const json::Value& value,
                                                              const std::string& path) {
    json::Reader r(value, path);
    MeetingTranscriptDocument d;
    d.contract_version = r.int64("contract_version");
    d.layer = r.string("layer");
    d.revision = r.int64("revision");
    d.original_revision = r.int64("original_revision");
    d.duration_ms = r.int64("duration_ms");
    d.speaker_warning = readOptionalJSON(r, "speaker_warning");
    d.transcript = MeetingTranscript::fromJson(r.value("transcript"), r.childPath("transcript"));
    d.corrections = readOptionalJSON(r, "corrections");
    d.access = MeetingAccess::fromJson(r.value("access"), r.childPath("access"));
    return d;
}

MeetingTranscriptDocument MeetingTranscriptDocument::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingTranscriptDocument::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["contract_version"] = contract_version;
    o["layer"] = layer;
    o["revision"] = revision;
    o["original_revision"] = original_revision;
    o["duration_ms"] = duration_ms;
    putOptionalJSON(o, "speaker_warning", speaker_warning);
    o["transcript"] = transcript.toJson();
    putOptionalJSON(o, "corrections", corrections);
    o["access"] = access.toJson();
    return o;
}

std::string MeetingTranscriptDocument::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingTranscriptDocument& a, const MeetingTranscriptDocument& b) {
    return a.contract_version == b.contract_version && sameText(a.layer, b.layer) &&
           a.revision == b.revision && a.original_revision == b.original_revision &&
           a.duration_ms == b.duration_ms && sameOptional(a.speaker_warning, b.speaker_warning) &&
           a.transcript == b.transcript && sameOptional(a.corrections, b.corrections) && a.access == b.access;
}

} // namespace nuvel
