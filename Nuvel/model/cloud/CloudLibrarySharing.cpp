// Changes the user makes to the open meeting on the service: invitations and their removal,
// view-only links, the title and deleting the meeting. Each reloads what it changed and reports
// one sentence; an error of the session or of the meeting's access goes to the shared rule.
#include "Nuvel/model/Outcome.hpp"
#include "Nuvel/model/cloud/CloudLibrary.hpp"
#include "Nuvel/model/cloud/CloudSentences.hpp"
#include "Nuvel/model/cloud/ViewOnlyLink.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <utility>

namespace nuvel {

namespace {
constexpr std::size_t longestTitle = 200;
}

bool CloudLibrary::mayChange(std::string_view right) const {
    return documentLeaseIsValid() && state_.selectedID && state_.session && state_.document &&
           state_.document->summary.access.allows(right);
}

Task<void> CloudLibrary::changeFailed(AnchorRef anchor, std::string meetingID, Failure failure,
                                      std::string sentence) {
    const bool handled = co_await handleAccessError(anchor, failure, std::move(meetingID));
    CloudLibrary* self = anchor->model;
    if (handled || !self)
        co_return;
    self->state_.message = self->localized(sentence);
    self->notify();
}

// ---- Shares ----

void CloudLibrary::updateSharing(MeetingShareRequest request) {
    requireMain("CloudLibrary::updateSharing");
    if (!mayChange("share"))
        return;
    spawn(*deps_.mainQueue, shareChange(anchor_, state_.generation, *state_.selectedID, *state_.session,
                                        std::move(request), std::nullopt));
}

void CloudLibrary::revokeShare(std::string shareID) {
    requireMain("CloudLibrary::revokeShare");
    if (!mayChange("share"))
        return;
    spawn(*deps_.mainQueue, shareChange(anchor_, state_.generation, *state_.selectedID, *state_.session,
                                        std::nullopt, std::move(shareID)));
}

Task<void> CloudLibrary::shareChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     DeviceSession session, std::optional<MeetingShareRequest> invite,
                                     std::optional<std::string> shareID) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto change = [client, meetingID, token, invite, shareID](std::stop_token stop) {
        if (invite)
            client->addShare(meetingID, *invite, token, stop);
        else
            client->removeShare(meetingID, shareID.value_or(""), token, stop);
        return client->sharing(meetingID, token, stop);
    };
    Outcome<MeetingSharingDocument> sharing = co_await attemptOn(self->actors(), change);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    if (sharing.failed()) {
        co_await changeFailed(anchor, meetingID, sharing, std::string(cloud_sentences::sharingFailed));
        co_return;
    }
    self->state_.sharing = std::move(sharing.value());
    if (invite)
        self->state_.message = self->localized(cloud_sentences::sharingUpdated);
    self->notify();
}

// ---- View-only links ----

Task<Failure> CloudLibrary::reloadSharing(AnchorRef anchor, Uuid generation, std::string meetingID,
                                          std::string token, std::optional<std::string_view> sentence) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return Failure();
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    auto reload = [client, meetingID, token](std::stop_token stop) {
        return client->sharing(meetingID, token, stop);
    };
    Outcome<MeetingSharingDocument> sharing = co_await attemptOn(self->actors(), reload);
    if (sharing.failed())
        co_return Failure(sharing);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return Failure();
    self->state_.sharing = std::move(sharing.value());
    if (sentence)
        self->state_.message = self->localized(*sentence);
    self->notify();
    co_return Failure();
}

void CloudLibrary::createLink(int days, bool includeAudio) {
    requireMain("CloudLibrary::createLink");
    if (!mayChange("share"))
        return;
    spawn(*deps_.mainQueue,
          linkCreation(anchor_, state_.generation, *state_.selectedID, *state_.session, days, includeAudio));
}

