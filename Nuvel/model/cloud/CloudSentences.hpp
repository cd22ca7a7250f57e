#pragma once

#include <string_view>

// The status sentences of the cloud meeting library, as keys of the localisation table.
namespace nuvel::cloud_sentences {

inline constexpr std::string_view leaseExpired =
    "This cached meeting's access lease expired. Connect and refresh to verify your access.";

inline constexpr std::string_view librarySignIn = "Sign in again to refresh your meeting library.";
inline constexpr std::string_view libraryAccessRemoved =
    "Your access to this workspace was removed. Local unsent recordings are preserved.";
inline constexpr std::string_view libraryOffline = "Offline. Search and review are limited to authorized "
                                                   "cached content under this workspace\u2019s access lease.";
inline constexpr std::string_view searchTruncated = "More matches exist. Refine your search.";
inline constexpr std::string_view searchOffline =
    "Library search needs a connection. Find still searches the open meeting.";

inline constexpr std::string_view meetingRemoved = "This meeting was deleted or your access was removed.";
inline constexpr std::string_view meetingSignIn = "Sign in again to read this meeting.";
inline constexpr std::string_view meetingOffline =
    "Offline. Showing the last authorized copy when its access lease is valid.";
inline constexpr std::string_view notesUnavailable =
    "The transcript is ready. Notes are still unavailable; refresh to try again.";

inline constexpr std::string_view exportUnavailable =
    "This export is unavailable because transcript timings are incomplete.";

inline constexpr std::string_view retentionFailed =
    "Server audio retention could not be changed. Check your permission and connection.";
inline constexpr std::string_view cacheNotCleared =
    "The cached cloud meetings could not all be removed from this Mac. Please try again.";

} // namespace nuvel::cloud_sentences
