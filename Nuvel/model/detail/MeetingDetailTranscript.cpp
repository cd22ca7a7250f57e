#include "Nuvel/model/detail/MeetingDetailTranscript.hpp"

#include "Nuvel/model/detail/DetailFind.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <unordered_set>

namespace nuvel::meetingdetail {
namespace {

constexpr std::int64_t playLeadMS = 750;

const DetailParagraphStyle wordsParagraph{0, 0, 3};
const DetailParagraphStyle firstHeaderParagraph{0, 2, 3};
const DetailParagraphStyle headerParagraph{16, 2, 3};

std::int64_t playPositionBefore(std::int64_t startMS) {
    return startMS < playLeadMS ? 0 : startMS - playLeadMS; // no underflow for very early starts
}

} // namespace

std::string minuteClock(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds < -999 ? 0 : milliseconds / 1000;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

TranscriptContent transcriptContent(const MeetingDetailSnapshot& display, const DetailLocale& locale) {
    TranscriptContent content;
    DetailText& text = content.text;
    ScriptCount count;
    for (const auto& word : display.words)
        count.add(word.text);
    text.rightToLeft = count.rightToLeft(locale.preferredLanguages);

    const DetailStyle headerStyle{DetailFont{12, true}, DetailColor::secondaryLabel, false, {}, {}};
    const DetailStyle wordStyle{DetailFont{15, false}, DetailColor::label, false, {}, {}};
    const std::string unnamed = locale.text("Unnamed speaker");
    const std::string correctedPrefix = locale.text("Corrected transcript") + ": ";
    content.wordRanges.reserve(display.words.size());

    std::size_t paragraphStart = 0;
    const auto closeWordsParagraph = [&] {
        text.setParagraphStyle(TextRange{paragraphStart, text.string.size() - paragraphStart},
                               wordsParagraph);
    };
    std::u16string utf16;
    for (std::size_t i = 0; i < display.words.size(); ++i) {
        const auto& word = display.words[i];
        if (i == 0 || word.speakerID != display.words[i - 1].speakerID) {
            if (i > 0) {
                text.append(std::u16string_view(u"\n"), wordStyle);
                closeWordsParagraph();
            }
            const auto speaker = display.speakers.find(word.speakerID);
            const std::string header = (speaker == display.speakers.end() ? unnamed : speaker->second) +
                                       " \u00B7 " + minuteClock(word.startMS) + "\n";
            text.setParagraphStyle(text.append(header, headerStyle),
                                   i == 0 ? firstHeaderParagraph : headerParagraph);
            paragraphStart = text.string.size();
        } else {
            text.append(std::u16string_view(u" "), wordStyle);
        }
        utf16 = unicode::toUtf16(word.text);
        TextRange range;
        if (word.text == word.original) {
            range = text.append(utf16, wordStyle);
        } else {
            DetailStyle corrected = wordStyle;
            corrected.underline = true;
            corrected.tooltip = correctedPrefix + word.original;
            range = text.append(utf16, corrected);
        }
        content.wordRanges.insert_or_assign(word.id, range);
    }
    if (!display.words.empty()) {
        closeWordsParagraph();
    } else {
        text.setParagraphStyle(
            text.append(locale.text("The transcript is not available yet."),
                        DetailStyle{DetailFont{14, false}, DetailColor::none, false, {}, {}}),
            wordsParagraph);
    }
    text.applyLinkColors();
    return content;
}

std::vector<std::size_t> selectedWords(const Words& words, const WordRanges& ranges, TextRange selection) {
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto found = ranges.find(words[i].id);
        if (found == ranges.end())
            continue;
        const TextRange& range = found->second;
        const bool hit =
            selection.length > 0
                ? std::max(range.location, selection.location) < std::min(range.end(), selection.end())
                : range.location <= selection.location && selection.location < range.end();
        if (hit)
            selected.push_back(i);
    }
    return selected;
}

std::optional<std::int64_t> selectionPlayPosition(const Words& words,
                                                  const std::vector<std::size_t>& selected) {
    if (selected.empty())
        return std::nullopt;
    return playPositionBefore(words.at(selected.front()).startMS);
}

bool correctionAllowed(const MeetingDetailSnapshot* display, bool showingOriginal, std::size_t selectedCount,
                       bool saving) {
    return display != nullptr && display->canEdit && !showingOriginal && selectedCount > 0 && !saving;
}

TimeJump jumpToTime(const Words& words, const WordRanges& ranges, std::int64_t milliseconds) {
    TimeJump jump{std::nullopt, milliseconds};
    const auto word =
        std::find_if(words.begin(), words.end(), [&](const auto& w) { return w.endMS > milliseconds; });
    if (word == words.end())
        return jump;
    if (const auto range = ranges.find(word->id); range != ranges.end())
        jump.selection = range->second;
    return jump;
}

std::variant<EvidenceLayer, EvidenceRefused> evidenceLayer(const MeetingDetailSnapshot::Evidence& evidence,
                                                           bool snapshotShown, bool originalLoaded,
                                                           const DetailLocale& locale) {
    if (evidence.sourceLayer == "raw" || evidence.sourceLayer == "original") {
        if (!snapshotShown || !originalLoaded)
            return EvidenceRefused{locale.text(
                "This citation refers to the original transcript. Refresh to load that source version.")};
        return EvidenceLayer::original;
    }
    if (evidence.sourceLayer == "corrected" && snapshotShown)
        return EvidenceLayer::corrected;
    return EvidenceLayer::keep;
}

std::variant<EvidenceSelection, EvidenceRefused>
evidenceSelection(const MeetingDetailSnapshot::Evidence& evidence, const Words& words,
                  const WordRanges& ranges, const DetailLocale& locale) {
    std::size_t start = std::numeric_limits<std::size_t>::max(), end = 0;
    for (const std::string& id : evidence.wordIDs) {
        const auto found = ranges.find(id);
        if (found == ranges.end())
            continue;
        start = std::min(start, found->second.location);
        end = std::max(end, found->second.end());
    }
    if (start > end)
        return EvidenceRefused{
            locale.text("This source is not available in the current transcript revision.")};
    EvidenceSelection selection{TextRange{start, end - start}, std::nullopt};
    const std::unordered_set<std::string> cited(evidence.wordIDs.begin(), evidence.wordIDs.end());
    for (const auto& word : words) {
        if (cited.contains(word.id)) {
            selection.playFrom = playPositionBefore(word.startMS);
            break;
        }
    }
    return selection;
}

} // namespace nuvel::meetingdetail
