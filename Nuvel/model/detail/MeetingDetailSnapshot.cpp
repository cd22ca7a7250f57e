#include "Nuvel/model/detail/MeetingDetailSnapshot.hpp"

#include "Nuvel/model/cloud/ViewOnlyLink.hpp"
#include "Nuvel/model/detail/MeetingDetailNotes.hpp"
#include "NuvelKit/meetings/MeetingNoteBlock.hpp"
#include "NuvelKit/support/Url.hpp"

#include <utility>

namespace nuvel {
namespace {

using namespace meetingdetail;

const std::string* stringMember(const MeetingJSON& value, std::string_view key) {
    const MeetingJSON* member = value[key];
    return member == nullptr ? nullptr : member->stringValue();
}

std::vector<MeetingDetailSnapshot::Share> snapshotShares(const MeetingSharingDocument& sharing,
                                                         const DetailLocale& locale) {
    std::vector<MeetingDetailSnapshot::Share> shares;
    for (const auto& share : sharing.shares)
        shares.push_back({share.id, share.email ? *share.email : locale.text("Workspace member"),
                          share.permission ? *share.permission : locale.text("View only"), true});
    return shares;
}

std::vector<MeetingDetailSnapshot::Link> snapshotLinks(const MeetingSharingDocument& sharing,
                                                       const DetailLocale& locale) {
    std::vector<MeetingDetailSnapshot::Link> links;
    for (const MeetingJSON& link : sharing.links) {
        const std::string* id = stringMember(link, "id");
        if (id == nullptr)
            continue;
        std::string expires;
        const MeetingJSON* expiresAt = link["expires_at"];
        if (expiresAt != nullptr && expiresAt->stringValue() != nullptr) {
            expires = *expiresAt->stringValue();
        } else if (expiresAt != nullptr && expiresAt->numberValue()) {
            expires = locale.date(*expiresAt->numberValue(), DateStyle::medium, DateStyle::short_);
        } else {
            expires = locale.text("No expiry");
        }
        const MeetingJSON* audio = link["include_audio"];
        links.push_back({*id, std::move(expires), audio != nullptr && audio->boolValue().value_or(false)});
    }
    return links;
}

} // namespace

namespace meetingdetail {

std::map<std::string, std::string> correctionsMap(const std::optional<MeetingJSON>& corrections) {
    std::map<std::string, std::string> originals;
    const MeetingJSON::Array* elements = corrections ? corrections->arrayValue() : nullptr;
    if (elements == nullptr)
        return originals;
    for (const MeetingJSON& element : *elements) {
        const std::string* id = stringMember(element, "id");
        const std::string* from = stringMember(element, "from");
        if (id != nullptr && from != nullptr)
            originals.emplace(*id, *from); // the first one stays
    }
    return originals;
}

std::vector<MeetingDetailSnapshot::Word> snapshotWords(const MeetingTranscript& transcript,
                                                       const std::map<std::string, std::string>& originals) {
    std::vector<MeetingDetailSnapshot::Word> words;
    words.reserve(transcript.words.size());
    for (const MeetingWord& word : transcript.words) {
        const auto original = originals.empty() ? originals.end() : originals.find(word.id);
        words.push_back({word.id, word.text, original == originals.end() ? word.text : original->second,
                         word.speaker.value_or(std::string()), word.start_ms, word.end_ms});
    }
    return words;
}

std::string notesStatus(const std::optional<MeetingNotesDocument>& notes, bool hasNotes) {
    if (notes && !notes->ai_notes)
        return "disabled";
    if (notes && notes->run) {
        if (const std::string* state = stringMember(*notes->run, "state"))
            return *state;
        if (const std::string* status = stringMember(*notes->run, "status"))
            return *status;
    }
    return hasNotes ? "ready" : "pending";
}

std::optional<std::string> acceptedPendingLink(const std::optional<std::string>& url,
                                               std::string_view webHost) {
    if (!url)
        return std::nullopt;
    const auto parsed = Url::parse(*url);
    if (!parsed || !isOnWebHost(*parsed, webHost))
        return std::nullopt;
    return url;
}

} // namespace meetingdetail

MeetingDetailSnapshot MeetingDetailSnapshot::make(const NativeMeetingDocument& document,
                                                  const MeetingSharingDocument* sharing,
                                                  const DetailLocale& locale) {
    const MeetingTranscriptDocument& transcript = document.transcript;
    const std::optional<MeetingNotesDocument>& notesDocument = document.notes;
    MeetingDetailSnapshot snapshot;
    snapshot.id = document.summary.id;
    snapshot.title = document.summary.title;
    snapshot.revision = std::to_string(transcript.revision);
    snapshot.words = snapshotWords(transcript.transcript, correctionsMap(transcript.corrections));
    for (const auto& [id, speaker] : transcript.transcript.speakers)
        snapshot.speakers.emplace(id, speaker.label);

    const std::string sourceRevision = std::to_string(
        notesDocument ? notesDocument->provenance.source_revision : transcript.original_revision);
    snapshot.notesSourceRevision = sourceRevision;
    if (notesDocument) {
        snapshot.notesSourceLayer = notesDocument->provenance.source_layer;
        snapshot.notes = makeNotes(MeetingExport::noteBlocks(*notesDocument), snapshot.words, sourceRevision,
                                   snapshot.notesSourceLayer, locale);
        snapshot.notesStale = notesDocument->provenance.stale_text;
    }
    snapshot.notesStatus = meetingdetail::notesStatus(notesDocument, !snapshot.notes.empty());

    snapshot.canEdit = transcript.access.canEdit();
    snapshot.canShare = document.summary.access.canShare();
    snapshot.canExport = document.summary.access.allows("export");
    snapshot.canDownloadAudio = document.summary.access.allows("audio");
    if (sharing != nullptr) {
        snapshot.shares = snapshotShares(*sharing, locale);
        snapshot.links = snapshotLinks(*sharing, locale);
    }

    snapshot.transcriptLayer = transcript.layer;
    snapshot.audioDeleted = document.summary.audio_deleted;
    snapshot.recordedAt =
        document.summary.recorded_at ? *document.summary.recorded_at : document.summary.created_at;
    const std::int64_t summaryMS = document.summary.durationMilliseconds();
    snapshot.durationMS = summaryMS > 0 ? summaryMS : transcript.duration_ms;
    return snapshot;
}

MeetingDetailSnapshot MeetingDetailSnapshot::displayCopy(const MeetingTranscriptDocument* originalTranscript,
                                                         bool showingOriginal) const {
    if (!showingOriginal || originalTranscript == nullptr)
        return *this;
    MeetingDetailSnapshot copy = *this;
    copy.words = snapshotWords(originalTranscript->transcript, {});
    copy.speakers.clear();
    for (const auto& [id, speaker] : originalTranscript->transcript.speakers)
        copy.speakers.emplace(id, speaker.label);
    copy.revision = std::to_string(originalTranscript->original_revision);
    copy.transcriptLayer = "raw";
    copy.canEdit = false;
    return copy;
}

} // namespace nuvel
