#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

NativeMeetingDocument NativeMeetingDocument::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeMeetingDocument d;
    d.summary = MeetingSummary::fromJson(r.value("summary"), r.childPath("summary"));
    d.transcript = MeetingTranscriptDocument::fromJson(r.value("transcript"), r.childPath("transcript"));
    if (const json::Value* notes = r.optValue("notes"))
        d.notes = MeetingNotesDocument::fromJson(*notes, r.childPath("notes"));
    if (const json::Value* original = r.optValue("originalTranscript"))
        d.originalTranscript =
            MeetingTranscriptDocument::fromJson(*original, r.childPath("originalTranscript"));
    return d;
}

NativeMeetingDocument NativeMeetingDocument::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered NativeMeetingDocument::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["summary"] = summary.toJson();
    o["transcript"] = transcript.toJson();
    if (notes)
        o["notes"] = notes->toJson();
    if (originalTranscript)
        o["originalTranscript"] = originalTranscript->toJson();
    return o;
}

std::string NativeMeetingDocument::encode() const {
    return json::dump(toJson());
}

bool operator==(const NativeMeetingDocument& a, const NativeMeetingDocument& b) {
    return a.summary == b.summary && a.transcript == b.transcript && sameOptional(a.notes, b.notes) &&
           sameOptional(a.originalTranscript, b.originalTranscript);
}

} // namespace nuvel
