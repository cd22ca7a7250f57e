// Changes the user makes to the open meeting on the service: invitations and their removal,
// view-only links, the title and deleting the meeting. Each reloads what it changed and reports
// one sentence; an error of the session or of the meeting's access goes to the shared rule.
#include "Nuvel/model/cloud/CloudLibrarySharing.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ViewOnlyLink.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <utility>

namespace nuvel {

namespace {
constexpr std::size_t longestTitle = 200;

void complete(const InvitationCompletion& completion, bool invited) {
    if (completion)
        completion(invited);
}
} // namespace

CloudLibrarySharing::CloudLibrarySharing(CloudLibraryContext& context, CloudLibrarySteps& steps)
    : ctx_(context), steps_(steps),
      anchor_(std::make_shared<PartAnchor<CloudLibrarySharing>>(PartAnchor<CloudLibrarySharing>{this})) {}

CloudLibrarySharing::~CloudLibrarySharing() {
    anchor_->part = nullptr;
}

bool CloudLibrarySharing::mayChange(std::string_view right) const {
    return ctx_.documentLeaseIsValid() && ctx_.state.selectedID && ctx_.state.session &&
           ctx_.state.document && ctx_.state.document->summary.access.allows(right);
}

Task<void> CloudLibrarySharing::changeFailed(AnchorRef anchor, std::string meetingID, Failure failure,
                                             std::string sentence) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    const bool handled = co_await self->steps_.handleAccessError(failure, std::move(meetingID));
    self = anchor->part;
    if (handled || !self)
        co_return;
    self->ctx_.state.message = self->ctx_.localized(sentence);
    self->ctx_.notify();
}

// ---- Shares ----

void CloudLibrarySharing::updateSharing(MeetingShareRequest request, InvitationCompletion completion) {
    ctx_.requireMain("CloudLibrary::updateSharing");
    if (!mayChange("share")) {
        complete(completion, false);
        return;
    }
    spawn(*ctx_.deps.mainQueue,
          shareChange(anchor_, ctx_.state.generation, *ctx_.state.selectedID, *ctx_.state.session,
                      std::move(request), std::nullopt, std::move(completion)));
}

void CloudLibrarySharing::revokeShare(std::string shareID) {
    ctx_.requireMain("CloudLibrary::revokeShare");
    if (!mayChange("share"))
        return;
    spawn(*ctx_.deps.mainQueue, shareChange(anchor_, ctx_.state.generation, *ctx_.state.selectedID,
                                            *ctx_.state.session, std::nullopt, std::move(shareID), {}));
}

Task<void> CloudLibrarySharing::shareChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                            DeviceSession session, std::optional<MeetingShareRequest> invite,
                                            std::optional<std::string> shareID,
                                            InvitationCompletion completion) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto change = [client, meetingID, token, invite, shareID](std::stop_token stop) {
        if (invite)
            client->addShare(meetingID, *invite, token, stop);
        else
            client->removeShare(meetingID, shareID.value_or(""), token, stop);
        return client->sharing(meetingID, token, stop);
    };
    Outcome<MeetingSharingDocument> sharing = co_await attemptOn(self->ctx_.actors(), change);
    self = showing(anchor, generation, meetingID);
    if (!self) {
        complete(completion, false);
        co_return;
    }
    if (sharing.failed()) {
        co_await changeFailed(anchor, meetingID, sharing, std::string(cloud_sentences::sharingFailed));
        complete(completion, false);
        co_return;
    }
    self->ctx_.state.sharing = std::move(sharing.value());
    if (invite)
        self->ctx_.state.message = self->ctx_.localized(cloud_sentences::sharingUpdated);
    self->ctx_.notify();
    complete(completion, true);
}

// ---- View-only links ----

Task<Failure> CloudLibrarySharing::reloadSharing(AnchorRef anchor, Uuid generation, std::string meetingID,
                                                 std::string token,
                                                 std::optional<std::string_view> sentence) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return Failure();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    auto reload = [client, meetingID, token](std::stop_token stop) {
        return client->sharing(meetingID, token, stop);
    };
    Outcome<MeetingSharingDocument> sharing = co_await attemptOn(self->ctx_.actors(), reload);
    if (sharing.failed())
        co_return Failure(sharing);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return Failure();
    self->ctx_.state.sharing = std::move(sharing.value());
    if (sentence)
        self->ctx_.state.message = self->ctx_.localized(*sentence);
    self->ctx_.notify();
    co_return Failure();
}

void CloudLibrarySharing::createLink(int days, bool includeAudio) {
    ctx_.requireMain("CloudLibrary::createLink");
    if (!mayChange("share"))
        return;
    spawn(*ctx_.deps.mainQueue, linkCreation(anchor_, ctx_.state.generation, *ctx_.state.selectedID,
                                             *ctx_.state.session, days, includeAudio));
}

