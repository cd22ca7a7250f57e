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

inline constexpr std::string_view draftNotSaved =
    "Your correction could not be saved on this Mac. Keep the draft open.";
inline constexpr std::string_view correctionConflict =
    "The transcript changed on another device. Your draft is preserved. Refresh, compare, and apply your "
    "correction to the current version.";
inline constexpr std::string_view correctionNotSent =
    "Correction not sent. Your draft is saved on this Mac; retry when online.";

inline constexpr std::string_view audioAccessRemoved = "Your audio access was removed.";
inline constexpr std::string_view audioExpired =
    "Audio has expired. The transcript and notes are still available.";
inline constexpr std::string_view audioNotLoaded =
    "Audio could not be loaded. Check your connection and access.";

inline constexpr std::string_view sharingUpdated = "Sharing updated. Private notes were not included.";
inline constexpr std::string_view sharingFailed =
    "Sharing could not be changed. Check your permission and connection.";
inline constexpr std::string_view linkCreated =
    "View-only link created. Copy it now; its address is shown only once.";
inline constexpr std::string_view linkListNotRefreshed =
    "Your new link is ready to copy. The sharing list could not be refreshed.";
inline constexpr std::string_view linkFailed =
    "The link could not be created. Check your plan, permission and connection.";
inline constexpr std::string_view linkNotRevoked =
    "The link could not be revoked. Check your permission and connection.";
inline constexpr std::string_view renameFailed =
    "The meeting title could not be changed. Check your permission and connection.";
inline constexpr std::string_view deleteFailed = "The meeting could not be deleted. Please try again.";

// The delete confirmation the window shows for `DeleteConfirmation`.
inline constexpr std::string_view deleteQuestion = "Delete this meeting from Nuvel?";
inline constexpr std::string_view deleteExplanation =
    "This removes the shared transcript, notes and server audio. Unsent local recordings and separately "
    "exported files are preserved.";
inline constexpr std::string_view deleteButton = "Delete meeting";
inline constexpr std::string_view cancelButton = "Cancel";

inline constexpr std::string_view exportUnavailable =
    "This export is unavailable because transcript timings are incomplete.";

inline constexpr std::string_view retentionFailed =
    "Server audio retention could not be changed. Check your permission and connection.";
inline constexpr std::string_view cacheNotCleared =
    "The cached cloud meetings could not all be removed from this Mac. Please try again.";

} // namespace nuvel::cloud_sentences
