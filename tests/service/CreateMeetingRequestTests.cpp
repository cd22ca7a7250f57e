#include "NuvelKit/service/CreateMeetingRequest.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

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
    EXPECT_EQ(
        json::dump(minimal().toJson()),
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
    for (const char* key :
         {"attendees", "recorded_at", "duration_seconds", "consent", "ai_notes", "locale", "time_zone"}) {
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

// 2024-05-01T09:30:00.75Z
const Date recordedAt{736248600.75};
const Uuid recordingID = *Uuid::parse("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");

RecordingSegment segment(double seconds) {
    return RecordingSegment{Uuid::random(), seconds, recordedAt, "caf", std::nullopt, std::nullopt};
}

LocalRecording plainRecording() {
    LocalRecording r = LocalRecording::make("acc_1", std::nullopt, " \n", false, recordedAt, recordingID);
    r.segments = {segment(61.5)};
    return r;
}

std::optional<RecordingError::Code> buildError(const LocalRecording& r, std::string_view account = "acc_1") {
    try {
        CreateMeetingRequest::make(r, account, "en", "UTC", false);
    } catch (const RecordingError& e) {
        return e.code();
    }
    return std::nullopt;
}

TEST(CreateMeetingRequestFromRecording, GoldenJSONOfAPlainRecording) {
    CreateMeetingRequest q =
        CreateMeetingRequest::make(plainRecording(), "acc_1", "en", "Europe/Berlin", false);
    EXPECT_EQ(
        json::dump(q.toJson()),
        R"({"attendees":[],"recorded_at":"2024-05-01T09:30:00Z","duration_seconds":61.5,"consent":true,)"
        R"("ai_notes":false,"locale":"en","time_zone":"Europe/Berlin"})");
}

TEST(CreateMeetingRequestFromRecording, GoldenJSONWithEveryOptionalField) {
    LocalRecording r =
        LocalRecording::make("acc_1", std::string("ws_team"), "Board review", true, recordedAt, recordingID);
    r.segments = {segment(1800), segment(1799.5), segment(0.5)};
    r.attendees = std::vector<std::string>{"Ann", "Bo"};
    r.attendeeEmails = std::vector<std::string>{"ann@example.com", "bo@example.com"};
    r.location = "Room 4";
    CreateMeetingRequest q = CreateMeetingRequest::make(r, "acc_1", "ar", "Asia/Riyadh", true);
    const std::string text = json::dump(q.toJson());
    EXPECT_EQ(text,
              R"({"title":"Board review","attendees":["Ann","Bo"],"recorded_at":"2024-05-01T09:30:00Z",)"
              R"("duration_seconds":3600.0,"consent":true,"ai_notes":true,"locale":"ar",)"
              R"("time_zone":"Asia/Riyadh","workspace_id":"ws_team",)"
              R"("client_recording_id":"0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d",)"
              R"("attendee_emails":["ann@example.com","bo@example.com"],"location":"Room 4"})");
    EXPECT_EQ(CreateMeetingRequest::fromJson(json::Reader(json::parse(text))), q);
}

TEST(CreateMeetingRequestFromRecording, EmptyOptionalsAreLeftOutAndLocaleIsArOrEn) {
    LocalRecording r = plainRecording();
    r.attendeeEmails = std::vector<std::string>{};
    r.location = "";
    r.attendees = std::vector<std::string>{};
    CreateMeetingRequest q = CreateMeetingRequest::make(r, "acc_1", "ar", "UTC", false);
    EXPECT_FALSE(q.title);
    EXPECT_FALSE(q.attendee_emails);
    EXPECT_FALSE(q.location);
    EXPECT_FALSE(q.client_recording_id);
    EXPECT_FALSE(q.workspace_id);
    EXPECT_TRUE(q.consent);
    EXPECT_EQ(q.locale, "ar");
    for (const char* other : {"ar-SA", "AR", "en", "fr", ""})
        EXPECT_EQ(CreateMeetingRequest::make(r, "acc_1", other, "UTC", false).locale, "en") << other;
}

TEST(CreateMeetingRequestFromRecording, RefusesAnotherAccountFirstThenUnusableDurations) {
    LocalRecording r = plainRecording();
    EXPECT_EQ(buildError(r, "acc_2"), RecordingError::Code::accountMismatch);
    EXPECT_EQ(buildError(r, "ACC_1"), RecordingError::Code::accountMismatch);
    r.segments.clear();
    EXPECT_EQ(buildError(r, "acc_2"), RecordingError::Code::accountMismatch);
    EXPECT_EQ(buildError(r), RecordingError::Code::invalidDuration);
    for (std::vector<double> durations :
         {std::vector<double>{0},
          {0, 0},
          {-1, 0.5},
          {std::nan("")},
          {std::numeric_limits<double>::infinity()},
          {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()}}) {
        r.segments.clear();
        for (double d : durations)
            r.segments.push_back(segment(d));
        EXPECT_EQ(buildError(r), RecordingError::Code::invalidDuration) << durations[0];
    }
    r.segments = {segment(0), segment(0.001)};
    EXPECT_FALSE(buildError(r));
}

} // namespace
} // namespace nuvel
