#pragma once

#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/support/Bytes.hpp"
#include "NuvelKit/support/Error.hpp"
#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace nuvel {

// The service refused a notepad save because it holds another revision than the one the lines
// were edited from; it sends its current revision and lines so the caller can merge.
class NotepadConflict : public Error {
public:
    NotepadConflict(std::int64_t revision, std::vector<NotepadLine> lines);

    std::int64_t revision() const noexcept { return revision_; }
    const std::vector<NotepadLine>& lines() const noexcept { return lines_; }

    // {"revision": Int, "lines": [NotepadLine]}, both required. Throws json::JsonError.
    static NotepadConflict fromJson(const json::Value& value, const std::string& path = "$");
    // The error body of a notepad conflict: {"error": {"detail": {"revision", "lines"}}}; other
    // members (such as "error"."code") are ignored. Throws json::JsonError for any other body.
    static NotepadConflict fromEnvelope(ByteView body);

private:
    std::int64_t revision_;
    std::vector<NotepadLine> lines_;
};

} // namespace nuvel
