#include "NuvelKit/service/MeetingUploadDocuments.hpp"

namespace nuvel {

CreatedMeeting CreatedMeeting::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    CreatedMeeting m;
    m.id = r.string("id");
    m.partBytes = r.int64("part_bytes");
    m.maxParts = r.int64("max_parts");
    return m;
}

RemoteMeeting RemoteMeeting::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    RemoteMeeting m;
    m.id = r.string("id");
    m.state = r.string("state");
    m.progress = r.number("progress");
    m.title = r.string("title");
    m.titleAuto = r.boolean("title_auto");
    std::string url = r.string("url");
    auto parsed = Url::parse(url);
    if (!parsed)
        throw json::JsonError(json::JsonError::Code::invalidValue, r.childPath("url"), "not an absolute URL");
    m.url = *parsed;
    return m;
}

} // namespace nuvel
