#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <optional>

namespace nuvel {
namespace {

using json::JsonError;

const Uuid recordingID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
const std::string recordingUUID = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const Uuid otherID = *Uuid::parse("11111111-2222-4333-8444-555555555555");

const std::vector<std::string> requiredKeys = {
    "version", "id",       "accountID", "createdAt", "title",      "aiNotes",          "consentAt",
    "capture", "transfer", "segments",  "bookmarks", "scratchpad", "acknowledgedParts"};

LocalRecording fresh() {
    return LocalRecording::make("acct-1", std::nullopt, "Weekly", true, Date{700000000.5}, recordingID);
}

// A manifest with every one of the 39 fields set.
LocalRecording full() {
    LocalRecording r = LocalRecording::make("acct-1", std::string("ws-9"), "  Board\n", false,
                                            Date{700000000.25}, recordingID);
    r.consentAt = Date{700000001};
    r.capture = CaptureState::saved;
    r.transfer = TransferState::uploading;
    r.segments = {RecordingSegment{otherID, 5.0, Date{700000002}, "caf", 0, "live"},
                  RecordingSegment{recordingID, 1.5, Date{700000007}, "m4a", std::nullopt, std::nullopt}};
    r.recoveryAssetIDs = std::vector<Uuid>{otherID, recordingID};
    r.captureAssetID = otherID;
    r.capturedFrames = 312000;
    CaptureTimeline timeline;
    timeline.spans = {{100.5, Date{700000002}, 0, 240000, 105.5},
                      {200.0, Date{700000100}, 240000, 312000, std::nullopt}};
    timeline.intervals = {{"system", 48000, 0, 100.5, 105.5, 0, 240000, 240000}};
    timeline.committedFrames = 312000;
    r.sourceTimeline = timeline;
    r.captureMode = "application_and_microphone";
    r.captureSourceName = "Zoom";
    r.microphoneUID = "alsa_input.usb";
    r.bookmarks = {Bookmark{otherID, 1200, Date{700000003}, "decision"}};
    r.scratchpad = "notes\nmore";
    CreateMeetingRequest request;
    request.title = "Board";
    request.attendees = {"Ann"};
    request.recorded_at = "2023-03-07T20:26:40Z";
    request.duration_seconds = 6.5;
    request.consent = true;
    request.locale = "en";
    request.time_zone = "Europe/Berlin";
    r.creationRequest = request;
    r.remoteID = "mt_1";
    r.partBytes = 8388608;
    r.acknowledgedParts = {0, 2};
    r.transportAssetID = recordingID;
    r.transportSHA256 = std::string(64, 'a');
    r.transportBytes = 104857;
    r.errorCode = "rate_limited";
    r.remoteState = "queued";
    r.uploadQueued = false;
    r.retryAt = Date{700000500.75};
    r.retryAttempts = 2;
    r.resultURL = Url::parse("https://app.getnuvel.com/m/mt_0123456789abcdef0123456789abcdef");
    r.attendees = std::vector<std::string>{"Ann", "Bo"};
    r.attendeeEmails = std::vector<std::string>{"ann@example.com"};
    r.location = "Room 4";
    r.notepad = std::vector<NotepadLine>{{"nabc12345", "first", 0}, {"nabc12346", "", std::nullopt}};
    r.notepadRevision = 3;
    r.notepadBase = std::vector<NotepadLine>{{"nabc12345", "first", 0}};
    return r;
}

json::Value documentOf(const LocalRecording& r) {
    return json::parse(r.encoded());
}

std::optional<JsonError::Code> decodeError(const json::Value& doc) {
    try {
        LocalRecording::fromJson(doc);
    } catch (const JsonError& e) {
        return e.code();
    }
    return std::nullopt;
}

TEST(LocalRecordingCreation, SetsTheStartingValues) {
    LocalRecording r = LocalRecording::make("acct-1", std::string("ws"), " \t\n Weekly sync \u2028\n", true,
                                            Date{42}, recordingID);
    EXPECT_EQ(r.version, 1);
    EXPECT_EQ(r.title, "Weekly sync");
    EXPECT_EQ(r.consentAt, Date{42});
    EXPECT_EQ(r.capture, CaptureState::recording);
    EXPECT_EQ(r.transfer, TransferState::local);
    EXPECT_EQ(r.workspaceID, "ws");
    EXPECT_FALSE(r.uploadQueued); // absent, not false
    EXPECT_FALSE(r.capturedFrames);
    EXPECT_EQ(r.totalDuration(), 0.0);

    EXPECT_EQ(LocalRecording::make("a", std::nullopt, " \n ", false, Date{0}, recordingID).title, "");
    EXPECT_EQ(LocalRecording::make(" ", std::nullopt, "", false, Date{0}, recordingID).accountID, " ");
    try {
        LocalRecording::make("", std::nullopt, "x", false, Date{0}, recordingID);
        FAIL() << "an empty account id is refused";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::missingAccount);
    }
}

TEST(LocalRecordingCreation, RequireAccountAndTotalDuration) {
    LocalRecording r = full();
    EXPECT_NO_THROW(r.requireAccount("acct-1"));
    try {
        r.requireAccount("acct-2");
        FAIL() << "another account is refused";
    } catch (const RecordingError& e) {
        EXPECT_EQ(e.code(), RecordingError::Code::accountMismatch);
    }
    EXPECT_EQ(r.totalDuration(), 6.5);
}

TEST(LocalRecordingJson, NewManifestWritesExactlyTheRequiredKeys) {
    EXPECT_EQ(
        fresh().encoded(),
        R"({"version":1,"id":")" + recordingUUID +
            R"(","accountID":"acct-1","createdAt":700000000.5,"title":"Weekly","aiNotes":true,)"
            R"("consentAt":700000000.5,"capture":"recording","transfer":"local","segments":[],"bookmarks":[],)"
            R"("scratchpad":"","acknowledgedParts":[]})");
    json::Value doc = documentOf(fresh());
    EXPECT_EQ(doc.size(), requiredKeys.size());
    for (const std::string& key : requiredKeys)
        EXPECT_TRUE(doc.contains(key)) << key;
    EXPECT_EQ(LocalRecording::fromJson(doc), fresh());
}

