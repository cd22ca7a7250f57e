// The library list: page loads with the offline copy shown first, reconciliation of the listed
// meetings, the library's lease, the revocation step and the library-wide search.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ContinuousSleep.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace nuvel {

namespace {
bool contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The offline seconds a page grants: present, finite and above zero, at most a day; else 0.
double pageAllowance(const MeetingLibraryPage& page) {
    const std::optional<double>& seconds = page.offline_access_seconds;
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0)
        return 0;
    return std::min(*seconds, CloudLibrary::maximumOfflineSeconds);
}
} // namespace

// ---- Loading the library ----

void CloudLibrary::loadLibrary(bool more) {
    requireMain("CloudLibrary::loadLibrary");
    if (!state_.session || !cache_ || state_.loading)
        return;
    const LoadTicket ticket = takeLoadTicket();
    std::optional<std::string> cursor = more ? state_.nextCursor : std::nullopt;
    state_.loading = true;
    state_.message.clear();
    notify();
    // The handle of an earlier load is let go, not cancelled; its ticket is no longer current.
    loadTask_ = spawn(*deps_.mainQueue, libraryLoad(anchor_, ticket, more, cache_, state_.workspaceID,
                                                    std::move(cursor), *state_.session));
}

Task<void> CloudLibrary::libraryLoad(AnchorRef anchor, LoadTicket ticket, bool more,
                                     std::shared_ptr<MeetingCache> cache, std::string workspaceID,
                                     std::optional<std::string> cursor, DeviceSession session) {
    CloudLibrary* self = anchor->model;
    auto current = [&anchor, &ticket, &self] {
        self = anchor->model;
        return self && self->isCurrentLoad(ticket);
    };
    if (!current())
        co_return;
    Executor& actors = self->actors();
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;

    // The offline copy first, while its lease holds.
    if (!more && self->state_.meetings.empty()) {
        const Date at = self->now();
        auto readCopy = [cache, at] { return cache->loadWithLease<MeetingLibraryPage>(libraryKey, at); };
        Outcome<MeetingCache::Leased<MeetingLibraryPage>> read = co_await attemptOn(actors, readCopy);
        if (!read.missingFile())
            read.drop("reading the offline library");
        if (!current())
            co_return;
        MeetingCache::Leased<MeetingLibraryPage>* copy = read.ok() ? &read.value() : nullptr;
        if (copy && self->now() < copy->lease.expiresAt) {
            self->state_.meetings = std::move(copy->value.meetings);
            self->state_.offline = true;
            self->scheduleLibraryExpiry(copy->lease.expiresAt);
            self->notify();
        }
    }

    std::vector<std::string> toReconcile;
    {
        std::set<std::string> ids;
        for (const MeetingSummary& meeting : self->state_.meetings)
            ids.insert(meeting.id);
        if (self->state_.selectedID)
            ids.insert(*self->state_.selectedID);
        toReconcile.assign(ids.begin(), ids.end());
    }

    // Any failure from here on ends the load through libraryLoadFailed.
    const std::string token = session.token;
    auto fetchPage = [client, workspaceID, cursor, token](std::stop_token stop) {
        return client->libraryPage(workspaceID, cursor, pageSize, token, stop);
    };
    Outcome<MeetingLibraryPage> fetched = co_await attemptOn(actors, fetchPage);
    if (fetched.failed()) {
        co_await libraryLoadFailed(anchor, ticket, fetched, cache);
        co_return;
    }
    if (!current())
        co_return;
    const MeetingLibraryPage& page = fetched.value();

    CloudMeetingState& state = self->state_;
    if (!more) {
        state.meetings = page.meetings;
    } else {
        std::set<std::string> listed;
        for (const MeetingSummary& meeting : state.meetings)
            listed.insert(meeting.id);
        for (const MeetingSummary& meeting : page.meetings)
            if (!listed.count(meeting.id))
                state.meetings.push_back(meeting);
    }
    state.nextCursor = page.next_cursor;
    state.hasMore = state.nextCursor.has_value();
    state.offline = false;
    const Date validatedAt = self->now();
    state.offlineLease = std::min(pageAllowance(page), state.offlineLease);
    const double lease = state.offlineLease;
    if (lease > 0)
        self->scheduleLibraryExpiry(validatedAt.adding(lease));

    std::vector<std::string> pageIDs;
    for (const MeetingSummary& meeting : page.meetings)
        pageIDs.push_back(meeting.id);
    // Restoring ids that were never revoked changes nothing: the sealed set is rewritten
    // only when one of them is in it.
    auto restore = [cache, pageIDs] {
        const auto revoked = cache->revocations();
        if (std::any_of(pageIDs.begin(), pageIDs.end(),
                        [&](const std::string& id) { return revoked.contains(id); }))
            cache->restore(pageIDs);
    };
    Outcome<void> restored = co_await attemptOn(actors, restore);
    if (restored.failed()) {
        co_await libraryLoadFailed(anchor, ticket, restored, cache);
        co_return;
    }
    if (!current())
        co_return;

    for (std::size_t start = 0; start < toReconcile.size(); start += reconcileBatch) {
        const std::size_t end = std::min(toReconcile.size(), start + reconcileBatch);
        std::vector<std::string> batch(toReconcile.begin() + std::ptrdiff_t(start),
                                       toReconcile.begin() + std::ptrdiff_t(end));
        auto reconcile = [client, batch, token](std::stop_token stop) {
            return client->reconcile(batch, token, stop);
        };
        Outcome<MeetingReconciliation> answer = co_await attemptOn(actors, reconcile);
        if (answer.failed()) {
            co_await libraryLoadFailed(anchor, ticket, answer, cache);
            co_return;
        }
        if (!current())
            co_return;
        std::vector<std::string> removed = std::move(answer.value().removed_ids);
        Task<void> revocation = revokeMeetings(anchor, removed);
        Outcome<void> revoked = co_await attempt(revocation);
        if (revoked.failed()) {
            co_await libraryLoadFailed(anchor, ticket, revoked, cache);
            co_return;
        }
        if (!current())
            co_return;
    }

    if (lease > 0) {
        MeetingLibraryPage copy;
        copy.contract_version = 1;
        copy.meetings = self->state_.meetings;
        copy.next_cursor = self->state_.nextCursor;
        copy.as_of = page.as_of;
        copy.offline_access_seconds = lease;
        auto store = [cache, copy = std::move(copy), validatedAt, lease] {
            cache->store(copy, libraryKey, validatedAt, lease);
        };
        Outcome<void> stored = co_await attemptOn(actors, store);
        if (stored.failed()) {
            co_await libraryLoadFailed(anchor, ticket, stored, cache);
            co_return;
        }
        if (!current())
            co_return;
        if (self->now() >= validatedAt.adding(lease)) {
            self->state_.meetings.clear();
            self->state_.searchResults.clear();
        }
    }
    if (!current())
        co_return;
    self->state_.loading = false;
    self->notify();
}

