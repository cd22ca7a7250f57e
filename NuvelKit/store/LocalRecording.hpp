#pragma once

#include "NuvelKit/capture/CaptureTimeline.hpp"
#include "NuvelKit/service/CreateMeetingRequest.hpp"
#include "NuvelKit/store/Bookmark.hpp"
#include "NuvelKit/store/Notepad.hpp"
#include "NuvelKit/store/RecordingSegment.hpp"
#include "NuvelKit/store/RecordingStates.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Url.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

// The manifest of one local recording: everything kept about it apart from its audio bytes. A
// plain value. Its JSON form is the file format of "manifest.nuvel": the keys are the field
// names, optional fields are written only when present and read as absent when missing or null,
// keys the format does not define are ignored.
struct LocalRecording {
    // Required keys are marked "required".
    std::int64_t version = 1; // required; always 1
    Uuid id;                  // required; also the recording's folder name
    std::string accountID;    // required
    std::optional<std::string> workspaceID;
    Date createdAt;                                 // required
    std::string title;                              // required
    bool aiNotes = false;                           // required
    Date consentAt;                                 // required
    CaptureState capture = CaptureState::recording; // required
    TransferState transfer = TransferState::local;  // required
    std::vector<RecordingSegment> segments;         // required; playback order
    std::optional<std::vector<Uuid>> recoveryAssetIDs;
    std::optional<Uuid> captureAssetID; // names "capture-<UUID>.caf"
    std::optional<std::int64_t> capturedFrames;
    std::optional<CaptureTimeline> sourceTimeline;
    std::optional<std::string> captureMode; // "room" or "application_and_microphone"
    std::optional<std::string> captureSourceName;
    std::optional<std::string> microphoneUID;
    std::vector<Bookmark> bookmarks; // required
    std::string scratchpad;          // required
    std::optional<CreateMeetingRequest> creationRequest;
    std::optional<std::string> remoteID;
    std::optional<std::int64_t> partBytes;
    std::set<std::int64_t> acknowledgedParts; // required
    std::optional<Uuid> transportAssetID;
    std::optional<std::string> transportSHA256;
    std::optional<std::int64_t> transportBytes;
    std::optional<std::string> errorCode;
    std::optional<std::string> remoteState;
    std::optional<bool> uploadQueued;
    std::optional<Date> retryAt;
    std::optional<std::int64_t> retryAttempts; // absent counts as 0
    std::optional<Url> resultURL;              // only links NuvelLink::isMeetingLink accepts
    std::optional<std::vector<std::string>> attendees;
    std::optional<std::vector<std::string>> attendeeEmails;
    std::optional<std::string> location;
    std::optional<std::vector<NotepadLine>> notepad;
    std::optional<std::int64_t> notepadRevision;
    std::optional<std::vector<NotepadLine>> notepadBase;

    // A new recording: version 1, the title trimmed of white space and line breaks, consent at
    // the creation time, capture "recording", transfer "local", no segments, bookmarks or
    // acknowledged parts, an empty scratchpad and every optional field absent.
    // Throws RecordingError::missingAccount for an empty account id (not trimmed first).
    static LocalRecording make(std::string accountID, std::optional<std::string> workspaceID,
                               std::string_view title, bool aiNotes, Date createdAt, Uuid id);

    // The segments' durations added in list order; 0 without segments.
    double totalDuration() const;

    // Throws RecordingError::accountMismatch unless `account` is the owner.
    void requireAccount(std::string_view account) const;

    // What an interruption leaves: a capture that was running (recording, paused, finalizing)
    // becomes interrupted; a request to the service whose answer may be lost (creating,
    // committing) leaves the transfer in needsReview with errorCode "ambiguous_request".
    void markInterrupted();

    // Lists audio kept outside the timeline: recoveryAssetIDs then holds each distinct id it
    // held before and `assetID`, once each.
    void addRecoveryAsset(const Uuid& assetID);

    // The checks a manifest read from the store must pass: version 1, the id of the folder it was
    // read from, and every segment's duration finite and above zero. Throws
    // RecordingError::invalidManifest otherwise. Decoding itself checks no ranges.
    void validate(const Uuid& folderID) const;

    json::Ordered toJson() const;
    // Fails with json::JsonError for a missing or null required key, a value of the wrong type, an
    // unknown state string, or text that is not a UUID or an absolute URL.
    static LocalRecording fromJson(const json::Value& document);

    // Compact JSON text (json::dump of toJson), and back.
    std::string encoded() const;
    static LocalRecording decode(std::string_view text);

    bool operator==(const LocalRecording&) const = default;

private:
    // toJson with an empty "segments" array in the segments' place.
    json::Ordered toJsonWithoutSegments() const;
};

} // namespace nuvel
