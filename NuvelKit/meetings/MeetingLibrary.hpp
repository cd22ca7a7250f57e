#pragma once

// The library documents of the meeting-library API: access rights, meeting summaries, library
// pages and the reconciliation answer. Each record decodes strictly (a required key that is
// missing, null or of another type fails the record and everything containing it; an optional key
// that is missing or null is absent; unknown keys are ignored) and encodes every present field
// under its snake_case key, leaving absent optionals out.

#include "NuvelKit/support/Json.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The user's rights on one meeting.
struct MeetingAccess {
    std::string role;
    std::string via;
    std::map<std::string, bool> can; // permission name -> granted; other names travel along

    // The flag stored under `permission`; false when it is absent.
    bool allows(std::string_view permission) const;
    bool canEdit() const { return allows("edit"); }
    bool canManage() const { return allows("manage"); }
    bool canShare() const { return allows("share"); }
    bool canDelete() const { return allows("delete"); }

    static MeetingAccess fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingAccess decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingAccess& a, const MeetingAccess& b);
};

// One cloud meeting as the library lists it.
struct MeetingSummary {
    std::string id;
    std::string title;
    std::string state;
    std::optional<std::string> workspace_id;
    std::int64_t revision = 0;
    MeetingAccess access;
    std::string updated_at;
    double duration = 0; // seconds
    bool audio_deleted = false;
    double created_at = 0; // seconds since 1970-01-01 00:00 UTC
    std::optional<double> recorded_at;

    // `duration` as whole milliseconds, truncated toward zero; 0 when the duration is negative,
    // not finite, or too large for an Int64 count of milliseconds.
    std::int64_t durationMilliseconds() const;

    static MeetingSummary fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingSummary decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;

    friend bool operator==(const MeetingSummary& a, const MeetingSummary& b);
};

// One page of the library. No equality.
struct MeetingLibraryPage {
    std::int64_t contract_version = 0;
    std::vector<MeetingSummary> meetings;
    std::optional<std::string> next_cursor; // absent on the last page
    std::string as_of;
    std::optional<double> offline_access_seconds;

    static MeetingLibraryPage fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingLibraryPage decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

// Which of the asked meetings still exist. No equality.
struct MeetingReconciliation {
    std::vector<MeetingSummary> meetings;
    std::vector<std::string> removed_ids;

    static MeetingReconciliation fromJson(const json::Value& value, const std::string& path = "$");
    static MeetingReconciliation decode(std::string_view text);
    json::Ordered toJson() const;
    std::string encode() const;
};

} // namespace nuvel
