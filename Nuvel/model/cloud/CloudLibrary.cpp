// The library's lifecycle: construction, attaching to a workspace, reset, the network state,
// stopping playback, and the access lease of the open meeting with its expiry.
#include "Nuvel/model/cloud/CloudLibrary.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "NuvelKit/support/FileRemoval.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
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
    : deps_(std::move(dependencies)), anchor_(std::make_shared<Anchor>(Anchor{this})) {
    if (!deps_.mainQueue)
        throw std::invalid_argument("the cloud library needs a main queue");
    if (!deps_.actorExecutor)
        throw std::invalid_argument("the cloud library needs an actor executor");
    if (!deps_.client)
        throw std::invalid_argument("the cloud library needs the meeting client");
    deps_.mainQueue->requireCurrent("CloudLibrary");
    if (!deps_.localize)
        deps_.localize = [](std::string_view text) { return std::string(text); };
    if (!deps_.now)
        deps_.now = [] { return Date::now(); };
    if (!deps_.continuousNow)
        deps_.continuousNow = [] { return continuousTimeSeconds(); };
}

CloudLibrary::~CloudLibrary() {
    anchor_->model = nullptr;
    loadTask_.cancel();
    documentExpiryTask_.cancel();
    libraryExpiryTask_.cancel();
    if (playbackTimer_)
        deps_.mainQueue->cancelTimer(*playbackTimer_);
    if (player_ || audioURL_)
        spawn(*deps_.mainQueue, releasePlayer(actors(), playerWork_, std::move(player_), audioURL_));
}

// ---- Shared steps ----

void CloudLibrary::requireMain(const char* where) const {
    deps_.mainQueue->requireCurrent(where);
}

void CloudLibrary::notify() {
    if (onChange_)
        onChange_();
}

std::string CloudLibrary::localized(std::string_view text) const {
    return deps_.localize(text);
}

Date CloudLibrary::now() const {
    return deps_.now();
}

CloudLibrary::LoadTicket CloudLibrary::takeLoadTicket() {
    return LoadTicket{state_.generation, ++loadSerial_};
}

void CloudLibrary::cancelLoad() {
    loadTask_.cancel();
    ++loadSerial_;
}

bool CloudLibrary::isCurrentLoad(const LoadTicket& ticket) const {
    return state_.generation == ticket.generation && loadSerial_ == ticket.serial;
}

void CloudLibrary::setOnChange(std::function<void()> onChange) {
    requireMain("CloudLibrary::setOnChange");
    onChange_ = std::move(onChange);
}

void CloudLibrary::setOnPlaybackTick(std::function<void()> onPlaybackTick) {
    requireMain("CloudLibrary::setOnPlaybackTick");
    onPlaybackTick_ = std::move(onPlaybackTick);
}

// ---- Attachment ----

Task<void> CloudLibrary::configure(const DeviceSession& session, const std::string& workspaceID,
                                   const std::filesystem::path& cacheRoot, const SymmetricKey& mediaKey,
                                   std::optional<double> offlineSeconds) {
    requireMain("CloudLibrary::configure");
    return attach(anchor_, session, workspaceID, cacheRoot, mediaKey, offlineSeconds);
}

Task<void> CloudLibrary::attach(AnchorRef anchor, DeviceSession session, std::string workspaceID,
                                std::filesystem::path cacheRoot, SymmetricKey key,
                                std::optional<double> offlineSeconds) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    self->reset();
    const Uuid generation = self->state_.generation;
    self->state_.session = session;
    self->state_.workspaceID = workspaceID;
    self->state_.cacheRoot = cacheRoot;
    const bool usable = offlineSeconds && std::isfinite(*offlineSeconds) && *offlineSeconds > 0;
    self->state_.offlineLease = usable ? std::min(maximumOfflineSeconds, *offlineSeconds) : 0;

    MeetingCacheScope scope{session.account.id, workspaceID};
    auto prepare = [cacheRoot, key, scope] {
        emptyPlaybackFolder(cacheRoot / "playback");
        return std::make_shared<MeetingCache>(cacheRoot, key, scope);
    };
    std::shared_ptr<MeetingCache> cache = co_await runOn(self->actors(), prepare);

    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    self->cache_ = std::move(cache);
    self->loadLibrary(false);
}

