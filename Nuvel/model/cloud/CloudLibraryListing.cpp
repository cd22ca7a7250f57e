// The library list: page loads with the offline copy shown first, reconciliation of the listed
// meetings, the library's lease, the revocation step and the library-wide search.
#include "Nuvel/model/cloud/CloudLibraryListing.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
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
    return std::min(*seconds, maximumCloudOfflineSeconds);
}
} // namespace

CloudLibraryListing::CloudLibraryListing(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps),
      anchor_(std::make_shared<PartAnchor<CloudLibraryListing>>(PartAnchor<CloudLibraryListing>{this})) {}

CloudLibraryListing::~CloudLibraryListing() {
    anchor_->part = nullptr;
    libraryExpiryTask_.cancel();
}

void CloudLibraryListing::cancelExpiry() {
    libraryExpiryTask_.cancel();
}

Task<void> CloudLibraryListing::revokeMeetings(std::vector<std::string> meetingIDs) {
    return revokeFromLibrary(anchor_, std::move(meetingIDs));
}

// ---- Loading the library ----

void CloudLibraryListing::loadLibrary(bool more) {
    ctx_.requireMain("CloudLibrary::loadLibrary");
    if (!ctx_.state.session || !ctx_.cache || ctx_.state.loading)
        return;
    const LoadTicket ticket = ctx_.takeLoadTicket();
    std::optional<std::string> cursor = more ? ctx_.state.nextCursor : std::nullopt;
    ctx_.state.loading = true;
    ctx_.state.message.clear();
    ctx_.notify();
    // The handle of an earlier load is let go, not cancelled; its ticket is no longer current.
    ctx_.loadTask =
        spawn(*ctx_.deps.mainQueue, libraryLoad(anchor_, ticket, more, ctx_.cache, ctx_.state.workspaceID,
                                                std::move(cursor), *ctx_.state.session));
}

Task<void> CloudLibraryListing::libraryLoad(AnchorRef anchor, LoadTicket ticket, bool more,
                                            std::shared_ptr<MeetingCache> cache, std::string workspaceID,
                                            std::optional<std::string> cursor, DeviceSession session) {
    CloudLibraryListing* self = anchor->part;
    auto current = [&anchor, &ticket, &self] {
        self = anchor->part;
        return self && self->ctx_.isCurrentLoad(ticket);
    };
    if (!current())
        co_return;
    Executor& actors = self->ctx_.actors();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;

    // The offline copy first, while its lease holds.
    if (!more && self->ctx_.state.meetings.empty()) {
        const Date at = self->ctx_.now();
        auto readCopy = [cache, at] { return cache->loadWithLease<MeetingLibraryPage>(libraryKey, at); };
        Outcome<MeetingCache::Leased<MeetingLibraryPage>> read = co_await attemptOn(actors, readCopy);
        if (!read.missingFile())
            read.drop("reading the offline library");
        if (!current())
            co_return;
        MeetingCache::Leased<MeetingLibraryPage>* copy = read.ok() ? &read.value() : nullptr;
        if (copy && self->ctx_.now() < copy->lease.expiresAt) {
            self->ctx_.state.meetings = std::move(copy->value.meetings);
            self->ctx_.state.offline = true;
            self->scheduleLibraryExpiry(copy->lease.expiresAt);
            self->ctx_.notify();
        }
    }

    std::vector<std::string> toReconcile;
    {
        std::set<std::string> ids;
        for (const MeetingSummary& meeting : self->ctx_.state.meetings)
            ids.insert(meeting.id);
        if (self->ctx_.state.selectedID)
            ids.insert(*self->ctx_.state.selectedID);
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

    CloudMeetingState& state = self->ctx_.state;
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
    const Date validatedAt = self->ctx_.now();
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
        Task<void> revocation = revokeFromLibrary(anchor, removed);
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
        copy.meetings = self->ctx_.state.meetings;
        copy.next_cursor = self->ctx_.state.nextCursor;
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
        if (self->ctx_.now() >= validatedAt.adding(lease)) {
            self->ctx_.state.meetings.clear();
            self->ctx_.state.searchResults.clear();
        }
    }
    if (!current())
        co_return;
    self->ctx_.state.loading = false;
    self->ctx_.notify();
}

Task<void> CloudLibraryListing::libraryLoadFailed(AnchorRef anchor, LoadTicket ticket, Failure failure,
                                                  std::shared_ptr<MeetingCache> cache) {
    CloudLibraryListing* self = anchor->part;
    // A load that was overtaken or cancelled ends without a word.
    if (!self || !self->ctx_.isCurrentLoad(ticket))
        co_return;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 401 || status == 403) {
        auto purge = [cache] { cache->purge(); };
        Outcome<void> purged = co_await attemptOn(self->ctx_.actors(), purge);
        // The session ends all the same.
        purged.drop("emptying the cache of a refused session");
        self = anchor->part;
        if (!self || !self->ctx_.isCurrentLoad(ticket))
            co_return;
        self->steps_.reset();
        self->ctx_.state.message = self->ctx_.localized(
            *status == 401 ? cloud_sentences::librarySignIn : cloud_sentences::libraryAccessRemoved);
        self->ctx_.state.signInNeeded = *status == 401;
        self->ctx_.notify();
        co_return;
    }
    self->ctx_.state.offline = true;
    self->ctx_.state.message = self->ctx_.localized(cloud_sentences::libraryOffline);
    self->ctx_.state.loading = false;
    self->ctx_.notify();
}

