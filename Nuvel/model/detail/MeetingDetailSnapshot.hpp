#pragma once

// The display-ready value of one opened cloud meeting, built from its documents; the meeting
// detail screen draws everything it shows from it.

#include "Nuvel/model/detail/DetailLocale.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel {

struct MeetingDetailSnapshot {
    struct Word {
        std::string id;
        std::string text;
        std::string original;  // the text before correction; `text` for an uncorrected word
        std::string speakerID; // empty without a speaker
        std::int64_t startMS = 0;
        std::int64_t endMS = 0;

        friend bool operator==(const Word&, const Word&) = default;
    };
    // A citation of a note into the transcript.
    struct Evidence {
        std::vector<std::string> wordIDs; // the cited words, in transcript order
        std::string sourceRevision;       // shown in the citation's tooltip
        std::string label;                // stamp, " · ", kind of reference
        std::optional<std::string> sourceLayer;

        friend bool operator==(const Evidence&, const Evidence&) = default;
    };
    struct Note {
        std::string title;
        std::string text;
        std::string origin; // "generated"; anything else is a note the user wrote
        std::vector<Evidence> evidence;

        friend bool operator==(const Note&, const Note&) = default;
    };
    struct Share {
        std::string id;
        std::string label;
        std::string expires;
        bool audioIncluded = false;

        friend bool operator==(const Share&, const Share&) = default;
    };
    struct Link {
        std::string id;
        std::string expires;
        bool audioIncluded = false;

        friend bool operator==(const Link&, const Link&) = default;
    };

    std::string id;
    std::string title;
    std::string revision; // decimal text of the shown transcript revision
    std::vector<Word> words;
    std::map<std::string, std::string> speakers; // speaker id -> display label
    std::vector<Note> notes;
    std::string notesStatus; // "ready", "pending", "disabled" or a word the service sends
    std::optional<std::string> notesSourceRevision;
    bool notesStale = false;
    bool canEdit = false;
    bool canExport = false;
    bool canShare = false;
    bool canDownloadAudio = false;
    std::vector<Share> shares;
    std::string transcriptLayer;
    std::optional<std::string> notesSourceLayer;
    bool audioDeleted = false;
    std::vector<Link> links;
    std::optional<double> recordedAt; // seconds since 1970
    std::int64_t durationMS = 0;

    // The snapshot of an opened meeting and its sharing state. Absent or malformed parts of the
    // documents take defaults; building never fails.
    static MeetingDetailSnapshot make(const NativeMeetingDocument& document,
                                      const MeetingSharingDocument* sharing,
                                      const meetingdetail::DetailLocale& locale = {});

    // What the screen shows: this snapshot, or, while the original layer is shown and loaded, a
    // read-only copy with the original transcript's words, speakers and revision.
    MeetingDetailSnapshot displayCopy(const MeetingTranscriptDocument* originalTranscript,
                                      bool showingOriginal) const;

    friend bool operator==(const MeetingDetailSnapshot&, const MeetingDetailSnapshot&) = default;
};

namespace meetingdetail {

// The first "from" text per corrected word id, from the transcript's corrections: elements that
// are objects with a string "id" and a string "from".
std::map<std::string, std::string> correctionsMap(const std::optional<MeetingJSON>& corrections);

// The snapshot's words of a transcript, each word's original taken from `originals` when it is
// there.
std::vector<MeetingDetailSnapshot::Word> snapshotWords(const MeetingTranscript& transcript,
                                                       const std::map<std::string, std::string>& originals);

// The notes state word: "disabled" for notes that are switched off; otherwise the run's "state"
// or "status" string, else "ready" with notes and "pending" without.
std::string notesStatus(const std::optional<MeetingNotesDocument>& notes, bool hasNotes);

// A link just created, kept for copying only when it is on the service's web host
// (isOnWebHost).
std::optional<std::string> acceptedPendingLink(const std::optional<std::string>& url,
                                               std::string_view webHost);

} // namespace meetingdetail

} // namespace nuvel
