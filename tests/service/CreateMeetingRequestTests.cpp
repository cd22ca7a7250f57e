#include <gtest/gtest.h>

#include "NuvelKit/service/CreateMeetingRequest.hpp"

namespace nuvel {
namespace {

CreateMeetingRequest minimal() {
    CreateMeetingRequest r;
    r.attendees = {};
    r.recorded_at = "2024-05-01T09:30:00Z";
    r.duration_seconds = 61.5;
    r.consent = true;
    r.ai_notes = false;
    r.locale = "en";
    r.time_zone = "Europe/Berlin";
    return r;
}

TEST(CreateMeetingRequest, WritesOptionalKeysOnlyWhenPresent) {
    EXPECT_EQ(json::dump(minimal().toJson()),
              R"({"attendees":[],"recorded_at":"2024-05-01T09:30:00Z","duration_seconds":61.5,"consent":true,)"
              R"("ai_notes":false,"locale":"en","time_zone":"Europe/Berlin"})");

    CreateMeetingRequest full = minimal();
    full.title = "Board";
    full.attendees = {"Ann", "Bo"};
    full.workspace_id = "ws_1";
    full.client_recording_id = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    full.attendee_emails = std::vector<std::string>{"ann@example.com"};
    full.location = "Room 4";
    const std::string text = json::dump(full.toJson());
    EXPECT_EQ(text, R"({"title":"Board","attendees":["Ann","Bo"],"recorded_at":"2024-05-01T09:30:00Z",)"
                    R"("duration_seconds":61.5,"consent":true,"ai_notes":false,"locale":"en",)"
                    R"("time_zone":"Europe/Berlin","workspace_id":"ws_1",)"
                    R"("client_recording_id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",)"
                    R"("attendee_emails":["ann@example.com"],"location":"Room 4"})");
    EXPECT_EQ(CreateMeetingRequest::fromJson(json::Reader(json::parse(text))), full);
}

TEST(CreateMeetingRequest, RequiresTheSevenKeysAndReadsNullOptionalsAsAbsent) {
    const std::string text = json::dump(minimal().toJson());
    for (const char* key : {"attendees", "recorded_at", "duration_seconds", "consent", "ai_notes", "locale", "time_zone"}) {
        json::Value missing = json::parse(text);
        missing.erase(key);
        EXPECT_THROW(CreateMeetingRequest::fromJson(json::Reader(missing)), json::JsonError) << key;
        json::Value null = json::parse(text);
        null[key] = nullptr;
        EXPECT_THROW(CreateMeetingRequest::fromJson(json::Reader(null)), json::JsonError) << key;
    }
    json::Value doc = json::parse(text);
    for (const char* key : {"title", "workspace_id", "client_recording_id", "attendee_emails", "location"})
        doc[key] = nullptr;
    doc["unknown"] = 1;
    doc["duration_seconds"] = 61; // any JSON number
    CreateMeetingRequest read = CreateMeetingRequest::fromJson(json::Reader(doc));
    CreateMeetingRequest expected = minimal();
    expected.duration_seconds = 61;
    EXPECT_EQ(read, expected);

    json::Value wrong = json::parse(text);
    wrong["consent"] = "true";
    EXPECT_THROW(CreateMeetingRequest::fromJson(json::Reader(wrong)), json::JsonError);
    wrong = json::parse(text);
    wrong["attendees"] = json::parse("[1]");
    EXPECT_THROW(CreateMeetingRequest::fromJson(json::Reader(wrong)), json::JsonError);
}

TEST(CreateMeetingRequest, EqualityCoversEveryField) {
    CreateMeetingRequest a = minimal(), b = minimal();
    EXPECT_EQ(a, b);
    b.attendee_emails = std::vector<std::string>{};
    EXPECT_FALSE(a == b); // an empty list is not an absent one
    b = minimal();
    b.location = "x";
    EXPECT_FALSE(a == b);
}

} // namespace
} // namespace nuvel
