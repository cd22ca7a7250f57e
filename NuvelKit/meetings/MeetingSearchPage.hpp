#pragma once

#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// One answer of the library search. No equality.
struct MeetingSearchPage {
    // One matching passage, identified by "<meeting_id>/<passage>".
    struct Hit {
        // One piece of the passage's text; `hit` marks a piece that matched the query.
        struct Snippet {
            std::string text;
            bool hit = false;

            static Snippet fromJson(const json::Value& value, const std::string& path = "$");
            json::Ordered toJson() const;
        };

        std::int64_t passage = 0;
        std::string meeting_id;
        std::string title;
        std::string layer;
        std::string kind;
        std::int64_t at_ms = 0;
        std::vector<Snippet> snippet; // reading order

        std::string id() const;
        // The snippet texts joined in order, whatever their hit flags.
        std::string snippetText() const;

        static Hit fromJson(const json::Value& value, const std::string& path = "$");
        json::Ordered toJson() const;
    };

    std::string query;
    std::vector<Hit> results;
    bool truncated = false; // more matches exist than were returned

    static MeetingSearchPage fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingSearchPage decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

} // namespace nuvel
