#pragma once

#include <optional>
#include <string_view>

namespace nuvel {

// The capture side of a recording. The raw strings are also the stored JSON values.
enum class CaptureState {
    recording,   // "recording": audio is being captured; a new recording starts here
    paused,      // "paused"
    interrupted, // "interrupted": the capture ended without being finished
    finalizing,  // "finalizing": the last segment is being finished and saved
    saved,       // "saved": the recording's audio is in the store
};

// The upload side of a recording. The raw strings are also the stored JSON values.
enum class TransferState {
    local,       // "local": not sent; a new recording starts here
    creating,    // "creating": the request that creates the meeting is under way
    uploading,   // "uploading"
    committing,  // "committing": the request that completes the upload is under way
    accepted,    // "accepted"
    needsReview, // "needsReview": the outcome of a request is uncertain
    failed,      // "failed"
};

std::string_view rawValue(CaptureState state) noexcept;
std::string_view rawValue(TransferState state) noexcept;

// Exact, case-sensitive matches of the raw strings only.
std::optional<CaptureState> captureStateFromRawValue(std::string_view raw) noexcept;
std::optional<TransferState> transferStateFromRawValue(std::string_view raw) noexcept;

} // namespace nuvel
