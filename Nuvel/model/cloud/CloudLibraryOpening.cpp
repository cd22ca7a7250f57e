// Opening a cloud meeting: the offline copy while its lease holds, the saved correction draft,
// then the summary, the corrected and the original transcript, the notes and the sharing list
// from the service, and the fresh offline copy.
#include "Nuvel/model/cloud/CloudLibraryOpening.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"

#include <utility>

namespace nuvel {

namespace {
// The audio of a meeting may be played unless retention removed it and while the user may hear it.
bool audioAllowed(const NativeMeetingDocument& document) {
    return !document.summary.audio_deleted && document.summary.access.allows("audio");
}

bool revokesMeeting(std::optional<int> status) {
    return status == 403 || status == 404;
}
} // namespace

CloudLibraryOpening::CloudLibraryOpening(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps),
      anchor_(std::make_shared<PartAnchor<CloudLibraryOpening>>(PartAnchor<CloudLibraryOpening>{this})) {}

CloudLibraryOpening::~CloudLibraryOpening() {
    anchor_->part = nullptr;
}

void CloudLibraryOpening::openMeeting(const std::string& meetingID, bool refreshing) {
    ctx_.requireMain("CloudLibrary::openMeeting");
    if (!ctx_.state.session || !ctx_.cache)
        return;
    steps_.stopPlayback();
    steps_.cancelDocumentExpiry();
    ctx_.state.documentValidatedAt.reset();
    ctx_.state.documentExpiresAt.reset();
    ctx_.state.selectedID = meetingID;
    if (!refreshing) {
        ctx_.state.pendingLinkURL.reset();
        ctx_.state.sharing.reset();
        ctx_.state.document.reset();
        ctx_.state.originalTranscript.reset();
        ctx_.state.pendingCorrection.reset();
    }
    ctx_.state.audioAvailable = true;
    ctx_.state.loading = true;
    ctx_.state.message.clear();
    ctx_.notify();
    ctx_.loadTask.cancel();
    const LoadTicket ticket = ctx_.takeLoadTicket();
    ctx_.loadTask =
        spawn(*ctx_.deps.mainQueue, meetingLoad(anchor_, ticket, meetingID, ctx_.cache, *ctx_.state.session));
}

void CloudLibraryOpening::finishDocumentLoad(const LoadTicket& ticket) {
    // Keyed to the load, not to the selection: a load whose meeting was closed under it still
    // ends, and one that a newer load overtook leaves `loading` to that one.
    if (!ctx_.isCurrentLoad(ticket))
        return;
    ctx_.state.loading = false;
    ctx_.notify();
}

Task<void> CloudLibraryOpening::meetingLoad(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                            std::shared_ptr<MeetingCache> cache, DeviceSession session) {
    CloudLibraryOpening* self = anchor->part;
    // After every wait: an overtaken load stops without a word; a load whose meeting is no
    // longer the selected one ends without writing more.
    auto holds = [&anchor, &ticket, &meetingID, &self] {
        self = anchor->part;
        if (!self || !self->ctx_.isCurrentLoad(ticket))
            return false;
        if (self->ctx_.state.selectedID != meetingID) {
            self->finishDocumentLoad(ticket);
            return false;
        }
        return true;
    };
    if (!holds())
        co_return;
    Executor& actors = self->ctx_.actors();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    const std::string draft = correctionDraftKey(meetingID);

    // The offline copy, shown at once while its lease holds.
    {
        const Date at = self->ctx_.now();
        auto readCopy = [cache, meetingID, at] {
            return cache->loadWithLease<NativeMeetingDocument>(meetingID, at);
        };
        Outcome<MeetingCache::Leased<NativeMeetingDocument>> read = co_await attemptOn(actors, readCopy);
        if (!read.missingFile())
            read.drop("reading the offline meeting");
        if (!holds())
            co_return;
        std::optional<MeetingCache::Leased<NativeMeetingDocument>> copy;
        if (read.ok())
            copy = std::move(read.value());
        if (copy && at < copy->lease.expiresAt) {
            CloudMeetingState& state = self->ctx_.state;
            state.originalTranscript = copy->value.originalTranscript;
            state.durationMilliseconds = copy->value.transcript.duration_ms;
            state.audioAvailable = audioAllowed(copy->value);
            state.document = std::move(copy->value);
            self->steps_.scheduleDocumentExpiry(copy->lease.validatedAt, copy->lease.expiresAt);
            state.offline = true;
            self->ctx_.notify();
        }
    }

    // The saved correction draft.
    {
        auto readDraft = [cache, draft] { return cache->loadDraft<MeetingRevisionRequest>(draft); };
        Outcome<MeetingRevisionRequest> saved = co_await attemptOn(actors, readDraft);
        // Most meetings have no draft: only an unsent correction leaves one.
        if (!saved.missingFile())
            saved.drop("reading the correction draft");
        if (!holds())
            co_return;
        if (saved.ok())
            self->ctx_.state.pendingCorrection = std::move(saved.value());
        else
            self->ctx_.state.pendingCorrection.reset();
    }

    // Summary and corrected transcript: the first publication.
    // Any failure of these ends the load through meetingLoadFailed.
    auto fetchSummary = [client, meetingID, token](std::stop_token stop) {
        return client->meeting(meetingID, token, stop);
    };
    Outcome<MeetingSummary> fetchedSummary = co_await attemptOn(actors, fetchSummary);
    if (fetchedSummary.failed()) {
        co_await meetingLoadFailed(anchor, ticket, meetingID, fetchedSummary);
        co_return;
    }
    if (!holds())
        co_return;
    const MeetingSummary summary = std::move(fetchedSummary.value());
    auto fetchCorrected = [client, meetingID, token](std::stop_token stop) {
        return client->transcript(meetingID, "corrected", token, stop);
    };
    Outcome<MeetingTranscriptDocument> corrected = co_await attemptOn(actors, fetchCorrected);
    if (corrected.failed()) {
        co_await meetingLoadFailed(anchor, ticket, meetingID, corrected);
        co_return;
    }
    if (!holds())
        co_return;
    // Lifts an earlier revocation, so that the fresh copy and a new draft may be kept.
    std::vector<std::string> keys{meetingID, draft};
    auto restore = [cache, keys] { cache->restore(keys); };
    Outcome<void> restored = co_await attemptOn(actors, restore);
    if (restored.failed()) {
        co_await meetingLoadFailed(anchor, ticket, meetingID, restored);
        co_return;
    }
    if (!holds())
        co_return;

    NativeMeetingDocument working;
    Date validatedAt;
    {
        CloudMeetingState& state = self->ctx_.state;
        for (MeetingSummary& listed : state.meetings) {
            if (listed.id == meetingID) {
                listed = summary;
                break;
            }
        }
        working = NativeMeetingDocument{summary, std::move(corrected.value()), std::nullopt, std::nullopt};
        state.document = working;
        state.durationMilliseconds = working.transcript.duration_ms;
        state.audioAvailable = audioAllowed(working);
        state.offline = false;
        validatedAt = self->ctx_.now();
        if (state.offlineLease > 0)
            self->steps_.scheduleDocumentExpiry(validatedAt, validatedAt.adding(state.offlineLease));
        self->ctx_.notify();
    }

    // The original transcript and the notes; without them the transcript stays readable.
    Failure notesFailure;
    auto fetchRaw = [client, meetingID, token](std::stop_token stop) {
        return client->transcript(meetingID, "raw", token, stop);
    };
    Outcome<MeetingTranscriptDocument> raw = co_await attemptOn(actors, fetchRaw);
    if (raw.failed()) {
        notesFailure = raw;
    } else {
        if (!holds())
            co_return;
        self->ctx_.state.originalTranscript = raw.value();
        working.originalTranscript = std::move(raw.value());
        auto fetchNotes = [client, meetingID, token](std::stop_token stop) {
            return client->notes(meetingID, token, stop);
        };
        Outcome<MeetingNotesDocument> notes = co_await attemptOn(actors, fetchNotes);
        if (notes.failed()) {
            notesFailure = notes;
        } else {
            if (!holds())
                co_return;
            working.notes = std::move(notes.value());
        }
    }
    if (notesFailure.failed()) {
        if (!holds())
            co_return;
        const std::optional<int> status = serviceStatus(notesFailure);
        if (status == 401 || revokesMeeting(status)) {
            std::vector<std::string> ids{meetingID};
            co_await self->steps_.revokeMeetings(ids);
            self = anchor->part;
            if (self)
                self->finishDocumentLoad(ticket);
            co_return;
        }
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::notesUnavailable);
    }

