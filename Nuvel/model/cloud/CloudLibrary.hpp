#pragma once

#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/cloud/CloudLibraryContext.hpp"
#include "Nuvel/model/cloud/CloudLibraryCorrections.hpp"
#include "Nuvel/model/cloud/CloudLibraryDependencies.hpp"
#include "Nuvel/model/cloud/CloudLibraryExport.hpp"
#include "Nuvel/model/cloud/CloudLibraryListing.hpp"
#include "Nuvel/model/cloud/CloudLibraryOpening.hpp"
#include "Nuvel/model/cloud/CloudLibraryPlayback.hpp"
#include "Nuvel/model/cloud/CloudLibrarySettings.hpp"
#include "Nuvel/model/cloud/CloudLibrarySharing.hpp"
#include "NuvelKit/support/Task.hpp"

#include <cstddef>
#include <cstdint>
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
// not even `loading`. Tasks hold the part that started them through an anchor that the destructor
// clears first, so a task that outlives the library does nothing.
//
// The library keeps its lifecycle and the open meeting's lease itself and hands each kind of
// request to the part that does it; the parts share the context it owns and reach across through
// the steps it provides.
class CloudLibrary final : public CloudMeetingModel, private CloudLibrarySteps {
public:
    static constexpr const char* libraryKey = CloudLibraryListing::libraryKey;
    static constexpr std::int64_t pageSize = CloudLibraryListing::pageSize;
    static constexpr std::size_t reconcileBatch = CloudLibraryListing::reconcileBatch;
    static constexpr double maximumOfflineSeconds = maximumCloudOfflineSeconds;

    explicit CloudLibrary(CloudLibraryDependencies dependencies);
    ~CloudLibrary() override;
    CloudLibrary(const CloudLibrary&) = delete;
    CloudLibrary& operator=(const CloudLibrary&) = delete;

    void setOnChange(std::function<void()> onChange) override;
    void setOnPlaybackTick(std::function<void()> onPlaybackTick) override;
    void setOnMeetingsGone(std::function<void(const std::vector<std::string>&)> onGone) override;
    const CloudMeetingState& state() const override { return context_.state; }
    bool documentLeaseIsValid() const override { return context_.documentLeaseIsValid(); }

    Task<void> configure(const DeviceSession& session, const std::string& workspaceID,
                         const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                         std::optional<double> offlineSeconds) override;
    void reset() override;
    void refuseSession() override;
    void stopPlayback() override { playback_.stopPlayback(); }
    void setOnline(bool online) override;

    void loadLibrary(bool more) override { listing_.loadLibrary(more); }
    void search(const std::string& query) override { listing_.search(query); }
    void openMeeting(const std::string& meetingID, bool refreshing) override {
        opening_.openMeeting(meetingID, refreshing);
    }
    void exportMeeting(MeetingExport::Format format, const std::string& variant) override {
        export_.exportMeeting(format, variant);
    }

    void submitCorrection(std::vector<MeetingRevisionOperation> operations, std::int64_t baseRevision,
                          CorrectionCompletion completion) override {
        corrections_.submitCorrection(std::move(operations), baseRevision, std::move(completion));
    }
    Task<void> retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                               CorrectionCompletion completion, DeviceSession session,
                               Uuid generation) override {
        return corrections_.retryCorrection(std::move(meetingID), std::move(request), std::move(completion),
                                            std::move(session), generation);
    }

    void play(std::optional<std::int64_t> positionMilliseconds) override {
        playback_.play(positionMilliseconds);
    }
    void setSpeed(float speed) override { playback_.setSpeed(speed); }

    void updateSharing(MeetingShareRequest request, InvitationCompletion completion) override {
        sharing_.updateSharing(std::move(request), std::move(completion));
    }
    void revokeShare(std::string shareID) override { sharing_.revokeShare(std::move(shareID)); }
    void createLink(int days, bool includeAudio) override { sharing_.createLink(days, includeAudio); }
    void revokeLink(std::string linkID) override { sharing_.revokeLink(std::move(linkID)); }
    void renameTitle(std::string title) override { sharing_.renameTitle(std::move(title)); }
    void confirmDelete() override { sharing_.confirmDelete(); }

    Task<void> refreshServerRetention(Uuid generation, DeviceSession session) override {
        return settings_.refreshServerRetention(generation, std::move(session));
    }
    void setServerRetentionDays(std::int64_t days) override { settings_.setServerRetentionDays(days); }
    Task<void> clearCache(Uuid generation) override { return settings_.clearCache(generation); }

    // The draft key of a meeting's correction.
    static std::string draftKey(std::string_view meetingID) { return correctionDraftKey(meetingID); }

private:
    using AnchorRef = PartAnchorRef<CloudLibrary>;

    // ---- Steps the parts share (CloudLibrarySteps) ----
    void closeDocument() override;
    void expireDocument() override;
    void scheduleDocumentExpiry(Date validatedAt, Date expiresAt) override;
    void cancelDocumentExpiry() override { documentExpiryTask_.cancel(); }
    Task<void> revokeMeetings(std::vector<std::string> meetingIDs) override {
        return listing_.revokeMeetings(std::move(meetingIDs));
    }
    Task<bool> handleAccessError(Failure failure, std::string meetingID) override;

    static Task<void> attach(AnchorRef anchor, DeviceSession session, std::string workspaceID,
                             std::filesystem::path cacheRoot, SymmetricKey key,
                             std::optional<double> offlineSeconds);
    static Task<void> documentExpiry(AnchorRef anchor, Uuid generation, std::optional<std::string> selectedID,
                                     Date expiresAt);

    // Declared first: the parts refer to it until they go.
    CloudLibraryContext context_;
    AnchorRef anchor_;
    TaskHandle documentExpiryTask_;

    CloudLibraryPlayback playback_;
    CloudLibraryListing listing_;
    CloudLibraryOpening opening_;
    CloudLibraryCorrections corrections_;
    CloudLibraryExport export_;
    CloudLibrarySettings settings_;
    CloudLibrarySharing sharing_;
};

} // namespace nuvel
