#include "NuvelKit/meetings/MeetingNoteBlock.hpp"

#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <tuple>
#include <utility>

namespace nuvel::MeetingExport {
namespace {

constexpr std::array<std::string_view, 5> sectionKeys = {"action_items", "decisions", "open_proposals",
                                                         "quotes", "also_discussed"};
constexpr std::array<std::string_view, 5> textKeys = {"task", "decision", "proposal", "quote", "text"};
constexpr std::array<std::string_view, 7> detailKeys = {"owner",   "deadline",  "decided_by", "proposed_by",
                                                        "speaker", "rationale", "why"};

// The largest count of seconds whose thousandfold still fits an Int64.
constexpr std::int64_t maxStampSeconds = std::numeric_limits<std::int64_t>::max() / 1000;

const std::string* stringMember(const MeetingJSON& object, std::string_view key) {
    const MeetingJSON* member = object[key];
    return member == nullptr ? nullptr : member->stringValue();
}

// The first citation of a summary line, "[m:ss]" or "[h:mm:ss]". The digits of the pattern are
// any decimal digits, so a citation in other digits is found (and then refused by the stamp
// conversion) rather than skipped in favour of a later one.
std::optional<std::int64_t> citation(std::string_view line) {
    static const unicode::Regex pattern(R"(\[(\d+(?::\d{2}){1,2})\])");
    auto match = pattern.firstMatch(line);
    if (!match)
        return std::nullopt;
    return stampMilliseconds((*match)[1]);
}

// Evidence by (template, path) in canonical form; the first record of the list wins.
using EvidenceIndex = std::map<std::pair<std::string, std::string>, const MeetingNoteEvidence*>;

EvidenceIndex indexEvidence(const MeetingNotesDocument& notes) {
    EvidenceIndex index;
    if (!notes.evidence)
        return index;
    for (const MeetingNoteEvidence& record : *notes.evidence)
        index.emplace(std::pair(unicode::nfc(record.template_), unicode::nfc(record.path)), &record);
    return index;
}

void appendSummaryLines(std::vector<MeetingNoteBlock>& blocks, const std::string& key,
                        const MeetingJSON& output, bool flagged) {
    const std::string* markdown = stringMember(output, "markdown");
    if (markdown == nullptr)
        return;
    for (std::string_view line : unicode::splitAtNewlines(*markdown)) {
        if (unicode::trimSpacesAndTabs(line).empty())
            continue;
        blocks.push_back(MeetingNoteBlock{key, "summary", std::string(line), citation(line), flagged,
                                          std::nullopt, std::nullopt});
    }
}

// The item's main text followed by its details, joined with " · "; empty when it has no main text.
std::string itemText(const MeetingJSON& item) {
    if (item.objectValue() == nullptr)
        return {};
    std::string text;
    for (std::string_view key : textKeys) {
        if (const std::string* value = stringMember(item, key)) {
            text = *value;
            break;
        }
    }
    if (text.empty())
        return text;
    for (std::string_view key : detailKeys) {
        const std::string* value = stringMember(item, key);
        if (value == nullptr || value->empty())
            continue;
        text.append(" \u00B7 ").append(key).append(": ").append(*value);
    }
    return text;
}

void appendSections(std::vector<MeetingNoteBlock>& blocks, const std::string& key,
                    const std::string& canonicalKey, const MeetingJSON& output, bool flagged,
                    const EvidenceIndex& evidence) {
    for (std::string_view section : sectionKeys) {
        const MeetingJSON* member = output[section];
        const MeetingJSON::Array* items = member == nullptr ? nullptr : member->arrayValue();
        if (items == nullptr)
            continue;
        for (std::size_t i = 0; i < items->size(); ++i) {
            const MeetingJSON& item = (*items)[i];
            std::string text = itemText(item);
            if (text.empty())
                continue; // the item's position still counts for the paths below
            MeetingNoteBlock block{key,     std::string(section), std::move(text), std::nullopt,
                                   flagged, std::nullopt,         std::nullopt};
            const std::string path = "/output/" + std::string(section) + "/" + std::to_string(i);
            if (auto found = evidence.find(std::pair(canonicalKey, path)); found != evidence.end()) {
                block.evidenceMS = found->second->start_ms;
                block.evidenceWordID = found->second->word_id;
                block.sourceLayer = found->second->source_layer;
            } else if (const std::string* stamp = stringMember(item, "timestamp")) {
                block.evidenceMS = stampMilliseconds(*stamp);
            }
            blocks.push_back(std::move(block));
        }
    }
}

// Reads one piece of ASCII digits; nothing when it is empty, holds anything else or overflows.
std::optional<std::int64_t> readPiece(std::string_view piece) {
    if (piece.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

} // namespace

std::vector<MeetingNoteBlock> noteBlocks(const MeetingNotesDocument& notes) {
    std::vector<MeetingNoteBlock> blocks;
    if (!notes.ai_notes)
        return blocks;

    // Template keys in code point order of their canonical form (UTF-8 byte order is code point
    // order); keys that are canonically equal keep a fixed order by their spelling.
    struct Template {
        std::string canonicalKey;
        const std::string* key;
        const MeetingJSON* entry;
    };
    std::vector<Template> templates;
    for (const auto& [key, entry] : notes.notesObject())
        templates.push_back({unicode::nfc(key), &key, &entry});
    std::sort(templates.begin(), templates.end(), [](const Template& a, const Template& b) {
        return std::tie(a.canonicalKey, *a.key) < std::tie(b.canonicalKey, *b.key);
    });

    const EvidenceIndex evidence = indexEvidence(notes);
    for (const Template& t : templates) {
        if (*t.key == "enhanced")
            continue;
        if (t.entry->objectValue() == nullptr)
            continue;
        const MeetingJSON* output = (*t.entry)["output"];
        if (output == nullptr)
            continue;
        const std::string* status = stringMember(*t.entry, "status");
        const bool flagged = status != nullptr && *status == "flagged";
        // An output that is not an object has no members: it yields nothing.
        appendSummaryLines(blocks, *t.key, *output, flagged);
        appendSections(blocks, *t.key, t.canonicalKey, *output, flagged, evidence);
    }
    return blocks;
}

std::optional<std::int64_t> stampMilliseconds(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t colon = text.find(':', start);
        pieces.push_back(
            text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
        if (pieces.size() > 3)
            return std::nullopt;
    }
    if (pieces.size() < 2 || pieces.size() > 3)
        return std::nullopt;

    std::vector<std::int64_t> values;
    for (std::string_view piece : pieces) {
        auto value = readPiece(piece);
        if (!value)
            return std::nullopt;
        values.push_back(*value);
    }
    if (values.back() >= 60)
        return std::nullopt;
    if (values.size() == 3 && values[1] >= 60)
        return std::nullopt;

    std::int64_t seconds = 0;
    for (std::int64_t piece : values) {
        // seconds * 60 + piece <= maxStampSeconds, written so that nothing overflows.
        if (piece > maxStampSeconds || seconds > (maxStampSeconds - piece) / 60)
            return std::nullopt;
        seconds = seconds * 60 + piece;
    }
    return seconds * 1000;
}

} // namespace nuvel::MeetingExport