void CloudLibraryListing::scheduleLibraryExpiry(Date expiresAt) {
    libraryExpiryTask_.cancel();
    libraryExpiryTask_ =
        spawn(*ctx_.deps.mainQueue, libraryExpiry(anchor_, ctx_.state.generation, expiresAt));
}

Task<void> CloudLibraryListing::libraryExpiry(AnchorRef anchor, Uuid generation, Date expiresAt) {
    CloudLibraryListing* self = anchor->part;
    if (!self)
        co_return;
    const double seconds = expiresAt.sinceReferenceDate - self->ctx_.now().sinceReferenceDate;
    Task<void> wait = sleepOnContinuousClock(seconds, self->ctx_.deps.continuousNow);
    Outcome<void> waited = co_await attempt(wait);
    if (waited.cancelled())
        co_return;
    if (waited.failed())
        std::rethrow_exception(waited.error());
    if ((co_await currentStopToken()).stop_requested())
        co_return;
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    self->ctx_.state.meetings.clear();
    self->ctx_.state.searchResults.clear();
    self->ctx_.notify();
}

// ---- Revocation ----

Task<void> CloudLibraryListing::revokeFromLibrary(AnchorRef anchor, std::vector<std::string> meetingIDs) {
    CloudLibraryListing* self = anchor->part;
    if (!self || meetingIDs.empty())
        co_return;
    const Uuid generation = self->ctx_.state.generation;
    if (std::shared_ptr<MeetingCache> cache = self->ctx_.cache) {
        std::vector<std::string> keys = meetingIDs;
        for (const std::string& id : meetingIDs)
            keys.push_back(correctionDraftKey(id));
        auto revoke = [cache, keys] { cache->revoke(keys); };
        Outcome<void> sealed = co_await attemptOn(self->ctx_.actors(), revoke);
        // The meetings leave the lists all the same.
        sealed.drop("revoking meetings in the cache");
        self = anchor->part;
        if (!self || !self->ctx_.isCurrentGeneration(generation))
            co_return;
    }
    CloudMeetingState& state = self->ctx_.state;
    std::erase_if(state.meetings,
                  [&](const MeetingSummary& meeting) { return contains(meetingIDs, meeting.id); });
    std::erase_if(state.searchResults,
                  [&](const MeetingSearchPage::Hit& hit) { return contains(meetingIDs, hit.meeting_id); });
    if (state.selectedID && contains(meetingIDs, *state.selectedID)) {
        self->steps_.cancelDocumentExpiry();
        self->steps_.closeDocument();
    }
    if (self->ctx_.onMeetingsGone)
        self->ctx_.onMeetingsGone(meetingIDs);
}

// ---- Search ----

void CloudLibraryListing::search(const std::string& query) {
    ctx_.requireMain("CloudLibrary::search");
    if (!ctx_.state.session)
        return;
    // Every new query, an empty one too, retires the answers still on their way.
    const std::uint64_t serial = ++searchSerial_;
    std::string trimmed = unicode::trimWhitespaceAndNewlines(query);
    if (trimmed.empty()) {
        ctx_.state.searchResults.clear();
        ctx_.notify();
        return;
    }
    spawn(*ctx_.deps.mainQueue,
          searchLibrary(anchor_, ctx_.state.generation, serial, std::move(trimmed), *ctx_.state.session));
}

Task<void> CloudLibraryListing::searchLibrary(AnchorRef anchor, Uuid generation, std::uint64_t serial,
                                              std::string query, DeviceSession session) {
    CloudLibraryListing* self = anchor->part;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::optional<std::string> workspaceID = self->ctx_.state.workspaceID;
    const std::string token = session.token;
    auto ask = [client, query, workspaceID, token](std::stop_token stop) {
        return client->search(query, workspaceID, token, stop);
    };
    Outcome<MeetingSearchPage> page = co_await attemptOn(self->ctx_.actors(), ask);
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation) || self->searchSerial_ != serial)
        co_return;
    if (page.ok()) {
        self->ctx_.state.searchResults = std::move(page.value().results);
        self->ctx_.state.message =
            page.value().truncated ? self->ctx_.localized(cloud_sentences::searchTruncated) : std::string();
    } else {
        self->ctx_.state.searchResults.clear();
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::searchOffline);
    }
    self->ctx_.notify();
}

} // namespace nuvel