TEST(LocalRecordingJson, EveryFieldSurvivesARoundTrip) {
    const LocalRecording r = full();
    const std::string text = r.encoded();
    LocalRecording back = LocalRecording::decode(text);
    EXPECT_EQ(back, r);
    EXPECT_EQ(back.encoded(), text);
    EXPECT_EQ(text, json::dump(r.toJson())); // the text of the whole tree, segments and all
    EXPECT_EQ(documentOf(r).size(), 39u);

    // Spot checks of the written forms.
    json::Value doc = documentOf(r);
    EXPECT_EQ(doc["captureAssetID"], otherID.uppercase());
    EXPECT_EQ(doc["retryAt"], 700000500.75);
    EXPECT_EQ(doc["sourceTimeline"]["spans"][1].contains("hostEnd"), false);
    EXPECT_EQ(doc["creationRequest"].contains("workspace_id"), false);
    EXPECT_TRUE(doc["notepad"][1]["at"].is_null());
    EXPECT_EQ(doc["resultURL"], "https://app.getnuvel.com/m/mt_0123456789abcdef0123456789abcdef");
    EXPECT_EQ(text.find(' '), text.find("Room 4") + 4); // compact: the only space is inside a value
}

TEST(LocalRecordingJson, EachRequiredKeyMustBePresentAndNotNull) {
    for (const std::string& key : requiredKeys) {
        json::Value missing = documentOf(fresh());
        missing.erase(key);
        EXPECT_EQ(decodeError(missing), JsonError::Code::missingKey) << key;
        json::Value null = documentOf(fresh());
        null[key] = nullptr;
        EXPECT_EQ(decodeError(null), JsonError::Code::missingKey) << key;
    }
}

