#include "Nuvel/model/cloud/ServerRetention.hpp"

#include <cmath>

namespace nuvel {

namespace {
// Whole days of a JSON number, truncated toward zero; none outside what an Int64 holds.
std::optional<std::int64_t> wholeDays(const MeetingJSON* value) {
    if (!value)
        return std::nullopt;
    std::optional<double> number = value->numberValue();
    if (!number || !std::isfinite(*number))
        return std::nullopt;
    const double truncated = std::trunc(*number);
    // -2^63 is representable; 2^63 is the first value past the range.
    if (truncated < -9223372036854775808.0 || truncated >= 9223372036854775808.0)
        return std::nullopt;
    return static_cast<std::int64_t>(truncated);
}
} // namespace

ServerRetention ServerRetention::fromSettings(const MeetingJSON& settings) {
    ServerRetention retention;
    retention.days = wholeDays(settings["retention_days"]);
    if (const MeetingJSON* choices = settings["retention_choices"]) {
        if (const MeetingJSON::Array* list = choices->arrayValue()) {
            for (const MeetingJSON& choice : *list) {
                if (std::optional<std::int64_t> days = wholeDays(&choice))
                    retention.choices.push_back(*days);
            }
        }
    }
    return retention;
}

} // namespace nuvel
