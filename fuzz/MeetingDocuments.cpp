// Feeds arbitrary bytes to every meeting document decoder. A document that decodes must encode
// without failing, decode again to an equal value and encode to the same bytes; the readers of a
// decoded document must not fail. Any other exception, or a broken round trip, is a finding. The
// JSON reader must also agree with the reference reader (nlohmann's own lexer) on every input:
// the same value, or a refusal with the same code.
//
//   build/fuzz/fuzz/fuzz_MeetingDocuments -max_total_time=600 -dict=fuzz/MeetingDocuments.dict \
//       <corpus-folder> tests/meetings/golden

#include "NuvelKit/meetings/MeetingCorrection.hpp"
#include "NuvelKit/meetings/MeetingJSON.hpp"
#include "NuvelKit/meetings/MeetingLibrary.hpp"
#include "NuvelKit/meetings/MeetingNotes.hpp"
#include "NuvelKit/meetings/MeetingRevision.hpp"
#include "NuvelKit/meetings/MeetingSearchPage.hpp"
#include "NuvelKit/meetings/MeetingSharing.hpp"
#include "NuvelKit/meetings/MeetingTranscript.hpp"
#include "NuvelKit/meetings/NativeMeetingDocument.hpp"
#include "NuvelKit/support/Json.hpp"
#include "NuvelKit/support/JsonReference.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace nuvel;

[[noreturn]] void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "finding: %s\n%s\n", what, detail.c_str());
    std::abort();
}

void read(const MeetingSummary& s) {
    (void)s.durationMilliseconds(), (void)s.access.canEdit();
}
void read(const MeetingLibraryPage& p) {
    for (const auto& s : p.meetings)
        read(s);
}
void read(const MeetingTranscriptDocument& d) {
    for (const auto& w : d.transcript.words) {
        (void)d.speakerLabel(w.speaker);
        (void)w.hasTiming();
        for (std::int64_t at : {w.start_ms, w.end_ms, w.end_ms - 1}) {
            const MeetingWord* found = d.word(at);
            if (found != nullptr && !(found->start_ms >= 0 && found->start_ms <= at && at < found->end_ms))
                finding("word(at:) returned a word that does not cover the position", d.encode());
        }
    }
}
void read(const MeetingNotesDocument& n) {
    (void)n.notesObject().size();
}
void read(const NativeMeetingDocument& d) {
    read(d.summary);
    read(d.transcript);
    if (d.notes)
        read(*d.notes);
    if (d.originalTranscript)
        read(*d.originalTranscript);
}
void read(const MeetingSearchPage& p) {
    for (const auto& h : p.results)
        (void)h.id(), (void)h.snippetText();
}
void read(const MeetingJSON& j) {
    (void)j["text"], (void)j.stringValue();
}
template <class T> void read(const T&) {}

template <class T> void roundTrip(const json::Value& value) {
    std::optional<T> decoded;
    try {
        decoded = T::fromJson(value);
    } catch (const json::JsonError&) {
        return; // refused: the expected outcome for most inputs
    }
    read(*decoded);
    std::string once;
    try {
        once = decoded->encode();
    } catch (const json::JsonError& e) {
        finding("a decoded document could not be encoded", e.what());
    }
    T again = T::decode(once);
    if (again.encode() != once)
        finding("encoding is not stable", once);
    if constexpr (std::equality_comparable<T>) {
        if (!(again == *decoded))
            finding("a round trip changed the document", once);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    // The revision text and the guest address come from text fields; they must never fail.
    if (auto revision = parseMeetingRevision(text); revision && std::to_string(*revision).empty())
        std::abort();
    (void)MeetingShareRequest::guestInvitation(text, true);

    std::optional<json::JsonError::Code> refused;
    json::Value value;
    try {
        value = json::parse(text);
    } catch (const json::JsonError& e) {
        refused = e.code();
    }
    try {
        const json::Value reference = json::referenceParse(text);
        if (refused)
            finding("the reader refused what the reference reader accepts", std::string(text));
        if (!(value == reference) || value.dump() != reference.dump())
            finding("the reader and the reference reader read different values", std::string(text));
    } catch (const json::JsonError& e) {
        if (refused != e.code())
            finding("the reader and the reference reader disagree", std::string(text));
    }
    if (refused)
        return 0;
    roundTrip<MeetingJSON>(value);
    roundTrip<MeetingAccess>(value);
    roundTrip<MeetingSummary>(value);
    roundTrip<MeetingLibraryPage>(value);
    roundTrip<MeetingReconciliation>(value);
    roundTrip<MeetingTranscriptDocument>(value);
    roundTrip<MeetingNotesDocument>(value);
    roundTrip<NativeMeetingDocument>(value);
    roundTrip<MeetingRevisionRequest>(value);
    roundTrip<MeetingRevisionResult>(value);
    roundTrip<MeetingSearchPage>(value);
    roundTrip<MeetingShareRequest>(value);
    roundTrip<MeetingSharingDocument>(value);
    return 0;
}
