#pragma once

#include "Nuvel/model/AudioPlayer.hpp"
#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/cloud/CloudLibraryDependencies.hpp"
#include "NuvelKit/meetings/MeetingCache.hpp"
#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

class Failure;

// Makes the cloud meeting library over the given client. Throws std::invalid_argument when a
// required dependency is missing. Call it on the main queue.
std::unique_ptr<CloudMeetingModel> makeCloudMeetingModel(CloudLibraryDependencies dependencies);

// The cloud meeting library of the signed-in workspace: the paged library with its offline copy,
// the search, the open meeting under its access lease, the server audio retention, clearing the
// cache and exporting.
//
// Everything runs on the main queue. Work that waits runs in tasks on the main queue; the client
// and the cache are called on the actor executor. Every task remembers the generation it started
// under and writes only while it is unchanged; `reset` (and so `configure`) takes a new one. A
// library or meeting load also holds a load ticket: only the newest load writes, so a load that
// was overtaken (a refresh during a load, a load cancelled by opening a meeting) changes nothing,
// not even `loading`. Tasks hold the model through an anchor that the destructor clears, so a task
// that outlives the model does nothing.
class CloudLibrary final : public CloudMeetingModel {
public:
    // The library's cache key of its own offline copy.
    static constexpr const char* libraryKey = "__library__";
    static constexpr std::int64_t pageSize = 50;
    static constexpr std::size_t reconcileBatch = 100;
    static constexpr double maximumOfflineSeconds = 86400;

    explicit CloudLibrary(CloudLibraryDependencies dependencies);
    ~CloudLibrary() override;
    CloudLibrary(const CloudLibrary&) = delete;
    CloudLibrary& operator=(const CloudLibrary&) = delete;

    void setOnChange(std::function<void()> onChange) override;
    void setOnPlaybackTick(std::function<void()> onPlaybackTick) override;
    const CloudMeetingState& state() const override { return state_; }
    bool documentLeaseIsValid() const override;

    Task<void> configure(const DeviceSession& session, const std::string& workspaceID,
                         const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                         std::optional<double> offlineSeconds) override;
    void reset() override;
    void refuseSession() override;
    void stopPlayback() override;
    void setOnline(bool online) override;

    void loadLibrary(bool more) override;
    void search(const std::string& query) override;
    void openMeeting(const std::string& meetingID, bool refreshing) override;
    void exportMeeting(MeetingExport::Format format, const std::string& variant) override;

    void submitCorrection(std::vector<MeetingRevisionOperation> operations, std::int64_t baseRevision,
                          CorrectionCompletion completion) override;
    Task<void> retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                               CorrectionCompletion completion, DeviceSession session,
                               Uuid generation) override;

    void play(std::optional<std::int64_t> positionMilliseconds) override;
    void setSpeed(float speed) override;

    void updateSharing(MeetingShareRequest request) override;
    void revokeShare(std::string shareID) override;
    void createLink(int days, bool includeAudio) override;
    void revokeLink(std::string linkID) override;
    void renameTitle(std::string title) override;
    void confirmDelete() override;

    Task<void> refreshServerRetention(Uuid generation, DeviceSession session) override;
    void setServerRetentionDays(std::int64_t days) override;
    Task<void> clearCache(Uuid generation) override;

    // The draft key of a meeting's correction.
    static std::string draftKey(std::string_view meetingID) { return "edit:" + std::string(meetingID); }

