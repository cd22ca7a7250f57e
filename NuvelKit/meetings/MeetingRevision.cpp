#include "NuvelKit/meetings/MeetingRevision.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

// MeetingRevisionOperation

MeetingRevisionOperation MeetingRevisionOperation::wordText(std::string wordID, std::string text) {
    MeetingRevisionOperation op;
    op.type = "word_text";
    op.word_id = std::move(wordID);
    op.text = std::move(text);
    return op;
}

MeetingRevisionOperation MeetingRevisionOperation::speakerLabel(std::string speakerID, std::string label) {
    MeetingRevisionOperation op;
    op.type = "speaker_label";
    op.speaker_id = std::move(speakerID);
    op.label = std::move(label);
    return op;
}

MeetingRevisionOperation MeetingRevisionOperation::wordSpeaker(std::string wordID, std::string speakerID) {
    MeetingRevisionOperation op;
    op.type = "word_speaker";
    op.word_id = std::move(wordID);
    op.speaker_id = std::move(speakerID);
    return op;
}

MeetingRevisionOperation MeetingRevisionOperation::fromJson(const json::Value& value,
                                                            const std::string& path) {
    json::Reader r(value, path);
    MeetingRevisionOperation op;
    op.type = r.string("type");
    op.word_id = r.optString("word_id");
    op.speaker_id = r.optString("speaker_id");
    op.text = r.optString("text");
    op.label = r.optString("label");
    return op;
}

MeetingRevisionOperation MeetingRevisionOperation::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingRevisionOperation::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["type"] = type;
    json::putOptional(o, "word_id", word_id);
    json::putOptional(o, "speaker_id", speaker_id);
    json::putOptional(o, "text", text);
    json::putOptional(o, "label", label);
    return o;
}

std::string MeetingRevisionOperation::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingRevisionOperation& a, const MeetingRevisionOperation& b) {
    return sameText(a.type, b.type) && sameOptionalText(a.word_id, b.word_id) &&
           sameOptionalText(a.speaker_id, b.speaker_id) && sameOptionalText(a.text, b.text) &&
           sameOptionalText(a.label, b.label);
}

// MeetingRevisionRequest

MeetingRevisionRequest MeetingRevisionRequest::make(const Uuid& operationID, std::int64_t revision,
                                                    std::vector<MeetingRevisionOperation> operations) {
    return MeetingRevisionRequest{operationID.lowercase(), revision, std::move(operations)};
}

MeetingRevisionRequest MeetingRevisionRequest::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingRevisionRequest request;
    request.operation_id = r.string("operation_id");
    request.revision = r.int64("revision");
    request.operations = readList<MeetingRevisionOperation>(r, "operations");
    return request;
}

MeetingRevisionRequest MeetingRevisionRequest::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingRevisionRequest::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["operation_id"] = operation_id;
    o["revision"] = revision;
    o["operations"] = writeList(operations);
    return o;
}

std::string MeetingRevisionRequest::encode() const {
    return json::dump(toJson());
}

bool operator==(const MeetingRevisionRequest& a, const MeetingRevisionRequest& b) {
    return sameText(a.operation_id, b.operation_id) && a.revision == b.revision &&
           sameList(a.operations, b.operations);
}

// MeetingRevisionResult

MeetingRevisionResult MeetingRevisionResult::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingRevisionResult result;
    result.revision = r.int64("revision");
    result.operation_id = r.string("operation_id");
    result.replayed = r.boolean("replayed");
    return result;
}

MeetingRevisionResult MeetingRevisionResult::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingRevisionResult::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["revision"] = revision;
    o["operation_id"] = operation_id;
    o["replayed"] = replayed;
    return o;
}

std::string MeetingRevisionResult::encode() const {
    return json::dump(toJson());
}

} // namespace nuvel
