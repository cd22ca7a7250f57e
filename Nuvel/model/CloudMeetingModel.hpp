#pragma once

#include "Nuvel/model/CloudMeetingState.hpp"
#include "NuvelKit/meetings/MeetingExport.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/service/DeviceSession.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Uuid.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nuvel {

// How a transcript correction ended, for the detail screen: saved on the service, or not (with
// `conflict` when the transcript changed elsewhere); the screen shows the model's status
// sentence with it.
using CorrectionCompletion = std::function<void(bool saved, bool conflict)>;

// How a guest invitation ended, for the sharing sheet: invited (and the sharing list reloaded),
// or not; the sheet shows the model's status sentence with a failure.
using InvitationCompletion = std::function<void(bool invited)>;

// The cloud meeting library the application model owns: configured for the open workspace,
// reset on sign-out, told whether the network can be reached; the library window reads its
// state and reports the user's requests to it, the settings window reads and changes the
// server audio retention and clears the cached meetings. It runs on the main queue, like the
// application model, and reports every outcome through its state's one status sentence and
// its change observer.
class CloudMeetingModel {
public:
    virtual ~CloudMeetingModel() = default;

    // Observers the application model forwards to its own `onChange` and `onTick`.
    virtual void setOnChange(std::function<void()> onChange) = 0;
    virtual void setOnPlaybackTick(std::function<void()> onPlaybackTick) = 0;
    // Told the ids of the meetings the library has let go because they are gone for this user:
    // deleted here or on the service, or no longer theirs to read.
    virtual void setOnMeetingsGone(std::function<void(const std::vector<std::string>&)> onGone) = 0;

    // What the windows draw.
    virtual const CloudMeetingState& state() const = 0;
    // Whether the open meeting may still be shown and acted on.
    virtual bool documentLeaseIsValid() const = 0;

    // Resets first, then keeps the session, the workspace and the cache root (the account folder
    // + "cloud-documents"), derives the offline lease from `offlineSeconds`, makes the sealed
    // meeting cache of the account and workspace and starts loading the library. The folders are
    // prepared off the main thread; the task throws the file system's error when they cannot be.
    virtual Task<void> configure(const DeviceSession& session, const std::string& workspaceID,
                                 const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                                 std::optional<double> offlineSeconds) = 0;

    // Cancels its work, forgets session, cache and lists (no file is deleted) and tells its
    // change observer.
    virtual void reset() = 0;
    // The service no longer knows the session: resets, then shows the library's sign-in
    // sentence with `signInNeeded`, as a load refused with 401 does.
    virtual void refuseSession() = 0;

    // Stops and releases the cloud player, if one plays.
    virtual void stopPlayback() = 0;

    // Going offline with an open meeting whose lease no longer holds expires that meeting.
    virtual void setOnline(bool online) = 0;

    // The library's first page (replacing the list), or with `more` the next one (appended).
    virtual void loadLibrary(bool more) = 0;
    // A library-wide search; an empty query clears the hits.
    virtual void search(const std::string& query) = 0;
    // Opens a cloud meeting; `refreshing` keeps the open meeting on screen while it reloads.
    virtual void openMeeting(const std::string& meetingID, bool refreshing) = 0;
    // Exports the open meeting in `format` after asking where; `variant` "raw" exports the
    // original transcript layer, anything else the corrected one.
    virtual void exportMeeting(MeetingExport::Format format, const std::string& variant) = 0;

    // ---- Changes to the open meeting (each needs its access lease and the right named) ----

    // A transcript correction against `baseRevision` ("edit"): kept as a sealed draft on this
    // computer before it is sent under a fresh lower-case request key, which a retry sends again.
    // The completion is called exactly once while the same meeting stays shown; it is not called
    // when the meeting closed, the session ended, or the failure revoked the meeting.
    virtual void submitCorrection(std::vector<MeetingRevisionOperation> operations, std::int64_t baseRevision,
                                  CorrectionCompletion completion) = 0;
    // Sends a saved correction again, unchanged (same request key), when `generation` is still
    // current and `meetingID` is still the open meeting; the session is the caller's.
    virtual Task<void> retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                                       CorrectionCompletion completion, DeviceSession session,
                                       Uuid generation) = 0;

    // Plays the open meeting's audio: without a position, plays or pauses; with one, seeks there
    // (never before 0) and plays. The first play downloads the audio.
    virtual void play(std::optional<std::int64_t> positionMilliseconds) = 0;
    // The playback rate, clamped to 0.5 ... 2.0 (not a number: 0.5); a playing player follows at once.
    virtual void setSpeed(float speed) = 0;

    // Sharing ("share"): invite, revoke a guest's share, create a view-only link (shown once in
    // `pendingLinkURL`), revoke a link. An invitation's end goes to `completion`, after the
    // model's change; a refused launch answers false at once.
    virtual void updateSharing(MeetingShareRequest request, InvitationCompletion completion) = 0;
    virtual void revokeShare(std::string shareID) = 0;
    virtual void createLink(int days, bool includeAudio) = 0;
    virtual void revokeLink(std::string linkID) = 0;
    // Renames the open meeting ("edit") to the title trimmed of white space, 1 to 200 characters.
    virtual void renameTitle(std::string title) = 0;
    // Asks the user, then deletes the open meeting from the service ("delete").
    virtual void confirmDelete() = 0;

    // Reads the workspace's server audio retention with the caller's session; writes only while
    // the generation the caller took is current.
    virtual Task<void> refreshServerRetention(Uuid generation, DeviceSession session) = 0;
    // Asks the service to keep audio that many days; only a value among the offered choices.
    virtual void setServerRetentionDays(std::int64_t days) = 0;
    // Deletes every cached meeting and draft of the workspace from this computer and closes the
    // open meeting; the lists are emptied only while the caller's generation is current.
    virtual Task<void> clearCache(Uuid generation) = 0;
};

} // namespace nuvel
