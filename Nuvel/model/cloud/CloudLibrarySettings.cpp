// What the settings window asks of the library: the workspace's server audio retention, and
// clearing the cached meetings from this computer.
#include "Nuvel/model/cloud/CloudLibrarySettings.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ServerRetention.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <limits>

namespace nuvel {

CloudLibrarySettings::CloudLibrarySettings(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps),
      anchor_(std::make_shared<PartAnchor<CloudLibrarySettings>>(PartAnchor<CloudLibrarySettings>{this})) {}

CloudLibrarySettings::~CloudLibrarySettings() {
    anchor_->part = nullptr;
}

// ---- Server audio retention ----

Task<void> CloudLibrarySettings::refreshServerRetention(Uuid generation, DeviceSession session) {
    ctx_.requireMain("CloudLibrary::refreshServerRetention");
    return readRetention(anchor_, generation, std::move(session));
}

Task<void> CloudLibrarySettings::readRetention(AnchorRef anchor, Uuid generation, DeviceSession session) {
    CloudLibrarySettings* self = anchor->part;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto read = [client, token](std::stop_token stop) { return client->settings(token, stop); };
    Outcome<MeetingJSON> settings = co_await attemptOn(self->ctx_.actors(), read);
    std::optional<ServerRetention> retention;
    if (settings.ok()) {
        const MeetingJSON& answer = settings.value();
        Outcome<ServerRetention> parsed =
            attemptNow([&answer] { return ServerRetention::fromSettings(answer); });
        parsed.drop("reading the server retention");
        if (parsed.ok())
            retention = std::move(parsed.value());
    }
    settings.drop("reading the workspace settings");
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    if (retention) {
        self->ctx_.state.retentionDays = retention->days;
        self->ctx_.state.retentionChoices = std::move(retention->choices);
    } else {
        self->ctx_.state.retentionDays.reset();
        self->ctx_.state.retentionChoices.clear();
    }
    self->ctx_.notify();
}

void CloudLibrarySettings::setServerRetentionDays(std::int64_t days) {
    ctx_.requireMain("CloudLibrary::setServerRetentionDays");
    const std::vector<std::int64_t>& choices = ctx_.state.retentionChoices;
    if (!ctx_.state.session || std::find(choices.begin(), choices.end(), days) == choices.end())
        return;
    spawn(*ctx_.deps.mainQueue, updateRetention(anchor_, ctx_.state.generation, *ctx_.state.session, days));
}

Task<void> CloudLibrarySettings::updateRetention(AnchorRef anchor, Uuid generation, DeviceSession session,
                                                 std::int64_t days) {
    CloudLibrarySettings* self = anchor->part;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto update = [client, token, days](std::stop_token stop) {
        if (days < std::numeric_limits<int>::min() || days > std::numeric_limits<int>::max())
            throw RecordingError(RecordingError::Code::invalidTransport);
        client->updateSettings(static_cast<int>(days), token, stop);
    };
    Outcome<void> updated = co_await attemptOn(self->ctx_.actors(), update);
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    if (!updated.ok()) {
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::retentionFailed);
        self->ctx_.notify();
        co_return;
    }
    // Nothing is shown until the service says what it now holds.
    if (self->ctx_.state.session)
        spawn(*self->ctx_.deps.mainQueue,
              readRetention(anchor, self->ctx_.state.generation, *self->ctx_.state.session));
}

// ---- Clearing the cache ----

Task<void> CloudLibrarySettings::clearCache(Uuid generation) {
    ctx_.requireMain("CloudLibrary::clearCache");
    return purgeCache(anchor_, generation);
}

Task<void> CloudLibrarySettings::purgeCache(AnchorRef anchor, Uuid generation) {
    CloudLibrarySettings* self = anchor->part;
    if (!self)
        co_return;
    bool purged = true;
    std::shared_ptr<MeetingCache> cache = self->ctx_.cache;
    const CloudMeetingState& state = self->ctx_.state;
    if (cache) {
        auto purge = [cache] { cache->purge(); };
        Outcome<void> emptied = co_await attemptOn(self->ctx_.actors(), purge);
        purged = emptied.ok();
    } else if (state.session && state.cacheRoot && !state.session->account.id.empty() &&
               !state.workspaceID.empty()) {
        // The cache of this workspace could not be opened (a damaged revocation file): its folder
        // is cleared all the same, so that the next attachment opens an empty cache.
        const std::filesystem::path root = *state.cacheRoot;
        const MeetingCacheScope scope{state.session->account.id, state.workspaceID};
        auto purge = [root, scope] { MeetingCache::purge(root, scope); };
        Outcome<void> emptied = co_await attemptOn(self->ctx_.actors(), purge);
        purged = emptied.ok();
    }
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    self->steps_.expireDocument();
    self->ctx_.state.meetings.clear();
    self->ctx_.state.searchResults.clear();
    if (!purged)
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::cacheNotCleared);
    self->ctx_.notify();
}

} // namespace nuvel