    // The second publication, the fresh offline copy and the sharing list.
    self->ctx_.state.document = working;
    self->ctx_.notify();
    const double lease = self->ctx_.state.offlineLease;
    if (lease > 0) {
        auto store = [cache, working, meetingID, validatedAt, lease] {
            cache->store(working, meetingID, validatedAt, lease);
        };
        Outcome<void> stored = co_await attemptOn(actors, store);
        if (stored.failed()) {
            co_await meetingLoadFailed(anchor, ticket, meetingID, stored);
            co_return;
        }
    }
    if (!holds())
        co_return;
    if (summary.access.canShare()) {
        auto fetchSharing = [client, meetingID, token](std::stop_token stop) {
            return client->sharing(meetingID, token, stop);
        };
        Outcome<MeetingSharingDocument> sharing = co_await attemptOn(actors, fetchSharing);
        if (sharing.failed()) {
            co_await meetingLoadFailed(anchor, ticket, meetingID, sharing);
            co_return;
        }
        if (!holds())
            co_return;
        self->ctx_.state.sharing = std::move(sharing.value());
    }
    self->finishDocumentLoad(ticket);
}

Task<void> CloudLibraryOpening::meetingLoadFailed(AnchorRef anchor, LoadTicket ticket, std::string meetingID,
                                                  Failure failure) {
    CloudLibraryOpening* self = anchor->part;
    if (!self || !self->ctx_.isCurrentLoad(ticket))
        co_return;
    if (self->ctx_.state.selectedID != meetingID) {
        self->finishDocumentLoad(ticket);
        co_return;
    }
    const std::optional<int> status = serviceStatus(failure);
    if (revokesMeeting(status)) {
        std::vector<std::string> ids{meetingID};
        co_await self->steps_.revokeMeetings(ids);
        self = anchor->part;
        // The sentence follows the closing and is shown with it, unless a newer load took over.
        if (!self || !self->ctx_.isCurrentLoad(ticket))
            co_return;
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::meetingRemoved);
        self->finishDocumentLoad(ticket);
        co_return;
    }
    if (status == 401) {
        self->steps_.expireDocument();
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::meetingSignIn);
        self->ctx_.state.signInNeeded = true;
        self->ctx_.notify();
        co_return;
    }
    self->ctx_.state.offline = true;
    if (!self->ctx_.documentLeaseIsValid()) {
        self->steps_.expireDocument();
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::meetingOffline);
        self->ctx_.notify();
        co_return;
    }
    self->ctx_.state.message = self->ctx_.localized(cloud_sentences::meetingOffline);
    self->finishDocumentLoad(ticket);
}

} // namespace nuvel
