#include "NuvelKit/service/CreateMeetingRequest.hpp"

namespace nuvel {

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
