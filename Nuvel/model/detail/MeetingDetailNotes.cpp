#include "Nuvel/model/detail/MeetingDetailNotes.hpp"

#include "Nuvel/model/detail/DetailFind.hpp"
#include "Nuvel/model/detail/MeetingDetailTables.hpp"
#include "NuvelKit/meetings/MeetingExport.hpp"

#include <array>
#include <limits>
#include <utility>

namespace nuvel::meetingdetail {
namespace {

using Word = MeetingDetailSnapshot::Word;
using Evidence = MeetingDetailSnapshot::Evidence;

constexpr std::string_view separator = " \u00B7 ";
constexpr std::int64_t anchorReachMS = 2000; // how far after the cited moment the first word may start
constexpr std::int64_t citedSpanMS = 12000;  // the span of words a cited moment takes in

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b)
        return std::numeric_limits<std::int64_t>::max();
    return a + b;
}

// The disclaimer and the headers are the interface's words, whatever language the notes are in.
const DetailParagraphStyle disclaimerParagraph{0, 6, 3, true};
const DetailParagraphStyle headerParagraph{14, 4, 3, true};
const DetailParagraphStyle bodyParagraph{0, 4, 3};
const DetailParagraphStyle statusParagraph{0, 0, 3};

DetailStyle styled(double pointSize, bool semibold, DetailColor color = DetailColor::none) {
    return DetailStyle{DetailFont{pointSize, semibold}, color, false, {}, {}};
}

} // namespace

std::string noteTitle(std::string_view kind, const DetailLocale& locale) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> titles = {{
        {"action_items", "Action items"},
        {"decisions", "Decisions"},
        {"open_proposals", "Open proposals"},
        {"quotes", "Quotes"},
        {"summary", "Summary"},
        {"also_discussed", "Also discussed"},
    }};
    for (const auto& [key, title] : titles)
        if (key == kind)
            return locale.text(title);
    return locale.text("Notes");
}

std::optional<Evidence> noteEvidence(const MeetingNoteBlock& block, const std::vector<Word>& words,
                                     const std::string& notesSourceRevision,
                                     const std::optional<std::string>& notesLayer,
                                     const DetailLocale& locale) {
    if (block.evidenceWordID) {
        for (const Word& word : words) {
            if (word.id != *block.evidenceWordID)
                continue;
            const std::string revision =
                block.sourceLayer == "raw"
                    ? locale.text("Original transcript") + std::string(separator) + notesSourceRevision
                    : notesSourceRevision;
            return Evidence{{word.id},
                            revision,
                            MeetingExport::clock(word.startMS) + std::string(separator) +
                                locale.text("Source word"),
                            block.sourceLayer ? block.sourceLayer : notesLayer};
        }
    }
    if (!block.evidenceMS)
        return std::nullopt;
    const std::int64_t moment = *block.evidenceMS;
    const std::int64_t latestStart = saturatingAdd(moment, anchorReachMS);
    const Word* anchor = nullptr;
    for (const Word& word : words) {
        if (word.endMS > moment && word.startMS <= latestStart) {
            anchor = &word;
            break;
        }
    }
    if (anchor == nullptr)
        return std::nullopt;
    const std::int64_t spanEnd = saturatingAdd(anchor->startMS, citedSpanMS);
    Evidence evidence{{},
                      notesSourceRevision,
                      MeetingExport::clock(moment) + std::string(separator) +
                          locale.text("Timestamp reference"),
                      notesLayer};
    for (const Word& word : words)
        if (word.startMS >= anchor->startMS && word.startMS < spanEnd)
            evidence.wordIDs.push_back(word.id);
    return evidence;
}

std::vector<MeetingDetailSnapshot::Note> makeNotes(const std::vector<MeetingNoteBlock>& blocks,
                                                   const std::vector<Word>& words,
                                                   const std::string& notesSourceRevision,
                                                   const std::optional<std::string>& notesLayer,
                                                   const DetailLocale& locale) {
    std::vector<MeetingDetailSnapshot::Note> notes;
    notes.reserve(blocks.size());
    for (const MeetingNoteBlock& block : blocks) {
        MeetingDetailSnapshot::Note note{
            noteTitle(block.kind, locale),
            block.flagged ? locale.text("Needs review") + std::string(separator) + block.text : block.text,
            "generated",
            {}};
        if (auto evidence = noteEvidence(block, words, notesSourceRevision, notesLayer, locale))
            note.evidence.push_back(std::move(*evidence));
        notes.push_back(std::move(note));
    }
    return notes;
}

std::string citationKey(std::size_t noteIndex, std::size_t evidenceIndex) {
    return std::to_string(noteIndex) + "-" + std::to_string(evidenceIndex);
}

NoteCitation noteCitation(const Evidence& evidence, const std::string& key, const DetailLocale& locale) {
    const std::size_t cut = evidence.label.find(separator);
    return NoteCitation{
        cut == std::string::npos ? evidence.label : evidence.label.substr(0, cut), evidenceLink(key),
        locale.text("Source") + std::string(separator) + evidence.label + std::string(separator) +
            locale.text("Source revision") + ": " + evidence.sourceRevision};
}

NotesContent notesContent(const MeetingDetailSnapshot& display, const DetailLocale& locale) {
    NotesContent content;
    DetailText& text = content.text;
    std::vector<std::string_view> noteTexts;
    for (const auto& note : display.notes)
        noteTexts.push_back(note.text);
    text.rightToLeft = prefersRightToLeft(noteTexts, locale.preferredLanguages);

    bool anyGenerated = false;
    for (const auto& note : display.notes)
        anyGenerated = anyGenerated || note.origin == "generated";
    if (anyGenerated) {
        const std::string disclaimer =
            locale.text("AI-generated notes. Check sources before sharing.") + "\n";
        text.setParagraphStyle(text.append(disclaimer, styled(12, false, DetailColor::secondaryLabel)),
                               disclaimerParagraph);
    }

    for (std::size_t i = 0; i < display.notes.size(); ++i) {
        const auto& note = display.notes[i];
        std::string header = note.title;
        if (note.origin != "generated")
            header += std::string(separator) + locale.text("User-authored notes");
        text.setParagraphStyle(text.append(header + "\n", styled(15, true)), headerParagraph);

        std::vector<NoteCitation> citations;
        for (std::size_t j = 0; j < note.evidence.size(); ++j) {
            const std::string key = citationKey(i, j);
            content.evidenceRanges[key] = note.evidence[j];
            citations.push_back(noteCitation(note.evidence[j], key, locale));
        }
        DetailText body = noteBodyText(note.text, citations, locale);
        const TextRange bodyRange{text.string.size(), body.string.size()};
        text.append(body);
        text.setParagraphStyle(bodyRange, bodyParagraph);
        if (i + 1 < display.notes.size())
            text.append(std::u16string_view(u"\n"), styled(14, false));
    }

    if (text.string.empty()) {
        text.setParagraphStyle(text.append(notesStatusText(display.notesStatus, locale),
                                           styled(14, false, DetailColor::secondaryLabel)),
                               statusParagraph);
        content.showTranscript = true;
    }
    text.applyLinkColors();
    return content;
}

} // namespace nuvel::meetingdetail
