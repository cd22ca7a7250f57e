// What the settings window asks of the library: the workspace's server audio retention, and
// clearing the cached meetings from this computer.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ServerRetention.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <algorithm>
#include <limits>

namespace nuvel {

// ---- Server audio retention ----

Task<void> CloudLibrary::refreshServerRetention(Uuid generation, DeviceSession session) {
    requireMain("CloudLibrary::refreshServerRetention");
    return readRetention(anchor_, generation, std::move(session));
}

Task<void> CloudLibrary::readRetention(AnchorRef anchor, Uuid generation, DeviceSession session) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto read = [client, token](std::stop_token stop) { return client->settings(token, stop); };
    Outcome<MeetingJSON> settings = co_await attemptOn(self->actors(), read);
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
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    if (retention) {
        self->state_.retentionDays = retention->days;
        self->state_.retentionChoices = std::move(retention->choices);
    } else {
        self->state_.retentionDays.reset();
        self->state_.retentionChoices.clear();
    }
    self->notify();
}

void CloudLibrary::setServerRetentionDays(std::int64_t days) {
    requireMain("CloudLibrary::setServerRetentionDays");
    const std::vector<std::int64_t>& choices = state_.retentionChoices;
    if (!state_.session || std::find(choices.begin(), choices.end(), days) == choices.end())
        return;
    spawn(*deps_.mainQueue, updateRetention(anchor_, state_.generation, *state_.session, days));
}

Task<void> CloudLibrary::updateRetention(AnchorRef anchor, Uuid generation, DeviceSession session,
                                         std::int64_t days) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto update = [client, token, days](std::stop_token stop) {
        if (days < std::numeric_limits<int>::min() || days > std::numeric_limits<int>::max())
            throw RecordingError(RecordingError::Code::invalidTransport);
        client->updateSettings(static_cast<int>(days), token, stop);
    };
    Outcome<void> updated = co_await attemptOn(self->actors(), update);
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    if (!updated.ok()) {
        self->state_.message = self->localized(cloud_sentences::retentionFailed);
        self->notify();
        co_return;
    }
    // Nothing is shown until the service says what it now holds.
    if (self->state_.session)
        spawn(*self->deps_.mainQueue, readRetention(anchor, self->state_.generation, *self->state_.session));
}

// ---- Clearing the cache ----

Task<void> CloudLibrary::clearCache(Uuid generation) {
    requireMain("CloudLibrary::clearCache");
    return purgeCache(anchor_, generation);
}

Task<void> CloudLibrary::purgeCache(AnchorRef anchor, Uuid generation) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    bool purged = true;
    std::shared_ptr<MeetingCache> cache = self->cache_;
    const CloudMeetingState& state = self->state_;
    if (cache) {
        auto purge = [cache] { cache->purge(); };
        Outcome<void> emptied = co_await attemptOn(self->actors(), purge);
        purged = emptied.ok();
    } else if (state.session && state.cacheRoot && !state.session->account.id.empty() &&
               !state.workspaceID.empty()) {
        // The cache of this workspace could not be opened (a damaged revocation file): its folder
        // is cleared all the same, so that the next attachment opens an empty cache.
        const std::filesystem::path root = *state.cacheRoot;
        const MeetingCacheScope scope{state.session->account.id, state.workspaceID};
        auto purge = [root, scope] { MeetingCache::purge(root, scope); };
        Outcome<void> emptied = co_await attemptOn(self->actors(), purge);
        purged = emptied.ok();
    }
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    self->expireDocument();
    self->state_.meetings.clear();
    self->state_.searchResults.clear();
    if (!purged)
        self->state_.message = self->localized(cloud_sentences::cacheNotCleared);
    self->notify();
}

} // namespace nuvel
