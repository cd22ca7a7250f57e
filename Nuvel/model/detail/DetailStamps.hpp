#pragma once

// Time stamps in note text, the chips they become, and the two kinds of link the notes carry:
// "nuvel-time:" and a position in milliseconds, "nuvel-evidence:" and a citation key.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "Nuvel/model/detail/DetailText.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace nuvel::meetingdetail {

// One citation a note carries, as its chip shows it.
struct NoteCitation {
    std::string stamp;
    std::string link;
    std::string tooltip;

    friend bool operator==(const NoteCitation&, const NoteCitation&) = default;
};

// The whole seconds of a stamp: the text split at ":" without empty pieces must have two or three
// pieces, each a whole decimal number (an optional sign and ASCII digits), folded left to right as
// total × 60 + piece. No piece is held to a range, so "1:75" is 135 seconds. Nothing for any other
// text, or when the seconds do not fit an Int64.
std::optional<std::int64_t> stampSeconds(std::string_view stamp);

// Appends a stamp chip showing `label`; copied, it stands for `copyText`, or for the label when
// there is none.
void appendStampChip(DetailText& text, std::string label, std::string link, std::string tooltip,
                     std::optional<std::string> copyText = std::nullopt);

// The body of a note: the text in the notes font, with each bracketed stamp ("[m:ss]", "[h:mm:ss]",
// one or two digits first) that has a value replaced by a chip. The chip links where the first
// citation with a stamp of the same value links, or else to that time, and stands for the
// bracketed stamp. The citations no stamp of the text used follow after a space and a thin space,
// each a chip that stands for its bare stamp.
DetailText noteBodyText(std::string_view text, const std::vector<NoteCitation>& citations,
                        const DetailLocale& locale = {});

std::string timeLink(std::int64_t milliseconds);
std::string evidenceLink(std::string_view key);

struct TimeLink {
    std::int64_t milliseconds = 0;
    friend bool operator==(const TimeLink&, const TimeLink&) = default;
};
struct EvidenceLink {
    std::string key;
    friend bool operator==(const EvidenceLink&, const EvidenceLink&) = default;
};
// What a clicked link asks for: a time link with a whole number, a citation with its key, or
// nothing.
using DetailLink = std::variant<std::monostate, TimeLink, EvidenceLink>;
DetailLink parseDetailLink(std::string_view link);

} // namespace nuvel::meetingdetail
