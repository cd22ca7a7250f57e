#pragma once

#include "NuvelKit/meetings/MeetingJSON.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace nuvel {

// The workspace's server audio retention as its settings document gives it: "retention_days"
// and the numbers among "retention_choices", in whole days truncated toward zero. A value that
// is not a number, not finite or outside the Int64 range is not known (days) or skipped
// (choices); a missing or non-list "retention_choices" gives no choices.
struct ServerRetention {
    std::optional<std::int64_t> days;
    std::vector<std::int64_t> choices;

    static ServerRetention fromSettings(const MeetingJSON& settings);
};

} // namespace nuvel