TEST(LocalRecordingJson, WrongTypesAndUnknownStatesFail) {
    auto withValue = [](const std::string& key, json::Value value) {
        json::Value doc = documentOf(full());
        doc[key] = std::move(value);
        return decodeError(doc);
    };
    EXPECT_EQ(withValue("version", "1"), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("version", 1.5), JsonError::Code::outOfRange);
    EXPECT_EQ(withValue("id", "not-a-uuid"), JsonError::Code::invalidValue);
    EXPECT_EQ(withValue("id", 7), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("accountID", json::Value::array()), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("createdAt", "2024-01-01T00:00:00Z"), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("aiNotes", 1), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("segments", json::Value::object()), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("scratchpad", 0), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("acknowledgedParts", json::parse("[0, 1.5]")), JsonError::Code::outOfRange);
    EXPECT_EQ(withValue("acknowledgedParts", json::parse(R"(["0"])")), JsonError::Code::wrongType);
    for (const char* raw : {"Recording", "RECORDING", "stopped", ""})
        EXPECT_EQ(withValue("capture", raw), JsonError::Code::invalidValue) << raw;
    for (const char* raw : {"Local", "needsreview", "done"})
        EXPECT_EQ(withValue("transfer", raw), JsonError::Code::invalidValue) << raw;
    // Optional keys that are present must have the right type too.
    EXPECT_EQ(withValue("uploadQueued", "yes"), JsonError::Code::wrongType);
    EXPECT_EQ(withValue("captureAssetID", "xyz"), JsonError::Code::invalidValue);
    EXPECT_EQ(withValue("resultURL", "app.getnuvel.com/m/x"), JsonError::Code::invalidValue);
    EXPECT_EQ(withValue("resultURL", "https://exa mple.com/"), JsonError::Code::invalidValue);
    EXPECT_EQ(withValue("recoveryAssetIDs", json::parse(R"(["zz"])")), JsonError::Code::invalidValue);
    EXPECT_EQ(withValue("notepad", json::parse(R"([{"id":"n123"}])")), JsonError::Code::missingKey);
}

TEST(LocalRecordingJson, NestedDocumentsFailTheWholeManifest) {
    json::Value doc = documentOf(full());
    doc["segments"][1].erase("duration");
    EXPECT_EQ(decodeError(doc), JsonError::Code::missingKey);

    doc = documentOf(full());
    doc["sourceTimeline"].erase("committedFrames");
    EXPECT_EQ(decodeError(doc), JsonError::Code::missingKey);

    doc = documentOf(full());
    doc["creationRequest"]["consent"] = nullptr;
    EXPECT_EQ(decodeError(doc), JsonError::Code::missingKey);

    doc = documentOf(full());
    doc["bookmarks"][0]["mediaMilliseconds"] = 1.25;
    EXPECT_EQ(decodeError(doc), JsonError::Code::outOfRange);
}

TEST(LocalRecordingJson, OptionalKeysAbsentOrNullReadAsAbsent) {
    json::Value doc = documentOf(full());
    doc["uploadQueued"] = nullptr;
    doc["sourceTimeline"] = nullptr;
    doc["creationRequest"] = nullptr;
    doc["resultURL"] = nullptr;
    doc.erase("notepad");
    LocalRecording r = LocalRecording::fromJson(doc);
    EXPECT_FALSE(r.uploadQueued);
    EXPECT_FALSE(r.sourceTimeline);
    EXPECT_FALSE(r.creationRequest);
    EXPECT_FALSE(r.resultURL);
    EXPECT_FALSE(r.notepad);
    json::Value written = documentOf(r);
    for (const char* key : {"uploadQueued", "sourceTimeline", "creationRequest", "resultURL", "notepad"})
        EXPECT_FALSE(written.contains(key)) << key;
    EXPECT_EQ(written.size(), 34u);
}

