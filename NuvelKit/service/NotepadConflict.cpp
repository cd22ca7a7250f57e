#include "NuvelKit/service/NotepadConflict.hpp"

namespace nuvel {

NotepadConflict::NotepadConflict(std::int64_t revision, std::vector<NotepadLine> lines)
    : Error("the service holds notepad revision " + std::to_string(revision)), revision_(revision),
      lines_(std::move(lines)) {}

NotepadConflict NotepadConflict::fromJson(const json::Value& value, const std::string& path) {
    json::Reader r(value, path);
    std::int64_t revision = r.int64("revision");
    auto lines = r.objectList<NotepadLine>(
        "lines", [](const json::Reader& line) { return NotepadLine::fromJson(line); });
    return NotepadConflict(revision, std::move(lines));
}

NotepadConflict NotepadConflict::fromEnvelope(ByteView body) {
    json::Value document = json::parse(body);
    json::Reader envelope(document);
    json::Reader failure = envelope.object("error");
    return fromJson(failure.value("detail"), failure.childPath("detail"));
}

} // namespace nuvel
