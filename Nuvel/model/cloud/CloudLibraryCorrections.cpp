// Transcript corrections: the sealed draft is written before the request goes out, a retry sends
// the same request key, and the outcome goes back to the detail screen. Also the shared answer
// to a rejected session or a meeting the user may no longer reach.
#include "Nuvel/model/cloud/CloudLibraryCorrections.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudFailure.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"

#include <utility>

namespace nuvel {

namespace {
void complete(const CorrectionCompletion& completion, bool saved, bool conflict) {
    if (completion)
        completion(saved, conflict);
}
} // namespace

CloudLibraryCorrections::CloudLibraryCorrections(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps), anchor_(std::make_shared<PartAnchor<CloudLibraryCorrections>>(
                                        PartAnchor<CloudLibraryCorrections>{this})) {}

CloudLibraryCorrections::~CloudLibraryCorrections() {
    anchor_->part = nullptr;
}

Task<bool> CloudLibraryCorrections::handleAccessError(Failure failure, std::string meetingID) {
    return answerAccessError(anchor_, std::move(failure), std::move(meetingID));
}

void CloudLibraryCorrections::submitCorrection(std::vector<MeetingRevisionOperation> operations,
                                               std::int64_t baseRevision, CorrectionCompletion completion) {
    ctx_.requireMain("CloudLibrary::submitCorrection");
    if (!ctx_.documentLeaseIsValid() || !ctx_.state.document ||
        !ctx_.state.document->summary.access.canEdit() || !ctx_.state.selectedID || !ctx_.state.session ||
        !ctx_.cache) {
        complete(completion, false, false);
        return;
    }
    MeetingRevisionRequest request =
        MeetingRevisionRequest::make(Uuid::random(), baseRevision, std::move(operations));
    ctx_.state.pendingCorrection = request;
    spawn(*ctx_.deps.mainQueue,
          saveAndSendCorrection(anchor_, ctx_.state.generation, *ctx_.state.selectedID, std::move(request),
                                std::move(completion), *ctx_.state.session, ctx_.cache));
}

Task<void> CloudLibraryCorrections::saveAndSendCorrection(
    AnchorRef anchor, Uuid generation, std::string meetingID, MeetingRevisionRequest request,
    CorrectionCompletion completion, DeviceSession session, std::shared_ptr<MeetingCache> cache) {
    CloudLibraryCorrections* self = anchor->part;
    if (!self)
        co_return;
    const std::string key = correctionDraftKey(meetingID);
    auto save = [cache, request, key] { cache->saveDraft(request, key); };
    Outcome<void> saved = co_await attemptOn(self->ctx_.actors(), save);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    if (!saved.ok()) {
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::draftNotSaved);
        self->ctx_.notify();
        complete(completion, false, false);
        co_return;
    }
    co_await sendCorrection(anchor, generation, std::move(meetingID), std::move(request),
                            std::move(completion), std::move(session));
}

Task<void> CloudLibraryCorrections::retryCorrection(std::string meetingID, MeetingRevisionRequest request,
                                                    CorrectionCompletion completion, DeviceSession session,
                                                    Uuid generation) {
    ctx_.requireMain("CloudLibrary::retryCorrection");
    if (!ctx_.isCurrentMeeting(generation, meetingID))
        co_return;
    // The meeting is still shown: a retry that cannot be sent still ends the sheet's wait.
    if (!ctx_.documentLeaseIsValid()) {
        complete(completion, false, false);
        co_return;
    }
    co_await sendCorrection(anchor_, generation, std::move(meetingID), std::move(request),
                            std::move(completion), std::move(session));
}

Task<void> CloudLibraryCorrections::sendCorrection(AnchorRef anchor, Uuid generation, std::string meetingID,
                                                   MeetingRevisionRequest request,
                                                   CorrectionCompletion completion, DeviceSession session) {
    CloudLibraryCorrections* self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    const CloudMeetingState& state = self->ctx_.state;
    if (!self->ctx_.documentLeaseIsValid() || !state.session ||
        state.session->account.id != session.account.id) {
        // Nothing was sent while the same meeting is shown: the sheet must not keep waiting.
        complete(completion, false, false);
        co_return;
    }
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto revise = [client, meetingID, request, token](std::stop_token stop) {
        client->revise(meetingID, request, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->ctx_.actors(), revise);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;

    if (failure.failed()) {
        const bool conflict = serviceStatus(failure) == 409;
        const bool handled = co_await answerAccessError(anchor, failure, meetingID);
        self = anchor->part;
        if (handled || !self)
            co_return;
        self->ctx_.state.message = self->ctx_.localized(conflict ? cloud_sentences::correctionConflict
                                                                 : cloud_sentences::correctionNotSent);
        self->ctx_.notify();
        complete(completion, false, conflict);
        co_return;
    }

    // A newer correction submitted meanwhile keeps its pending request and its draft: only the
    // request just confirmed is forgotten.
    const std::optional<MeetingRevisionRequest>& pending = self->ctx_.state.pendingCorrection;
    if (pending && pending->operation_id == request.operation_id) {
        self->ctx_.state.pendingCorrection.reset();
        if (std::shared_ptr<MeetingCache> cache = self->ctx_.cache) {
            auto remove = [cache, key = correctionDraftKey(meetingID)] { cache->remove(key); };
            Outcome<void> removed = co_await attemptOn(self->ctx_.actors(), remove);
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
        self->steps_.openMeeting(meetingID, false);
}

Task<bool> CloudLibraryCorrections::answerAccessError(AnchorRef anchor, Failure failure,
                                                      std::string meetingID) {
    CloudLibraryCorrections* self = anchor->part;
    if (!self)
        co_return false;
    const std::optional<int> status = serviceStatus(failure);
    if (status == 401) {
        const Uuid generation = self->ctx_.state.generation;
        if (std::shared_ptr<MeetingCache> cache = self->ctx_.cache) {
            auto purge = [cache] { cache->purge(); };
            Outcome<void> purged = co_await attemptOn(self->ctx_.actors(), purge);
            // What could not be deleted stays sealed; the next sign-in's reset leaves it unread.
            purged.drop("emptying the cache of a refused session");
        }
        self = anchor->part;
        if (self && self->ctx_.isCurrentGeneration(generation)) {
            self->steps_.reset();
            self->ctx_.state.message = self->ctx_.localized(cloud_sentences::meetingSignIn);
            self->ctx_.state.signInNeeded = true;
            self->ctx_.notify();
        }
        co_return true;
    }
    if (status == 403 || status == 404) {
        std::vector<std::string> ids{std::move(meetingID)};
        co_await self->steps_.revokeMeetings(ids);
        self = anchor->part;
        if (self)
            self->ctx_.notify();
        co_return true;
    }
    co_return false;
}

} // namespace nuvel
