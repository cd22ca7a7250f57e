#pragma once

#include "NuvelKit/meetings/MeetingClientError.hpp"
#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingNotes.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "NuvelKit/service/HttpTransport.hpp"
#include "NuvelKit/support/Bytes.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel {

// First and last byte of a part of a meeting's audio, both inclusive.
struct AudioByteRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

// The client of the service's meeting-library API: library pages, search, one meeting, its
// transcript layers and notes, corrections, renaming, deletion, sharing, view-only links, the
// workspace's audio retention and the audio itself.
//
// The client holds no sign-in state: every operation takes the device's bearer token. Each
// operation is synchronous and may block on the network, so it is called from worker threads.
// Nothing changes after construction, so calls from several threads may run at once (`document`
// itself runs two requests side by side); a stop request on the token passed in ends the request
// in flight with `Cancelled`.
//
// Failures:
//  - the service answered outside 200...299: MeetingClientError (status, code, revision, delay);
//  - an argument or answer outside the contract (a value outside an allowed list, a body over
//    64 MiB, a token that could split the request, a wrong audio content type, an existing
//    destination): RecordingError::invalidTransport;
//  - an id that may not enter a URL path: RecordingError::unsafePath;
//  - no answer at all: TransportError; a 2xx body that does not decode: json::JsonError;
//  - file system failures of the audio download: std::filesystem::filesystem_error.
// Argument checks run before anything is sent. No operation retries.
class NativeMeetingClient {
public:
    // The largest response body taken (success or error); one byte more fails the call.
    static constexpr std::size_t maxBodyBytes = 64 * 1024 * 1024;
    // A request fails as timed out when nothing moves for this long.
    static constexpr double idleTimeoutSeconds = 60;

    // `origin`: the service's https URL, e.g. "https://api.example", or an http one on a loopback
    // host (127.0.0.1, [::1], localhost) (requests go to
    // "<origin>/api/..."). Throws std::invalid_argument for an origin that is not one, or no transport.
    NativeMeetingClient(std::string origin, std::shared_ptr<HttpTransport> transport);

    const std::string& origin() const noexcept { return origin_; }

    // GET meetings: one page of the workspace's library; `limit` is clamped to 1...100. Pass the
    // page's `next_cursor` as `cursor` for the next page.
    MeetingLibraryPage libraryPage(std::string_view workspaceID, const std::optional<std::string>& cursor,
                                   std::int64_t limit, std::string_view token,
                                   std::stop_token stop = {}) const;
    // GET search: the first 200 characters (grapheme clusters) of `query`, unchanged otherwise.
    MeetingSearchPage search(std::string_view query, const std::optional<std::string>& workspaceID,
                             std::string_view token, std::stop_token stop = {}) const;
    // GET meetings/{id}.
    MeetingSummary meeting(std::string_view meetingID, std::string_view token,
                           std::stop_token stop = {}) const;
    // GET meetings/{id}/audio into a new file at `destination`, readable by the owner only. The
    // destination's folder is created when missing; an existing destination is never replaced.
    void downloadAudio(std::string_view meetingID, std::string_view token,
                       const std::filesystem::path& destination, std::stop_token stop = {}) const;
    // GET meetings/{id}/transcript; `layer` is "raw" or "corrected".
    MeetingTranscriptDocument transcript(std::string_view meetingID, std::string_view layer,
                                         std::string_view token, std::stop_token stop = {}) const;
    // GET meetings/{id}/notes.
    MeetingNotesDocument notes(std::string_view meetingID, std::string_view token,
                               std::stop_token stop = {}) const;
    // The opened meeting: the corrected transcript and the notes, fetched side by side. When the
    // transcript fails, the notes request is cancelled and the transcript's error thrown.
    NativeMeetingDocument document(const MeetingSummary& summary, std::string_view token,
                                   std::stop_token stop = {}) const;
    // PATCH meetings/{id}/revision: a transcript correction.
    MeetingRevisionResult revise(std::string_view meetingID, const MeetingRevisionRequest& request,
                                 std::string_view token, std::stop_token stop = {}) const;
    // PATCH meetings/{id} with {"title": title}.
    void rename(std::string_view meetingID, std::string_view title, std::string_view token,
                std::stop_token stop = {}) const;
    // DELETE meetings/{id}.
    void deleteMeeting(std::string_view meetingID, std::string_view token, std::stop_token stop = {}) const;
    // GET meetings/reconcile for at most 100 ids.
    MeetingReconciliation reconcile(const std::vector<std::string>& meetingIDs, std::string_view token,
                                    std::stop_token stop = {}) const;
    // GET meetings/{id}/sharing.
    MeetingSharingDocument sharing(std::string_view meetingID, std::string_view token,
                                   std::stop_token stop = {}) const;
    // POST meetings/{id}/shares.
    void addShare(std::string_view meetingID, const MeetingShareRequest& request, std::string_view token,
                  std::stop_token stop = {}) const;
    // DELETE meetings/{id}/shares/{share id}.
    void removeShare(std::string_view meetingID, std::string_view shareID, std::string_view token,
                     std::stop_token stop = {}) const;
    // POST meetings/{id}/links: a view-only link for 1, 7 or 30 days; returns the created link.
    MeetingJSON createLink(std::string_view meetingID, int days, bool includeAudio, std::string_view token,
                           std::stop_token stop = {}) const;
    // DELETE meetings/{id}/links/{link id}.
    void revokeLink(std::string_view meetingID, std::string_view linkID, std::string_view token,
                    std::stop_token stop = {}) const;
    // GET settings: the workspace settings, among them "retention_days".
    MeetingJSON settings(std::string_view token, std::stop_token stop = {}) const;
    // PUT settings with {"retention_days": days}; days is 7, 30, 90 or 365.
    void updateSettings(int retentionDays, std::string_view token, std::stop_token stop = {}) const;

    // The authorised GET of a meeting's audio, with a "Range" header when a range is given.
    HttpRequest audioRequest(std::string_view meetingID, std::string_view token,
                             std::optional<AudioByteRange> range = std::nullopt) const;

private:
    using QueryItems = std::vector<std::pair<std::string, std::string>>;

    // The one request routine of the JSON operations: "<origin>/api/<path>?<query>", the token and
    // JSON headers, and the response check. Returns the body of a 2xx answer.
    Bytes send(std::string_view path, std::string_view method, const QueryItems& query,
               std::optional<Bytes> body, std::string_view token, std::stop_token stop) const;

    // Throws RecordingError::unsafePath unless `id` may stand as one segment of a URL path.
    static void requireSafeID(std::string_view id);
    // "Bearer <token>"; throws RecordingError::invalidTransport for a token holding CR, LF or NUL.
    static std::string authorization(std::string_view token);

    std::string origin_;
    std::string apiRoot_; // "<origin>/api/"
    std::shared_ptr<HttpTransport> transport_;
};

} // namespace nuvel