TEST(LocalRecordingJson, LenientWhereTheFormatAllows) {
    json::Value doc = documentOf(full());
    doc["version"] = 1.0;
    doc["capturedFrames"] = 312000.0;
    doc["acknowledgedParts"] = json::parse("[2, 0, 2.0]");
    doc["id"] = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"; // either letter case reads
    doc["futureField"] = json::parse(R"({"a":[1,2]})");
    LocalRecording r = LocalRecording::fromJson(doc);
    EXPECT_EQ(r, full());
    EXPECT_EQ(r.acknowledgedParts, (std::set<std::int64_t>{0, 2}));
    json::Value written = documentOf(r);
    EXPECT_FALSE(written.contains("futureField"));
    EXPECT_EQ(written["id"], recordingUUID);
    EXPECT_EQ(written["version"].dump(), "1");
}

TEST(LocalRecordingJson, DecodingChecksNoRangesValidateDoes) {
    json::Value doc = documentOf(fresh());
    doc["version"] = 2;
    LocalRecording v2 = LocalRecording::fromJson(doc);
    EXPECT_EQ(v2.version, 2);

    auto validateCode = [](const LocalRecording& r,
                           const Uuid& folder) -> std::optional<RecordingError::Code> {
        try {
            r.validate(folder);
        } catch (const RecordingError& e) {
            return e.code();
        }
        return std::nullopt;
    };
    EXPECT_EQ(validateCode(full(), recordingID), std::nullopt);
    EXPECT_EQ(validateCode(v2, recordingID), RecordingError::Code::invalidManifest);
    EXPECT_EQ(validateCode(full(), otherID), RecordingError::Code::invalidManifest);
    for (double bad : {0.0, -0.0, -1.0, std::numeric_limits<double>::infinity()}) {
        LocalRecording r = full();
        r.segments[1].duration = bad;
        EXPECT_EQ(validateCode(r, recordingID), RecordingError::Code::invalidManifest) << bad;
    }
}

TEST(LocalRecordingJson, RefusesToWriteNumbersJsonCannotHold) {
    LocalRecording r = full();
    r.segments[0].duration = std::numeric_limits<double>::quiet_NaN();
    try {
        r.encoded();
        FAIL() << "NaN has no JSON form";
    } catch (const JsonError& e) {
        EXPECT_EQ(e.code(), JsonError::Code::unencodable);
    }
}

TEST(LocalRecordingInterruption, RunningCapturesAndLostAnswers) {
    struct Case {
        CaptureState capture;
        TransferState transfer;
        CaptureState capture2;
        TransferState transfer2;
        bool ambiguous;
    };
    const Case cases[] = {
        {CaptureState::recording, TransferState::local, CaptureState::interrupted, TransferState::local,
         false},
        {CaptureState::paused, TransferState::committing, CaptureState::interrupted,
         TransferState::needsReview, true},
        {CaptureState::finalizing, TransferState::creating, CaptureState::interrupted,
         TransferState::needsReview, true},
        {CaptureState::saved, TransferState::uploading, CaptureState::saved, TransferState::uploading, false},
        {CaptureState::interrupted, TransferState::failed, CaptureState::interrupted, TransferState::failed,
         false},
        {CaptureState::saved, TransferState::accepted, CaptureState::saved, TransferState::accepted, false},
        {CaptureState::saved, TransferState::needsReview, CaptureState::saved, TransferState::needsReview,
         false},
    };
    for (const Case& c : cases) {
        LocalRecording r = full();
        r.capture = c.capture;
        r.transfer = c.transfer;
        r.errorCode = "quota";
        LocalRecording before = r;
        r.markInterrupted();
        EXPECT_EQ(r.capture, c.capture2);
        EXPECT_EQ(r.transfer, c.transfer2);
        EXPECT_EQ(r.errorCode, c.ambiguous ? "ambiguous_request" : "quota");
        // Nothing else moves.
        r.capture = before.capture;
        r.transfer = before.transfer;
        r.errorCode = before.errorCode;
        EXPECT_EQ(r, before);
    }
}

} // namespace
} // namespace nuvel
