#pragma once

#include <string_view>

// The status sentences of sending recordings, as keys of the localisation table.
namespace nuvel::upload_sentences {

inline constexpr std::string_view sent =
    "Sent to Nuvel. Your local audio is kept until you choose to remove it.";
inline constexpr std::string_view statusNotRefreshed =
    "Status could not be refreshed. Your local recording is safe.";

inline constexpr std::string_view ambiguous =
    "The server response was interrupted. Check Nuvel before retrying; "
    "this Mac will not create a duplicate automatically.";
inline constexpr std::string_view signIn =
    "Sign in again to continue. Your pending recording is still saved on this Mac.";
inline constexpr std::string_view anotherDevice =
    "Another device is uploading or recording. Retry after it finishes.";
inline constexpr std::string_view allowance =
    "Your workspace allowance is exhausted. Check your plan or wait for "
    "the allowance to renew. Your audio remains saved.";
inline constexpr std::string_view tooLarge =
    "This recording exceeds the workspace size or duration limit. Export "
    "it locally or use a shorter recording.";
inline constexpr std::string_view tooManyRequests =
    "Nuvel is receiving too many requests. Your upload is queued and will retry after the server delay.";
inline constexpr std::string_view noPermission =
    "You no longer have permission to send to this workspace. Your local recording is preserved.";
inline constexpr std::string_view paused =
    "Upload paused. Your recording is safe on this Mac. It will retry while Nuvel is open and online.";

} // namespace nuvel::upload_sentences
