#pragma once

#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Time.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// What the cloud meeting library holds for the windows to draw: the library list, the search
// hits, the open meeting with its lease, playback, and the one status sentence. Only the library
// model writes it, on the main queue; the values after construction are the ones below.
struct CloudMeetingState {
    // The library, in the service's order, pages appended.
    std::vector<MeetingSummary> meetings;
    // Hits of the latest library search.
    std::vector<MeetingSearchPage::Hit> searchResults;
    // The open meeting.
    std::optional<NativeMeetingDocument> document;
    // The view-only link created last, shown once.
    std::optional<std::string> pendingLinkURL;
    // Shares and links of the open meeting.
    std::optional<MeetingSharingDocument> sharing;
    // The open meeting's "raw" transcript layer.
    std::optional<MeetingTranscriptDocument> originalTranscript;
    // The cloud meeting the user selected.
    std::optional<std::string> selectedID;
    // A library load or a meeting load runs.
    bool loading = false;
    // The service has a further library page.
    bool hasMore = false;
    // Content comes from the offline copy, or the last request failed for a reason other than a
    // rejected session.
    bool offline = false;
    // The one status sentence.
    std::string message;
    // The service refused the session (401): nothing more loads until the user signs in again.
    bool signInNeeded = false;
    // A correction saved as a draft that may be sent again.
    std::optional<MeetingRevisionRequest> pendingCorrection;
    // The open meeting's audio may be played.
    bool audioAvailable = true;
    bool isPlaying = false;
    std::int64_t playbackMilliseconds = 0;
    // Length of the open meeting's transcript.
    std::int64_t durationMilliseconds = 0;

    // The signed-in device; its token goes with every request.
    std::optional<DeviceSession> session;
    // The workspace the library is attached to.
    std::string workspaceID;
    // The folder of the offline cache and of the playback files.
    std::optional<std::filesystem::path> cacheRoot;
    // Cursor of the next library page.
    std::optional<std::string> nextCursor;
    // Identity of the current attachment: every task writes only while it is unchanged.
    Uuid generation = Uuid::random();
    // When the open meeting's access was last confirmed, and when its lease ends.
    std::optional<Date> documentValidatedAt;
    std::optional<Date> documentExpiresAt;
    // The network path is usable.
    bool online = true;
    // Playback rate, 0.5 ... 2.0.
    float speed = 1.0f;
    // Seconds content fetched now may be shown offline; never above a day.
    double offlineLease = 0;
    // The workspace's server audio retention, as last read, and the values the service offers.
    std::optional<std::int64_t> retentionDays;
    std::vector<std::int64_t> retentionChoices;
};

} // namespace nuvel