Task<void> CloudLibrary::libraryLoadFailed(AnchorRef anchor, LoadTicket ticket, Failure failure,
                                           std::shared_ptr<MeetingCache> cache) {
    CloudLibrary* self = anchor->model;
    // A load that was overtaken or cancelled ends without a word.
    if (!self || !self->isCurrentLoad(ticket))
        co_return;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 401 || status == 403) {
        auto purge = [cache] { cache->purge(); };
        Outcome<void> purged = co_await attemptOn(self->actors(), purge);
        // The session ends all the same.
        purged.drop("emptying the cache of a refused session");
        self = anchor->model;
        if (!self || !self->isCurrentLoad(ticket))
            co_return;
        self->reset();
        self->state_.message = self->localized(*status == 401 ? cloud_sentences::librarySignIn
                                                              : cloud_sentences::libraryAccessRemoved);
        self->state_.signInNeeded = *status == 401;
        self->notify();
        co_return;
    }
    self->state_.offline = true;
    self->state_.message = self->localized(cloud_sentences::libraryOffline);
    self->state_.loading = false;
    self->notify();
}

void CloudLibrary::scheduleLibraryExpiry(Date expiresAt) {
    libraryExpiryTask_.cancel();
    libraryExpiryTask_ = spawn(*deps_.mainQueue, libraryExpiry(anchor_, state_.generation, expiresAt));
}

Task<void> CloudLibrary::libraryExpiry(AnchorRef anchor, Uuid generation, Date expiresAt) {
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
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    self->state_.meetings.clear();
    self->state_.searchResults.clear();
    self->notify();
}

// ---- Revocation ----

Task<void> CloudLibrary::revokeMeetings(AnchorRef anchor, std::vector<std::string> meetingIDs) {
    CloudLibrary* self = anchor->model;
    if (!self || meetingIDs.empty())
        co_return;
    const Uuid generation = self->state_.generation;
    if (std::shared_ptr<MeetingCache> cache = self->cache_) {
        std::vector<std::string> keys = meetingIDs;
        for (const std::string& id : meetingIDs)
            keys.push_back(draftKey(id));
        auto revoke = [cache, keys] { cache->revoke(keys); };
        Outcome<void> sealed = co_await attemptOn(self->actors(), revoke);
        // The meetings leave the lists all the same.
        sealed.drop("revoking meetings in the cache");
        self = anchor->model;
        if (!self || !self->isCurrentGeneration(generation))
            co_return;
    }
    CloudMeetingState& state = self->state_;
    std::erase_if(state.meetings,
                  [&](const MeetingSummary& meeting) { return contains(meetingIDs, meeting.id); });
    std::erase_if(state.searchResults,
                  [&](const MeetingSearchPage::Hit& hit) { return contains(meetingIDs, hit.meeting_id); });
    if (state.selectedID && contains(meetingIDs, *state.selectedID)) {
        self->documentExpiryTask_.cancel();
        self->closeDocument();
    }
}

// ---- Search ----

void CloudLibrary::search(const std::string& query) {
    requireMain("CloudLibrary::search");
    if (!state_.session)
        return;
    // Every new query, an empty one too, retires the answers still on their way.
    const std::uint64_t serial = ++searchSerial_;
    std::string trimmed = unicode::trimWhitespaceAndNewlines(query);
    if (trimmed.empty()) {
        state_.searchResults.clear();
        notify();
        return;
    }
    spawn(*deps_.mainQueue,
          searchLibrary(anchor_, state_.generation, serial, std::move(trimmed), *state_.session));
}

Task<void> CloudLibrary::searchLibrary(AnchorRef anchor, Uuid generation, std::uint64_t serial,
                                       std::string query, DeviceSession session) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::optional<std::string> workspaceID = self->state_.workspaceID;
    const std::string token = session.token;
    auto ask = [client, query, workspaceID, token](std::stop_token stop) {
        return client->search(query, workspaceID, token, stop);
    };
    Outcome<MeetingSearchPage> page = co_await attemptOn(self->actors(), ask);
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation) || self->searchSerial_ != serial)
        co_return;
    if (page.ok()) {
        self->state_.searchResults = std::move(page.value().results);
        self->state_.message =
            page.value().truncated ? self->localized(cloud_sentences::searchTruncated) : std::string();
    } else {
        self->state_.searchResults.clear();
        self->state_.message = self->localized(cloud_sentences::searchOffline);
    }
    self->notify();
}

} // namespace nuvel