Task<void> CloudLibrarySharing::linkCreation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                             DeviceSession session, int days, bool includeAudio) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    Executor& actors = self->ctx_.actors();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    // The link this task made, once it is shown: only then may a failure say it is ready.
    std::optional<std::string> created;
    auto failureSentence = [&created, &self] {
        const bool shown = created && self->ctx_.state.pendingLinkURL == created;
        return std::string(shown ? cloud_sentences::linkListNotRefreshed : cloud_sentences::linkFailed);
    };

    auto create = [client, meetingID, days, includeAudio, token](std::stop_token stop) {
        return client->createLink(meetingID, days, includeAudio, token, stop);
    };
    Outcome<MeetingJSON> answer = co_await attemptOn(actors, create);
    Failure failure = answer;
    if (answer.ok()) {
        self = showing(anchor, generation, meetingID);
        if (!self)
            co_return;
        auto accept = [&answer, self] {
            const MeetingJSON* url = answer.value()["url"];
            const std::string* address = url ? url->stringValue() : nullptr;
            std::optional<std::string> accepted =
                address ? acceptedViewOnlyLink(*address, self->ctx_.deps.webHost) : std::nullopt;
            if (!accepted)
                throw RecordingError(RecordingError::Code::invalidTransport);
            return *accepted;
        };
        Outcome<std::string> accepted = attemptNow(accept);
        failure = accepted;
        if (accepted.ok()) {
            self->ctx_.state.pendingLinkURL = accepted.value();
            created = std::move(accepted.value());
            self->ctx_.state.message = self->ctx_.localized(cloud_sentences::linkCreated);
            self->ctx_.notify();

            failure =
                co_await reloadSharing(anchor, generation, meetingID, token, cloud_sentences::linkCreated);
            if (!failure.failed())
                co_return;
        } else if (const MeetingJSON* id = answer.value()["id"]; id && id->stringValue()) {
            // A link the user cannot see, copy or revoke must not stay live for its days.
            const std::string linkID = *id->stringValue();
            auto revoke = [client, meetingID, linkID, token](std::stop_token stop) {
                client->revokeLink(meetingID, linkID, token, stop);
            };
            Outcome<void> revoked = co_await attemptOn(actors, revoke);
            revoked.drop("revoking a link that failed its check");
        }
    }
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    co_await changeFailed(anchor, meetingID, failure, failureSentence());
}

void CloudLibrarySharing::revokeLink(std::string linkID) {
    ctx_.requireMain("CloudLibrary::revokeLink");
    if (!mayChange("share"))
        return;
    spawn(*ctx_.deps.mainQueue, linkRevocation(anchor_, ctx_.state.generation, *ctx_.state.selectedID,
                                               *ctx_.state.session, std::move(linkID)));
}

Task<void> CloudLibrarySharing::linkRevocation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                               DeviceSession session, std::string linkID) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    Executor& actors = self->ctx_.actors();
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto revoke = [client, meetingID, linkID, token](std::stop_token stop) {
        client->revokeLink(meetingID, linkID, token, stop);
    };
    Outcome<void> revoked = co_await attemptOn(actors, revoke);
    Failure failure = revoked;
    if (revoked.ok()) {
        self = showing(anchor, generation, meetingID);
        if (!self)
            co_return;
        self->ctx_.state.pendingLinkURL.reset();
        // The sentences that offer the new link for copying are no longer true once it is gone.
        for (std::string_view offer : {cloud_sentences::linkCreated, cloud_sentences::linkListNotRefreshed})
            if (self->ctx_.state.message == self->ctx_.localized(offer))
                self->ctx_.state.message.clear();
        failure = co_await reloadSharing(anchor, generation, meetingID, token, std::nullopt);
        if (!failure.failed())
            co_return;
    }
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    co_await changeFailed(anchor, meetingID, failure, std::string(cloud_sentences::linkNotRevoked));
}

// ---- Title ----

void CloudLibrarySharing::renameTitle(std::string title) {
    ctx_.requireMain("CloudLibrary::renameTitle");
    if (!mayChange("edit"))
        return;
    std::string trimmed = unicode::trimWhitespaceAndNewlines(title);
    if (trimmed.empty() || unicode::graphemeCount(trimmed) > longestTitle)
        return;
    spawn(*ctx_.deps.mainQueue, titleChange(anchor_, ctx_.state.generation, *ctx_.state.selectedID,
                                            *ctx_.state.session, std::move(trimmed)));
}

Task<void> CloudLibrarySharing::titleChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                            DeviceSession session, std::string title) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto rename = [client, meetingID, title, token](std::stop_token stop) {
        client->rename(meetingID, title, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->ctx_.actors(), rename);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    if (failure.failed()) {
        co_await changeFailed(anchor, meetingID, failure, std::string(cloud_sentences::renameFailed));
        co_return;
    }
    self->steps_.openMeeting(meetingID, true);
    self->steps_.loadLibrary(false);
}

// ---- Deleting ----

void CloudLibrarySharing::confirmDelete() {
    ctx_.requireMain("CloudLibrary::confirmDelete");
    if (!mayChange("delete") || !ctx_.deps.confirmDelete)
        return;
    spawn(*ctx_.deps.mainQueue,
          deletion(anchor_, ctx_.state.generation, *ctx_.state.selectedID, *ctx_.state.session));
}

Task<void> CloudLibrarySharing::deletion(AnchorRef anchor, Uuid generation, std::string meetingID,
                                         DeviceSession session) {
    CloudLibrarySharing* self = anchor->part;
    if (!self)
        co_return;
    DeleteConfirmation confirm = self->ctx_.deps.confirmDelete;
    const bool confirmed = co_await confirm();
    self = anchor->part;
    // The question was about this session's meeting: a sign-out meanwhile deletes nothing.
    if (!confirmed || !self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->ctx_.deps.client;
    const std::string token = session.token;
    auto remove = [client, meetingID, token](std::stop_token stop) {
        client->deleteMeeting(meetingID, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->ctx_.actors(), remove);
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    if (failure.failed()) {
        co_await changeFailed(anchor, meetingID, failure, std::string(cloud_sentences::deleteFailed));
        co_return;
    }
    std::vector<std::string> ids{meetingID};
    co_await self->steps_.revokeMeetings(ids);
    self = anchor->part;
    if (!self || !self->ctx_.isCurrentGeneration(generation))
        co_return;
    self->steps_.loadLibrary(false);
    self->ctx_.notify();
}

} // namespace nuvel
