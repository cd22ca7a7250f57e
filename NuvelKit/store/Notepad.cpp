#include "NuvelKit/store/Notepad.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Unicode.hpp"

#include <algorithm>
#include <list>
#include <unordered_map>
#include <unordered_set>

namespace nuvel {

json::Ordered NotepadLine::toJson() const {
    json::Ordered o = json::Ordered::object();
    o["id"] = id;
    o["text"] = text;
    if (at)
        o["at"] = *at;
    else
        o["at"] = nullptr;
    return o;
}

NotepadLine NotepadLine::fromJson(const json::Reader& r) {
    return NotepadLine{r.string("id"), r.string("text"), r.optInt64("at")};
}

namespace Notepad {
namespace {

constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";

std::int64_t clampAt(std::int64_t at) {
    return std::clamp<std::int64_t>(at, 0, maxAt);
}

std::optional<std::int64_t> clampAt(std::optional<std::int64_t> at) {
    if (!at)
        return std::nullopt;
    return clampAt(*at);
}

bool isBlank(std::string_view text) {
    return unicode::trimWhitespaceAndNewlines(text).empty();
}

// Hands out ids that no line in sight uses, so two lines never end up sharing one. The caller's
// maker is asked again while its answer is taken; should it keep answering taken ids (a fixed
// maker, say), the random maker takes over so the draw always ends.
class IdDraw {
public:
    explicit IdDraw(const IdMaker& makeId) : makeId_(makeId) {}

    void reserve(const std::vector<NotepadLine>& lines) {
        for (const NotepadLine& line : lines)
            taken_.insert(line.id);
    }
    void reserve(const std::string& id) { taken_.insert(id); }
    bool isTaken(const std::string& id) const { return taken_.count(id) != 0; }

    std::string next() {
        constexpr int attemptsWithCallersMaker = 16;
        if (makeId_) {
            for (int i = 0; i < attemptsWithCallersMaker; ++i) {
                std::string id = makeId_();
                if (taken_.insert(id).second)
                    return id;
            }
        }
        for (;;) {
            std::string id = makeLineID();
            if (taken_.insert(id).second)
                return id;
        }
    }

private:
    const IdMaker& makeId_;
    std::unordered_set<std::string> taken_;
};

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            out.push_back(text.substr(begin));
            return out;
        }
        out.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
}

// Matched (new index, previous index) pairs of a longest common subsequence, chosen by walking the
// table from the start and, on a tie, skipping the new line; followed by the end pair.
//
// Two reductions keep the table small without changing the pairs the full table would give: a
// common prefix is matched as the walk would match it, and new lines whose text occurs nowhere in
// the previous lines get no row (such a row equals the one below it, and the walk always skips it).
std::vector<std::pair<std::size_t, std::size_t>> matchedPairs(const std::vector<std::string_view>& texts,
                                                              const std::vector<NotepadLine>& previous) {
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    const std::size_t n = texts.size(), m = previous.size();
    std::size_t prefix = 0;
    while (prefix < n && prefix < m && texts[prefix] == previous[prefix].text) {
        pairs.emplace_back(prefix, prefix);
        ++prefix;
    }

    std::unordered_set<std::string_view> previousTexts;
    for (std::size_t j = prefix; j < m; ++j)
        previousTexts.insert(previous[j].text);
    std::vector<std::size_t> rows; // new indexes that may match
    for (std::size_t i = prefix; i < n; ++i)
        if (previousTexts.count(texts[i]) != 0)
            rows.push_back(i);

    const std::size_t r = rows.size(), c = m - prefix;
    if (r > 0 && c > 0) {
        const std::size_t width = c + 1;
        std::vector<std::uint32_t> table((r + 1) * width, 0);
        auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return table[i * width + j]; };
        for (std::size_t i = r; i-- > 0;)
            for (std::size_t j = c; j-- > 0;)
                at(i, j) = texts[rows[i]] == previous[prefix + j].text ? at(i + 1, j + 1) + 1
                                                                       : std::max(at(i + 1, j), at(i, j + 1));
        std::size_t i = 0, j = 0;
        while (i < r && j < c) {
            if (texts[rows[i]] == previous[prefix + j].text) {
                pairs.emplace_back(rows[i], prefix + j);
                ++i;
                ++j;
            } else if (at(i + 1, j) >= at(i, j + 1)) {
                ++i;
            } else {
                ++j;
            }
        }
    }
    pairs.emplace_back(n, m);
    return pairs;
}

std::string normalizedText(const std::string& text) {
    std::string t = unicode::nfc(text);
    // Below U+0021 and U+007F are single bytes in UTF-8 and never part of a longer sequence.
    for (char& ch : t)
        if (static_cast<unsigned char>(ch) < 0x21 || ch == 0x7F)
            ch = ' ';
    return unicode::graphemePrefix(t, maxLineCharacters, maxLineCharacters);
}

} // namespace

std::string text(const std::vector<NotepadLine>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out.push_back('\n');
        out += lines[i].text;
    }
    return out;
}

std::string makeLineID() {
    // Rejection sampling keeps every character equally likely: 252 = 7 × 36.
    std::string id = "n";
    while (id.size() < 9) {
        std::uint8_t byte = 0;
        fillRandom(&byte, 1);
        if (byte < 252)
            id.push_back(alphabet[byte % alphabet.size()]);
    }
    return id;
}

