#include "NuvelKit/meetings/MeetingSearchPage.hpp"

#include "NuvelKit/meetings/MeetingCoding.hpp"

namespace nuvel {
using namespace meetingcoding;

using Hit = MeetingSearchPage::Hit;
using Snippet = MeetingSearchPage::Hit::Snippet;

Snippet Snippet::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    Snippet s;
    s.text = r.string("text");
    s.hit = r.boolean("hit");
    return s;
}

json::Ordered Snippet::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["text"] = text;
    o["hit"] = hit;
    return o;
}

std::string Hit::id() const {
    return meeting_id + "/" + std::to_string(passage);
}

std::string Hit::snippetText() const {
    std::string out;
    for (const Snippet& piece : snippet)
        out += piece.text;
    return out;
}

Hit Hit::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    Hit h;
    h.passage = r.int64("passage");
    h.meeting_id = r.string("meeting_id");
    h.title = r.string("title");
    h.layer = r.string("layer");
    h.kind = r.string("kind");
    h.at_ms = r.int64("at_ms");
    h.snippet = readList<Snippet>(r, "snippet");
    return h;
}

json::Ordered Hit::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["passage"] = passage;
    o["meeting_id"] = meeting_id;
    o["title"] = title;
    o["layer"] = layer;
    o["kind"] = kind;
    o["at_ms"] = at_ms;
    o["snippet"] = writeList(snippet);
    return o;
}

MeetingSearchPage MeetingSearchPage::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    MeetingSearchPage page;
    page.query = r.string("query");
    page.results = readList<Hit>(r, "results");
    page.truncated = r.boolean("truncated");
    return page;
}

MeetingSearchPage MeetingSearchPage::decode(std::string_view text) {
    return fromJson(json::parse(text));
}

json::Ordered MeetingSearchPage::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["query"] = query;
    o["results"] = writeList(results);
    o["truncated"] = truncated;
    return o;
}

std::string MeetingSearchPage::encode() const {
    return json::dump(toJson());
}

} // namespace nuvel
