#pragma once

#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <string>

namespace nuvel {

// A marked moment of a recording.
struct Bookmark {
    Uuid id;
    std::int64_t mediaMilliseconds = 0; // from the start of the recording's audio
    Date createdAt;
    std::string label; // may be empty

    // A new bookmark with a fresh random id; a negative position becomes 0.
    static Bookmark make(std::int64_t mediaMilliseconds, std::string label, Date createdAt);

    // Whole milliseconds of an elapsed capture time, as a bookmark position: the fraction is
    // dropped, and a time that is negative, not finite or beyond the 64-bit range gives 0.
    static std::int64_t wholeMilliseconds(double seconds) noexcept;

    json::Ordered toJson() const;
    static Bookmark fromJson(const json::Reader& reader);

    bool operator==(const Bookmark&) const = default;
};

} // namespace nuvel