bool isValidLineID(std::string_view id) {
    if (id.size() < 4 || id.size() > 16 || id[0] != 'n')
        return false;
    return std::all_of(id.begin() + 1, id.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

std::vector<NotepadLine> lines(std::string_view newText, const std::vector<NotepadLine>& previous,
                               std::optional<std::int64_t> time, const IdMaker& makeId) {
    const std::vector<std::string_view> texts = splitLines(newText);
    const std::optional<std::int64_t> clamped = clampAt(time);
    IdDraw ids(makeId);
    ids.reserve(previous);

    auto stampFor = [&](std::string_view text) { return isBlank(text) ? std::nullopt : clamped; };

    std::vector<NotepadLine> result;
    result.reserve(texts.size());
    std::size_t nextNew = 0, nextPrevious = 0;
    for (const auto& [newIndex, previousIndex] : matchedPairs(texts, previous)) {
        // Between two matched pairs: edited lines pair up by position, extra new lines are
        // inserted, extra previous lines are deleted.
        std::size_t k = 0;
        for (; nextNew + k < newIndex; ++k) {
            std::string_view text = texts[nextNew + k];
            if (nextPrevious + k < previousIndex) {
                const NotepadLine& old = previous[nextPrevious + k];
                result.push_back({old.id, std::string(text), old.at ? old.at : stampFor(text)});
            } else {
                result.push_back({ids.next(), std::string(text), stampFor(text)});
            }
        }
        if (newIndex < texts.size())
            result.push_back(previous[previousIndex]);
        nextNew = newIndex + 1;
        nextPrevious = previousIndex + 1;
    }

    if (result.size() == 1 && result.front().text.empty())
        return {};
    return result;
}

std::vector<NotepadLine> normalize(const std::vector<NotepadLine>& lines, const IdMaker& makeId) {
    IdDraw fresh(makeId);
    fresh.reserve(lines); // a fresh id must not take the valid id of a later line either
    std::unordered_set<std::string> used;
    std::size_t total = 0;

    std::vector<NotepadLine> out;
    const std::size_t count = std::min(lines.size(), maxLines);
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const NotepadLine& line = lines[i];
        std::string text = normalizedText(line.text);
        const std::size_t units = unicode::utf16Length(text);
        if (total + units > maxTotalUtf16Units)
            break;
        total += units;

        std::string id = line.id;
        if (!isValidLineID(id) || used.count(id) != 0)
            id = fresh.next();
        used.insert(id);
        out.push_back({std::move(id), std::move(text), clampAt(line.at)});
    }
    return out;
}

std::vector<NotepadLine> merge(const std::vector<NotepadLine>& base, const std::vector<NotepadLine>& local,
                               const std::vector<NotepadLine>& remote, const IdMaker& makeId) {
    auto index = [](const std::vector<NotepadLine>& lines) {
        std::unordered_map<std::string, const NotepadLine*> byId;
        for (const NotepadLine& line : lines)
            byId.emplace(line.id, &line); // the first one counts
        return byId;
    };
    const auto baseById = index(base);
    const auto localById = index(local);
    auto find = [](const auto& byId, const std::string& id) -> const NotepadLine* {
        auto it = byId.find(id);
        return it == byId.end() ? nullptr : it->second;
    };

    IdDraw ids(makeId);
    ids.reserve(base);
    ids.reserve(local);
    ids.reserve(remote);

    std::list<NotepadLine> result;
    std::unordered_map<std::string, std::list<NotepadLine>::iterator> positions; // first line of each id
    auto append = [&](NotepadLine line) {
        auto it = result.insert(result.end(), std::move(line));
        positions.emplace(it->id, it);
    };
    std::unordered_map<std::string, std::string> renamed; // local id → id of its conflict copy

    // First pass: the remote lines in remote order.
    for (const NotepadLine& r : remote) {
        const NotepadLine* b = find(baseById, r.id);
        const NotepadLine* l = find(localById, r.id);
        if (l == nullptr) {
            if (b == nullptr || b->text != r.text)
                append(r); // dropped when deleted here, unchanged there
        } else if (l->text == r.text || (b != nullptr && b->text == l->text)) {
            append({r.id, r.text, r.at ? r.at : l->at});
        } else if (b != nullptr && b->text == r.text) {
            append({r.id, l->text, l->at ? l->at : r.at});
        } else {
            append(r);
            std::string copyId = ids.next();
            renamed[l->id] = copyId;
            append({std::move(copyId), l->text, l->at});
        }
    }
    std::unordered_set<std::string> fromRemotePass;
    for (const auto& [id, it] : positions)
        fromRemotePass.insert(id);

    // Second pass: local lines that the remote side does not have keep their place after the
    // local line before them. The anchor is that line's place in the result (none: the front).
    std::optional<std::list<NotepadLine>::iterator> anchor;
    for (const NotepadLine& l : local) {
        if (fromRemotePass.count(l.id) != 0) {
            auto copy = renamed.find(l.id);
            anchor = positions.at(copy == renamed.end() ? l.id : copy->second);
            continue;
        }
        const NotepadLine* b = find(baseById, l.id);
        if (b != nullptr && b->text == l.text)
            continue; // deleted there, unchanged here
        anchor = result.insert(anchor ? std::next(*anchor) : result.begin(), l);
    }

    return std::vector<NotepadLine>(result.begin(), result.end());
}

} // namespace Notepad
} // namespace nuvel