Task<void> CloudLibrary::linkCreation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                      DeviceSession session, int days, bool includeAudio) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    Executor& actors = self->actors();
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    // The link this task made, once it is shown: only then may a failure say it is ready.
    std::optional<std::string> created;
    auto failureSentence = [&created, &self] {
        const bool shown = created && self->state_.pendingLinkURL == created;
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
                address ? acceptedViewOnlyLink(*address, self->deps_.webHost) : std::nullopt;
            if (!accepted)
                throw RecordingError(RecordingError::Code::invalidTransport);
            return *accepted;
        };
        Outcome<std::string> accepted = attemptNow(accept);
        failure = accepted;
        if (accepted.ok()) {
            self->state_.pendingLinkURL = accepted.value();
            created = std::move(accepted.value());
            self->state_.message = self->localized(cloud_sentences::linkCreated);
            self->notify();

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

void CloudLibrary::revokeLink(std::string linkID) {
    requireMain("CloudLibrary::revokeLink");
    if (!mayChange("share"))
        return;
    spawn(*deps_.mainQueue,
          linkRevocation(anchor_, state_.generation, *state_.selectedID, *state_.session, std::move(linkID)));
}

Task<void> CloudLibrary::linkRevocation(AnchorRef anchor, Uuid generation, std::string meetingID,
                                        DeviceSession session, std::string linkID) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    Executor& actors = self->actors();
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
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
        self->state_.pendingLinkURL.reset();
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

void CloudLibrary::renameTitle(std::string title) {
    requireMain("CloudLibrary::renameTitle");
    if (!mayChange("edit"))
        return;
    std::string trimmed = unicode::trimWhitespaceAndNewlines(title);
    if (trimmed.empty() || unicode::graphemeCount(trimmed) > longestTitle)
        return;
    spawn(*deps_.mainQueue,
          titleChange(anchor_, state_.generation, *state_.selectedID, *state_.session, std::move(trimmed)));
}

Task<void> CloudLibrary::titleChange(AnchorRef anchor, Uuid generation, std::string meetingID,
                                     DeviceSession session, std::string title) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto rename = [client, meetingID, title, token](std::stop_token stop) {
        client->rename(meetingID, title, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->actors(), rename);
    self = showing(anchor, generation, meetingID);
    if (!self)
        co_return;
    if (failure.failed()) {
        co_await changeFailed(anchor, meetingID, failure, std::string(cloud_sentences::renameFailed));
        co_return;
    }
    self->openMeeting(meetingID, true);
    self->loadLibrary(false);
}

// ---- Deleting ----

void CloudLibrary::confirmDelete() {
    requireMain("CloudLibrary::confirmDelete");
    if (!mayChange("delete") || !deps_.confirmDelete)
        return;
    spawn(*deps_.mainQueue, deletion(anchor_, state_.generation, *state_.selectedID, *state_.session));
}

Task<void> CloudLibrary::deletion(AnchorRef anchor, Uuid generation, std::string meetingID,
                                  DeviceSession session) {
    CloudLibrary* self = anchor->model;
    if (!self)
        co_return;
    DeleteConfirmation confirm = self->deps_.confirmDelete;
    const bool confirmed = co_await confirm();
    self = anchor->model;
    // The question was about this session's meeting: a sign-out meanwhile deletes nothing.
    if (!confirmed || !self || !self->isCurrentGeneration(generation))
        co_return;
    std::shared_ptr<NativeMeetingClient> client = self->deps_.client;
    const std::string token = session.token;
    auto remove = [client, meetingID, token](std::stop_token stop) {
        client->deleteMeeting(meetingID, token, stop);
    };
    Outcome<void> failure = co_await attemptOn(self->actors(), remove);
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    if (failure.failed()) {
        co_await changeFailed(anchor, meetingID, failure, std::string(cloud_sentences::deleteFailed));
        co_return;
    }
    std::vector<std::string> ids{meetingID};
    co_await revokeMeetings(anchor, ids);
    self = anchor->model;
    if (!self || !self->isCurrentGeneration(generation))
        co_return;
    self->loadLibrary(false);
    self->notify();
}

} // namespace nuvel
