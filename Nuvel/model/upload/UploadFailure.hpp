#pragma once

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/service/RetryJitter.hpp"
#include "NuvelKit/service/RetryPolicy.hpp"
#include "NuvelKit/store/LocalRecording.hpp"
#include "NuvelKit/support/Time.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// How a failed upload run leaves its recording, decided from the error and the transfer state
// the run had reached. Pure functions: the upload queue applies them.

// The series of one recording: at most eight runs, 5 s doubling, at most 900 s.
const RetryPolicy& uploadRetryPolicy();

// "needsReview" when the service may hold something other than what this device believes (a
// commit without commit reconciliation; a creation that may have reached the service and cannot
// be recognised again; an accepted commit of another file); "failed" otherwise.
TransferState classifyUploadFailure(const Failure& error, const LocalRecording& recording,
                                    const std::optional<NativeCapabilities>& capabilities);

// The code kept in the manifest: "ambiguous_request" for review, the service's code for its
// answers, "transfer_failed" for everything else.
std::string uploadErrorCode(const Failure& error, TransferState classified);

// The one status sentence, chosen by the error and the recording's (classified) state only.
std::string_view uploadFailureMessage(const Failure& error, const LocalRecording& recording);

// A number of seconds fit to add to a date: NaN and negative values become 0, and a value too
// large to be a delay becomes a day.
double clampedDelaySeconds(double seconds);

// Applies the failure to `recording`: state, code, attempt count, queue mark and due time (from
// `now`, the policy's delay spread by `jitter`, never shorter than the server's delay).
void applyUploadFailure(LocalRecording& recording, const Failure& error,
                        const std::optional<NativeCapabilities>& capabilities, Date now,
                        const RetryJitter& jitter);

} // namespace nuvel