void CloudLibrary::reset() {
    requireMain("CloudLibrary::reset");
    state_.generation = Uuid::random();
    cancelLoad();
    loadTask_ = TaskHandle();
    documentExpiryTask_.cancel();
    libraryExpiryTask_.cancel();
    state_.documentValidatedAt.reset();
    state_.documentExpiresAt.reset();
    stopPlayback();
    state_.session.reset();
    cache_.reset();
    state_.cacheRoot.reset();
    state_.meetings.clear();
    state_.searchResults.clear();
    state_.document.reset();
    state_.originalTranscript.reset();
    state_.sharing.reset();
    state_.pendingLinkURL.reset();
    state_.pendingCorrection.reset();
    state_.selectedID.reset();
    state_.nextCursor.reset();
    state_.hasMore = false;
    state_.loading = false;
    state_.retentionDays.reset();
    state_.retentionChoices.clear();
    state_.message.clear();
    state_.signInNeeded = false;
    state_.offline = false;
    notify();
}

void CloudLibrary::refuseSession() {
    requireMain("CloudLibrary::refuseSession");
    reset();
    state_.message = localized(cloud_sentences::librarySignIn);
    state_.signInNeeded = true;
    notify();
}

void CloudLibrary::setOnline(bool online) {
    requireMain("CloudLibrary::setOnline");
    state_.online = online;
    if (!online && state_.document && !documentLeaseIsValid())
        expireDocument();
}

void CloudLibrary::stopPlayback() {
    requireMain("CloudLibrary::stopPlayback");
    playbackGeneration_ = Uuid::random();
    if (playbackTimer_) {
        deps_.mainQueue->cancelTimer(*playbackTimer_);
        playbackTimer_.reset();
    }
    tickRunning_ = false;
    state_.isPlaying = false;
    loadedAudioID_.reset();
    state_.playbackMilliseconds = 0;
    std::optional<fs::path> file = std::exchange(audioURL_, std::nullopt);
    if (!player_ && !file)
        return;
    // Releasing the player may wait for the sound server and deleting the file for the disk:
    // both run off the main thread, after the player's earlier work. A file left behind goes with
    // the next clean-up of the playback folder.
    TaskHandle previous = std::exchange(playerWork_, TaskHandle());
    playerWork_ =
        spawn(*deps_.mainQueue, releasePlayer(actors(), previous, std::move(player_), std::move(file)));
}

// ---- The open meeting's lease ----

bool CloudLibrary::documentLeaseIsValid() const {
    if (!state_.document)
        return false;
    if (state_.documentValidatedAt && state_.documentExpiresAt) {
        const Date at = now();
        return *state_.documentValidatedAt <= at && at < *state_.documentExpiresAt;
    }
    return state_.online && !state_.offline;
}

void CloudLibrary::scheduleDocumentExpiry(Date validatedAt, Date expiresAt) {
    state_.documentValidatedAt = validatedAt;
    state_.documentExpiresAt = expiresAt;
    documentExpiryTask_.cancel();
    documentExpiryTask_ =
        spawn(*deps_.mainQueue, documentExpiry(anchor_, state_.generation, state_.selectedID, expiresAt));
}

Task<void> CloudLibrary::documentExpiry(AnchorRef anchor, Uuid generation,
                                        std::optional<std::string> selectedID, Date expiresAt) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    const double seconds = expiresAt.sinceReferenceDate - self->now().sinceReferenceDate;
    Task<void> wait = sleepOnContinuousClock(seconds, self->deps_.continuousNow);
    Outcome<void> waited = co_await attempt(wait);
    if (waited.cancelled())
        co_return;
    if (waited.failed())
        std::rethrow_exception(waited.error());
    if ((co_await currentStopToken()).stop_requested())
        co_return;
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation) || self->state_.selectedID != selectedID)
        co_return;
    self->expireDocument();
}

void CloudLibrary::closeDocument() {
    stopPlayback();
    state_.document.reset();
    state_.originalTranscript.reset();
    state_.sharing.reset();
    state_.pendingLinkURL.reset();
    state_.pendingCorrection.reset();
    state_.documentValidatedAt.reset();
    state_.documentExpiresAt.reset();
    state_.selectedID.reset();
}

void CloudLibrary::expireDocument() {
    closeDocument();
    cancelLoad();
    state_.loading = false;
    state_.message = localized(cloud_sentences::leaseExpired);
    notify();
}

} // namespace nuvel
