#include "NuvelKit/service/CreateMeetingRequest.hpp"

#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Time.hpp"

#include <cmath>

namespace nuvel {

CreateMeetingRequest CreateMeetingRequest::make(const LocalRecording& recording, std::string_view accountID,
                                                std::string_view languageCode, std::string_view timeZone,
                                                bool includeClientRecordingID) {
    if (recording.accountID != accountID)
        throw RecordingError(RecordingError::Code::accountMismatch);
    const double duration = recording.totalDuration();
    if (recording.segments.empty() || !std::isfinite(duration) || duration <= 0)
        throw RecordingError(RecordingError::Code::invalidDuration);

    CreateMeetingRequest q;
    if (!recording.title.empty())
        q.title = recording.title;
    q.attendees = recording.attendees.value_or(std::vector<std::string>{});
    q.recorded_at = iso8601(recording.createdAt);
    q.duration_seconds = duration;
    q.consent = true;
    q.ai_notes = recording.aiNotes;
    q.locale = languageCode == "ar" ? "ar" : "en";
    q.time_zone = std::string(timeZone);
    q.workspace_id = recording.workspaceID;
    if (includeClientRecordingID)
        q.client_recording_id = recording.id.lowercase();
    if (recording.attendeeEmails && !recording.attendeeEmails->empty())
        q.attendee_emails = recording.attendeeEmails;
    if (recording.location && !recording.location->empty())
        q.location = recording.location;
    return q;
}

json::Ordered CreateMeetingRequest::toJson() const {
    json::Ordered o = json::Ordered::object();
    json::putOptional(o, "title", title);
    o["attendees"] = attendees;
    o["recorded_at"] = recorded_at;
    o["duration_seconds"] = duration_seconds;
    o["consent"] = consent;
    o["ai_notes"] = ai_notes;
    o["locale"] = locale;
    o["time_zone"] = time_zone;
    json::putOptional(o, "workspace_id", workspace_id);
    json::putOptional(o, "client_recording_id", client_recording_id);
    json::putOptional(o, "attendee_emails", attendee_emails);
    json::putOptional(o, "location", location);
    return o;
}

CreateMeetingRequest CreateMeetingRequest::fromJson(const json::Reader& r) {
    CreateMeetingRequest q;
    q.title = r.optString("title");
    q.attendees = r.stringList("attendees");
    q.recorded_at = r.string("recorded_at");
    q.duration_seconds = r.number("duration_seconds");
    q.consent = r.boolean("consent");
    q.ai_notes = r.boolean("ai_notes");
    q.locale = r.string("locale");
    q.time_zone = r.string("time_zone");
    q.workspace_id = r.optString("workspace_id");
    q.client_recording_id = r.optString("client_recording_id");
    q.attendee_emails = r.optStringList("attendee_emails");
    q.location = r.optString("location");
    return q;
}

} // namespace nuvel
