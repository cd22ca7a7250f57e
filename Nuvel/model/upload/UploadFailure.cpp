#include "Nuvel/model/upload/UploadFailure.hpp"

#include "Nuvel/model/upload/UploadSentences.hpp"
#include "NuvelKit/service/APIError.hpp"
#include "NuvelKit/store/RecordingError.hpp"

#include <cmath>
#include <variant>

namespace nuvel {

namespace {

constexpr double longestDelaySeconds = 86400;

bool isClientRefusal(const APIError* refused) {
    return refused && refused->status() >= 400 && refused->status() <= 499;
}

} // namespace

const RetryPolicy& uploadRetryPolicy() {
    static const RetryPolicy policy(8, 5.0, 900.0);
    return policy;
}

TransferState classifyUploadFailure(const Failure& error, const LocalRecording& recording,
                                    const std::optional<NativeCapabilities>& capabilities) {
    if (recording.transfer == TransferState::committing &&
        !(capabilities && capabilities->commitReconciliation))
        return TransferState::needsReview;
    const bool recognisable = recording.creationRequest && recording.creationRequest->client_recording_id;
    if (recording.transfer == TransferState::creating && !recognisable &&
        !isClientRefusal(error.errorAs<APIError>()))
        return TransferState::needsReview;
    // The service accepted another file for this meeting: sending ours again cannot settle it.
    const RecordingError* local = error.errorAs<RecordingError>();
    if (local && local->code() == RecordingError::Code::ambiguousRequest)
        return TransferState::needsReview;
    return TransferState::failed;
}

std::string uploadErrorCode(const Failure& error, TransferState classified) {
    if (classified == TransferState::needsReview)
        return "ambiguous_request";
    if (const APIError* refused = error.errorAs<APIError>())
        return refused->code();
    return "transfer_failed";
}

std::string_view uploadFailureMessage(const Failure& error, const LocalRecording& recording) {
    namespace says = upload_sentences;
    if (recording.transfer == TransferState::needsReview)
        return says::ambiguous;
    const APIError* refused = error.errorAs<APIError>();
    if (!refused)
        return says::paused;
    if (refused->status() == 401)
        return says::signIn;
    if (refused->code() == "capture_in_progress")
        return says::anotherDevice;
    switch (refused->status()) {
    case 402:
        return says::allowance;
    case 413:
    case 422:
        return says::tooLarge;
    case 429:
        return says::tooManyRequests;
    case 403:
        return says::noPermission;
    default:
        return says::paused;
    }
}

double clampedDelaySeconds(double seconds) {
    if (!(seconds > 0)) // NaN too
        return 0;
    return seconds > longestDelaySeconds ? longestDelaySeconds : seconds;
}

void applyUploadFailure(LocalRecording& recording, const Failure& error,
                        const std::optional<NativeCapabilities>& capabilities, Date now,
                        const RetryJitter& jitter) {
    recording.transfer = classifyUploadFailure(error, recording, capabilities);
    recording.errorCode = uploadErrorCode(error, recording.transfer);
    const std::int64_t attempt = recording.retryAttempts.value_or(0) + 1;
    recording.retryAttempts = attempt;
    recording.uploadQueued = false;
    recording.retryAt.reset();
    if (recording.transfer == TransferState::needsReview)
        return;
    const RetryDecision decision = uploadRetryPolicy().decision(error.error(), attempt, true, false, 1.0);
    const RetryLater* later = std::get_if<RetryLater>(&decision);
    if (!later)
        return;
    const APIError* refused = error.errorAs<APIError>();
    // Only a finite delay of at least zero counts; APIError keeps no other, and the spread
    // ignores any other as well.
    const std::optional<double> server =
        refused ? APIError::usableDelay(refused->retryAfter()) : std::nullopt;
    const double wait = clampedDelaySeconds(jitter.spread(clampedDelaySeconds(later->after), server));
    recording.retryAt = Date{now.sinceReferenceDate + wait};
    recording.uploadQueued = true;
}

} // namespace nuvel