private:
    // What tasks hold instead of the model: cleared when the model goes.
    struct Anchor {
        CloudLibrary* model = nullptr;
    };
    using AnchorRef = std::shared_ptr<Anchor>;

    // Identifies one library or meeting load.
    struct LoadTicket {
        Uuid generation;
        std::uint64_t serial = 0;
    };

    // ---- Shared steps (CloudLibrary.cpp) ----
    void requireMain(const char* where) const;
    void notify();
    std::string localized(std::string_view text) const;
    Date now() const;
    Executor& actors() const { return *deps_.actorExecutor; }
    // Starts a new load: the running one, if any, may no longer write.
    LoadTicket takeLoadTicket();
    // Cancels the running load and retires its ticket.
    void cancelLoad();
    bool isCurrentLoad(const LoadTicket& ticket) const;
    bool isCurrentGeneration(const Uuid& generation) const { return state_.generation == generation; }
    void scheduleDocumentExpiry(Date validatedAt, Date expiresAt);
    void expireDocument();
    // Forgets the open meeting's fields (not the lists, not `loading`).
    void closeDocument();

    static Task<void> attach(AnchorRef anchor, DeviceSession session, std::string workspaceID,
                             std::filesystem::path cacheRoot, SymmetricKey key,
                             std::optional<double> offlineSeconds);
    static Task<void> documentExpiry(AnchorRef anchor, Uuid generation, std::optional<std::string> selectedID,
                                     Date expiresAt);

    // ---- The library (CloudLibraryListing.cpp) ----
    void scheduleLibraryExpiry(Date expiresAt);
    static Task<void> libraryLoad(AnchorRef anchor, LoadTicket ticket, bool more,
                                  std::shared_ptr<MeetingCache> cache, std::string workspaceID,
                                  std::optional<std::string> cursor, DeviceSession session);
    static Task<void> libraryLoadFailed(AnchorRef anchor, LoadTicket ticket, Failure failure,
                                        std::shared_ptr<MeetingCache> cache);
    static Task<void> libraryExpiry(AnchorRef anchor, Uuid generation, Date expiresAt);
    // The revocation step: the meetings' cached copies and drafts are revoked, the meetings leave
    // the lists, and the open meeting closes when it is among them. No sentence, no observer call.
    static Task<void> revokeMeetings(AnchorRef anchor, std::vector<std::string> meetingIDs);
    static Task<void> searchLibrary(AnchorRef anchor, Uuid generation, std::uint64_t serial,
                                    std::string query, DeviceSession session);

    // ---- Opening a meeting (CloudLibraryOpening.cpp) ----
    void finishDocumentLoad(const LoadTicket& ticket);
    static Task<void> meetingLoad(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                  std::shared_ptr<MeetingCache> cache, DeviceSession session);
    // The shared rule for a failed summary, transcript, restore, store or sharing request.
    static Task<void> meetingLoadFailed(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                        Failure failure);

    // ---- Corrections (CloudLibraryCorrections.cpp) ----
    // The generation is still `generation` and `meetingID` is still the selected meeting.
    bool isCurrentMeeting(const Uuid& generation, const std::string& meetingID) const {
        return isCurrentGeneration(generation) && state_.selectedID == meetingID;
    }
    // The model behind `anchor` while it still shows `meetingID` in `generation`; null once it is
    // gone or has moved on. A task checks it after every await.
    static CloudLibrary* showing(const AnchorRef& anchor, const Uuid& generation,
                                 const std::string& meetingID) {
        CloudLibrary* self = anchor->model;
        return self && self->isCurrentMeeting(generation, meetingID) ? self : nullptr;
    }
    static Task<void> saveAndSendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                            MeetingRevisionRequest request, CorrectionCompletion completion,
                                            DeviceSession session, std::shared_ptr<MeetingCache> cache);
    static Task<void> sendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     MeetingRevisionRequest request, CorrectionCompletion completion,
                                     DeviceSession session);
    // The shared answer to a failed meeting request: a rejected session purges the cache and
    // resets; a forbidden or unknown meeting is revoked. True when it was one of those.
    static Task<bool> handleAccessError(AnchorRef anchor, Failure failure, std::string meetingID);

    // ---- Playback (CloudLibraryPlayback.cpp) ----
    static Task<void> downloadAndPlay(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                      std::string meetingID, DeviceSession session,
                                      std::filesystem::path cacheRoot, std::optional<std::int64_t> position);
    static Task<void> playbackFailed(AnchorRef anchor, Uuid generation, Uuid playbackGeneration,
                                     std::string meetingID, Failure failure);
    static Task<void> drivePlayer(AnchorRef anchor, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                  Uuid playbackGeneration, std::optional<std::int64_t> position);
    static Task<void> applyRate(Executor& actors, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                double rate);
    static Task<void> readPlayer(AnchorRef anchor, TaskHandle previous, std::shared_ptr<AudioPlayer> player,
                                 Uuid playbackGeneration);
    // Stops and drops the player after the work before it, then deletes the file; runs to its end
    // even when the model is gone.
    static Task<void> releasePlayer(Executor& actors, TaskHandle previous,
                                    std::shared_ptr<AudioPlayer> player,
                                    std::optional<std::filesystem::path> file);
    void startPlaybackTimer();
    void playbackTick();

    // ---- Sharing, links, rename, delete (CloudLibrarySharing.cpp) ----
    // The launch guard: the lease, the selection, the session, the document and the right.
    bool mayChange(std::string_view right) const;
    // The failure rule: an access error is handled; any other error writes `sentence`.
    static Task<void> changeFailed(AnchorRef anchor, std::string meetingID, Failure failure,
                                   std::string sentence);
    static Task<void> shareChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                  DeviceSession session, std::optional<MeetingShareRequest> invite,
                                  std::optional<std::string> shareID);
    // After a change of the open meeting's links: loads its sharing again and shows it, with
    // `sentence` when given. A failed reload comes back; a meeting no longer shown takes nothing.
    static Task<Failure> reloadSharing(AnchorRef anchor, Uuid generation, std::string meetingID,
                                       std::string token, std::optional<std::string_view> sentence);
    static Task<void> linkCreation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                   DeviceSession session, int days, bool includeAudio);
    static Task<void> linkRevocation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     DeviceSession session, std::string linkID);
    static Task<void> titleChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                  DeviceSession session, std::string title);
    static Task<void> deletion(AnchorRef anchor, Uuid generation, std::string meetingID,
                               DeviceSession session);

    // ---- Settings and export (CloudLibrarySettings.cpp, CloudLibraryExport.cpp) ----
    static Task<void> readRetention(AnchorRef anchor, Uuid generation, DeviceSession session);
    static Task<void> updateRetention(AnchorRef anchor, Uuid generation, DeviceSession session,
                                      std::int64_t days);
    static Task<void> purgeCache(AnchorRef anchor, Uuid generation);
    static Task<void> saveExport(AnchorRef anchor, Uuid generation, std::string meetingID, std::string text,
                                 std::string proposedName);

    CloudLibraryDependencies deps_;
    AnchorRef anchor_;
    CloudMeetingState state_;
    std::function<void()> onChange_;
    std::function<void()> onPlaybackTick_;

    std::shared_ptr<MeetingCache> cache_;
    TaskHandle loadTask_;
    TaskHandle documentExpiryTask_;
    TaskHandle libraryExpiryTask_;
    std::uint64_t loadSerial_ = 0;
    std::uint64_t searchSerial_ = 0;

    // Playback of the open meeting's audio.
    std::shared_ptr<AudioPlayer> player_;
    // The newest player operation; each waits for the one before.
    TaskHandle playerWork_;
    bool tickRunning_ = false;
    std::optional<std::filesystem::path> audioURL_;
    std::optional<MainQueue::TimerId> playbackTimer_;
    std::optional<std::string> loadedAudioID_;
    Uuid playbackGeneration_ = Uuid::random();
};

} // namespace nuvel
