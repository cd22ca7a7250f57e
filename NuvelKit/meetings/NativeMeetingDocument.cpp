#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

NativeMeetingDocument NativeMeetingDocument::fromJSON(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    NativeMeetingDocument d;
    d.summary = MeetingSummary::fromJSON(r.value("summary"), r.childPath("summary"));
    d.transcript = MeetingTranscriptDocument::fromJSON(r.value("transcript"), r.childPath("transcript"));
    if (const json::Value* notes = r.optValue("notes"))
        d.notes = MeetingNotesDocument::fromJSON(*notes, r.childPath("notes"));
    if (const json::Value* original = r.optValue("originalTranscript"))
        d.originalTranscript =
            MeetingTranscriptDocument::fromJSON(*original, r.childPath("originalTranscript"));
    return d;
}

NativeMeetingDocument NativeMeetingDocument::decode(std::string_view text) {
    return fromJSON(json::parse(text));
}

json::Ordered NativeMeetingDocument::toJSON() const {
    json::Ordered o = json::Ordered::object();
    o["summary"] = summary.toJSON();
    o["transcript"] = transcript.toJSON();
    if (notes) o["notes"] = notes->toJSON();
    if (originalTranscript) o["originalTranscript"] = originalTranscript->toJSON();
    return o;
}

std::string NativeMeetingDocument::encode() const { return json::dump(toJSON()); }

bool operator==(const NativeMeetingDocument& a, const NativeMeetingDocument& b) {
    return a.summary == b.summary && a.transcript == b.transcript && sameOptional(a.notes, b.notes) &&
           sameOptional(a.originalTranscript, b.originalTranscript);
}

} // namespace nuvel
