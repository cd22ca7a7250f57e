// Transcript corrections: the sealed draft is written before the request goes out, a retry sends
// the same request key, and the outcome goes back to the detail screen. Also the shared answer
// to a rejected session or a meeting the user may no longer reach.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"

#include <utility>

namespace nuvel {

namespace {
void complete(const CorrectionCompletion& completion, bool saved, bool conflict) {
    if (completion)
        completion(saved, conflict);
}
} // namespace

void CloudLibrary::submitCorrection(std::vector<MeetingRevisionOperation> operations,
                                    std::int64_t baseRevision, CorrectionCompletion completion) {
    requireMain("CloudLibrary::submitCorrection");
    if (!documentLeaseIsValid() || !state_.document || !state_.document->summary.access.canEdit() ||
        !state_.selectedID || !state_.session || !cache_) {
        complete(completion, false, false);
        return;
    }
    MeetingRevisionRequest request =
        MeetingRevisionRequest::make(Uuid::random(), baseRevision, std::move(operations));
    state_.pendingCorrection = request;
    spawn(*deps_.mainQueue,
          saveAndSendCorrection(anchor_, state_.generation, *state_.selectedID, std::move(request),
                                std::move(completion), *state_.session, cache_));
}

Task<void> CloudLibrary::saveAndSendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                               MeetingRevisionRequest request,
                                               CorrectionCompletion completion, DeviceSession session,
                                               std::shared_ptr<MeetingCache> cache) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    const std::string key = draftKey(meetingID);
    auto save = [cache, request, key] { cache->saveDraft(request, key); };
    Outcome<void> saved = co_await attemptOn(self->actors(), save);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    if (!saved.ok()) {
        self->state_.message = self->localized(cloud_sentences::draftNotSaved);
        self->notify();
        complete(completion, false, false);
        co_return;
    }
    co_await sendCorrection(anchor, generation, std::move(meetingID), std::move(request),
                            std::move(completion), std::move(session));
}

Task<void> CloudLibrary::retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                                         CorrectionCompletion completion, DeviceSession session,
                                         Uuid generation) {
    requireMain("CloudLibrary::retryCorrection");
    if (!isCurrentMeeting(generation, meetingID))
        co_return;
    // The meeting is still shown: a retry that cannot be sent still ends the sheet's wait.
    if (!documentLeaseIsValid()) {
        complete(completion, false, false);
        co_return;
    }
    co_await sendCorrection(anchor_, generation, std::move(meetingID), std::move(request),
                            std::move(completion), std::move(session));
}

Task<void> CloudLibrary::sendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                        MeetingRevisionRequest request, CorrectionCompletion completion,
                                        DeviceSession session) {
    CloudLibrary* self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    const CloudMeetingState& state = self->state_;
    if (!self->documentLeaseIsValid() || !state.session || state.session->account.id != session.account.id) {
        // Nothing was sent while the same meeting is shown: the sheet must not keep waiting.
        complete(completion, false, false);
        co_return;
    }
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto revise = [client, meetingID, request, token](std::stop_token stop) {
        client->revise(meetingID, request, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->actors(), revise);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;

    if (failure.failed()) {
        const bool conflict = serviceStatus(failure) == 409;
        const bool handled = co_await handleAccessError(anchor, failure, meetingID);
        self = anchor->model;
        if (handled || !self)
            co_return;
        self->state_.message = self->localized(conflict ? cloud_sentences::correctionConflict
                                                        : cloud_sentences::correctionNotSent);
        self->notify();
        complete(completion, false, conflict);
        co_return;
    }

    // A newer correction submitted meanwhile keeps its pending request and its draft: only the
    // request just confirmed is forgotten.
    const std::optional<MeetingRevisionRequest>& pending = self->state_.pendingCorrection;
    if (pending && pending->operation_id == request.operation_id) {
        self->state_.pendingCorrection.reset();
        if (std::shared_ptr<MeetingCache> cache = self->cache_) {
            auto remove = [cache, key = draftKey(meetingID)] { cache->remove(key); };
            Outcome<void> removed = co_await attemptOn(self->actors(), remove);
            // A draft left behind is sent again as a replay, which the service recognises.
            removed.drop("removing the sent correction draft");
            self = showing(anchor, generation, meetingID);
            if (!self)
                co_return;
        }
    }
    complete(completion, true, false);
    self = showing(anchor, generation, meetingID);
    if (self)
        self->openMeeting(meetingID, false);
}

Task<bool> CloudLibrary::handleAccessError(AnchorRef anchor, Failure failure, std::string meetingID) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return false;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 401) {
        const Uuid generation = self->state_.generation;
        if (std::shared_ptr<MeetingCache> cache = self->cache_) {
            auto purge = [cache] { cache->purge(); };
            Outcome<void> purged = co_await attemptOn(self->actors(), purge);
            // What could not be deleted stays sealed; the next sign-in's reset leaves it unread.
            purged.drop("emptying the cache of a refused session");
        }
        self = anchor->model;
        if (self && self->isCurrentGeneration(generation)) {
            self->reset();
            self->state_.message = self->localized(cloud_sentences::meetingSignIn);
            self->state_.signInNeeded = true;
            self->notify();
        }
        co_return true;
    }
    if (status == 403 || status == 404) {
        std::vector<std::string> ids{std::move(meetingID)};
        co_await revokeMeetings(anchor, ids);
        self = anchor->model;
        if (self)
            self->notify();
        co_return true;
    }
    co_return false;
}

} // namespace nuvel
