// The library's lifecycle: construction, attaching to a workspace, reset, the network state,
// the access lease of the open meeting with its expiry, and the steps its parts share.
#include "Nuvel/model/cloud/CloudLibrary.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "NuvelKit/support/FileRemoval.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

namespace nuvel {

namespace fs = std::filesystem;

namespace {
// Empties the playback folder, keeping the folder; a listing or removal failure ends it at once.
// Links in it go themselves, and a link in its place is refused: nothing outside is touched.
void emptyPlaybackFolder(const fs::path& folder) {
    std::error_code missing;
    if (!fs::exists(fs::symlink_status(folder, missing)))
        return;
    files::emptyFolder(folder);
}
} // namespace

std::unique_ptr<CloudMeetingModel> makeCloudMeetingModel(CloudLibraryDependencies dependencies) {
    return std::make_unique<CloudLibrary>(std::move(dependencies));
}

CloudLibrary::CloudLibrary(CloudLibraryDependencies dependencies)
    : context_(std::move(dependencies)),
      anchor_(std::make_shared<PartAnchor<CloudLibrary>>(PartAnchor<CloudLibrary>{this})),
      playback_(context_, *this), listing_(context_, *this), opening_(context_, *this),
      corrections_(context_, *this), export_(context_), settings_(context_, *this),
      sharing_(context_, *this) {}

CloudLibrary::~CloudLibrary() {
    // No task of any part may act once the first part is gone.
    anchor_->part = nullptr;
    playback_.detach();
    listing_.detach();
    opening_.detach();
    corrections_.detach();
    export_.detach();
    settings_.detach();
    sharing_.detach();
    context_.loadTask.cancel();
    documentExpiryTask_.cancel();
}

void CloudLibrary::setOnChange(std::function<void()> onChange) {
    context_.requireMain("CloudLibrary::setOnChange");
    context_.onChange = std::move(onChange);
}

void CloudLibrary::setOnPlaybackTick(std::function<void()> onPlaybackTick) {
    context_.requireMain("CloudLibrary::setOnPlaybackTick");
    context_.onPlaybackTick = std::move(onPlaybackTick);
}

void CloudLibrary::setOnMeetingsGone(std::function<void(const std::vector<std::string>&)> onGone) {
    context_.requireMain("CloudLibrary::setOnMeetingsGone");
    context_.onMeetingsGone = std::move(onGone);
}

// ---- Attachment ----

Task<void> CloudLibrary::configure(const DeviceSession& session, const std::string& workspaceID,
                                   const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                                   std::optional<double> offlineSeconds) {
    context_.requireMain("CloudLibrary::configure");
    return attach(anchor_, session, workspaceID, cacheRoot, mediaKey, offlineSeconds);
}

Task<void> CloudLibrary::attach(AnchorRef anchor, DeviceSession session, std::string workspaceID,
                                std::filesystem::path cacheRoot, SymmetricKey key,
                                std::optional<double> offlineSeconds) {
    CloudLibrary* self = anchor->part;
    if (!self)
        co_return;
    self->reset();
    const Uuid generation = self->context_.state.generation;
    self->context_.state.session = session;
    self->context_.state.workspaceID = workspaceID;
    self->context_.state.cacheRoot = cacheRoot;
    const bool usable = offlineSeconds && std::isfinite(*offlineSeconds) && *offlineSeconds > 0;
    self->context_.state.offlineLease = usable ? std::min(maximumCloudOfflineSeconds, *offlineSeconds) : 0;

    MeetingCacheScope scope{session.account.id, workspaceID};
    auto prepare = [cacheRoot, key, scope] {
        emptyPlaybackFolder(cacheRoot / "playback");
        return std::make_shared<MeetingCache>(cacheRoot, key, scope);
    };
    std::shared_ptr<MeetingCache> cache = co_await runOn(self->context_.actors(), prepare);

    self = anchor->part;
    if (!self || !self->context_.isCurrentGeneration(generation))
        co_return;
    self->context_.cache = std::move(cache);
    self->loadLibrary(false);
}

void CloudLibrary::reset() {
    context_.requireMain("CloudLibrary::reset");
    context_.state.generation = Uuid::random();
    context_.cancelLoad();
    context_.loadTask = TaskHandle();
    documentExpiryTask_.cancel();
    listing_.cancelExpiry();
    closeDocument();
    context_.state.session.reset();
    context_.cache.reset();
    context_.state.cacheRoot.reset();
    context_.state.meetings.clear();
    context_.state.searchResults.clear();
    context_.state.nextCursor.reset();
    context_.state.hasMore = false;
    context_.state.loading = false;
    context_.state.retentionDays.reset();
    context_.state.retentionChoices.clear();
    context_.state.message.clear();
    context_.state.signInNeeded = false;
    context_.state.offline = false;
    context_.notify();
}

void CloudLibrary::refuseSession() {
    context_.requireMain("CloudLibrary::refuseSession");
    reset();
    context_.state.message = context_.localized(cloud_sentences::librarySignIn);
    context_.state.signInNeeded = true;
    context_.notify();
}

void CloudLibrary::setOnline(bool online) {
    context_.requireMain("CloudLibrary::setOnline");
    context_.state.online = online;
    if (!online && context_.state.document && !context_.documentLeaseIsValid())
        expireDocument();
}

// ---- The open meeting's lease ----

void CloudLibrary::scheduleDocumentExpiry(Date validatedAt, Date expiresAt) {
    context_.state.documentValidatedAt = validatedAt;
    context_.state.documentExpiresAt = expiresAt;
    documentExpiryTask_.cancel();
    documentExpiryTask_ =
        spawn(*context_.deps.mainQueue,
              documentExpiry(anchor_, context_.state.generation, context_.state.selectedID, expiresAt));
}

Task<void> CloudLibrary::documentExpiry(AnchorRef anchor, Uuid generation,
                                        std::optional<std::string> selectedID, Date expiresAt) {
    CloudLibrary* self = anchor->part;
    if (!self)
        co_return;
    const double seconds = expiresAt.sinceReferenceDate - self->context_.now().sinceReferenceDate;
    Task<void> wait = sleepOnContinuousClock(seconds, self->context_.deps.continuousNow);
    Outcome<void> waited = co_await attempt(wait);
    if (waited.cancelled())
        co_return;
    if (waited.failed())
        std::rethrow_exception(waited.error());
    if ((co_await currentStopToken()).stop_requested())
        co_return;
    self = anchor->part;
    if (!self || !self->context_.isCurrentGeneration(generation) ||
        self->context_.state.selectedID != selectedID)
        co_return;
    self->expireDocument();
}

void CloudLibrary::closeDocument() {
    stopPlayback();
    context_.state.document.reset();
    context_.state.originalTranscript.reset();
    context_.state.sharing.reset();
    context_.state.pendingLinkURL.reset();
    context_.state.pendingCorrection.reset();
    context_.state.documentValidatedAt.reset();
    context_.state.documentExpiresAt.reset();
    context_.state.selectedID.reset();
}

Task<bool> CloudLibrary::handleAccessError(Failure failure, std::string meetingID) {
    return corrections_.handleAccessError(std::move(failure), std::move(meetingID));
}

void CloudLibrary::expireDocument() {
    closeDocument();
    context_.cancelLoad();
    context_.state.loading = false;
    context_.state.message = context_.localized(cloud_sentences::leaseExpired);
    context_.notify();
}

} // namespace nuvel
