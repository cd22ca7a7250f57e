#pragma once

#include "NuvelKit/support/Json.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

struct LocalRecording;

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

    // The request for a finished recording of `accountID`, recorded in `timeZone`.
    // `locale` is "ar" exactly when `languageCode` is "ar", else "en"; the recording's id goes
    // along (lower-cased) only with `includeClientRecordingID`. An empty title or location and an
    // empty list of attendee e-mails are left out; missing attendees become an empty list.
    // Throws RecordingError::accountMismatch for a recording of another account (checked first)
    // and RecordingError::invalidDuration when it has no segments or their total is not a
    // finite number above 0.
    static CreateMeetingRequest make(const LocalRecording& recording, std::string_view accountID,
                                     std::string_view languageCode, std::string_view timeZone,
                                     bool includeClientRecordingID);

    // Keys in field order; optional fields only when present.
    json::Ordered toJson() const;
    // The seven non-optional keys are required; optional ones may be missing or null.
    static CreateMeetingRequest fromJson(const json::Reader& reader);

    bool operator==(const CreateMeetingRequest&) const = default;
};

} // namespace nuvel
