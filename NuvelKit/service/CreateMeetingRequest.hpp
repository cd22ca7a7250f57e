#pragma once

#include <optional>
#include <string>
#include <vector>

#include "NuvelKit/support/Json.hpp"

namespace nuvel {

// The body of the request that creates a cloud meeting for a recording; the manifest keeps it
// (as `creationRequest`) so every later upload run sends the same body. Field names are the
// service's JSON keys.
struct CreateMeetingRequest {
    std::optional<std::string> title;
    std::vector<std::string> attendees;
    std::string recorded_at; // ISO 8601, UTC, whole seconds, "Z"
    double duration_seconds = 0;
    bool consent = false;
    bool ai_notes = false;
    std::string locale;
    std::string time_zone;
    std::optional<std::string> workspace_id;
    std::optional<std::string> client_recording_id;
    std::optional<std::vector<std::string>> attendee_emails;
    std::optional<std::string> location;

    // Keys in field order; optional fields only when present.
    json::Ordered toJson() const;
    // The seven non-optional keys are required; optional ones may be missing or null.
    static CreateMeetingRequest fromJson(const json::Reader& reader);

    bool operator==(const CreateMeetingRequest&) const = default;
};

} // namespace nuvel
